; Files in the temporary folder: create, write, read back, rename, remove.
(define f (talven-file-create () "ABCD" "TEXT" () t t))   ; expect: f
(define g (talven-file-create () "ABCD" "TEXT" () t t))   ; expect: g
(pathname=? f g)                            ; expect: ()
(file-exists? f)                            ; expect: t
(file-get-type f)                           ; expect: "TEXT"
(file-get-creator f)                        ; expect: "????"
(file-set-type f "PICT")                    ; expect: ()
(file-get-type f)                           ; expect: "TEXT"

; Writing characters and blocks, reading them back as a stream.
(define h (file-open f 2))                  ; expect: h
(prin '(hello (world . 12)) (cons file-write-ch h))   ; expect: (hello (world . 12))
(file-get-pos h)                            ; expect: 20
(file-set-pos h 0)                          ; expect: 0
(read (cons file-read-ch h))                ; expect: (hello (world . 12))
(file-eof? h)                               ; expect: t
(file-read-ch h)                            ; expect: 65535
(file-close h)
(file-length f)                             ; expect: 20

; A closed file's box is refused, even after another file took its place.
(define k (file-open g 2))                  ; expect: k
(file-read-ch h)                            ; expect error: 2
(file-write-ch 65 h)                        ; expect error: 2
(file-length g)                             ; expect: 0
(file-read-only? k)                         ; expect: ()

; An open file cannot be renamed or removed; a name in use is never replaced.
(file-rename g "talven-renamed.tmp")        ; expect: ()
(file-remove g ())                          ; expect error: 38
(file-close k)
(file-rename g (pathname-name f))           ; expect: ()
(file-rename g (upper-string (pathname-name f)))   ; expect: ()
(file-rename g "talven-renamed.tmp")        ; expect: t
(file-exists? g)                            ; expect: ()
(file-remove (list (pathname-directory g) "talven-renamed.tmp") ())    ; expect: t
(file-remove f ())                          ; expect: t
(file-remove f t)                           ; expect: ()
(file-open f)                               ; expect error: 31

; Creating a file that exists, as a resource file or not, is error 33 (nil
; when quiet) and leaves its bytes as they were.
(define r (talven-file-create () "ABCD" "TEXT" () t t))   ; expect: r
(define h (file-open r 2))                  ; expect: h
(prin 'kept (cons file-write-ch h))         ; expect: kept
(file-close h)
(talven-file-create r "ABCD" "TEXT" t t ())   ; expect error: 33
(talven-file-create r "ABCD" "TEXT" t t t)    ; expect: ()
(talven-file-create r "ABCD" "TEXT" () t ())  ; expect error: 33
(file-length r)                             ; expect: 4
(file-remove r ())                          ; expect: t

; What this system does not have.
(open-rf "x" 0 0)                           ; expect error: 47
(fsclose 1)                                 ; expect error: 47
(flushvol "C:" 0)                           ; expect: 0
