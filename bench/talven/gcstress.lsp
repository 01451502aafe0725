; Collector: build and drop 2,000,000 short lists with a small live set.
(define (make-live _n) (if (= _n 0) '() (cons (list _n _n) (make-live (- _n 1)))))
(define (run _k _total _live)
  (while (> _k 0)
    (set! _total (+ _total (length (list _k _k _k _k))))
    (set! _k (- _k 1)))
  (+ _total (length _live)))
(princ (run 2000000 0 (make-live 1000)))
