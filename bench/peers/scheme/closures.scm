(define (apply-n f n acc) (if (> n 0) (apply-n f (- n 1) (f acc)) acc))
(define (run k step) (apply-n (lambda (x) (+ x step)) k 0))
(display (run 6000000 1)) (newline)
