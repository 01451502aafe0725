; The error handler object receives error-trap as a message.
(define (list . _xs) _xs)                   ; expect: list
(define Handler (new-class 'Handler))       ; expect: Handler
(define seen ())                            ; expect: seen
(Handler (define (error-trap _kind _number _value _object _a _b) (set! seen (list _kind _number _value)))) ; expect: error-trap
(define Error-Handler (make-instance Handler)) ; expect: Error-Handler
(+ 'oops 1)                                 ; expect error: 2 oops
seen                                        ; expect: (1010 2 oops)
(set! Error-Handler ())                     ; expect: ()
