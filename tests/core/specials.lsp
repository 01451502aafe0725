; Built-in syntax and special forms.
(if '() 1)
(if 0 1 2)                              ; expect: 1
(cond ('(1 2) => cdr))                  ; expect: (2)
(cond (else))                           ; expect: t
(cond (() 1))
(case 'x ((a b) 1) (x 2) (else 3))      ; expect: 2
(case '() (() 1))                       ; expect: 1
(case 'q (a 1))
(and)                                   ; expect: t
(or)                                    ; expect: ()
(and 1 2)                               ; expect: 2
(or () 3)                               ; expect: 3
(quasiquote a (unquote (+ 1 2)) (unquote-splicing (list 4 5)) 6) ; expect: (a 3 4 5 6)
(define n 0)   ; expect: n
(until t (set! n (+ n 1)))
n                                       ; expect: 1
(while () (set! n 100))
n                                       ; expect: 1
(repeat 4 (set! n (+ n 1)))
n                                       ; expect: 5
(repeat -1 (set! n 0))
n                                       ; expect: 5
(set! 5 1)                              ; expect error: 2 5
(unless () 1)                           ; expect: 1
(unless 1 2)                            ; expect: ()
(prog1 1 2 3)                           ; expect: 1
(comment anything (at all))
(typecase 5 (string 's) (integer 'i))   ; expect: i
(typecase "x" ((symbol string) 'ss) (else 'e)) ; expect: ss
(typecase 'x (integer 'i) (else 'e))    ; expect: e

; Binding forms.
(define (b1) (bind (_a . _b) '(1 2 3) (list _a _b)))   ; expect: b1
(b1)                                    ; expect: (1 (2 3))
(define (b2) (bind-keywords (_size (_color 'red)) '(:size 3) (list _size _color)))   ; expect: b2
(b2)                                    ; expect: (3 red)
(define (b3) (bind-keywords (_a) '(:a) _a))   ; expect: b3
(b3)                                    ; expect error: 2
(define (b4) (bind-optionals (_a (_b 'none) _c) '(1) (list _a _b _c)))   ; expect: b4
(b4)                                    ; expect: (1 none ())
(defstruct point (x y))                 ; expect: point
(define (b5 _p) (bind-struct point (_x _y) _p (+ _x _y)))   ; expect: b5
(b5 '(3 4))                             ; expect: 7
(define (b6) (free? _unset))   ; expect: b6
(b6)                                    ; expect: t
(test ())                               ; expect error: 2
(test 1)
(define (lets) (let* ((_a 1) (_b (+ _a 1))) (letrec ((_c (* _b 10))) (list _a _b _c))))   ; expect: lets
(lets)                                  ; expect: (1 2 20)

; fluid-let restores on every exit.
(define x 1)   ; expect: x
(define (show-x) x)   ; expect: show-x
(fluid-let ((x 2)) (show-x))            ; expect: 2
x                                       ; expect: 1
(catch 'k (fluid-let ((x 3)) (throw 'k 0))) ; expect: 0
x                                       ; expect: 1

; define shapes.
(define (f _x) _x)                      ; expect: f
(define g 1 2)                          ; expect: g
g                                       ; expect: 2
(define h)                              ; expect: h
h                                       ; expect error: 6
(define (bad) #(1 2))                   ; expect: Error: bad type in protect fonction
(profile label (+ 1 1) (+ 2 2))         ; expect: 4
(profile (+ 1 1))                       ; expect: 2
(get-profiler?)                         ; expect: ()
(set-profiler? t)
(get-profiler?)                         ; expect: t

; A function made by define prints as a lambda does, methods included.
(define (named _x) _x)                   ; expect: named
named                                    ; expect: #<function lambda>
(define Named (new-class 'Named))        ; expect: Named
(Named (define (method _x) _x))          ; expect: method
(Named method)                           ; expect: #<function lambda>
