; Calls: doubly recursive Fibonacci of 25, 40 times.
(define (fib _n) (if (< _n 2) _n (+ (fib (- _n 1)) (fib (- _n 2)))))
(define (run _k _acc) (while (> _k 0) (set! _acc (+ _acc (fib 25))) (set! _k (- _k 1))) _acc)
(princ (run 40 0))
