; Calls: Takeuchi's function of 18 12 6.
(define (tak _x _y _z)
  (if (not (< _y _x)) _z
      (tak (tak (- _x 1) _y _z) (tak (- _y 1) _z _x) (tak (- _z 1) _x _y))))
(princ (tak 18 12 6))
