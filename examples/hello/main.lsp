; The example application's start: it greets in every language it knows
; and counts down, then its toplevel loop returns.
(define (greet-all)
  (for-each (lambda (_pair) (display (cdr _pair) ())) Greetings))

(define (count-down _n)
  (when (> _n 0)
    (display _n ())
    (count-down (- _n 1))))

(define (toplevel-loop)
  (greet-all)
  (count-down 3))
