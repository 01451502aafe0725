(define (deep n) (if (= n 0) 0 (+ 1 (deep (- n 1)))))
(define (run k acc) (if (> k 0) (run (- k 1) (+ acc (deep 10000))) acc))
(display (run 800 0)) (newline)
