; The three styles.
(princ "a\"b" ())                ; expect: a"b
; expect: "a\"b"
(display "a\"b" ())              ; expect: "a\"b"
; expect: "a\"b"
(write "a\"b" ())                ; expect: "a\"b""a\"b"
(prin 'x ())                     ; expect: xx
(displ 'a ())                    ; expect: aa
(new-line ())                    ; expect:
(display '\a\ b ())              ; expect: a\ b
; expect: a\ b
(princ '\a\ b ())                ; expect: a b
; expect: a\ b
(display '\_x ())                ; expect: \_x
; expect: \_x
(display :x ())                  ; expect: :x
; expect: :x
(display '_v ())                 ; expect: _v
; expect: _v
(princ '(a "b" (c . d)) ())      ; expect: (a b (c . d))
; expect: (a "b" (c . d))
(display '#("a" b) ())           ; expect: #(a b)
; expect: #(a b)
(write '#(1 2) ())               ; expect error: 2 #(1 2)
(write '(1 "x" _y 2.5 8388607) ())  ; expect: (1 "x" _y 2.5 8388607)(1 "x" _y 2.5 8388607)
(fprinc () '\a\ b)               ; expect: a\ b
; expect: a\ b
(fprinc () "q\"")                ; expect: q\"
; expect: "q\""

; Reals and integers.
'(1.0 100.0 -0.25 0.5 3.0)       ; expect: (1.0 100.0 -0.25 0.5 3.0)
1e20                             ; expect: 1e+20
1.23456789012345678              ; expect: 1.23456789012346
-8388607                         ; expect: -8388607
-2147483648                      ; expect: -2147483648

; Values without a readable form.
car                              ; expect error: 6 car
+                                ; expect: #<primitive 0 *>
eq?                              ; expect: #<primitive 2>
quote                            ; expect: #<keyword>
catch                            ; expect: #<special>
(lambda (_a) _a)                 ; expect: #<function lambda>
(null-ptr? (new-ptr 8))          ; expect: ()
(null-ptr)                       ; expect: <null pointer>
(write eq? ())                   ; expect error: 2 #<primitive 2>
