(define (make-live n) (if (= n 0) '() (cons (list n n) (make-live (- n 1)))))
(define (run k total live)
  (if (> k 0) (run (- k 1) (+ total (length (list k k k k))) live) (+ total (length live))))
(display (run 2000000 0 (make-live 1000))) (newline)
