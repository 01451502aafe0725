; Hash tables: symbols only.
(define h (new-hash))             ; expect: h
h                                 ; expect: <hash-table>
(hash-ref h 'k 'none)             ; expect: none
(hash-set! h 'k 1)
(hash-ref h 'k 'none)             ; expect: 1
(hash-set! h 'j ())
(hash-ref h 'j 'none)             ; expect: ()
(hash-ref h "k" ())               ; expect error: 2 k
(hash-set! h 3 ())                ; expect error: 2 3
(define seen 0)                   ; expect: seen
(for-each-hash (lambda (_k _v) (set! seen (+ seen 1))) h)
seen                              ; expect: 2
(for-each-hash (lambda (_k _v) (vector-ref _k 0)) h)   ; expect error: 2

; Sets, deep and flat.
(memberset '(1 2) '((2 1)))       ; expect: t
(memberset '(1 2) '((2 1)) t)     ; expect: ()
(include? () '(1))                ; expect: t
(equalset '(1 (2 3)) '((3 2) 1))  ; expect: t
(equalset '(1 (2 3)) '((3 2) 1) t)  ; expect: ()
(union '(1 2) '(2 3))             ; expect: (1 2 3)
(difference '(1 2 3) '(2))        ; expect: (3 1)
(intersection '(3 1 2) '(2 3))    ; expect: (3 2)
(makeset '(a b a c b))            ; expect: (a b c)
(makeset '((1 2) (2 1)))          ; expect: ((1 2))
(makeset '((1 2) (2 1)) t)        ; expect: ((1 2) (2 1))
