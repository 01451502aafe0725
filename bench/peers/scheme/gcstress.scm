(define (make-live n) (if (= n 0) '() (cons (list n n) (make-live (- n 1)))))
(define (run k total live)
  (if (> k 0) (run (- k 1) (remainder (+ total (length (list k k k k k k k k))) 1000000) live) (+ total (length live))))
(display (run 3000000 0 (make-live 1000))) (newline)
