; Deep non-tail recursion: depth 10,000, 800 times.
(define (deep _n) (if (= _n 0) 0 (+ 1 (deep (- _n 1)))))
(define (run _k _acc) (while (> _k 0) (set! _acc (+ _acc (deep 10000))) (set! _k (- _k 1))) _acc)
(princ (run 800 0))
