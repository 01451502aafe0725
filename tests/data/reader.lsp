; Lists, dots and brackets.
'(a . b)                         ; expect: (a . b)
'(a b . c)                       ; expect: (a b . c)
'(a . b c)                       ; expect: (a c)
'[a b)                           ; expect: (a b)
'()                              ; expect: ()
'x                               ; expect: x
''x                              ; expect: (quote x)
'`x                              ; expect: `x
'a.b                             ; expect: a.b
(parse "( . a)")                 ; expect error: 25 ()
(parse "(a . )")                 ; expect error: 25 ()
(parse "(a } b)")                ; expect error: 25 ()

; Numbers and the symbols that look like them.
(type-of 8388606)                ; expect: integer
(type-of -8388607)               ; expect: integer
(type-of 8388607)                ; expect: long
(type-of -8388608)               ; expect: long
2147483648                       ; expect: 2147483648.0
9999999999                       ; expect: 9999999999.0
-2147483648                      ; expect: -2147483648
(type-of '+5)                    ; expect: symbol
(type-of 'E5)                    ; expect: symbol
(type-of '1e5x)                  ; expect: symbol
(type-of '1-2)                   ; expect: symbol
'(+ - e)                         ; expect: (+ - e)
1e5                              ; expect: 100000.0
1E5                              ; expect: 100000.0
12e                              ; expect: 12.0
-.5                              ; expect: -0.5
1.5                              ; expect: 1.5
(parse "1|5")                    ; expect: (1 . 5)
(parse "1..5")                   ; expect: (1..5)

; The decimal mark decides what a real looks like, both ways.
(with-dot-mark 44 (lambda () (parse "1,5 2.5")))  ; expect: (1.5 2 . 5)
(with-dot-mark 44 (lambda () (display 1.5 ())))   ; expect: 1,5
; expect: 1.5
1.5                              ; expect: 1.5

; Characters.
#\a                              ; expect: 97
#\space                          ; expect: 32
#\question-mark                  ; expect: 47
#\(                              ; expect: 40
#\)                              ; expect: 41
'(#\a1)                          ; expect: (97 1)
#\ab                             ; expect error: 2 ab
#\triangle                       ; expect: 43

; Strings: a backslash takes the next character, line feeds are dropped.
"a\"b"                           ; expect: "a\"b"
"a\nb"                           ; expect: "anb"
"line
feed"                            ; expect: "linefeed"

; Variables and keywords.
(type-of '_x)                    ; expect: variable
'_x                              ; expect: _x
:x                               ; expect: :x
(eq? :x (symbol->keyword 'x))    ; expect: t
(keyword->symbol :size)          ; expect: size
(symbol->keyword '_y)            ; expect: :y
(keyword->symbol 'plain)         ; expect error: 2 plain
(genvarlog 'z)                   ; expect: _z
(genvarlog 1)                    ; expect error: 2 1

; Vectors and the language selector.
'#(1 (2) "x")                    ; expect: #(1 (2) x)
(define Langage 'fr)             ; expect: Langage
'#{en "hello" fr "bonjour"}      ; expect: "bonjour"
(parse "#{de 1}")                ; expect error: 2 (de 1)

; Feature tests.
(define Features '(win))         ; expect: Features
(parse "&win 1 &(not win) 2")   ; expect: (1)
(parse "&(or mac win) a &(and win mac) b &(and) c")  ; expect: (a c)
(parse "&(xor a) 1")             ; expect error: 2 xor

; Source references need a file being loaded.
(parse "{a b}")                  ; expect error: 2 ()
(define Load-File 3)             ; expect: Load-File
(parse "x {foo bar} y")          ; expect: (x (foo 3 3 . 10) y)
(parse "{(f a) b}")              ; expect: ((f 3 1 . 8))
(define Load-File ())            ; expect: Load-File

; parse, and the end of the text.
(parse "a (b c) 3")              ; expect: (a (b c) 3)
(parse "a (b")                   ; expect error: 25 ()
(parse "a ) b")                  ; expect: (a)
(parse "\"open")                 ; expect error: 25 ()
(parse "a ; comment")            ; expect: (a)
(parse "")                       ; expect: ()
(parse 'a)                       ; expect error: 2 a

; read takes the following text when it reads the current input.
(read) hello                     ; expect: hello
(readch)x                        ; expect: 120
(read t) (1 2)                   ; expect: (1 2)

; The class table can be changed from Lisp, and the printer follows it.
(typech 95 ())                   ; expect: 4
'\_x                             ; expect: \_x
(typech 95 6)                    ; expect: 6
(type-of '_x)                    ; expect: symbol
'_x                              ; expect: _x
(typech 95 4)                    ; expect: 4
(typech 33 16)                   ; expect: 16
(parse "a!")                     ; expect error: 2 ()
(typech 33 6)                    ; expect: 6

; Macro and dispatch characters defined in Lisp.
(dmc #\! (read t) 'banged)
'(a !b c)                        ; expect: (a banged c)
(get-macro-character #\!)        ; expect: #<function lambda>
(typech #\! ())                  ; expect: 4
(ddc #\! (readch t) 'sharp-bang)
'(#!)                            ; expect: (sharp-bang)
(set-macro-character #\! ())
(typech #\! 6)                   ; expect: 6
(read-delimited-list () 7)       ; expect error: 2 7

; On a Mac machine a character literal reads as the character's Mac code;
; one without a Mac counterpart keeps its own.
(set! Machine 'mac)                      ; expect: mac
(parse (string-append "#\\" (char 233) " #\\a #\\space"))  ; expect: (142 97 32)
(parse (string-append "#\\" (char 128)))  ; expect: (128)
(set! Machine 'ibm)                      ; expect: ibm
(parse (string-append "#\\" (char 233)))  ; expect: (233)
