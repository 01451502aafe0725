; Function application, slots, closures and macros.

((lambda (_a _b) _b) 1)                 ; expect error: 6
((lambda (_a) _a) 1 (undefined-fn))     ; expect: 1
((lambda (_a . _r) _r) 1 2 3)           ; expect: (2 3)
((lambda (_a . _r) _r) 1)               ; expect: ()
(type-of (lambda (_x) _x))              ; expect: function
(type-of ((lambda () (lambda (_x) _x)))) ; expect: lexical
_top                                    ; expect error: 6

; Arguments are evaluated left to right; a primitive's missing argument is nil.
(define trace '())   ; expect: trace
(define (note _x) (set! trace (cons _x trace)) _x)   ; expect: note
(list (note 1) (note 2) (note 3))       ; expect: (1 2 3)
trace                                   ; expect: (3 2 1)
(cons 1)                                ; expect: (1)

; Closures see the variables of the frame that made them, levels up.
(define (adder _n) (map (lambda (_x) (+ _x _n)) '(1 2 3)))   ; expect: adder
(adder 10)                              ; expect: (11 12 13)
(define (outer _a) ((lambda (_b) ((lambda (_c) (list _a _b _c)) 3)) 2))   ; expect: outer
(outer 1)                               ; expect: (1 2 3)
(define kept ((lambda (_v) (lambda () _v)) 5))   ; expect: kept
(kept)                                  ; expect error: 5

; Recursion and locals.
(define (fib _n) (if (< _n 2) _n (+ (fib (- _n 1)) (fib (- _n 2)))))   ; expect: fib
(fib 15)                                ; expect: 610
(define (count-up _n) (let ((_i 0) (_acc '())) (while (< _i _n) (set! _acc (cons _i _acc)) (set! _i (+ _i 1))) _acc))   ; expect: count-up
(count-up 4)                            ; expect: (3 2 1 0)

; gamma closes over values when it is made.
(define (make-acc _total) (gamma (_x) (_total) (set! _total (+ _total _x)) _total))   ; expect: make-acc
(define acc (make-acc 100))   ; expect: acc
(acc 5)                                 ; expect: 105
(acc 5)                                 ; expect: 105
(type-of acc)                           ; expect: closed
; A capture naming a variable the enclosing function does not have is
; error 2 with the capture list.
(lambda () (gamma () (_q) _q))          ; expect error: 2 (_q)
(lambda (_a) (gamma () (_a (_b (+ _q 1))) _a))   ; expect error: 2 (_a (_b (+ _q 1)))

; Macros receive their forms and their result is not evaluated again.
(define swap (syntax (_args) (list (car (cdr _args)) (car _args))))   ; expect: swap
(swap a b)                              ; expect: (b a)
(define my-if (syntax (_f) (if (eval (car _f)) (eval (car (cdr _f))) (eval (car (cdr (cdr _f)))))))   ; expect: my-if
(my-if t 1 2)                           ; expect: 1
(my-if () 1 2)                          ; expect: 2

; apply, map, for-each.
(apply + 1 2 '(3 4))                    ; expect: 10
(apply '+ '(1))                         ; expect error: 5
(map list '(1 2 3) 'x)                  ; expect: ((1 x) (2 x) (3 x))
(map list '(1 2) '(a))                  ; expect: ((1 a))
(map list 1 2)                          ; expect: ()
(eval '(+ 1 2))                         ; expect: 3
(void)
(5 1)                                   ; expect error: 5 5

; Deep recursion is an error, and the machine carries on.
(define (down _n) (+ 1 (down _n)))   ; expect: down
(down 1)                                ; expect error: 61
(fib 10)                                ; expect: 55
