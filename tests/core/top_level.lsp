; A top-level form that uses lexical variables runs as the body of a
; function made for it and called at once: its let, with and bind variables
; are that function's locals.
(let ((_x 1)) _x)                                         ; expect: 1
(let* ((_a 1) (_b (+ _a 1))) (list _a _b))                ; expect: (1 2)
(letrec ((_sum (lambda (_n) (if (< _n 1) 0 (+ _n (_sum (- _n 1))))))) (_sum 10))   ; expect: 55
(with ((_v 3) (_w 4)) (+ (* _v _v) (* _w _w)))            ; expect: 25
(bind (_p . _q) '(1 2 3) (list _q _p))                    ; expect: ((2 3) 1)
(let ((_i 0) (_acc '())) (while (< _i 3) (set! _acc (cons _i _acc)) (set! _i (+ _i 1))) _acc)   ; expect: (2 1 0)
(let ((_n 0)) (catch 'out (while t (set! _n (+ _n 1)) (when (= _n 5) (throw 'out (* _n 10))))))   ; expect: 50
(let ((_log '())) (catch 'x (unwind-protect (throw 'x 1) (set! _log (cons 'cleaned _log)))) _log)   ; expect: (cleaned)
(let ((_k 3)) (map (lambda (_x) (* _x _k)) '(1 2)))        ; expect: (3 6)
(let ((_l (list 1 2 3))) (test-collect) (reverse _l))     ; expect: (3 2 1)
; An error leaves the form's function; the next form runs as usual.
(let ((_a 5)) (car _a))                                   ; expect error: 2 5
(let ((_a 1)) (+ _a _b))                                  ; expect error: 6 _b
_nowhere                                                  ; expect error: 6 _nowhere
(define _y 5)                                             ; expect error: 2 _y
; Globals and dynamic bindings are untouched.
(define depth 1)                                          ; expect: depth
(let ((_saved depth)) (fluid-let ((depth 2)) (list _saved depth)))   ; expect: (1 2)
depth                                                     ; expect: 1

; A define in such a form defines a global, the same one it defines at top
; level: a function of its own (whose inner closures see its parameters),
; a value computed from the form's variables, and a lambda that uses none
; of them, which stays a plain function and outlives the form.
(let ((_base 10)) (define (offsets _x) (map (lambda (_y) (+ _x _y)) '(1 2))) (define base-copy (* 2 _base)) (define twice (lambda (_x) (* 2 _x))))   ; expect: twice
(offsets 10)                                              ; expect: (11 12)
base-copy                                                 ; expect: 20
(list (twice 4) (type-of twice))                          ; expect: (8 function)
; A gamma escapes the form with the values it captured; a lambda that uses
; the form's variables is a closure of its frame, gone once the form ends.
(define scale (let ((_k 3)) (gamma (_x) (_k) (* _x _k))))   ; expect: scale
(scale 5)                                                 ; expect: 15
(define late (let ((_k 3)) (lambda () _k)))               ; expect: late
(late)                                                    ; expect error: 5

; Every load takes its forms the same way.
(load-from-handle (string->handle "(define loaded (let ((_a 2)) (catch 'e (list _a (* _a _a)))))") 1)
loaded                                                    ; expect: (2 4)
