; Raw memory: every access is checked against live blocks.
(define p (new-ptr 4))           ; expect: p
(mset 1 1 p 0)                   ; expect: 1
(mset 1 2 p 1)                   ; expect: 2
(mref -2 p 0)                    ; expect: 258
(mref 2 p 0)                     ; expect: 513
(mset 1 255 p 2)                 ; expect: 255
(mset 1 255 p 3)                 ; expect: 255
(mref -3 p 2)                    ; expect: -1
(mref -2 p 2)                    ; expect: 65535
(mref 1 (add-ptr p 1 2))         ; expect: 255
(mset -4 -2 p 0)                 ; expect: -2
(mref -4 p 0)                    ; expect: -2
(mref 1 p 0)                     ; expect: 255
(mset 4 2147483647 p 0)          ; expect: 2147483647
(mref 4 p 0)                     ; expect: 2147483647
(mset 3 1 p 0)                   ; expect error: 2 3
(mref 5 p 0)                     ; expect error: 2 5
(mset 1 'x p 0)                  ; expect error: 2 1
(mref 4 p 1)                     ; expect error: 2
(mref 1 p -5)                    ; expect error: 2
(mref 1 (number->pointer 4096))  ; expect error: 2
(mref 1 (null-ptr))              ; expect error: 2
(define q (new-ptr 4))           ; expect: q
(block-move p q 4)
(equal-block? p q 4)             ; expect: t
(mset 1 0 q 3)                   ; expect: 0
(equal-block? p q 4)             ; expect: ()
(equal-block? p q 5)             ; expect error: 2
(ptr-equal? p (add-ptr p 0))     ; expect: t
(null-ptr? (null-ptr))           ; expect: t
(dispose-ptr q)
(mref 1 q 0)                     ; expect error: 2
(dispose-ptr q)                  ; expect error: 2

; The runtime's own memory: its zones read, never written.
(define nodes (number->pointer (caddr (zone-addresses))))  ; expect: nodes
(integer? (mref 4 nodes 0))      ; expect: t
(mset 4 0 nodes 0)               ; expect error: 2
(block-move p nodes 4)           ; expect error: 2
(mset 1 1 (number->pointer (cadddr (zone-addresses))) 0)  ; expect error: 2

; Handles.
(define h (new-handle 0))        ; expect: h
(get-handle-size h)              ; expect: 0
(hlock h)                        ; expect error: 60 ()
(set-handle-size h 10)
(get-handle-size h)              ; expect: 10
(define a (hlock h))             ; expect: a
(mset 1 7 a 9)                   ; expect: 7
(mref 1 a 10)                    ; expect error: 2
(define c (copy-handle h))       ; expect: c
(mref 1 (hlock c) 9)             ; expect: 7
(hunlock h)
(dispose-handle h)
h                                ; expect: <null handle>
(get-handle-size h)              ; expect error: 2
(hlock h)                        ; expect error: 2
(hgetstate c)                    ; expect error: 47 ()
(space-available? 1000)          ; expect: t

; A purgeable, unlocked handle gives way to a request that needs its room.
(define big (new-handle 20000000)) ; expect: big
(hpurge big)
(define other (new-handle 20000000)) ; expect: other
(get-handle-size big)            ; expect: 0
(get-handle-size other)          ; expect: 20000000
(dispose-handle other)

; Handle streams grow in steps of 1024 bytes.
(define s (new-handle-struct 0 0 () ()))  ; expect: s
(handle-putc 65 s)
(handle-get-pos s)               ; expect: 1
(handle-eof? s)                  ; expect: ()
(handle-set-pos s 0)             ; expect: 0
(handle-getc s)                  ; expect: 65
(handle-set-pos s 5000)          ; expect error: 2 5000
