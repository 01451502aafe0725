; Conversions between the Mac set and the Windows set.
(mac->ibm-string "cafŽ")          ; expect: "café"
(mac->ibm-string "a°")            ; expect: ()
(ibm->mac-string "café")          ; expect: "cafŽ"
(ibm->mac-string "€")             ; expect: ()

; In place: a, 13, b expands to a, 13, 10, b when there is room.
(define p (new-ptr 8))              ; expect: p
(define cr (char 13))               ; expect: cr
(define lf (char 10))               ; expect: lf
(put-string-text (string-append "a" cr "b") p)
(mac->ibm p 4 3 ())                 ; expect: 4
(mref 1 p 2)                        ; expect: 10
(string=? (text->string p 4) (string-append "a" cr lf "b"))   ; expect: t
(put-string-text (string-append "a" cr "b") p)
(mac->ibm p 3 3 ())                 ; expect: ()
(put-string-text (string-append cr cr cr cr cr cr) p)
(mac->ibm p 100 6 ())               ; expect error: 2
(put-string-text "Ž" p)
(mac->ibm p 8 2 ())                 ; expect: (1)
(mref 1 p 0)                        ; expect: 142
(mac->ibm-ptr p 2 t)                ; expect: ()
(mref 1 p 0)                        ; expect: 233
(put-string-text (string-append "é" cr lf "x") p)
(ibm->mac p () 4)                   ; expect: 3
(string=? (text->string p 3) (string-append "Ž" cr "x"))   ; expect: t
(put-string-text "éÑ" p)
(iso->mac p () 2 ())                ; expect: (209)
(mref 1 p 0)                        ; expect: 142
(put-string-text "éz" p)
(iso->mac p () 2 ())                ; expect: 2

; Strings at pointers and in handles.
(put-string "hello" p)
(ptr->string p)                     ; expect: "hello"
(text->string p 32001)              ; expect error: 2 32001
(text->string p 9)                  ; expect error: 2
(define h (string->handle "abc"))   ; expect: h
(get-handle-size h)                 ; expect: 3
(handle->string h)                  ; expect: "abc"
(handle->string p)                  ; expect error: 2
(handle->string (string->handle "")) ; expect: ""
