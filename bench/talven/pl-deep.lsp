; Logic: a deterministic recursion 100,000 goals deep, 40 times.
(defclause (down _n _a _r) (> _n 0) (down (- _n 1) (+ _a 2) _r))
(defclause (down 0 _a _a))
(define (once) (down 100000 0 _r) _r)
(define (run _k _r) (repeat _k (set! _r (once))) _r)
(princ (run 40 0))
