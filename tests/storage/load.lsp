; Loading source files: each form is read and evaluated in turn; the file
; is read whole and closed first. Fixtures live in loading/.
(load "loading/defs.lisp")
loaded-a                          ; expect: 1
loaded-file                       ; expect: ()
(load "loading/nested.lisp")
depth-after                       ; expect: 2
(load "loading/empty.lisp")
(load "loading/trailing.lisp")
trailing                          ; expect: 1

; A source may declare UTF-8 on its first line; it is converted to code
; page 1252 as it is read, and a character the code page lacks is an error
; naming the file and the line, before any form runs.
(load "loading/utf8.lisp")
(string-length utf8-text)         ; expect: 6
(load "loading/han.lisp")         ; expect error: 2 loading/han.lisp:3: a character without a code page 1252 counterpart
before-han                        ; expect error: 6 before-han

; An error leaves the load; the forms before it stand.
(load "loading/stray.lisp")       ; expect error: 25 ()
before-stray                      ; expect: 1
after-stray                       ; expect error: 6 after-stray
(load "loading/error.lisp")       ; expect error: 2 5
before-error                      ; expect: 1
after-error                       ; expect error: 6 after-error

; xx(ff): xx is read and evaluated, the parenthesis is dropped, ff is read
; and evaluated, the closing parenthesis is dropped and the load ends.
(load "loading/xf.lisp")          ; expect error: 6 xx
(define xx 1)                     ; expect: xx
(load "loading/xf.lisp")          ; expect error: 6 ff
(define ff 2)                     ; expect: ff
(load "loading/xf.lisp")

; A file that does not exist.
(load "loading/missing.lisp")     ; expect error: 31

; Handles: Load-File holds the file value for the extent of the load.
(load-from-handle (string->handle "(define from-handle Load-File)") 7)
from-handle                       ; expect: 7
Load-File                         ; expect: ()
(load-from-handle (string->handle "") 7)
(load-from-handle (string->handle "(define r '{foo bar})") 3)
r                                 ; expect: (foo 3 12 . 19)
(load-from-handle 5 1)            ; expect error: 2 5
(set-symbols-table ())
(set-symbols-table 5)             ; expect error: 2 5
