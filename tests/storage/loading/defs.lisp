(define loaded-a 1)
(define loaded-file Load-File)
