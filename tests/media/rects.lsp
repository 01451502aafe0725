; Rectangles: (left top right bottom), right and bottom exclusive.
(rect-position '(1 2 30 40))      ; expect: (2 . 1)
(rect-size '(1 2 30 40))          ; expect: (38 . 29)
(rect-width '(1 2 30 40))         ; expect: 29
(rect-height '(1 2 30 40))        ; expect: 38
(rect-width '(10 0 5 0))          ; expect: -5
; Widths are not cut to 16 bits, sizes are.
(rect-width '(-32768 0 32767 0))  ; expect: 65535
(rect-size '(-32768 0 32767 0))   ; expect: (0 . -1)
(rect-center '(0 0 5 5))          ; expect: (2 . 2)
(rect-center '(-5 -5 0 0))        ; expect: (-2 . -2)
(rect-center '(-32768 -32768 -32767 -32767))   ; expect: (-32767 . -32767)
(inflate-rect '(10 10 20 20) 2 -3)             ; expect: (8 13 22 17)
(offset-rect '(10 10 20 20) 5 -5)              ; expect: (15 5 25 15)
(offset-rect '(10 10 20 20) (make-point 1 2) ())   ; expect: (11 12 21 22)
(offset-rect '(32760 0 32767 10) 10 0)         ; expect: (-32766 0 -32759 10)
(point->rect (make-point 30 40))               ; expect: (0 0 30 40)
(points->rect (make-point 5 5) (make-point 10 20))   ; expect: (5 5 15 25)

; Containment: the right and bottom edges are outside.
(point-in-rect? (make-point 10 5) '(0 0 10 10) ())   ; expect: ()
(point-in-rect? (make-point 9 5) '(0 0 10 10) ())    ; expect: t
(point-in-rect? 9 9 '(0 0 10 10))                    ; expect: t
(point-in-rect? 0 10 '(0 0 10 10))                   ; expect: ()
(point-in-rect? -1 0 '(0 0 10 10))                   ; expect: ()
(point-in-rect? 5 5 '(10 10 0 0))                    ; expect: ()

; Touching edges do not overlap.
(rect-overlaps? '(0 0 10 10) '(10 0 20 10))    ; expect: ()
(rect-overlaps? '(0 0 10 10) '(9 0 20 10))     ; expect: t
(rect-overlaps? '(0 0 10 10) '(0 10 10 20))    ; expect: ()
(rect-overlaps? '(0 0 10 10) '(2 2 3 3))       ; expect: t
(empty-rect? '(0 0 0 10))         ; expect: t
(empty-rect? '(0 0 10 0))         ; expect: t
(empty-rect? '(5 5 1 10))         ; expect: t
(empty-rect? '(0 0 1 1))          ; expect: ()

; Union of a list; empty rectangles take no part.
(enclosing-rect ())               ; expect: (0 0 0 0)
(enclosing-rect '((0 0 0 0) (1 1 2 2)))        ; expect: (1 1 2 2)
(enclosing-rect '((1 1 2 2) (0 0 0 0)))        ; expect: (1 1 2 2)
(enclosing-rect '((5 5 5 5) (7 7 3 3)))        ; expect: (0 0 0 0)
(enclosing-rect '((0 0 10 10) (5 -5 20 8) (3 3 4 4)))   ; expect: (0 -5 20 10)
(enclosing-rect '((3 4 5 6)))                  ; expect: (3 4 5 6)

; Malformed rectangles and lists.
(rect-width '(1 2 3))             ; expect error: 2 (1 2 3)
(rect-width '(1 2 3 x))           ; expect error: 2 (1 2 3 x)
(rect-width 5)                    ; expect error: 2 5
(enclosing-rect '((0 0 1 1) . 5)) ; expect error: 2 ((0 0 1 1) . 5)
(enclosing-rect 7)                ; expect error: 2 7
(offset-rect '(0 0 1 1) 5 ())     ; expect error: 2 5
