; The sketch pad: the canvas and its strokes, the tools, the menus and the
; database the drawing is kept in.

; A stroke is a vector: its kind (0 pencil, 1 line, 2 box, 3 oval), its
; colour (red green blue), its pen size, then the points it passes through
; as h v pairs. The drawing is the list of strokes, newest first.
(define Strokes ())
(define Tool 0)
(define Tool-Names '("Pencil" "Line" "Box" "Oval"))
(define Ink '(0 0 0))
(define Size 2)
(define Points ())      ; the stroke being drawn: its points, newest first
(define Anchor ())      ; where a line, box or oval was started

(define System (make-view View 'system () '(0 . 0) '(0 . 0)))
(define Desktop (make-view View 'desktop System '(0 . 0) '(0 . 0) 'color '(40000 44000 48000)))
(define Pad (make-view View 'pad Desktop '(40 . 12) '(300 . 456) 'title "Sketch" 'color '(56000 56000 56000)))
(define Canvas (make-view View 'canvas Pad '(8 . 8) '(240 . 340) 'handles-mouse? t))
(define Title (make-view Caption 'title Pad '(256 . 8) '(22 . 340) 'color '(65535 65535 65535)))
(define Status (make-view Caption 'status Pad '(260 . 356) '(22 . 96) 'color '(56000 56000 56000)))
(define (tool-button _v _n)
  (make-button Pad (cons _v 356) '(22 . 92) (list-ref Tool-Names _n) (gamma () (_n) (choose-tool _n))))
(for-each tool-button '(8 36 64 92) '(0 1 2 3))
(make-button Pad '(132 . 356) '(22 . 92) "Colour..." (lambda () (choose-colour)))

; Cursors by name: the pencil over the canvas with the pencil tool, the
; cross with the others, the arrow elsewhere.
(define (symbolic-cursor _name)
  (cond ((eq? _name 'pencil) 128) ((eq? _name 'cross) 2) (t 0)))
(View (define (activate-cursor _x _y) (set-cursor 'arrow)))
(Button (define (activate-cursor _x _y) (set-cursor 'arrow)))
(Canvas (define (activate-cursor _x _y) (set-cursor (if (= Tool 0) 'pencil 'cross))))

(define (show-status)
  (send Status set-text (string-append (list-ref Tool-Names Tool) ", " (string Size) " px")))
(define (choose-tool _n) (set! Tool _n) (show-status))
(define (choose-size _n) (set! Size _n) (show-status))
(define (choose-ink _rgb) (set! Ink _rgb))
(define (choose-colour)
  (let ((_c (talven-choose-color () () Ink)))
    (princ (list 'colour _c) ())
    (when _c (choose-ink _c))))

; Drawing a stroke with the canvas's pen.
(define (stroke-rect _s)
  (let ((_h1 (vector-ref _s 5)) (_v1 (vector-ref _s 6)) (_h2 (vector-ref _s 7)) (_v2 (vector-ref _s 8)))
    (list (min _h1 _h2) (min _v1 _v2) (+ (max _h1 _h2) 1) (+ (max _v1 _v2) 1))))
(define (draw-stroke _s)
  (pen-normal)
  (set-fore-color (list (vector-ref _s 1) (vector-ref _s 2) (vector-ref _s 3)))
  (pen-size (vector-ref _s 4) (vector-ref _s 4))
  (let ((_kind (vector-ref _s 0)))
    (cond ((< _kind 2)
           (move-to (vector-ref _s 5) (vector-ref _s 6))
           (let ((_i 5))
             (while (< _i (vector-length _s))
               (line-to (vector-ref _s _i) (vector-ref _s (+ _i 1)))
               (set! _i (+ _i 2)))))
          ((= _kind 2) (frame-rect (stroke-rect _s)))
          (t (frame-oval (stroke-rect _s))))))
(define (paint-canvas _w) (for-each draw-stroke (reverse Strokes)))
(Canvas (set! on-paint paint-canvas))

(define (new-stroke _points)
  (apply vector (append (list Tool (car Ink) (cadr Ink) (caddr Ink) Size) _points)))

; The mouse on the canvas: the pencil draws as it moves; the other tools
; show their shape in xor until the button is released.
(define (rubber-band _h _v)
  (pen-normal)
  (pen-mode 'xor)
  (set-fore-color '(65535 65535 65535))
  (let ((_s (new-stroke (list (car Anchor) (cdr Anchor) _h _v))))
    (cond ((= Tool 1) (move-to (car Anchor) (cdr Anchor)) (line-to _h _v))
          ((= Tool 2) (frame-rect (stroke-rect _s)))
          (t (frame-oval (stroke-rect _s)))))
  (pen-normal))
(Canvas (define (mouse-down-system _h _v)
          (if (= Tool 0)
              (set! Points (list _v _h))
              (begin (set! Anchor (cons _h _v)) (set! Points (list _v _h)) (rubber-band _h _v))))
        (define (mouse-move-system _h _v)
          (when Points
            (if (= Tool 0)
                (begin
                  (draw-stroke (new-stroke (list (cadr Points) (car Points) _h _v)))
                  (set! Points (cons _v (cons _h Points))))
                (begin
                  (rubber-band (cadr Points) (car Points))
                  (rubber-band _h _v)
                  (set! Points (list _v _h))))))
        (define (mouse-up-system _h _v)
          (when Points
            (set! Strokes (cons (if (= Tool 0)
                                    (new-stroke (reverse (cons _v (cons _h Points))))
                                    (new-stroke (list (car Anchor) (cdr Anchor) _h _v)))
                                Strokes))
            (set! Points ())
            (send Canvas invalidate))))

; The drawing kept in a database in the settings folder: the number of
; strokes, each stroke as a record, and the caption.
(define Db-Path (append (find-preference-folder) (list "sketch.db")))
(define (save-drawing)
  (unless (file-exists? Db-Path) (create-database-subr Db-Path "SKCH" "DATA"))
  (let ((_db (open-database Db-Path 2)) (_id 0))
    (for-each (lambda (_s) (set! _id (+ _id 1)) (put-record-vector _s "STRK" _id _db)) (reverse Strokes))
    (put-record-number _id "COUN" 1 _db)
    (put-record-string (send Title get-text) "TEXT" 1 _db)
    (close-database _db ())
    (princ (list 'saved _id 'strokes) ())))
(define (load-drawing)
  (when (file-exists? Db-Path)
    (let* ((_db (open-database Db-Path 1))
           (_n (if (> (count-records "COUN" _db) 0) (get-record-number "COUN" 1 _db) 0))
           (_id 0))
      (while (< _id _n)
        (set! _id (+ _id 1))
        (set! Strokes (cons (get-record-vector "STRK" _id _db) Strokes)))
      (when (> (count-records "TEXT" _db) 0) (send Title set-text (get-record-string "TEXT" 1 _db)))
      (close-database _db ())
      (princ (list 'opened _n 'strokes) ())
      (send Canvas invalidate))))

(define (clear-drawing) (set! Strokes ()) (send Canvas invalidate))

; The menus.
(define Menu-Root (menu () "" ()))
(define Menu-Bar (menu Menu-Root "" ()))
(define File-Menu (menu Menu-Bar "File" ()))
(menu File-Menu "Save" save-drawing '(:menu "S"))
(menu File-Menu "Clear" clear-drawing)
(menu File-Menu "Quit" (lambda () (save-drawing) (quit)) '(:menu "Q"))
(define Tool-Menu (menu Menu-Bar "Tool" ()))
(for-each (lambda (_n) (menu Tool-Menu (list-ref Tool-Names _n) (gamma () (_n) (choose-tool _n)))) '(0 1 2 3))
(define Pen-Menu (menu Menu-Bar "Pen" ()))
(for-each (lambda (_n) (menu Pen-Menu (string-append (string _n) "px") (gamma () (_n) (choose-size _n)))) '(1 2 4 8))
(define Colour-Menu (menu Menu-Bar "Colour" ()))
(menu Colour-Menu "Black" (lambda () (choose-ink '(0 0 0))))
(menu Colour-Menu "Red" (lambda () (choose-ink '(60000 0 0))))
(menu Colour-Menu "Green" (lambda () (choose-ink '(0 40000 0))))
(menu Colour-Menu "Blue" (lambda () (choose-ink '(0 0 60000))))
(menu Colour-Menu "Other..." choose-colour)

(define (do-quit) (save-drawing) t)
(define (toplevel-loop)
  (send Title set-text "Untitled sketch")
  (load-drawing)
  (show-status)
  (set-focus Canvas)
  (while t (process-events ()) (give-time)))
