; Formatted output into a string.
(format t "~a has ~a item~p" 'box 2 2)   ; expect: "box has 2 items"
(format t "~a has ~a item~p" 'box 1 1)   ; expect: "box has 1 item"
(format t "~a item~:p" 0)                ; expect: "0 item"
(format t "~5a|" 'ab)                    ; expect: "ab   |"
(format t "~5@a|" 'ab)                   ; expect: "   ab|"
(format t "~5,,,'*a" 'ab)                ; expect: "ab***"
(format t "~x" 255)                      ; expect: "FF"
(format t "~,2f" 3.14159)                ; expect: "3.14"
(format t "~.2f" 3.14159)                ; expect: ".2f"
(format t "~f" 0.5)                      ; expect: "0.5"
(format t "~3c" 65)                      ; expect: "AAA"
(string-length (format t "~3%"))         ; expect: 3
(ascii (format t "~t"))                  ; expect: 9
(format t "~w" "a\"b")                   ; expect: "\"a\\\"b\""
(format t "~y" '("s" x))                 ; expect: "(\"s\" x)"

; Conditionals and the argument cursor.
(format t "~:[no~;yes~]" ())             ; expect: "no"
(format t "~:[no~;yes~]" t)              ; expect: "yes"
(format t "~[zero~;one~:;many~]" 5)      ; expect: "many"
(format t "~[zero~;one~:;many~]" 1)      ; expect: "one"
(format t "~[zero~;one~]" 3)             ; expect error: 2 ()
(format t "<~@[got ~a~]>" 7)             ; expect: "<got 7>"
(format t "<~@[got ~a~]>" ())            ; expect: "<>"
(format t "~a ~:*~a" 'x)                 ; expect: "x x"
(format t "~*~a" 1 2)                    ; expect: "2"

; Bad directives and missing arguments.
(format t "~~")                          ; expect error: 2 ()
(format t "~d" 1)                        ; expect error: 2 ()
(format t "~a ~a" 1)                     ; expect error: 2 ()
(format t "~5.a" 1)                      ; expect error: 2 46
(format t)                               ; expect error: 2 ()
(format t "~[a~[b~]~]" 0)                ; expect error: 2 ()
(format t "a~]")                         ; expect error: 2 ()

; Other streams receive the text; format answers t.
(format () "n=~a~%" 42)                  ; expect: n=42
; expect: t
