; Regions combine as the classic toolbox did: the destination comes last.
(define a (newrgn))               ; expect: a
(define b (newrgn))               ; expect: b
(define c (newrgn))               ; expect: c
(emptyrgn a)                      ; expect: t
(get-rgn-rect a)                  ; expect: (0 0 0 0)
(setrectrgn a 0 0 10 10)
(rect-rgn b '(5 5 15 15))
(emptyrgn a)                      ; expect: ()
(get-rgn-rect a)                  ; expect: (0 0 10 10)
(unionrgn a b c)
(get-rgn-rect c)                  ; expect: (0 0 15 15)
(ptinrgn (make-point 12 3) c)     ; expect: ()
(ptinrgn (make-point 12 12) c)    ; expect: t
(sectrgn a b c)
(get-rgn-rect c)                  ; expect: (5 5 10 10)
(diffrgn a b c)
(get-rgn-rect c)                  ; expect: (0 0 10 10)
(ptinrgn (make-point 7 7) c)      ; expect: ()
(ptinrgn (make-point 2 7) c)      ; expect: t
(xorrgn a b c)
(ptinrgn (make-point 7 7) c)      ; expect: ()
(ptinrgn (make-point 12 12) c)    ; expect: t
(ptinrgn (make-point 2 2) c)      ; expect: t
(ptinrgn (make-point 10 10) a)    ; expect: ()

; A region may be its own operand and destination.
(copyrgn c a)
(equalrgn a c)                    ; expect: t
(unionrgn c b c)
(equalrgn a c)                    ; expect: ()
(xorrgn c c c)
(emptyrgn c)                      ; expect: t

; Equality is of pixels, not of how a region was made.
(define d (newrgn))               ; expect: d
(setrectrgn d 0 0 10 5)
(define e (newrgn))               ; expect: e
(setrectrgn e 0 5 10 10)
(unionrgn d e d)
(equalrgn a d)                    ; expect: t
(offsetrgn d 3 -2)
(get-rgn-rect d)                  ; expect: (3 -2 13 8)
(equalrgn a d)                    ; expect: ()
(offsetrgn d 65533 2)
(equalrgn a d)                    ; expect: t

; Inverted and empty rectangles make empty regions.
(setrectrgn e 10 10 0 0)
(emptyrgn e)                      ; expect: t
(rect-rgn e '(3 3 3 9))
(emptyrgn e)                      ; expect: t
(setemptyrgn a)
(emptyrgn a)                      ; expect: t

; Rectangles meeting a region.
(rect-in-rgn? '(14 14 20 20) b)   ; expect: t
(rect-in-rgn? '(15 0 20 20) b)    ; expect: ()
(rect-in-rgn? '(8 8 8 20) b)      ; expect: ()
(rect-region a '(0 0 4 4))
(get-rgn-rect a)                  ; expect: (0 0 4 4)

; The oval region: the same pixels as a filled ellipse.
(define o (create-oval-rgn '(0 0 4 4)))        ; expect: o
(get-rgn-rect o)                  ; expect: (0 0 4 4)
(ptinrgn (make-point 0 0) o)      ; expect: ()
(ptinrgn (make-point 1 0) o)      ; expect: t
(ptinrgn (make-point 0 1) o)      ; expect: t
(ptinrgn (make-point 3 3) o)      ; expect: ()
(emptyrgn (create-oval-rgn '(5 5 5 10)))       ; expect: t
(get-rgn-rect (create-oval-rgn '(-32768 -32768 32767 32767)))   ; expect: (-32768 -32768 32767 32767)

; A disposed region is dead: every use is error 2, never a crash.
(disposergn o)
(emptyrgn o)                      ; expect error: 2
(disposergn o)                    ; expect error: 2
(unionrgn a b o)                  ; expect error: 2
(ptinrgn (make-point 0 0) o)      ; expect error: 2
; Its slot is reused by a new region; the old box stays dead.
(define n (newrgn))               ; expect: n
(emptyrgn n)                      ; expect: t
(emptyrgn o)                      ; expect error: 2
; Other values are not regions.
(emptyrgn (new-ptr 16))           ; expect error: 2
(emptyrgn 5)                      ; expect error: 2 5
(emptyrgn (number->pointer 1))    ; expect error: 2
(sectrgn a 'b c)                  ; expect error: 2 b
