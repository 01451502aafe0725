; A short tour of the language. Run it with `talven examples/demo.lsp` (or `make demo`).

(define (say _label _value)
  (prin _label ())
  (display _value ()))

; Functions and recursion.
(define (fib _n) (if (< _n 2) _n (+ (fib (- _n 1)) (fib (- _n 2)))))
(say "(fib 20) = " (fib 20))

; The numeric tower: fixnums overflow into long integers, reals take over
; as soon as one takes part.
(say "8388606 + 1 is a " (type-of (+ 8388606 1)))
(say "(/ 1 3) = " (/ 1 3))
(say "(* 2 2.5) = " (* 2 2.5))

; Closures: a gamma captures the values it names when it is made.
(define (adder _n) (gamma (_x) (_n) (+ _x _n)))
(define add10 (adder 10))
(say "(add10 32) = " (add10 32))

; Macros: a syntax receives its argument forms unevaluated and decides
; what to do with them; here it builds an assignment and evaluates it.
(define inc!
  (syntax (_forms)
    (eval (quasiquote set! (unquote-splicing _forms) (+ (unquote-splicing _forms) 1)))))
(define Counter 0)
(repeat 5 (inc! Counter))
(say "Counter after five inc! = " Counter)

; Dynamic binding: fluid-let changes a global for the extent of its body.
(define Indent "")
(define (show _text) (prin Indent ()) (princ _text ()))
(show "outside")
(fluid-let ((Indent "    ")) (show "inside fluid-let"))
(show "outside again")

; Non-local exits: throw leaves any number of frames for the matching catch,
; and unwind-protect runs its clean-up on the way out.
(define (search _limit)
  (let ((_i 0))
    (while (< _i _limit)
      (when (= (* _i _i) 144) (throw 'found _i))
      (set! _i (+ _i 1)))
    'none))
(say "square root of 144 by search: " (catch 'found (search 100)))
(define Cleaned 'no)
(catch 'out (unwind-protect (throw 'out 1) (set! Cleaned 'yes)))
(say "clean-up ran: " Cleaned)

; The reader is a library function as well.
(say "parsed: " (parse "(a (b . c) #(1 2) \"text\" 1.5)"))
(with-dot-mark 44 (lambda () (say "1.5 with a decimal comma: " 1.5)))
