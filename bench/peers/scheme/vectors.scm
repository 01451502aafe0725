(define (fill v i) (if (< i 10000) (begin (vector-set! v i 1) (fill v (+ i 1)))))
(define (sum v i acc) (if (< i 10000) (sum v (+ i 1) (+ acc (vector-ref v i))) acc))
(define (run v k acc) (if (> k 0) (begin (fill v 0) (run v (- k 1) (+ acc (sum v 0 0)))) acc))
(display (run (make-vector 10000 0) 250 0)) (newline)
