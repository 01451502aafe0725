; Message sends: an object as a closure over its state that dispatches on
; the message, sent four million one-line messages.
(define (make-counter step)
  (let ((count 0))
    (lambda (msg)
      (case msg
        ((bump) (set! count (+ count step)))
        ((total) count)))))
(define (run-sends c n) (if (> n 0) (begin (c 'bump) (run-sends c (- n 1))) (c 'total)))
(display (run-sends (make-counter 2) 4000000)) (newline)
