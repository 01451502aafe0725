; The clipboard store: scrap types, their formats, emptying and keeping.
(put-scrap "TEXT" "abc" ())
(get-handle-size (get-scrap "TEXT"))        ; expect: 3
(mref 1 (hlock (get-scrap "TEXT")) 2)       ; expect: 99
(scrap-available? "TEXT")                   ; expect: t
(scrap-available? "PICT")                   ; expect: ()
(get-scrap "PICT")                          ; expect: ()

; Without keep the clipboard is emptied first; with keep formats add up.
(put-scrap "LISP" "(a b)" ())
(scrap-available? "TEXT")                   ; expect: ()
(scrap-available? "LISP")                   ; expect: t
(put-scrap "TEXT" "abc" t)
(scrap-available? "LISP")                   ; expect: t
(scrap-available? "TEXT")                   ; expect: t
(get-handle-size (get-scrap "LISP"))        ; expect: 5
(mref 1 (hlock (get-scrap "LISP")) 0)       ; expect: 40

; A packed bitmap goes as it is; any other picture behind its size.
(define b (new-handle 44))                  ; expect: b
(define p (hlock b))                        ; expect: p
(mset 1 40 p 0)                             ; expect: 40
(mset 1 1 p 12)                             ; expect: 1
(mset 1 8 p 14)                             ; expect: 8
(hunlock b)
(put-scrap "PICT" b ())
(scrap-available? "PICT")                   ; expect: t
(get-handle-size (get-scrap "PICT"))        ; expect: 44
(scrap-available? "TEXT")                   ; expect: ()
(put-scrap "PICT" "a classic picture" t)
(get-handle-size (get-scrap "PICT"))        ; expect: 17
(mset 1 33 p 14)                            ; expect: 33
(put-scrap "PICT" b ())
(get-handle-size (get-scrap "PICT"))        ; expect: 44
(put-scrap "PICT" (new-handle 0) ())
(get-handle-size (get-scrap "PICT"))        ; expect: 0

; Movie references are zero-ended text.
(put-scrap "tlmv" "movie.mov" ())
(get-handle-size (get-scrap "tlmv"))        ; expect: 9
(get-scrap "TEXT")                          ; expect: ()

; Other scrap types are not available; a refused put changes nothing.
(scrap-available? "snd ")                   ; expect error: 47 ()
(put-scrap "snd " "x" ())                   ; expect error: 47 ()
(get-scrap "styl")                          ; expect error: 47 ()
(scrap-available? "tlmv")                   ; expect: t
(put-scrap "TEXT" 12 ())                    ; expect error: 2 12
(scrap-available? "tlmv")                   ; expect: t
