; The evaluator's fast paths answer what the general ones do: two-fixnum
; arithmetic and comparisons, frame variables, the control words of the
; call path, and the strings read in place.
(+ 1 2)                                 ; expect: 3
(+ 8388606 1)                           ; expect: 8388607
(integer? (+ 8388606 1))                ; expect: t
(- -8388607 1)                          ; expect: -8388608
(* 4096 4096)                           ; expect: 16777216
(* 65536 65536)                         ; expect: 0
(= (* 65536 65536) (* 65536 65536 1))   ; expect: t
(* -3 7)                                ; expect: -21
(list (< 1 2) (< 2 1) (> 2 1) (<= 2 2) (>= 1 2) (= 3 3) (/= 3 3)) ; expect: (t () t t () t ())
(+ 1 2.5)                               ; expect: 3.5
(< 1 2.5)                               ; expect: t
(+ 'a 1)                                ; expect error: 2 a
(+ 1 'a)                                ; expect error: 2 a
(< 1 'b)                                ; expect error: 2 b
(- 5)                                   ; expect: -5
(+ 1 2 3)                               ; expect: 6
(< 1 3 2)                               ; expect: ()
(+ 1 . 2)                               ; expect: 1
; Both arguments are evaluated once, left to right, even when the first is
; not a fixnum.
(define k 0)                            ; expect: k
(+ (begin (set! k (+ k 1)) k) (begin (set! k (* k 10)) k)) ; expect: 11
(+ (begin (set! k 'x) 1.5) (begin (set! k (list k 'y)) 1)) ; expect: 2.5
k                                       ; expect: (x y)
; The operation follows the value called, whatever its name.
(define plus +)                         ; expect: plus
(plus 2 3)                              ; expect: 5
(fluid-let ((+ -)) (+ 5 3))             ; expect: 2
(+ 5 3)                                 ; expect: 8
(define (twice _f _x) (_f _x _x))       ; expect: twice
(twice * 7)                             ; expect: 49
(twice list 7)                          ; expect: (7 7)
; Frame variables: an unbound local (loops and closures: analysis.lsp).
(define (unbound-local) (let ((_y)) _y)) ; expect: unbound-local
(unbound-local)                         ; expect error: 6 _y
; Control words: their shapes are checked as before.
(if)                                    ; expect error: 2 (if)
(if 1 . 2)                              ; expect error: 2 (if 1 . 2)
(if t 1 . 2)                            ; expect error: 2 (if t 1 . 2)
(if () 1 2 . 3)                         ; expect error: 2 (if () 1 2 . 3)
(if (set! k 3) 1 2 . 3)                 ; expect error: 2 (if (set! k 3) 1 2 . 3)
k                                       ; expect: (x y)
(if () 1 2 3)                           ; expect: 3
(if 1 2 3 4)                            ; expect: 2
(if () 1)
(if t)                                  ; expect: ()
(set! k)                                ; expect error: 2 (set! k)
(set! k 1 . 2)                          ; expect error: 2 (set! k 1 . 2)
(begin)
(begin 1 . 2)                           ; expect error: 2 (begin 1 . 2)
(while)                                 ; expect error: 2 (while)
(when () 1)                             ; expect: ()
(when 1)
(and 1 . 2)                             ; expect error: 2 (and 1 . 2)
(or () 2)                               ; expect: 2
(list (and) (or) (and 1 ()) (or () ())) ; expect: (t () () ())
(define (set-param _x) (set! _x (+ _x 1)) _x) ; expect: set-param
(set-param 41)                          ; expect: 42
; Strings read in place.
(string-ref "abc" 2)                    ; expect: 99
(string-ref "abc" 3)                    ; expect error: 2 3
(string-ref "" 0)                       ; expect error: 2 0
(string-ref 'abc 0)                     ; expect: 97
(string-ref 12 1)                       ; expect: 50
(string-ref "abc" -1)                   ; expect error: 2 -1
(substring "hello" 1 3)                 ; expect: "el"
(substring 'hello 1 -1)                 ; expect: "ell"
(substring 12345 2 ())                  ; expect: "345"
(substring "abc" 2 1)                   ; expect: ""
(string-append "a" 'b 12 "")            ; expect: "ab12"
; Natives of one or two fixed arguments: a missing argument is nil, extra
; forms are not evaluated, a dotted end ends the arguments.
(car)                                   ; expect: ()
(cons 1)                                ; expect: (1)
(define seen 0)                         ; expect: seen
(car '(5) (set! seen 1))                ; expect: 5
(cons 1 2 (set! seen 2))                ; expect: (1 . 2)
seen                                    ; expect: 0
(cons 1 . 2)                            ; expect: (1)
(car 5)                                 ; expect error: 2 5
(define v (make-vector 2 0))            ; expect: v
(vector-set! v 1 7 (set! seen 3))       ; expect: 7
(list (vector-ref v 1) seen)            ; expect: (7 0)
(vector-set! v 1)                       ; expect: ()
