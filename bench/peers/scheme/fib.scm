(define (fib n) (if (< n 2) n (+ (fib (- n 1)) (fib (- n 2)))))
(define (run k acc) (if (> k 0) (run (- k 1) (+ acc (fib 25))) acc))
(display (run 40 0)) (newline)
