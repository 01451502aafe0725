; The slide show itself: the pages, the window that shows them, the
; buttons, the menu, the clock and the page remembered between runs.

; A page: its title, its picture and sound (resource ids), the effect that
; brings it in (a message to the stage and its arguments), the colours of
; its background and its text, and a few lines of text.
(define Pages
  '(("Sunrise" 128 128 (wipe-sides 4) (65535 62000 52000) (20000 10000 0)
     ("A picture from the" "application's own" "resources, drawn" "scaled in its box."))
    ("Shapes" 129 129 (blinds 0 4) (58000 60000 65535) (0 0 30000)
     ("Rectangles, ovals," "round rectangles" "and arcs, in the" "colours of a picture."))
    ("Night" 130 130 (center-out 0) (6000 6000 16000) (60000 60000 40000)
     ("Each page comes in" "through an effect" "of its own, and" "plays a sound."))
    ("Waves" 131 131 (push-sides 8) (52000 62000 65535) (0 16000 32000)
     ("The arrow keys, the" "buttons and the Show" "menu turn the pages." "Space goes on."))
    ("Rings" 132 132 (dissolve) (16000 16000 20000) (65535 65535 65535)
     ("The last page shown" "is kept in a database" "and the show starts" "there next time."))))
(define (page-title _p) (car _p))
(define (page-picture _p) (cadr _p))
(define (page-sound _p) (caddr _p))
(define (page-effect _p) (list-ref _p 3))
(define (page-background _p) (list-ref _p 4))
(define (page-ink _p) (list-ref _p 5))
(define (page-lines _p) (list-ref _p 6))

(define Page 0)
(define Shown-at 0)

; The windows: the show, its stage (drawn into an offscreen image that the
; effects bring to the screen), two buttons and the clock's caption.
(define System (make-view View 'system () '(0 . 0) '(0 . 0)))
(define Desktop (make-view View 'desktop System '(0 . 0) '(0 . 0) 'color '(12000 20000 30000)))
(define Show (make-view View 'show Desktop '(40 . 12) '(286 . 456) 'title "Slide Show"
                        'color '(52000 52000 52000)))
(define Stage (make-view View 'stage Show '(8 . 8) '(240 . 440) 'handles-mouse? t))
(send Stage set-offscreen? t)
(define Previous (make-button Show '(256 . 8) '(22 . 90) "Previous" (lambda () (turn -1))))
(define Next (make-button Show '(256 . 358) '(22 . 90) "Next" (lambda () (turn 1))))
(define Clock (make-view Caption 'clock Show '(256 . 110) '(22 . 240) 'color '(52000 52000 52000)))

; The stage draws the page: title, picture, text, page number.
(define (paint-page _stage)
  (let ((_p (list-ref Pages Page)) (_y 70))
    (pen-normal)
    (set-fore-color (page-ink _p))
    (text-font 20)
    (text-size 20)
    (text-face '(bold))
    (move-to 12 28)
    (draw-string (page-title _p))
    (draw-picture (page-picture _p) '(12 40 252 200))
    (set-fore-color '(0 0 0))
    (frame-rect '(11 39 253 201))
    (set-fore-color (page-ink _p))
    (text-font 21)
    (text-size 12)
    (text-face ())
    (for-each (lambda (_line) (move-to 266 _y) (draw-string _line) (set! _y (+ _y 18))) (page-lines _p))
    (move-to 266 196)
    (draw-string (string-append (string (+ Page 1)) " / " (string (length Pages))))))
(Stage (set! on-paint paint-page))

; The clock: the page and how long it has been shown, once a second.
(define (two-digits _n) (if (< _n 10) (string-append "0" (string _n)) (string _n)))
(define (update-clock)
  (let ((_s (quotient (- (milliseconds) Shown-at) 1000)))
    (send Clock set-content (string-append "Page " (string (+ Page 1)) " of " (string (length Pages)) "   "
                                        (string (quotient _s 60)) ":" (two-digits (remainder _s 60))))))
(run-process (new-process 'update-clock 'clock 1000 () () ()))

; The page remembered between runs, in a database in the settings folder.
(define Db-Path (append (find-preference-folder) (list "slideshow.db")))
(define (remembered-page)
  (if (file-exists? Db-Path)
      (let* ((_db (open-database Db-Path 1))
             (_n (if (> (count-records "PAGE" _db) 0) (get-record-number "PAGE" 1 _db) 0)))
        (close-database _db ())
        (if (and (>= _n 0) (< _n (length Pages))) _n 0))
      0))
(define (remember-page _n)
  (unless (file-exists? Db-Path) (create-database-subr Db-Path "SHOW" "DATA"))
  (let ((_db (open-database Db-Path 2)))
    (put-record-number _n "PAGE" 1 _db)
    (close-database _db ())))

; A page shown: drawn into the image, its sound started, brought in by its
; effect (16 steps of 20 ms), remembered.
(define (show-page _n)
  (set! Page _n)
  (let ((_p (list-ref Pages _n)))
    (princ (string-append "page " (string (+ _n 1)) ": " (page-title _p)) ())
    (send Stage set-color (page-background _p))
    (send Stage update-offscreen)
    (play-sound-background (page-sound _p))
    (let ((_how (page-effect _p)))
      (if (eq? (car _how) 'dissolve)
          (send Stage dissolve)
          (send Stage loop-effect (apply send Stage _how) 16 20))))
  (remember-page _n)
  (set! Shown-at (milliseconds))
  (update-clock))

(define (turn _delta) (show-page (remainder (+ Page _delta (length Pages)) (length Pages))))

; The Show menu.
(define Menu (new-class 'Menu obj-menu))
(Menu (defslot name) (defslot parent) (defslot title :default "") (defslot accelerator :default ())
      (defslot item? :default ()) (defslot separator? :default ()) (defslot action :default ())
      (define (select _x) (when action (action))))
(define (menu _parent _title _action . _key)
  (let ((_m (make-instance Menu)))
    (_m (set! name (string->symbol _title)) (set! parent _parent) (set! title _title) (set! action _action)
        (set! item? (not (null? _action))) (set! accelerator (if _key (car _key) ())))
    (send _m link-object)
    _m))
(define Menu-Root (menu () "" ()))
(define Menu-Bar (menu Menu-Root "" ()))
(define Show-Menu (menu Menu-Bar "Show" ()))
(menu Show-Menu "Next" (lambda () (turn 1)) '(:menu "N"))
(menu Show-Menu "Previous" (lambda () (turn -1)) '(:menu "P"))
(menu Show-Menu "First" (lambda () (show-page 0)))
(menu Show-Menu "Last" (lambda () (show-page (- (length Pages) 1))))
(menu Show-Menu "Quit" (lambda () (quit)) '(:menu "Q"))

; The keys: the arrows, Space, Home and End.
(define (system-key-down _key)
  (cond ((= _key 29) (turn 1) t)
        ((= _key 28) (turn -1) t)
        (t ())))
(Stage (define (key-down _c) (when (= _c 32) (turn 1)))
       (define (mouse-down-system _x _y) (turn 1)))

(define (do-quit) t)

(define (toplevel-loop)
  (let ((_start (remembered-page)))
    (princ (string-append "starting at page " (string (+ _start 1))) ())
    (set! Page _start)
    (send Stage set-color (page-background (list-ref Pages _start)))
    (send Stage update-offscreen)
    (set! Shown-at (milliseconds))
    (update-clock)
    (set-focus Stage)
    (while t (process-events ()) (give-time))))
