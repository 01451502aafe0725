; Message sends: four million sends of a one-line method that reads two slots
; and writes one, found in the class table (the name has two definers).
(define Counter (new-class 'Counter))
(define Other (new-class 'Other))
(Other (define (bump) ()))
(Counter
  (defslot count :default 0)
  (defslot step :default 2)
  (define (bump) (set! count (+ count step)))
  (define (total) count))
(define (run-sends _c _n) (while (> _n 0) (send _c bump) (set! _n (- _n 1))) (send _c total))
(princ (run-sends (make-instance Counter) 4000000))
