; Lookups: assq over a 50-entry association list, 200,000 times.
(define (make-alist _n) (if (= _n 0) '() (cons (cons _n _n) (make-alist (- _n 1)))))
(define (run _al _k _acc)
  (while (> _k 0)
    (set! _acc (+ _acc (cdr (assq (+ 1 (remainder _k 50)) _al))))
    (set! _k (- _k 1)))
  _acc)
(princ (run (make-alist 50) 200000 0))
