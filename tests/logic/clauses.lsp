; Clauses: definition order, first solutions and their copies, collecting
; every solution by failure, backtracking, free? and free, no occurs check,
; goal arguments, the clause meta-goal.
(defclause (app () _l _l))                         ; expect: app
(defclause (app (_h . _t) _l (_h . _r)) (app _t _l _r)) ; expect: app
(clause? app)                                      ; expect: t
(clause? car)                                      ; expect: ()
(logvar? '_x)                                      ; expect: t
(logvar? 'x)                                       ; expect: ()
(new-clause (_a _b) (foo _b _a))                   ; expect: (2 (new-clause _a _b) (foo _b _a))
; The newest clause is tried first.
(defclause (pick a))                               ; expect: pick
(defclause (pick b))                               ; expect: pick
(define (first-pick) (pick _x) _x)                 ; expect: first-pick
(first-pick)                                       ; expect: b
; The first solution, copied out of the clause frames.
(define (join) (app '(1 2) '(3 (4 5)) _x) _x)      ; expect: join
(join)                                             ; expect: (1 2 3 (4 5))
(define (split) (list (app _x _y '(1 2)) _x _y))   ; expect: split
(split)                                            ; expect: (t (1 2) ())
(define (no) (list (app '(1) _y '(2 3)) (free? _y))) ; expect: no
(no)                                               ; expect: (() t)
; A query through apply takes its arguments as values.
(define (applied) (list (apply app (list '(a) '(b) '_z)) _z)) ; expect: applied
(applied)                                          ; expect: (t (a b))
; Every solution, collected by a failure-driven loop.
(define Found ())                                  ; expect: Found
(defclause (splits) (app _x _y '(1 2 3)) (begin (set! Found (cons (list _x _y) Found)) ()))  ; expect: splits
(splits)                                           ; expect: ()
Found                                              ; expect: ((() (1 2 3)) ((1) (2 3)) ((1 2) (3)) ((1 2 3) ()))
; A Lisp test that fails moves to the next clause, with the bindings of the
; failed try undone on both sides.
(defclause (pos _x _y) (eq _y _x) (< _x 0))        ; expect: pos
(defclause (pos _x big) (> _x 10))                 ; expect: pos
(defclause (eq _a _a))                             ; expect: eq
(define (classify _n) (if (pos _n _k) _k 'none))   ; expect: classify
(classify 20)                                      ; expect: big
(classify -3)                                      ; expect: -3
(classify 5)                                       ; expect: none
(defclause (pair _a _b) (eq _a (quote (_p _q))) (eq _b _q) (eq _p 1))  ; expect: pair
(defclause (pair _a _b) (eq _a (quote (_p _q))) (eq _b _q) (eq _p 2) (eq _q 7))  ; expect: pair
(define (pairs) (list (pair _x _y) _x _y))         ; expect: pairs
(pairs)                                            ; expect: (t (2 7) 7)
; free? looks at the cell only; free follows the bindings.
(defclause (fr _a _b) (eq _a _b) (free _a) (free _b) (not (free? _a)) (not (free? _b)))  ; expect: fr
(define (frees) (list (fr _x _y) (free? _x)))      ; expect: frees
(frees)                                            ; expect: (t t)
(defclause (bound _a) (eq _a 3) (not (free _a)))   ; expect: bound
(define (bounds) (bound _x))                       ; expect: bounds
(bounds)                                           ; expect: t
(define (f1) (free _x))                            ; expect: f1
(f1)                                               ; expect: t
(free 5)                                           ; expect error: 2 5
; No occurs check: a variable unifies with a list that holds it.
(defclause (cyclic) (eq _x (quote (a _x))))        ; expect: cyclic
(cyclic)                                           ; expect: t
; Lists in goals are evaluated unless quoted; symbols evaluate too.
(defclause (same _a _a))                           ; expect: same
(define (calls) (list (same _x (+ 1 2)) _x))       ; expect: calls
(calls)                                            ; expect: (t 3)
(define (quoted) (list (same _x '(+ 1 2)) _x))     ; expect: quoted
(quoted)                                           ; expect: (t (+ 1 2))
(defclause (sym-arg _x) (same _x undefined-name))  ; expect: sym-arg
(sym-arg 1)                                        ; expect error: 6 undefined-name
(define (reads) (list (same _x '(1 _y)) (same _y 2) _x)) ; expect: reads
; The caller's variables hold plain copies: a variable free at success
; stays a reference in the copy, whatever later binds it.
(reads)                                            ; expect: (t t (1 _y))
; A variable read in a Lisp goal gives the value copied out.
(define Seen ())                                   ; expect: Seen
(defclause (see _l) (app _a _b _l) (eq _b '(_c)) (begin (set! Seen (list _a _c)) t))  ; expect: see
(see '(1 2 3))                                     ; expect: t
Seen                                               ; expect: ((1 2) 3)
(defclause (unbound-read) (begin _v))              ; expect: unbound-read
(unbound-read)                                     ; expect error: 6 _v
(defclause (alias-read _v) (begin _v))             ; expect: alias-read
(define (ar) (alias-read _z))                      ; expect: ar
(ar)                                               ; expect: t
; The clause meta-goal: the clause as parameters, its body run.
(defclause (len () 0))                             ; expect: len
(defclause (len (_h . _t) _n) (len _t _m) (same _n (+ _m 1))) ; expect: len
(defclause (via-clause _l _n) (clause ((len _l _n) . _body))) ; expect: via-clause
(define (meta) (list (via-clause '(a b c) _n) _n)) ; expect: meta
(meta)                                             ; expect: (t 3)
(defclause (body-of _b) (clause ((pick b) . _b)))  ; expect: body-of
(define (bodies) (list (body-of _b) _b))           ; expect: bodies
(bodies)                                           ; expect: (t ())
(defclause (not-pred) (clause ((car 1))))          ; expect: not-pred
(not-pred)                                         ; expect: ()
; A clause made inside a function is a closed scope: its variables are its
; own, whatever the function names alike.
(define (scoped _x) (defclause (sc _x _x)) (sc 5 _r) (list _x _r)) ; expect: scoped
(scoped 1)                                         ; expect: (1 5)
(sc 2 2)                                           ; expect: t
(sc 2 3)                                           ; expect: ()
; Functions made inside a clause's Lisp goals keep their own variables.
(defclause (doubled _l _m) (same _m (map (lambda (_e) (* 2 _e)) _l))) ; expect: doubled
(define (dbl) (doubled '(1 2 3) _m) _m)            ; expect: dbl
(dbl)                                              ; expect: (2 4 6)
; A predicate of many clauses: every call by a bound first argument finds
; the same clauses in the same order as a scan would, variables, strings
; and reals among them, and a choice point only where another may match.
(define Colours ())                                ; expect: Colours
(defclause (colour apple red))                     ; expect: colour
(defclause (colour _x any))                        ; expect: colour
(defclause (colour "kiwi" green))                  ; expect: colour
(defclause (colour (a . _t) list))                 ; expect: colour
(defclause (colour 7.0 seven))                     ; expect: colour
(defclause (colour plum purple))                   ; expect: colour
(defclause (colour 7 number))                      ; expect: colour
(defclause (colour apple green))                   ; expect: colour
(defclause (colour lime green))                    ; expect: colour
(defclause (colours _k) (colour _k _c) (begin (set! Colours (cons _c Colours)) ()))  ; expect: colours
(define (all _k) (set! Colours ()) (colours _k) (reverse Colours))  ; expect: all
(list (all 'apple) (all 'kiwi) (all 7) (all 'pear) (all '(a b)) (all "x")) ; expect: ((green any red) (green any) (number seven any) (any) (list any) (any))
(defclause (colour pear yellow))                   ; expect: colour
(all 'pear)                                        ; expect: (yellow any)
; Deterministic recursion in constant stack: a countdown far deeper than
; the stack holds frames, by its last goal and after a deterministic goal.
(defclause (count-down 0))                         ; expect: count-down
(defclause (count-down _n) (> _n 0) (count-down (- _n 1))) ; expect: count-down
(count-down 1000000)                               ; expect: t
(defclause (natural _n) (>= _n 0))                 ; expect: natural
(defclause (steps 0 _a _a))                        ; expect: steps
(defclause (steps _n _a _r) (> _n 0) (natural _n) (steps (- _n 1) (+ _a 1) _r)) ; expect: steps
(define (walk) (steps 300000 0 _r) _r)             ; expect: walk
(walk)                                             ; expect: 300000
; Arithmetic, comparisons, not, eq? and pair? computed without the
; evaluator follow their names' current values; other values, free cells
; and other operators give the evaluator's answers and errors.
(defclause (diff _x _y _r) (> _x _y) (same _r (- _x _y))) ; expect: diff
(define (diffs) (list (diff 5 2 _a) _a (diff 2 5 _b) (diff 2.5 1 _c) _c (diff 8000000 -8000000 _d) _d)) ; expect: diffs
(diffs)                                            ; expect: (t 3 () t 1.5 t 16000000)
(define (redefined) (list (fluid-let ((- list) (> (lambda (_a _b) t))) (diff 1 2 _r) _r) (diff 1 2 _s))) ; expect: redefined
(redefined)                                        ; expect: ((1 2) ())
(diff 5 '(1) _e)                                   ; expect error: 2 (1)
(defclause (unset _x) (> _y _x))                   ; expect: unset
(unset 1)                                          ; expect error: 6 _y
(defclause (tests _x _y) (not (eq? _x _y)) (not (pair? _y)) (< (+ _y 1) (remainder _x 7))) ; expect: tests
(list (tests 5 2) (tests 5 5) (tests 5 '(1)) (tests 12 3)) ; expect: (t () () t)
(tests 5 'a)                                       ; expect error: 2 a
