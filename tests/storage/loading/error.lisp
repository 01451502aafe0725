(define before-error 1)
(car 5)
(define after-error 1)
