; Calls: Takeuchi's function of 18 12 6, 140 times.
(define (tak _x _y _z)
  (if (not (< _y _x)) _z
      (tak (tak (- _x 1) _y _z) (tak (- _y 1) _z _x) (tak (- _z 1) _x _y))))
(define (run _k _acc) (while (> _k 0) (set! _acc (+ _acc (tak 18 12 6))) (set! _k (- _k 1))) _acc)
(princ (run 140 0))
