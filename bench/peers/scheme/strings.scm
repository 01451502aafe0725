(define (build k s) (if (> k 0) (build (- k 1) (string-append s "ab")) s))
(define (run k total) (if (> k 0) (run (- k 1) (+ total (string-length (build 500 "")))) total))
(display (run 5500 0)) (newline)
