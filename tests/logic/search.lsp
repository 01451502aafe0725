; Buffer search, as a text editor uses it. Texts live in locked handles.
(define (buf _s) (hlock (string->handle _s)))        ; expect: buf
(define Search-Match (make-vector 256))               ; expect: Search-Match
(search-buffer-subr '("ab" "b") (buf "xab") 0 3 () () ())  ; expect: ("ab" . 1)
(search-buffer-subr "b" (buf "xab") 2 3 () () ())    ; expect: ("b" . 2)
(search-buffer-subr "b" (buf "xab") 0 2 () () ())    ; expect: ()
(search-buffer-subr "x" (buf "xab") 2 3 t () ())     ; expect: ("x" . 0)

; Whole words through a Lisp predicate.
(define (blank? _c) (eq? _c 32))                     ; expect: blank?
(search-buffer-subr "cat" (buf "concat cat") 0 10 () () blank?)  ; expect: ("cat" . 7)
(search-buffer-subr "cat" (buf "concat cat") 8 10 t () blank?)   ; expect: ()
(search-buffer-subr "cat" (buf "concat cat") 10 10 t () (lambda (_c) (eq? _c 32)))  ; expect: ("cat" . 7)

; Ignoring case, accented letters included.
(search-buffer-subr "ABC" (buf "xabc") 0 4 () t ())  ; expect: ("ABC" . 1)
(search-buffer-subr "éx" (buf "ÉX") 0 2 () t ())     ; expect: ("éx" . 0)
(search-buffer-subr "é" (buf "É") 0 1 () t ())       ; expect: ("é" . 0)
(vector-ref Search-Match 201)                        ; expect: ("é")
(search-buffer-subr "é" (buf "É") 0 1 () () ())      ; expect: ()
(vector-ref Search-Match 201)                        ; expect: ()

; A predicate may search too: each search keeps its own state.
(define inner ())                                    ; expect: inner
(define (nested? _c) (set! inner (search-buffer-subr "q" (buf "aq") 0 2 () () ())) (eq? _c 32))  ; expect: nested?
(search-buffer-subr '("cat" "dog") (buf "dog concat cat") 4 14 () () nested?)  ; expect: ("cat" . 11)
inner                                                ; expect: ("q" . 1)

; A predicate that disposes the buffer: the search stops with error 2.
(define h (string->handle "a cat b"))                ; expect: h
(define (spoil _c) (dispose-handle h) t)             ; expect: spoil
(search-buffer-subr "cat" (hlock h) 0 7 () () spoil) ; expect error: 2

; Bad requests.
(search-buffer-subr "" (buf "abc") 0 3 () () ())     ; expect error: 2
(search-buffer-subr '() (buf "abc") 0 3 () () ())    ; expect error: 2
(search-buffer-subr "a" (buf "abc") 0 4 () () ())    ; expect error: 2
(search-buffer-subr 'abc (buf "abc") 0 3 () () ())   ; expect error: 2
(define Search-Match (make-vector 10))               ; expect: Search-Match
(search-buffer-subr "a" (buf "abc") 0 3 () () ())    ; expect error: 2

(search-not-ascii (buf "abcé") 0 4)                  ; expect: (() . 3)
(search-not-ascii (buf "abc") 0 3)                   ; expect: ()

; Line comparison: carriage-return lines.
(define (lines . _xs) (apply string-append (map (lambda (_x) (string-append _x (string (char 13)))) _xs)))  ; expect: lines
(define (cmp _a _b) (compare-buffers (buf _a) (string-length _a) (buf _b) (string-length _b)))  ; expect: cmp
(cmp (lines "a" "b" "c") (lines "a" "x" "c"))        ; expect: (1 (0 4 2 4) (1 4 2 4))
(cmp (lines "a" "b" "c") (lines "a" "b" "c"))        ; expect: (0)
(compare-buffers (buf "x") 0 (buf "y") 0)           ; expect: (0)
(cmp (lines "a") (lines "b" "a" "c"))                ; expect: (2 (1 0 0 2) (1 2 4 6))

; Structural search in source text.
(define src "(define (f _x) (g _x 'y) \"g\" g)")      ; expect: src
(define (unify _p) (unify-expr _p (buf src) (string-length src) 0 (string-length src)))  ; expect: unify
(define (find _ps _s _e _sib) (search-symbolic _ps (buf src) (string-length src) _s _e _sib))  ; expect: find
(find '(g) 0 0 ())                                   ; expect: (g 16 . 17)
(find '(g) 16 17 ())                                 ; expect: (g 29 . 30)
(find (list (list 'g (list Symbolic-Token 2))) 0 0 ())  ; expect: ((g ((()) 2)) 15 . 24)
(find '(define) 0 0 t)                               ; expect: ()
(unify (list 'define (list Symbolic-Token 0) (list Symbolic-Token 2)))  ; expect: ((((()) 0) 8 . 14) (((()) 2) 15 . 30))
(unify '(define))                                    ; expect: ()
(unify-expr 'g (buf src) (string-length src) 29 30)  ; expect: t
(unify-expr 'g (buf src) 40 0 1)                     ; expect error: 2
