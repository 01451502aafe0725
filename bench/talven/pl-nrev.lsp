; Logic: naive reverse of a 30-element list, 11,000 times through a
; failure-driven loop (496 logical inferences each).
(defclause (app () _l _l))
(defclause (app (_h . _t) _l (_h . _r)) (app _t _l _r))
(defclause (nrev () ()))
(defclause (nrev (_h . _t) _r) (nrev _t _rt) (app _rt '(_h) _r))
(defclause (range _i _n (_i . _t)) (< _i _n) (range (+ _i 1) _n _t))
(defclause (range _n _n (_n)))
(defclause (between _i _n _x) (< _i _n) (between (+ _i 1) _n _x))
(defclause (between _i _n _i) (<= _i _n))
(defclause (bench _k _l))
(defclause (bench _k _l) (between 1 _k _i) (nrev _l _r) (not t))
(define (run _k) (range 1 30 _l) (bench _k _l) (nrev _l _r) (car _r))
(princ (run 11000))
