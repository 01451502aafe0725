; Slides: each page is a background colour and three panels; the next page
; is drawn into the window's offscreen image, then an effect brings it to
; the screen. The window itself first appears through its `effect`.
(define (list . _xs) _xs)

(define Panel (new-class 'Panel obj-window))
(Panel (defslot name) (defslot parent) (defslot title :default "Slides") (defslot position) (defslot size)
       (defslot color :default '(65535 65535 65535)) (defslot erase? :default t) (defslot type :default 0)
       (defslot handles-mouse? :default ()) (defslot effect :default ())
       (define (mouse-down-system _x _y) (turn 1))
       (define (key-down _c) (when (= _c 32) (turn 1))))

(define (window _name _parent _position _size _color)
  (let ((_w (make-instance Panel)))
    (_w (set! name _name) (set! parent _parent) (set! position _position) (set! size _size) (set! color _color))
    (send _w link-object)
    _w))

(define System (window 'system () '(0 . 0) '(0 . 0) '(0 0 0)))
(define Desktop (window 'desktop System '(0 . 0) '(0 . 0) '(12000 20000 30000)))
(send Desktop show)
(define Slide (window 'slide Desktop '(20 . 20) '(200 . 300) '(65535 65535 65535)))
(Slide (set! handles-mouse? t))
(define Panels (list (window 1 Slide '(0 . 0) '(0 . 0) '(0 0 0)) (window 2 Slide '(0 . 0) '(0 . 0) '(0 0 0))
                     (window 3 Slide '(0 . 0) '(0 . 0) '(0 0 0))))
(for-each (lambda (_p) (send _p show)) Panels)
(send Slide set-offscreen? t)

; A page: its effect (a message to the window and its arguments), its
; background, and each panel's position, size and colour.
(define Pages
  '(((wipe-sides 4) (65535 65535 65535)
     ((20 . 20) (60 . 260) (0 0 50000)) ((100 . 20) (80 . 120) (65535 0 0)) ((100 . 160) (80 . 120) (0 40000 0)))
    ((blinds 0 4) (60000 60000 40000)
     ((20 . 20) (160 . 80) (65535 30000 0)) ((20 . 110) (160 . 80) (30000 0 40000)) ((20 . 200) (160 . 80) (0 30000 30000)))
    ((center-out 0) (0 0 20000)
     ((50 . 75) (100 . 150) (65535 65535 0)) ((75 . 112) (50 . 75) (65535 0 0)) ((90 . 135) (20 . 30) (65535 65535 65535)))
    ((push-sides 8) (50000 65535 50000)
     ((10 . 10) (180 . 40) (0 20000 0)) ((10 . 60) (180 . 40) (0 35000 0)) ((10 . 110) (180 . 180) (0 50000 0)))
    ((copy-mask 0 4) (20000 20000 20000)
     ((40 . 40) (120 . 220) (65535 65535 65535)) ((70 . 90) (60 . 120) (0 0 65535)) ((85 . 130) (30 . 40) (65535 0 0)))
    ((dissolve) (65535 50000 50000)
     ((30 . 30) (140 . 100) (50000 0 0)) ((30 . 170) (140 . 100) (0 0 50000)) ((80 . 120) (40 . 60) (65535 65535 65535)))
    ((wipe-slash 1) (65535 65535 65535)
     ((0 . 0) (100 . 150) (0 0 0)) ((100 . 150) (100 . 150) (0 0 0)) ((90 . 140) (20 . 20) (65535 0 0)))))
(define Page 0)

; Draws page n into the image only.
(define (draw-page _n)
  (let ((_page (list-ref Pages _n)))
    (send Slide set-color (cadr _page))
    (let ((_specs (cddr _page)) (_panels Panels))
      (while _panels
        (let ((_spec (car _specs)) (_p (car _panels)))
          (send _p set-position (car _spec))
          (send _p set-size (cadr _spec))
          (send _p set-color (caddr _spec)))
        (set! _specs (cdr _specs))
        (set! _panels (cdr _panels))))
    (send Slide update-offscreen)
    (car _page)))

; The next (or previous) page through its effect: 16 steps of 20 ms.
(define (turn _delta)
  (set! Page (remainder (+ Page _delta (length Pages)) (length Pages)))
  (let ((_how (draw-page Page)))
    (if (eq? (car _how) 'dissolve)
        (send Slide dissolve)
        (send Slide loop-effect (apply send Slide _how) 16 20))))

(define (system-key-down _key)
  (cond ((= _key 29) (turn 1) t)
        ((= _key 28) (turn -1) t)
        (t ())))

(define (do-quit) t)

(define (toplevel-loop)
  (draw-page 0)
  (send Slide set-effect '(zoom-in 0))
  (send Slide show)
  (set-focus Slide)
  (while t (process-events ())))
