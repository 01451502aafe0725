; catch, throw, unwind-protect and the error report.
(catch 'a (throw 'a 5) 6)               ; expect: 5
(catch 'a 7)                            ; expect: 7
(catch 'a)
(catch 'a (catch 'b (throw 'a 1)))      ; expect: 1
(catched? 'zz)                          ; expect: ()
(catch 'zz (catched? 'zz))              ; expect: t
(throw 'zz 1)                           ; expect error: 17 zz
(define x 1)   ; expect: x
(catch 'a (unwind-protect (throw 'a 1) (set! x 2))) ; expect: 1
x                                       ; expect: 2
(unwind-protect 5 (set! x 3))           ; expect: 5
x                                       ; expect: 3
(catch 'b (catch 'a (unwind-protect (throw 'a 1) (throw 'b 9)))) ; expect: 9
(error-subr 'boom)                      ; expect error: 0 boom
(car (cons 1 (error-subr 'inner)))      ; expect error: 0 inner

; A function handler sees the kind, number and value.
(define seen ())   ; expect: seen
(define Error-Handler (lambda (_k _n _v _o _a _b) (set! seen (list _k _n _v))))   ; expect: Error-Handler
(undefined-thing)                       ; expect error: 6 undefined-thing
seen                                    ; expect: (1010 6 undefined-thing)
(define Error-Handler (lambda (_k _n _v _o _a _b) (undefined-in-handler)))   ; expect: Error-Handler
(error-subr 1)                          ; expect error: 0 1
(set! Error-Handler ())                  ; expect: ()

; The debugging module loads once, before the handler.
(define loaded ())   ; expect: loaded
(define load-module (lambda (_m) (set! loaded _m) (set! Error-Module ())))   ; expect: load-module
(define Error-Module 'debugger)   ; expect: Error-Module
(error-subr 2)                          ; expect error: 0 2
loaded                                  ; expect: debugger

; A clean-up that exits while an error unwinds replaces the error's exit,
; but the error is still reported, before the exit that replaced it.
(unwind-protect (car 1) (car 2))        ; expect error: 2 1
; expect error: 2 2
(catch 'k (unwind-protect (car 3) (throw 'k 5)))  ; expect error: 2 3
; expect: 5
(unwind-protect (car 4) (throw 'nowhere 6))       ; expect error: 2 4
; expect error: 17 nowhere
(catch 'k (unwind-protect (throw 'k 7) (car 8)))  ; expect error: 2 8
(list 'after)                           ; expect: (after)
