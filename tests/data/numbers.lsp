; Integer results follow their value, not the boxing of their operands.
(type-of (+ 8388606 1))          ; expect: long
(+ 8388606 1)                    ; expect: 8388607
(type-of (- 8388607 1))          ; expect: integer
(type-of (- -8388606 1))         ; expect: integer
(type-of (- -8388607 1))         ; expect: long
(type-of (* 4096 2048))          ; expect: long
(type-of (- (* 4096 2048) 1))    ; expect: long
(type-of (/ 4 2))                ; expect: real
(+ 2147483647 1)                 ; expect: -2147483648
(- -2147483648 1)                ; expect: 2147483647
(* 65536 65536)                  ; expect: 0
(- -2147483648)                  ; expect: -2147483648
(+)                              ; expect: 0
(*)                              ; expect: 1
(- 5)                            ; expect: -5
(- 10 1 2 3)                     ; expect: 4
(- 10 1.5)                       ; expect: 8.5
(- 10.0 1 2)                     ; expect: 7.0
(+ 1 2.5 3)                      ; expect: 6.5
(* 2 2.5)                        ; expect: 5.0
(/ 6 3)                          ; expect: 2.0
(/ 2)                            ; expect: 0.5
(/ 1 65536 65536)                ; expect: 2.3283064365387e-10
(+ 1 'a)                         ; expect error: 2 a
(-)                              ; expect error: 42 ()

; Comparisons: integers as integers, mixed pairs as doubles.
(< 1 2 3)                        ; expect: t
(< 1 3 2)                        ; expect: ()
(< 5)                            ; expect: t
(<)                              ; expect error: 42 ()
(/= 1 2 1)                       ; expect: t
(= 1 1.0)                        ; expect: t
(< 8388606 8388607 2147483647)   ; expect: t
(> -2147483648 -2147483647)      ; expect: ()
(<= 2 2.0 2)                     ; expect: t
(>= 3 2.5 2)                     ; expect: t
(< 1 'x)                         ; expect error: 2 x
(max 1 2.0 3)                    ; expect: 3.0
(max 1 5 3)                      ; expect: 5
(min 4 -2147483648 7)            ; expect: -2147483648
(min 2 1.5)                      ; expect: 1.5
(max)                            ; expect error: 42 ()
(abs -5)                         ; expect: 5
(abs -2.5)                       ; expect: 2.5
(type-of (abs -8388607))         ; expect: long
(relate 1 2)                     ; expect: -1
(relate 2 2)                     ; expect: 0
(relate 2147483647 -2147483648)  ; expect: 1

; Predicates.
(number? 1.5)                    ; expect: t
(number? 'a)                     ; expect: ()
(integer? 2147483647)            ; expect: t
(integer? 1.0)                   ; expect: ()
(rational? 1)                    ; expect: ()
(inexact? 1.0)                   ; expect: t
(exact? 1)                       ; expect: t
(zero? 0.0)                      ; expect: t
(negative? -8388608)             ; expect: t
(positive? 0)                    ; expect: ()
(even? 8388608)                  ; expect: t
(odd? -3)                        ; expect: t

; Division and rounding.
(modulo -7 2)                    ; expect: 1
(remainder -7 2)                 ; expect: -1
(modulo 7 -2)                    ; expect: -1
(quotient -7 2)                  ; expect: -3
(quotient -2147483648 -1)        ; expect: -2147483648
(modulo -2147483648 -1)          ; expect: 0
(modulo 7.5 2)                   ; expect: 1.5
(modulo -7.5 2)                  ; expect: 0.5
(remainder -7.5 2)               ; expect: -1.5
(quotient 1 0)                   ; expect error: 58 ()
(modulo 1 0)                     ; expect error: 58 ()
(remainder 1 0)                  ; expect error: 58 ()
(modulo 1.0 0)                   ; expect error: 58 ()
(quotient 1.5 2)                 ; expect error: 2 1.5
(round 2.5)                      ; expect: 3
(round -2.5)                     ; expect: -2
(round 7 2)                      ; expect: 4
(floor -7 2)                     ; expect: -4
(ceiling -7 2)                   ; expect: -3
(truncate -7 2)                  ; expect: -3
(floor 2147483647)               ; expect: 2147483647
(floor -0.5)                     ; expect: -1
(type-of (round 1e10))           ; expect error: 2 10000000000.0
(floor 1 0)                      ; expect error: 58 ()
(round-float 3.14159 2)          ; expect: 3.14
(round-float 2.5 ())             ; expect: 3.0
(interpolate 0 10 0.25 t)        ; expect: 3
(interpolate 0 10 0.25 ())       ; expect: 2.5
(progressive-growth 10)          ; expect: 15
(progressive-growth 1)           ; expect: 2
(progressive-growth 0)           ; expect: 1

; Bits work on the 32-bit values.
(bit-and 12 10)                  ; expect: 8
(bit-or 12 10)                   ; expect: 14
(bit-xor 12 10)                  ; expect: 6
(bit-not 0)                      ; expect: -1
(bit-set 0 31)                   ; expect: -2147483648
(bit-clear -1 0)                 ; expect: -2
(bit-test 8388608 23)            ; expect: t
(bit-test 5 33)                  ; expect: ()

; Reals and the transcendental functions.
(sqrt 16)                        ; expect: 4.0
(expt 2 10)                      ; expect: 1024.0
(atan 1 ())                      ; expect: 0.785398163397448
(atan 0 -1)                      ; expect: 3.14159265358979
(exp 0)                          ; expect: 1.0
(log 1)                          ; expect: 0.0
(sin 'x)                         ; expect error: 2 x

; The generator stays in range; a limit it cannot honour is refused.
(< -1 (random 10) 10)            ; expect: t
(random 1)                       ; expect: 0
(random 0)                       ; expect error: 2 0
(random -5)                      ; expect error: 2 -5
