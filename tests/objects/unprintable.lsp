; Inside an error report an instance that cannot print itself is named by
; its class, so that the report keeps its number and culprit.
(define P (new-class 'P))                ; expect: P
(P (define (boom) (car 'x)))             ; expect: boom
(send (make-instance P) boom)            ; expect error: 2 x, #<instance P>
(car (make-instance P))                  ; expect error: 2 #<instance P>
; A print-self that fails or gives no string is no better.
(define Q (new-class 'Q))                ; expect: Q
(Q (define (print-self) (car 'y)) (define (boom) (car 'z)))  ; expect: boom
(send (make-instance Q) boom)            ; expect error: 2 z, #<instance Q>
(define R (new-class 'R))                ; expect: R
(R (define (print-self) 5))              ; expect: print-self
(cdr (make-instance R))                  ; expect error: 2 #<instance R>
; One that prints itself keeps its own text there; elsewhere nothing changes.
(define S (new-class 'S))                ; expect: S
(S (define (print-self) "an S"))         ; expect: print-self
(car (make-instance S))                  ; expect error: 2 an S
(display (make-instance P))              ; expect error: 2
