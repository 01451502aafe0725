; Databases in the temporary folder: creation over a file, value records,
; lookups, read-only opening, closed databases.
(define f (talven-file-create () "ABCD" "TEXT" () t t))   ; expect: f
(create-database-subr f "CREA" "TYPE")      ; expect error: 6
(create-database-in-subr f "CREA" "TYPE")
(file-length f)                             ; expect: 294
(database? f)                               ; expect: t
(file-get-type f)                           ; expect: "TYPE"
(file-get-creator f)                        ; expect: "CREA"
(openresfile f)                             ; expect: -1
Compact-Databases?                          ; expect: t

(define d (open-database f 2))              ; expect: d
(count-record-types d)                      ; expect: 0
(put-record-number 40000 "NUMB" 1 d)        ; expect: 40000
(put-record-number -5 "NUMB" 2 d)           ; expect: -5
(get-record-size (get-record "NUMB" 1 d ())) ; expect: 4
(get-record-size (get-record "NUMB" 2 d ())) ; expect: 2
(get-record-number "NUMB" 1 d)              ; expect: 40000
(get-record-number "NUMB" 3 d)              ; expect error: 2 3
(put-record-string "été" "Txt1" 1 d)        ; expect: "été"
(get-record-string "Txt1" 1 d)              ; expect: "été"
(put-record-vector (vector 1 #\a ()) "VECT" 1 d)   ; expect: #(1 97 ())
(get-record-vector "VECT" 1 d)              ; expect: #(1 97 ())
(put-record-vector (vector 'sym) "VECT" 2 d)       ; expect error: 2 sym
(count-record-types d)                      ; expect: 3
(get-indexed-type 0 d)                      ; expect: "NUMB"
(get-indexed-type 3 d)                      ; expect: ""
(count-records "NUMB" d)                    ; expect: 2
(get-record-id (get-indexed-record "NUMB" 0 d ()))   ; expect: 1
(get-indexed-record "NUMB" -1 d ())         ; expect: <null record>
(get-indexed-record "NUMB" 2 d ())          ; expect error: 5 ()
(get-indexed-record "NONE" 0 d ())          ; expect error: 5 ()
(get-record "NUMB" 9 d ())                  ; expect: <null record>
(get-record "NUMB" "no name" d ())          ; expect: <null record>
(define h (new-handle 3))                   ; expect: h
(add-record h "DATA" 7 "seven" d)
(get-record-name (get-record "DATA" "seven" d ()))   ; expect: "seven"
(add-record h "DATA" 8 () d)                ; expect error: 7 ()
(add-record () "DATA" 8 () d)               ; expect error: 7 ()
(get-record-attributes h)                   ; expect: 66
(remove-record (get-record "NUMB" 2 d ()))
(count-records "NUMB" d)                    ; expect: 1
(unique-record-id "NUMB" d)                 ; expect: 0
(unique-record-id "NUMB" d)                 ; expect: 2
(close-database d ())
(count-records "NUMB" d)                    ; expect error: 4 ()
(get-record-id h)                           ; expect error: 5 ()

; Read only: every change is refused and the file stays as it was.
(define r (open-database f ()))             ; expect: r
(get-record-number "NUMB" 1 r)              ; expect: 40000
(get-record-attributes (get-record "DATA" 7 r ()))   ; expect: 64
(changed-record (get-record "NUMB" 1 r ())) ; expect error: 9 ()
(put-record-number 1 "NUMB" 1 r)            ; expect error: 9 ()
(compact-database r)                        ; expect error: 9 ()
(close-database r ())
(database? "databases.lsp")                 ; expect: ()
(open-database "databases.lsp" 0)           ; expect error: 1 ()
(open-database "no-such.db" 0)              ; expect error: 31
(open-database f 3)                         ; expect error: 2 3
(file-remove f ())                          ; expect: t
