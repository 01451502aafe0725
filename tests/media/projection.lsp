; Perspective projection through a matrix of 16 doubles in a pointer block.
(define m (new-ptr 128))          ; expect: m
(set-3d-transformation m '(0 1 0) '(0 0 0) 1000 200 100 1 1)
; Looking along the y axis: x runs right, z up the screen.
(3d-transform m 10 0 0)           ; expect: (210 . 100)
(3d-transform m 0 0 10)           ; expect: (200 . 90)
(3d-transform m 0 0 0)            ; expect: (200 . 100)
; Farther points come nearer the centre: w = 1 - y / d.
(3d-transform m 10 -1000 0)       ; expect: (205 . 100)
(3d-transform m 10 500 0)         ; expect: (220 . 100)
(3d-transform m 1.25 0 0)         ; expect: (201 . 100)
(3d-transform m -1.5 0 0)         ; expect: (199 . 100)
(set-3d-transformation m '(3 4 0) '(1 2 3) 10 0 0 2 2)
(3d-transform m 1 2 3)            ; expect: (0 . 0)

; A point in the eye's plane (w = 0), a distance of 0, and non-finite
; results are error 2.
(set-3d-transformation m '(0 1 0) '(0 0 0) 1000 200 100 1 1)
(3d-transform m 0 1000 0)         ; expect error: 2
(set-3d-transformation m '(0 1 0) '(0 0 0) 0 200 100 1 1)   ; expect error: 2 0
(set-3d-transformation m '(0 1 0) '(0 0 0) 1e308 0 0 1 1)
(3d-transform m 1e308 1e308 0)    ; expect error: 2
(set-3d-transformation m '(1e308 1e308 0) '(0 0 0) 1 0 0 1 1)   ; expect error: 2
; Results far outside the screen are cut to 16 bits, not undefined.
(set-3d-transformation m '(0 1 0) '(0 0 0) 1000 0 0 1 1)
(3d-transform m 65537 0 0)        ; expect: (1 . 0)

; The matrix must be 128 bytes of one live block.
(set-3d-transformation (new-ptr 127) '(0 1 0) '(0 0 0) 1 0 0 1 1)   ; expect error: 2
(3d-transform (new-ptr 64) 0 0 0) ; expect error: 2
(3d-transform (add-ptr m 8) 0 0 0)               ; expect error: 2
(3d-transform (null-ptr) 0 0 0)   ; expect error: 2
(3d-transform 5 0 0 0)            ; expect error: 2 5
(3d-transform (newrgn) 0 0 0)     ; expect error: 2
(3d-transform (new-handle 256) 0 0 0)            ; expect error: 2
(define gone (new-ptr 128))       ; expect: gone
(dispose-ptr gone)
(3d-transform gone 0 0 0)         ; expect error: 2
(set-3d-transformation m '(0 1) '(0 0 0) 1 0 0 1 1)    ; expect error: 2 (0 1)
(set-3d-transformation m '(0 1 0) '(0 0 x) 1 0 0 1 1)  ; expect error: 2 (0 0 x)
(3d-transform m 'x 0 0)           ; expect error: 2 x

; Without a drawing surface the line primitives draw nothing.
(3d-line-to m 1 2 3)
(3d-move-to 3 2 1 m)
(3d-move-to 3 2 1 5)              ; expect error: 2 5
