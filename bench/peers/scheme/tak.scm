(define (tak x y z) (if (not (< y x)) z (tak (tak (- x 1) y z) (tak (- y 1) z x) (tak (- z 1) x y))))
(define (run k acc) (if (> k 0) (run (- k 1) (+ acc (tak 18 12 6))) acc))
(display (run 140 0)) (newline)
