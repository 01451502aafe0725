(define (make-alist n) (if (= n 0) '() (cons (cons n 1) (make-alist (- n 1)))))
(define (run al k acc)
  (if (> k 0) (run al (- k 1) (+ acc (cdr (assq (+ 1 (remainder k 50)) al)))) acc))
(display (run (make-alist 50) 2400000 0)) (newline)
