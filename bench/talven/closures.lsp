; Closures: a closure over the caller's variable, applied six million times.
(define (apply-n _f _n _acc) (while (> _n 0) (set! _acc (_f _acc)) (set! _n (- _n 1))) _acc)
(define (run _k _step) (apply-n (lambda (_x) (+ _x _step)) _k 0))
(princ (run 6000000 1))
