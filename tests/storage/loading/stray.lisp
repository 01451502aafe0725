(define before-stray 1)
)
(define after-stray 1)
