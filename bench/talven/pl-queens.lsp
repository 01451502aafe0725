; Logic: every solution of the 8 queens problem, 100 times, counted by a
; failure-driven loop.
(defclause (sel _x (_h . _t) (_h . _r)) (sel _x _t _r))
(defclause (sel _x (_x . _t) _t))
(defclause (safe _q _d (_q1 . _qs)) (not (= _q (+ _q1 _d))) (not (= _q (- _q1 _d))) (safe _q (+ _d 1) _qs))
(defclause (safe _q _d ()))
(defclause (place _u _s _qs) (sel _q _u _r) (safe _q 1 _s) (place _r '(_q . _s) _qs))
(defclause (place () _qs _qs))
(defclause (queens _qs) (place '(1 2 3 4 5 6 7 8) () _qs))
(define Count 0)
(defclause (count-queens))
(defclause (count-queens) (queens _qs) (begin (set! Count (+ Count 1)) ()))
(repeat 100 (count-queens))
(princ Count)
