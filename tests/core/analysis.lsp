; Analysed bodies: a function's body runs from its analysis after the first
; call, and every change the program makes to what its names mean is seen
; at once.
;
; Redefining a function that another calls, in the middle of a loop.
(define (step) 1)                       ; expect: step
(define (sum-steps _n _acc) (while (> _n 0) (set! _acc (+ _acc (step))) (if (= _n 3) (define (step) 100)) (set! _n (- _n 1))) _acc) ; expect: sum-steps
(sum-steps 5 0)                         ; expect: 203
(sum-steps 2 0)                         ; expect: 200
; Assigning a global variable that a function reads.
(define scale 2)                        ; expect: scale
(define (scaled _x) (* _x scale))       ; expect: scaled
(scaled 5)                              ; expect: 10
(set! scale 3)                          ; expect: 3
(scaled 5)                              ; expect: 15
; fluid-let of a global function and of a global variable that a function
; calls and reads; both come back when the form is left, also by a throw.
(define (helper) 'global)               ; expect: helper
(define (calls-helper) (list (helper) scale)) ; expect: calls-helper
(calls-helper)                          ; expect: (global 3)
(fluid-let ((helper (lambda () 'fluid)) (scale 7)) (calls-helper)) ; expect: (fluid 7)
(calls-helper)                          ; expect: (global 3)
(catch 'out (fluid-let ((helper (lambda () (throw 'out 'thrown)))) (calls-helper))) ; expect: thrown
(calls-helper)                          ; expect: (global 3)
(catch 'out (fluid-let ((scale 9)) (throw 'out (calls-helper)))) ; expect: (global 9)
(calls-helper)                          ; expect: (global 3)
; A macro expands at every call; redefining it changes the callers at once.
(define expansions 0)                   ; expect: expansions
(define twice (syntax (_f) (set! expansions (+ expansions 1)) (list (eval (car _f)) (eval (car _f))))) ; expect: twice
(define (uses-twice) (twice (+ scale 1))) ; expect: uses-twice
(uses-twice)                            ; expect: (4 4)
(uses-twice)                            ; expect: (4 4)
expansions                              ; expect: 2
(define twice (syntax (_f) (list 'once (eval (car _f))))) ; expect: twice
(uses-twice)                            ; expect: (once 4)
; A name that was a function becomes a macro, and the other way round.
(define (shape _x) (list 'fn _x))       ; expect: shape
(define (uses-shape) (shape (+ 1 2)))   ; expect: uses-shape
(uses-shape)                            ; expect: (fn 3)
(define shape (syntax (_f) (list 'macro (car _f)))) ; expect: shape
(uses-shape)                            ; expect: (macro (+ 1 2))
(define (shape _x) (list 'fn-again _x)) ; expect: shape
(uses-shape)                            ; expect: (fn-again 3)
; A control word given another meaning is seen by analysed bodies, and
; its own meaning comes back with it.
(define (uses-begin) (begin 1 2))       ; expect: uses-begin
(uses-begin)                            ; expect: 2
(fluid-let ((begin list)) (uses-begin)) ; expect: (1 2)
(uses-begin)                            ; expect: 2
(define (uses-if _x) (if _x 'yes 'no))  ; expect: uses-if
(uses-if ())                            ; expect: no
(fluid-let ((if list)) (uses-if ()))    ; expect: (() yes no)
(uses-if t)                             ; expect: yes
; A global that becomes unbound is error 6 with its name, as before.
(define (reads-gone) gone)              ; expect: reads-gone
(define gone 1)                         ; expect: gone
(reads-gone)                            ; expect: 1
(set! gone (void))
(reads-gone)                            ; expect error: 6 gone
(define (calls-gone) (gone-fn 1))       ; expect: calls-gone
(calls-gone)                            ; expect error: 6 gone-fn
(define (gone-fn _x) (+ _x 1))          ; expect: gone-fn
(calls-gone)                            ; expect: 2
; A call of a native keeps to its form when the head names something else:
; all its argument forms, no more, evaluated by the new function.
(define (first-of _l) (car _l (undefined-fn))) ; expect: first-of
(first-of '(1 2))                       ; expect: 1
(fluid-let ((car (lambda (_a _b) (list _a _b)))) (first-of '(1 2))) ; expect error: 6 undefined-fn
(fluid-let ((car (lambda (_a) (list 'mine _a)))) (first-of '(1 2))) ; expect: (mine (1 2))
(first-of '(1 2))                       ; expect: 1
(define (add-one _a) (+ _a 1))          ; expect: add-one
(list (fluid-let ((+ list)) (add-one 5)) (fluid-let ((+ -)) (add-one 5)) (add-one 5)) ; expect: ((5 1) 4 6)
; Arithmetic on locals and constants, and a local set to a sum, in every
; case: fixnums, results past the fixnum range, a redefined head, a symbol.
(define (kinds _a _b) (let ((_r (list (+ _a 1) (- 1 _a) (* _a _b) (< _a _b) (>= 2 3) (+ (car (list _a)) _b)))) (set! _a (+ _a _b)) (cons _a _r))) ; expect: kinds
(list (kinds 3 4) (kinds 8388607 2) (fluid-let ((+ -)) (kinds 3 4))) ; expect: ((7 4 -2 12 t () 7) (8388609 8388608 -8388606 16777214 () () 8388609) (-1 2 -2 12 t () -1))
(kinds 3 'x)                            ; expect error: 2 x
; unless and prog1 run as codes of their own, while their names name them.
(define (unless-prog1 _x) (list (unless _x 'no) (unless () 1 2) (prog1 _x (set! _x 'changed)) _x)) ; expect: unless-prog1
(list (unless-prog1 'a) (unless-prog1 ()) (fluid-let ((unless when)) (unless-prog1 'a))) ; expect: ((() 2 a changed) (no 2 () changed) (no () a changed))
(define (rep _n _acc) (repeat _n (set! _acc (+ _acc 2)) (set! _acc (- _acc 1))) _acc) ; expect: rep
(list (rep 5 0) (rep 0 7) (rep -3 1) (fluid-let ((repeat when)) (rep 5 0))) ; expect: (5 7 1 1)
(rep 'x 0)                              ; expect error: 2 x
(define (count-to _n _i) (while (< _i _n) (set! _i (+ _i 1))) (if (= _i _n) 'same 'past)) ; expect: count-to
(list (count-to 3 0) (count-to 2.5 0) (fluid-let ((< (lambda (_a _b) ()))) (count-to 3 0))) ; expect: (same past past)
(define (two-lists _a) (list _a _a))    ; expect: two-lists
(list (fluid-let ((list +)) (two-lists 2)) (two-lists 2)) ; expect: (4 (2 2))
(define (pair-up _a) (cons _a))         ; expect: pair-up
(list (pair-up 1) (fluid-let ((cons list)) (pair-up 1))) ; expect: ((1) (1))
; The natives that analysed bodies compute themselves answer as the
; natives do, errors included.
(define (list-ops _x _y) (list (car _x) (cdr _x) (not _x) (null? _y) (pair? _x) (pair? _y) (eq? _x _x) (eq? _x _y) (cons _x _y))) ; expect: list-ops
(list-ops '(1 2) ())                    ; expect: (1 (2) () t t () t () ((1 2)))
(define (car-of _x) (list (car _x) (cdr _x))) ; expect: car-of
(car-of ())                             ; expect: (() ())
(car-of 5)                              ; expect error: 2 5
(define (vec-ops _v _i _x) (list (vector-set! _v _i _x) (vector-ref _v _i))) ; expect: vec-ops
(vec-ops (make-vector 3 0) 2 'z)        ; expect: (z z)
(vec-ops (make-vector 3 0) 3 'z)        ; expect error: 2 3
(vec-ops (make-vector 3 0) -1 'z)       ; expect error: 2 -1
(vec-ops (make-vector 3 0) 1.5 'z)      ; expect error: 2 1.5
(vec-ops '(1 2 3) 0 'z)                 ; expect error: 2 (1 2 3)
(define (vec-ref _v _i) (vector-ref _v _i)) ; expect: vec-ref
(vec-ref (make-vector 2 'a) 8388607)    ; expect error: 2 8388607
(vec-ref "abc" 0)                       ; expect error: 2 abc
; A value stored after allocations that may move the vector's bytes.
(define (fill-strings _v _i) (while (< _i 6) (vector-set! _v _i (string-append "s" (string _i))) (set! _i (+ _i 1))) _v) ; expect: fill-strings
(fill-strings (make-vector 6 0) 0)      ; expect: #(s0 s1 s2 s3 s4 s5)
(define (cons-up _n _l) (while (> _n 0) (set! _l (cons _n _l)) (set! _n (- _n 1))) _l) ; expect: cons-up
(length (cons-up 3000 ()))              ; expect: 3000
; Methods: redefining one in the class, overriding it on one instance, and
; a slot read by a method.
(define Tally (new-class 'Tally))       ; expect: Tally
(Tally (defslot n :default 0) (define (bump) (set! n (+ n 1))) (define (value) n)) ; expect: value
(define t1 (make-instance Tally))       ; expect: t1
(define t2 (make-instance Tally))       ; expect: t2
(define (bump-both) (send t1 bump) (send t2 bump) (list (send t1 value) (send t2 value))) ; expect: bump-both
(bump-both)                             ; expect: (1 1)
(Tally (define (bump) (set! n (+ n 10)))) ; expect: bump
(bump-both)                             ; expect: (11 11)
(t1 (add-override 'bump (lambda () (set! n (- n 1))))) ;
(bump-both)                             ; expect: (10 21)
(t1 (remove-override 'bump))            ;
(bump-both)                             ; expect: (20 31)
(define (try-n _o) (try _o n))          ; expect: try-n
(list (try-n t1) (try-n ()) (fluid-let ((try unless)) (try-n 'x))) ; expect: (20 () ())
(try-n 5)                               ; expect error: 6 n
; A class given a slot and a method after its methods were first run: the
; names they read and call now mean the slot and the method.
(define Gauge (new-class 'Gauge))       ; expect: Gauge
(define (helper2) 'global-helper)       ; expect: helper2
(Gauge (define (show) (list (helper2))) (define (peek) width)) ; expect: peek
(send Gauge show)                       ; expect: (global-helper)
(send Gauge peek)                       ; expect error: 6 width
(Gauge (defslot width :default 40))     ; expect: width
(Gauge (define (helper2) 'class-helper)) ; expect: helper2
(define g1 (make-instance Gauge))       ; expect: g1
(list (send g1 show) (send g1 peek) (helper2)) ; expect: ((class-helper) 40 global-helper)
; A subclass defined later with its own method; the caller is unchanged.
(define Double (new-class 'Double Tally)) ; expect: Double
(Double (define (bump) (set! n (+ n n 1)))) ; expect: bump
(define t3 (make-instance Double))      ; expect: t3
(define (bump-three) (send t3 bump) (send t3 bump) (send t3 value)) ; expect: bump-three
(bump-three)                            ; expect: 3
(Tally (define (value) (list 'n n)))    ; expect: value
(bump-three)                            ; expect: (n 15)
; send from an analysed body: the object and arguments are evaluated in
; the caller's context, the message with the receiver current, whatever
; the message turns out to be.
(define (send-it _o _m _x) (send _o _m (list _x n))) ; expect: send-it
(define n 'global-n)                    ; expect: n
(Tally (define (echo . _a) (list 'echo n _a))) ; expect: echo
(send-it t1 'echo 1)                    ; expect error: 5 _m
(define (send-echo _o _x) (send _o echo _x n)) ; expect: send-echo
(send-echo t1 1)                        ; expect: (echo 20 (1 global-n))
(send-echo 'nothing 1)                  ; expect error: 6 echo
(Tally (define echo-macro (syntax (_f) (list 'macro _f)))) ; expect: echo-macro
(define (send-macro _o) (send _o echo-macro (+ 1 2))) ; expect: send-macro
(send-macro t1)                         ; expect: (macro (3))
(define (send-nothing _o) (send _o))    ; expect: send-nothing
(send-nothing t1)                       ; expect error: 5 ()
; Code built at run time and evaluated.
(define made (eval (list 'lambda '(_a) (list '* '_a 3)))) ; expect: made
(made 4)                                ; expect: 12
(eval (list 'define '(built _x) (list 'list ''built '_x))) ; expect: built
(built 1)                               ; expect: (built 1)
(define (call-built) (built 2))         ; expect: call-built
(call-built)                            ; expect: (built 2)
(eval (list 'define '(built _x) (list 'list ''rebuilt '_x))) ; expect: built
(call-built)                            ; expect: (rebuilt 2)
; The body list stays the function's source and reads as before. It is
; analysed at the first call: a change made to it before that call is
; seen; a change made after it is not: the function keeps the body it was
; first called with (evaluating the function form again makes a function
; of the new body).
(define form (list 'lambda '(_a) (list '+ '_a 1))) ; expect: form
(define f1 (eval form))                 ; expect: f1
(set-car! (car (cdr (cdr form))) '-)    ; expect: -
(f1 10)                                 ; expect: 9
(set-car! (car (cdr (cdr form))) '*)    ; expect: *
(f1 10)                                 ; expect: 9
(car (cdr (cdr form)))                  ; expect: (* _a 1)
(define f2 (eval form))                 ; expect: f2
(f2 10)                                 ; expect: 10
; The analysis keeps what it read alive: the forms cut out of a body after
; its first call survive collections while the function lives.
(define form2 (list 'lambda '() (list 'list (list 'quote (list 'kept 'words)) (list 'string-append "a" "b")))) ; expect: form2
(define f3 (eval form2))                ; expect: f3
(f3)                                    ; expect: ((kept words) "ab")
(set-car! (cdr (cdr form2)) 0)          ; expect: 0
(begin (test-collect) (void))
(cons 'fresh (list 1 2 3))              ; expect: (fresh 1 2 3)
(f3)                                    ; expect: ((kept words) "ab")
; A function reached only while it runs keeps its analysis through the
; collections its body triggers.
((lambda (_n _l) (while (> _n 0) (set! _l (cons _n _l)) (test-collect) (set! _n (- _n 1))) _l) 3 ()) ; expect: (1 2 3)
; Shapes are checked as the general evaluator checks them, when the form
; is evaluated.
(define (bad-if _x) (if _x 1 2 . 3))    ; expect: bad-if
(bad-if 1)                              ; expect error: 2 (if _x 1 2 . 3)
(define (dotted) (+ 1 . 2))             ; expect: dotted
(dotted)                                ; expect: 1
(define (late-clause _x) (cond (_x 'first) 5)) ; expect: late-clause
(late-clause t)                         ; expect: first
(late-clause ())                        ; expect error: 2 5
(define (bad-case _x) (case _x (1 'one) two)) ; expect: bad-case
(bad-case 1)                            ; expect: one
(bad-case 2)                            ; expect error: 2 two
(define (short-set) (set! _a))          ; expect: short-set
(short-set)                             ; expect error: 2 (set! _a)
(define (unbound-local) (let ((_y)) (+ _y 1))) ; expect: unbound-local
(unbound-local)                         ; expect error: 6 _y
; The control words of analysed bodies answer what the general ones do.
(define (words _x _r)
  (list (if _x 1) (if () 1) (when _x 'w) (when () 'w) (and) (and _x 2) (or) (or () _x)
        (cond ((eq? _x 'k) => list) (else 'e)) (cond (()) ((+ 1 1))) (cond (() 1))
        (case _x ((a k) 'in) (else 'out)) (case 5 (1 'one)) (quote q)
        (let ((_a 1) (_b) _c) (list _a (free? _b) (free? _c)))
        (begin (set! _r 0) (until (> _r 2) (set! _r (+ _r 1))) _r)
        (begin) (while () 1))) ; expect: words
(words 'k 0)                            ; expect: (1 <no-value> w () t 2 () k (t) 2 <no-value> in <no-value> q (1 t t) 3 <no-value> <no-value>)
(define (lexical-use _n) (let ((_add (lambda (_x) (+ _x _n)))) (map _add '(1 2)))) ; expect: lexical-use
(lexical-use 10)                        ; expect: (11 12)
(define (closed-use _n) ((gamma (_x) (_n) (+ _x _n)) 5)) ; expect: closed-use
(closed-use 1)                          ; expect: 6
(define (rest-args _a . _r) (list _a _r)) ; expect: rest-args
(define (uses-rest) (list (rest-args 1) (rest-args 1 2 3))) ; expect: uses-rest
(uses-rest)                             ; expect: ((1 ()) (1 (2 3)))
(define (extra-args) ((lambda (_a) _a) 1 (undefined-fn))) ; expect: extra-args
(extra-args)                            ; expect: 1
(define (few-args) (cons 1))            ; expect: few-args
(few-args)                              ; expect: (1)
; Deeply nested bodies are analysed to a depth and evaluated beyond it; a
; recursion through a native that calls back is still stopped by the stack
; check of every function's entry.
(define (nest _n _f) (while (> _n 0) (set! _f (list '+ 1 _f)) (set! _n (- _n 1))) _f) ; expect: nest
(define deep-fn (eval (list 'lambda '(_x) (nest 300 '_x)))) ; expect: deep-fn
(deep-fn 0)                             ; expect: 300
(deep-fn 5)                             ; expect: 305
(define (via-map _x) (map via-map (list _x))) ; expect: via-map
(via-map 1)                             ; expect error: 61
(deep-fn 1)                             ; expect: 301

; More cases run by both evaluators with the same answers.
; Closures are lexical: called after the frame that made them is gone they
; are error 5; while it runs, they read and assign its variables.
(define (make-counter _n) (lambda () (set! _n (+ _n 1)) _n)) ; expect: make-counter
(define c1 (make-counter 10)) ; expect: c1
(define c2 (make-counter 100)) ; expect: c2
(list (c1) (c1) (c2) (c1)) ; expect error: 5 #<lexical lambda>
(define (adder _a) (lambda (_b) (lambda (_c) (list _a _b _c (+ _a _b _c))))) ; expect: adder
(((adder 1) 2) 3) ; expect error: 5 #<lexical lambda>
; ... also when a frame that made a closure of its own sits at the same depth.
(define (same-depth _g) (let ((_h (lambda () _g))) (_g 1))) ; expect: same-depth
(same-depth (adder 5)) ; expect error: 5 #<lexical lambda>
(define (via-same-depth _a) (same-depth (lambda (_b) (+ _a _b)))) ; expect: via-same-depth
(via-same-depth 5) ; expect: 6
(define (outer-set _x) (let ((_f (lambda (_v) (set! _x _v)))) (_f 5) (_f (+ _x 1)) _x)) ; expect: outer-set
(outer-set 0) ; expect: 6
(outer-set 0) ; expect: 6
; let binds the slot its name has in the function's frame: the value set
; inside stays after it.
(define (shadow _x) (list _x (let ((_x (* _x 10))) (list _x (let ((_x (+ _x 1))) _x))) _x)) ; expect: shadow
(shadow 2) ; expect: (2 (20 21) 21)
(shadow 3) ; expect: (3 (30 31) 31)
; Recursion through a closure held in a variable of the frame.
(define (fact-by _n) (let ((_self ())) (set! _self (lambda (_k) (if (< _k 2) 1 (* _k (_self (- _k 1)))))) (_self _n))) ; expect: fact-by
(fact-by 10) ; expect: 3628800
(fact-by 5) ; expect: 120
; Errors raised inside analysed bodies name the same culprits as before,
; and a catch inside the body sees them.
(define (bad-car _x) (car _x)) ; expect: bad-car
(bad-car '(1 2)) ; expect: 1
(bad-car 5) ; expect error: 2 5
(define (bad-arith _x) (+ _x 'a)) ; expect: bad-arith
(bad-arith 1) ; expect error: 2 a
(define (guarded _x) (catch 'toplevel (car _x))) ; expect: guarded
(guarded '(7)) ; expect: 7
(define (too-few _a _b) (list _a _b)) ; expect: too-few
(define (calls-too-few) (too-few 1)) ; expect: calls-too-few
(calls-too-few) ; expect error: 6 _b
(define (calls-too-many) (too-few 1 2 3)) ; expect: calls-too-many
(calls-too-many) ; expect: (1 2)
; Functions of optional and rest arguments called from analysed bodies.
(define (rest-of _a . _r) (list _a _r)) ; expect: rest-of
(define (calls-rest) (list (rest-of 1) (rest-of 1 2 3))) ; expect: calls-rest
(calls-rest) ; expect: ((1 ()) (1 (2 3)))
(calls-rest) ; expect: ((1 ()) (1 (2 3)))
; A loop that allocates in an analysed body keeps its values through
; collections.
(define (build-list _n) (let ((_l ())) (while (> _n 0) (set! _l (cons (list _n (* _n _n)) _l)) (set! _n (- _n 1))) _l)) ; expect: build-list
(length (build-list 20000)) ; expect: 20000
(car (build-list 3)) ; expect: (1 1)

