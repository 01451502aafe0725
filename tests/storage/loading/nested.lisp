(define depth-before 1)
(load "loading/defs.lisp")
(define depth-after (+ loaded-a 1))
