; The window objects of the sketch pad: a window class whose instances are
; made from a few keyword arguments, and the buttons and the captions.
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

; A push button: framed, its title centred; pressed, it is drawn inverted;
; released over itself, it calls its action.
(define Button (new-class 'Button View))
(Button (defslot action :default ()) (defslot pressed? :default ())
        (define (paint)
          (let* ((_s (send (self) get-size)) (_w (cdr _s)) (_h (car _s)))
            (pen-normal)
            (set-fore-color (if pressed? '(0 0 0) '(65535 65535 65535)))
            (paint-round-rect (list 0 0 _w _h) 8 8)
            (set-fore-color '(0 0 0))
            (frame-round-rect (list 0 0 _w _h) 8 8)
            (set-fore-color (if pressed? '(65535 65535 65535) '(0 0 0)))
            (move-to (quotient (- _w (string-width title)) 2) (- _h 7))
            (draw-string title)))
        (define (mouse-down-system _x _y) (set! pressed? t) (send (self) invalidate))
        (define (mouse-up-system _x _y)
          (set! pressed? ())
          (send (self) invalidate)
          (when action (action))))

(define (make-button _parent _position _size _title _action)
  (make-view Button _title _parent _position _size 'title _title 'action _action 'handles-mouse? t))

; A caption: one line of text on the window's colour.
(define Caption (new-class 'Caption View))
(Caption (defslot text :default "")
         (define (paint)
           (set-fore-color '(0 0 0))
           (move-to 2 (- (car (send (self) get-size)) 6))
           (draw-string text))
         (define (get-text) text)
         (define (set-text _t) (set! text _t) (send (self) invalidate)))

; Menus whose items call an action.
(define Menu (new-class 'Menu obj-menu))
(Menu (defslot name) (defslot parent) (defslot title :default "") (defslot accelerator :default ())
      (defslot item? :default ()) (defslot checked? :default ()) (defslot action :default ())
      (define (select _x) (when action (action))))
(define (menu _parent _title _action . _key)
  (let ((_m (make-instance Menu)))
    (_m (set! name (string->symbol _title)) (set! parent _parent) (set! title _title) (set! action _action)
        (set! item? (not (null? _action))) (set! accelerator (if _key (car _key) ())))
    (send _m link-object)
    _m))
