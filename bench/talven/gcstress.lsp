; Collector: build and drop 3,000,000 lists of eight with a small live set.
(define (make-live _n) (if (= _n 0) '() (cons (list _n _n) (make-live (- _n 1)))))
(define (run _k _total _live)
  (while (> _k 0)
    (set! _total (remainder (+ _total (length (list _k _k _k _k _k _k _k _k))) 1000000))
    (set! _k (- _k 1)))
  (+ _total (length _live)))
(princ (run 3000000 0 (make-live 1000)))
