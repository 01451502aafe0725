; Sound behaviours of the search: bindings made on either side of a
; unification are undone on backtracking, exits leave no binding behind,
; class-level predicates, names the runtime owns, collections during a
; search.
(defclause (same _a _a))  ; expect: same
; A clause-side binding that reaches, through a molecule, a cell of the
; goal's frame is undone when the clause fails.
(defclause (r _a _b))  ; expect: r
(defclause (r _k _k) (< 1 0))  ; expect: r
(defclause (stale) (same _l '(_v)) (r _l '(5)) (free? _v))  ; expect: stale
(stale)                                            ; expect: t
(defclause (stale2 _w) (same _l '(_v)) (r _l '(5)) (same _w _v))  ; expect: stale2
(define (st2) (list (stale2 _w) (free? _w)))  ; expect: st2
(st2)                                              ; expect: (t t)
; A throw or an error out of a Lisp goal resets the query's bindings.
(defclause (thrower _x) (same _x 5) (throw 'out 1))  ; expect: thrower
(define (exit-reset) (list (catch 'out (thrower _v)) (free? _v)))  ; expect: exit-reset
(exit-reset)                                       ; expect: (1 t)
(defclause (err-goal _x) (same _x '(1 2)) (car 5))  ; expect: err-goal
(define (error-reset) (list (catch 'toplevel (err-goal _v)) (free? _v)))  ; expect: error-reset
(error-reset)                                      ; expect: (() t)
(err-goal '(1 2))                                  ; expect error: 2 5
; A query inside a Lisp goal of another query.
(defclause (inner _x) (same _x 7))  ; expect: inner
(defclause (outer _y) (begin (inner _z) (same _y _z)))  ; expect: outer
(define (nest) (outer _r) _r)  ; expect: nest
(nest)                                             ; expect: 7
(defclause (outer2 _y) (same _y 1) (inner _y))  ; expect: outer2
(define (nest2) (list (outer2 _r) (free? _r)))  ; expect: nest2
(nest2)                                            ; expect: (() t)
; Names the runtime owns cannot become predicates; an application's own
; function can.
(defclause (car _x))                               ; expect error: 2 car
(defclause (if _x))                                ; expect error: 2 if
(defclause (defclause _x))                         ; expect error: 2 defclause
(car '(1 2))                                       ; expect: 1
(define (mine) 1)                                  ; expect: mine
(defclause (mine 2))                               ; expect: mine
(mine 2)                                           ; expect: t
(asserte '((mine 3)))                              ; expect: mine
(mine 3)                                           ; expect: t
(defclause 5)                                      ; expect error: 2 (5)
(defclause (5 _x))                                 ; expect error: 2 5
; asserte copies its clause: the application's list keeps its variables.
(define Text '((fact _a _a)))                      ; expect: Text
(asserte Text)                                     ; expect: fact
(fact 1 1)                                         ; expect: t
Text                                               ; expect: ((fact _a _a))
; Predicates in a class body live in the slot of that name, newest first.
(define Zoo (new-class 'Zoo))                      ; expect: Zoo
(Zoo (defslot kind))                               ; expect: kind
(Zoo (defclause (kind lion)))                      ; expect: kind
(Zoo (defclause (kind tiger)))                     ; expect: kind
(Zoo (define (first-kind) (kind _k) _k))           ; expect: first-kind
(Zoo (first-kind))                                 ; expect: tiger
(Zoo (clause? kind))                               ; expect: t
(define Kinds ())                                  ; expect: Kinds
(Zoo (defslot all-kinds))                          ; expect: all-kinds
(Zoo (defclause (all-kinds) (kind _k) (begin (set! Kinds (cons _k Kinds)) ()))) ; expect: all-kinds
(Zoo (all-kinds))                                  ; expect: ()
Kinds                                              ; expect: (lion tiger)
(Zoo (defclause (no-such-slot 1)))                 ; expect error: 2 no-such-slot
; Lisp goals that allocate and collect while the search holds molecules.
(defclause (app () _l _l))  ; expect: app
(defclause (app (_h . _t) _l (_h . _r)) (app _t _l _r))  ; expect: app
(defclause (churn _x _y) (app _x _y '(1 2 3 4)) (begin (test-collect) (list _x _y)) (app _y _x _z) (same _z '(3 4 1 2)))  ; expect: churn
(define (churned) (list (churn _a _b) _a _b))  ; expect: churned
(churned)                                          ; expect: (t (1 2) (3 4))
; At top level a variable has no cell: it is a constant, equal only to
; itself, and never read against a missing frame.
(same _q _q)                                       ; expect: t
(same _q _w)                                       ; expect: ()
(same _q 1)                                        ; expect: ()
(defclause (holds _x) (same _x '(_q)))             ; expect: holds
(holds '(_q))                                      ; expect: t
; A slot the instances do not allocate: the class reads the name as it
; stores it.
(define Den (new-class 'Den))                      ; expect: Den
(Den (defslot cub :allocate? ()))                  ; expect: cub
(Den (defclause (cub 1)))                          ; expect: cub
(Den (defclause (cub 2)))                          ; expect: cub
(Den (define (cubs) (list (cub 1) (cub 2) (cub 3)))) ; expect: cubs
(Den (cubs))                                       ; expect: (t t ())
