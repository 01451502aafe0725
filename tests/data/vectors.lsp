; Vectors: 16-bit counts, indexes checked.
(define v (make-vector 3 'a))     ; expect: v
v                                 ; expect: #(a a a)
(vector-length v)                 ; expect: 3
(vector-ref v 3)                  ; expect error: 2 3
(vector-set! v 2 7)               ; expect: 7
(vector-ref v 2)                  ; expect: 7
(vector-set! v -1 0)              ; expect error: 2 -1
(vector 1 'b "c")                 ; expect: #(1 b c)
(list->vector '(1 2 3))           ; expect: #(1 2 3)
(vector->list #(x y))             ; expect: (x y)
(vector? #())                     ; expect: t
(vector? '())                     ; expect: ()
(vector-length (make-vector 16383 ()))  ; expect: 16383
(make-vector 16384 ())            ; expect error: 2 16384
(make-vector -1 ())               ; expect error: 2 -1
(vector-length '(1))              ; expect error: 2 (1)
(define w (copy-vector v))        ; expect: w
(vector-set! w 0 'z)              ; expect: z
v                                 ; expect: #(a a 7)

; Arrays: the first index varies fastest.
(define a (make-array 2 3))       ; expect: a
(array? a)                        ; expect: t
a                                 ; expect: ##((0 0) (0 0) (0 0))
(array-set! a 'x 1 2)             ; expect: x
(array-ref a 1 2)                 ; expect: x
a                                 ; expect: ##((0 0) (0 0) (0 x))
(array-ref a 1)                   ; expect error: 2 ()
(array-ref a 1 2 0)               ; expect error: 2 0
(array-ref a 2 0)                 ; expect error: 2 2
(array-ref a 0 3)                 ; expect error: 2 3
(array-ref ())                    ; expect error: 2 ()
(make-array 200 100)              ; expect error: 2 80008
(make-array 65536)                ; expect error: 2 65536
(define b (make-array 6))         ; expect: b
(copy-array a b)
(array-ref b 5)                   ; expect: x
(copy-array b (make-array 2))     ; expect error: 2
