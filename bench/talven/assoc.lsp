; Lookups: assq over a 50-entry association list, 2,400,000 times.
(define (make-alist _n) (if (= _n 0) '() (cons (cons _n 1) (make-alist (- _n 1)))))
(define (run _al _k _acc)
  (while (> _k 0)
    (set! _acc (+ _acc (cdr (assq (+ 1 (remainder _k 50)) _al))))
    (set! _k (- _k 1)))
  _acc)
(princ (run (make-alist 50) 2400000 0))
