; The window objects of the puzzle: a window class whose instances are made
; from a few keyword arguments, and the buttons and the captions.
(define (list . _xs) _xs)

(define View (new-class 'View obj-window))
(View (defslot name) (defslot parent) (defslot title :default "") (defslot position) (defslot size)
      (defslot color :default '(65535 65535 65535)) (defslot erase? :default t) (defslot type :default 0)
      (defslot handles-mouse? :default ()) (defslot close-box? :default ()) (defslot effect :default ())
      (defslot on-paint :default ())
      (define (paint) (when on-paint (on-paint (self)))))

; (make-view CLASS NAME PARENT POSITION SIZE KEY VALUE ...): an instance of
; CLASS with those slots, linked into the window tree and shown.
(define (make-view _class _name _parent _position _size . _options)
  (let ((_w (make-instance _class)))
    (_w (set! name _name) (set! parent _parent) (set! position _position) (set! size _size))
    (while _options
      (_w (eval (list 'set! (car _options) (list 'quote (cadr _options)))))
      (set! _options (cddr _options)))
    (send _w link-object)
    (send _w show)
    _w))

;; The standard controls, with the slots they are made from.
(define (control-class _name _super)
  (let ((_c (new-class _name _super)))
    (_c (defslot name) (defslot parent) (defslot title :default "") (defslot position) (defslot size)
        (defslot color :default ()) (defslot erase? :default ()) (defslot content :default ())
        (defslot items :default ()) (defslot default? :default ()) (defslot checked? :default ())
        (defslot multi-line? :default ()) (defslot action :default ()))
    _c))

; A push button calls its action when it is clicked, or pressed from the
; keyboard while it has the focus.
(define Button (control-class 'Button obj-button))
(Button (define (select) (when action (action))))
(define (make-button _parent _position _size _title _action)
  (make-view Button _title _parent _position _size 'title _title 'action _action))

; A caption: text that wraps in its rectangle.
(define Caption (control-class 'Caption obj-caption))
