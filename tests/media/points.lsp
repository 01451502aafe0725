; Points: (v . h) pairs, made horizontal first.
(define p (make-point 10 20))     ; expect: p
p                                 ; expect: (20 . 10)
(point-x p ())                    ; expect: 10
(point-y p ())                    ; expect: 20
(point-x p 7)                     ; expect: 7
(point-y p 8)                     ; expect: 8
p                                 ; expect: (8 . 7)
(point-x p "7")                   ; expect error: 2 7
(point-x 5 ())                    ; expect error: 2 5
(define q (copy-point p))         ; expect: q
(eq? p q)                         ; expect: ()
(equal? p q)                      ; expect: t
(add-point (make-point 1 2) (make-point 10 20))        ; expect: (22 . 11)
(subtract-point (make-point 1 2) (make-point 10 20))   ; expect: (-18 . -9)
(offset-point (make-point 1 2) 3 -4)                   ; expect: (-2 . 4)

; Coordinates are 16-bit natively: taken as the low 16 bits, and every
; point answered is cut back.
(make-point 32767 -32768)         ; expect: (-32768 . 32767)
(make-point 32768 65537)          ; expect: (1 . -32768)
(add-point (make-point 32767 0) (make-point 1 0))      ; expect: (0 . -32768)
(offset-point (make-point 0 0) 65535 131072)           ; expect: (0 . -1)
(make-point 'a 1)                 ; expect error: 2 a
(add-point '(1 . x) (make-point 0 0))                  ; expect error: 2 x

; Distances: a real, or with an integer flag the rounded integer.
(distance-point (make-point 0 0) (make-point 3 4) t)   ; expect: 5
(distance-point (make-point 0 0) (make-point 3 4) ())  ; expect: 5.0
(distance-point 0 0 (make-point 3 4) t)                ; expect: 5
(distance-point 0 0 (make-point 1 1) t)                ; expect: 1
(distance-point 0 0 (make-point 2 3) 1)                ; expect: 4
(distance-point -32768 -32768 (make-point 32767 32767) t)   ; expect: 92680

; The distance to a line, rounded half up and then made non-negative.
(define a (make-point 0 0))       ; expect: a
(define b (make-point 10 0))      ; expect: b
(distance-line-point a b (make-point 5 3) ())          ; expect: 3
(distance-line-point a b 5 3)                          ; expect: 3
(distance-line-point a b 5 -3)                         ; expect: 3
(distance-line-point a b 500 -3)                       ; expect: 3
(distance-line-point a (make-point 0 10) 7 2)          ; expect: 7
(distance-line-point (make-point 0 0) (make-point 2 1) (make-point 0 5) ())   ; expect: 4
; a signed distance of -2.24 rounds to -2
(distance-line-point (make-point 0 0) (make-point 2 1) (make-point 5 0) ())   ; expect: 2
; Two equal line points: the distance between the points.
(distance-line-point a a (make-point 3 4) ())          ; expect: 5
(distance-line-point a a 0 0)                          ; expect: 0
(in-edge? a a a 0)                                     ; expect: t
(in-edge? (make-point 3 4) a a 5)                      ; expect: t
(in-edge? (make-point 3 4) a a 4)                      ; expect: ()

; in-edge?: within the tolerance of the segment, not just of the line.
(in-edge? (make-point 5 2) a b 2)                      ; expect: t
(in-edge? (make-point 5 3) a b 2)                      ; expect: ()
(in-edge? (make-point 15 0) a b 2)                     ; expect: ()
(in-edge? (make-point 12 0) a b 2)                     ; expect: t
(in-edge? (make-point 13 0) a b 2)                     ; expect: ()
(in-edge? (make-point -3 1) a b 2)                     ; expect: ()
(in-edge? (make-point 5 1) a b ())                     ; expect error: 2 ()
