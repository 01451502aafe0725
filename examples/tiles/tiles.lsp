; Tiles: a board of tiles that take the colour chosen in a floating
; palette. Click a swatch, then click tiles; C clears the board; the arrow
; keys move the selected tile (framed in magenta) and Space paints it; the
; frame's close box quits.
(define (list . _xs) _xs)

; Every window of the application is a Tile: a coloured rectangle that
; may answer the mouse.
(define Tile (new-class 'Tile obj-window))
(Tile (defslot name) (defslot parent) (defslot title :default "") (defslot position) (defslot size)
      (defslot color :default '(65535 65535 65535)) (defslot erase? :default t) (defslot frame? :default t)
      (defslot handles-mouse? :default ()) (defslot floating? :default ()) (defslot close-box? :default ())
      (defslot type :default 0) (defslot on-click :default ())
      (define (mouse-down-system _x _y) (when on-click (on-click (self))))
      ; Characters typed reach the focus, the board: C clears it.
      (define (key-down _c) (when (or (= _c 67) (= _c 99)) (clear-board))))

(define (window _name _parent _position _size . _options)
  (let ((_w (make-instance Tile)))
    (_w (set! name _name) (set! parent _parent) (set! position _position) (set! size _size))
    (while _options
      (_w (eval (list 'set! (car _options) (list 'quote (cadr _options)))))
      (set! _options (cddr _options)))
    (send _w link-object)
    (send _w show)
    _w))

(define System (window 'system () '(0 . 0) '(0 . 0)))
(define Desktop (window 'desktop System '(0 . 0) '(0 . 0) 'color '(12000 20000 30000)))

(define Board (window 'board Desktop '(30 . 20) '(168 . 212) 'title '(128 . 1) 'color '(52000 52000 52000)
                'frame? ()))
(define Palette (window 'palette Desktop '(30 . 250) '(140 . 60) 'title '(128 . 2) 'floating? t 'frame? ()))

(define Brush '(65535 0 0))
(define Selected 0)

(define (paint-tile _tile)
  (send _tile set-color Brush))

(define Tiles
  (let ((_all ()) (_i 0))
    (while (< _i 16)
      (set! _all (cons (window _i Board (cons (+ 8 (* 40 (quotient _i 4))) (+ 8 (* 50 (remainder _i 4))))
                               '(34 . 44) 'handles-mouse? t 'on-click paint-tile)
                       _all))
      (set! _i (+ _i 1)))
    (reverse _all)))

(define (choose _swatch)
  (set! Brush (send _swatch get-color)))

(let ((_colours '((65535 0 0) (0 45000 0) (0 0 65535) (65535 50000 0) (65535 65535 65535))) (_row 0))
  (while _colours
    (window (list 'swatch _row) Palette (cons (+ 6 (* 26 _row)) 6) '(20 . 48) 'color (car _colours)
            'handles-mouse? t 'on-click choose)
    (set! _colours (cdr _colours))
    (set! _row (+ _row 1))))

(define (select _n)
  (send (list-ref Tiles Selected) set-color-fore '(0 0 0))
  (set! Selected (remainder (+ 16 _n) 16))
  (send (list-ref Tiles Selected) set-color-fore '(65535 0 65535)))

(define (clear-board)
  (for-each (lambda (_t) (send _t set-color '(65535 65535 65535))) Tiles))

; Keys the event loop hands over before they become characters: the
; arrows move the selection, Space paints it.
(define (system-key-down _key)
  (cond ((= _key 28) (select (- Selected 1)) t)
        ((= _key 29) (select (+ Selected 1)) t)
        ((= _key 30) (select (- Selected 4)) t)
        ((= _key 31) (select (+ Selected 4)) t)
        ((= _key 32) (paint-tile (list-ref Tiles Selected)) t)
        (t ())))

(define (do-quit) t)

(define (toplevel-loop)
  (set-focus Board)
  (while t (process-events ())))
