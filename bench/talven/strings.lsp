; Strings: build a 1,000-character string by appending, 5,500 times.
(define (build _k _s) (while (> _k 0) (set! _s (string-append _s "ab")) (set! _k (- _k 1))) _s)
(define (run _k _total)
  (while (> _k 0) (set! _total (+ _total (string-length (build 500 "")))) (set! _k (- _k 1)))
  _total)
(princ (run 5500 0))
