; Logic: every path without a repeated node between opposite corners of a
; 5 by 5 grid (8,512 of them), found by a depth-first search that keeps a
; visited list, counted by a failure-driven loop, 3 times. The grid's 80
; edges are facts, found by their first argument.
(define (grid-edges _n)
  (let ((_i 1))
    (while (<= _i (* _n _n))
      (if (> (remainder _i _n) 0) (asserte (list (list 'edge _i (+ _i 1)))))
      (if (not (= (remainder _i _n) 1)) (asserte (list (list 'edge _i (- _i 1)))))
      (if (<= (+ _i _n) (* _n _n)) (asserte (list (list 'edge _i (+ _i _n)))))
      (if (> _i _n) (asserte (list (list 'edge _i (- _i _n)))))
      (set! _i (+ _i 1)))))
(grid-edges 5)
(defclause (path _x _y _v) (not (eq? _x _y)) (edge _x _z) (not (member _z _v)) (path _z _y '(_z . _v)))
(defclause (path _y _y _v))
(define Count 0)
(defclause (count-paths))
(defclause (count-paths) (path 1 25 '(1)) (begin (set! Count (+ Count 1)) ()))
(repeat 3 (count-paths))
(princ Count)
