; Logic: an arithmetic expression of 421 tokens parsed and evaluated by a
; grammar over difference lists, 2,000 times through a failure-driven loop.
; The clauses of a predicate are tried newest first: each is written after
; the ones it is tried after.
(defclause (expr _v _s0 _s) (term _t _s0 _s1) (expr-rest _t _v _s1 _s))
(defclause (expr-rest _v _v _s _s))
(defclause (expr-rest _a _v (minus . _s1) _s) (term _t _s1 _s2) (expr-rest (- _a _t) _v _s2 _s))
(defclause (expr-rest _a _v (plus . _s1) _s) (term _t _s1 _s2) (expr-rest (+ _a _t) _v _s2 _s))
(defclause (term _v _s0 _s) (factor _f _s0 _s1) (term-rest _f _v _s1 _s))
(defclause (term-rest _v _v _s _s))
(defclause (term-rest _a _v (times . _s1) _s) (factor _f _s1 _s2) (term-rest (* _a _f) _v _s2 _s))
(defclause (factor _v (open . _s0) _s) (expr _v _s0 '(close . _s)))
(defclause (factor _n (_n . _s) _s) (integer? _n))
; 1 + 2 * (3 - 4) * 5 - (6 + 7 * (8 - 9)) + ..., 20 times over.
(define (chunk _i) (list _i 'plus 2 'times 'open 3 'minus 4 'close 'times 5 'minus 'open 6 'plus 7 'times 'open 8 'minus 9 'close 'close 'plus))
(define (tokens _n) (if (= _n 0) (list 1) (append (chunk _n) (tokens (- _n 1)))))
(define Tokens (tokens 20))
(define Value 0)
(defclause (bench _k))
(defclause (bench _k) (between 1 _k _i) (expr _v Tokens ()) (begin (set! Value _v) ()))
(defclause (between _i _n _x) (< _i _n) (between (+ _i 1) _n _x))
(defclause (between _i _n _i) (<= _i _n))
(bench 2000)
(princ Value)
