; Characters: codes are fixnums, the case tables are code page 1252.
(char? 65)                        ; expect: t
(char? "a")                       ; expect: ()
(char 65)                         ; expect: "A"
(ascii "")                        ; expect: 0
(ascii 'b)                        ; expect: 98
(lower-char 196)                  ; expect: 228
(upper-char 228)                  ; expect: 196
(upper-char 255)                  ; expect: 255
(alpha-char? 55)                  ; expect: t
(alpha-char? 215)                 ; expect: ()
(upper-char "a")                  ; expect error: 2 a

; Text primitives take the printed text of any value.
(string=? 'abc "abc")             ; expect: t
(string/=? 'abc "abd")            ; expect: t
(string-length 12345)             ; expect: 5
(string-append "a" 'b 3)          ; expect: "ab3"
(string-append)                   ; expect: ""
(eq? (string-append 'xyz) (symbol->string 'xyz))  ; expect: t
(copy-string 'abc)                ; expect: "abc"
(string->symbol "abc")            ; expect: abc
(upper-string "été")         ; expect: "ÉTÉ"
(lower-string 'ABC)               ; expect: "abc"

; Collation: case and accents fold, ties go by code.
(string<? "apple" "Banana")       ; expect: t
(string<? "a" "A")                ; expect: ()
(string<? "A" "a")                ; expect: t
(string<? "été" "ete")         ; expect: ()
(string>? "été" "ete")         ; expect: t
(string<=? "abc" "abc")           ; expect: t
(string>=? "ab" "abc")            ; expect: ()
(string-nocase=? "Été" "été" ())   ; expect: t
(string-nocase=? "Été" "ete" ())       ; expect: ()
(string-nocase=? "Été" "ete" t)        ; expect: t

; Substrings and searching never read past the text.
(substring "hello" -3 ())         ; expect: "llo"
(substring "hello" 3 1)           ; expect: ""
(substring "hello" 1 -1)          ; expect: "ell"
(substring "hello" 2 99)          ; expect: "llo"
(substring "hello" 99 ())         ; expect: ""
(memstring "LL" "hello" t)        ; expect: "llo"
(memstring "LL" "hello" ())       ; expect: ()
(memstring "" "hello" ())         ; expect: "hello"
(memstring "hello!" "hello" ())   ; expect: ()

; Indexes and sizes are error 2 with the offending argument.
(define s (copy-string "abc"))    ; expect: s
(string-ref s 2)                  ; expect: 99
(string-ref s 3)                  ; expect error: 2 3
(string-ref s -1)                 ; expect error: 2 -1
(string-set! s 0 88)              ; expect: 88
s                                 ; expect: "Xbc"
(string-set! s 3 88)              ; expect error: 2 3
(string-set! s 0 32001)           ; expect error: 2 32001
(string-set! s 1 0)               ; expect error: 2 0
(string-set! s 1 256)             ; expect error: 2 256
(string-length s)                 ; expect: 3
(string-set! (symbol->string 'abc) 0 88)  ; expect error: 2 abc
(make-string 3)                   ; expect: "   "
(make-string 32001)               ; expect error: 2 32001
(define big (make-string 32000))  ; expect: big
(string-length (string-append big big))   ; expect: 64000
(string-append big big big)       ; expect error: 2
; Appending while collections move the parts' bytes keeps every character.
(define (wrap _s _k) (while (> _k 0) (set! _s (string-append "(" _s ")")) (set! _k (- _k 1))) _s)  ; expect: wrap
(define nested (wrap 'x 3000))    ; expect: nested
(list (string-length nested) (substring nested 0 3) (substring nested 2999 3002) (substring nested -3 ()))  ; expect: (6001 "(((" "(x)" ")))")

; Numbers spelled by a text.
(string->int " -12 ")             ; expect: -12
(string->int "+5")                ; expect: ()
(string->int "2147483648")        ; expect: ()
(string->int "-2147483648")       ; expect: -2147483648
(string->real "3")                ; expect: 3
(string->real "3.5")              ; expect: 3.5
(string->real "3,5")              ; expect: ()
(with-dot-mark 44 (lambda () (string->real "3,5")))   ; expect: 3.5
(string->real "12e")              ; expect: 12.0
(string->real "1.5.3")            ; expect: ()
