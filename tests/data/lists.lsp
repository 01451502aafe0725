; Pairs, accessors and constructors.
(cons 1 2)                          ; expect: (1 . 2)
(car '())                           ; expect: ()
(cdr '(1))                          ; expect: ()
(car 'a)                            ; expect error: 2 a
(cdr "s")                           ; expect error: 2 s
(list? '())                         ; expect: t
(pair? '())                         ; expect: ()
(atom? '(1))                        ; expect: ()
(atom? 3)                           ; expect: t
(cadr '(1 2 3))                     ; expect: 2
(cddr '(1 2 3))                     ; expect: (3)
(caddr '(1 2 3))                    ; expect: 3
(cdadr '(1 (2 3)))                  ; expect: (3)
(cadddr '(1 2 3 4))                 ; expect: 4
(caar '((a) b))                     ; expect: a
(cadr '(1 . 2))                     ; expect error: 2 2
(tenth '(1 2 3 4 5 6 7 8 9 10))     ; expect: 10
(third '(1 2))                      ; expect: ()
(third '(1 . 2))                    ; expect error: 2 (1 . 2)
(list 1 'a "b")                     ; expect: (1 a "b")
(list)                              ; expect: ()
(cons-list 1 2 '(3))                ; expect: (1 2 3)
(cons-list 1 2)                     ; expect: (1 . 2)
(cons-list)                         ; expect: ()

; Setters answer the value stored.
(define l (list 1 2 3))             ; expect: l
(set-car! l 'x)                     ; expect: x
(set-third! l 'z)                   ; expect: z
l                                   ; expect: (x 2 z)
(set-fourth! l 'w)                  ; expect error: 2 (x 2 z)
(set-cdr! '() 1)                    ; expect error: 2 ()

; append shares its last non-nil argument and copies the others.
(define tail (list 2))              ; expect: tail
(define joined (append '(1) () tail ())); expect: joined
joined                              ; expect: (1 2)
(eq? (cdr joined) tail)             ; expect: t
(append)                            ; expect: ()
(append '(1) 2)                     ; expect: (1 . 2)
(append '(1 . 2) '(3))              ; expect error: 2 (1 . 2)
(define a1 (list 1))                ; expect: a1
(define a2 (list 2 3))              ; expect: a2
(append! () a1 () a2 '(4))          ; expect: (1 2 3 4)
a1                                  ; expect: (1 2 3 4)
(add 'a '(a b))                     ; expect: (a b)
(add 'c '(a b))                     ; expect: (c a b)

; Lengths, ends and tails.
(length '(1 2 3))                   ; expect: 3
(length ())                         ; expect: 0
(length '(1 . 2))                   ; expect error: 2 (1 . 2)
(length 7)                          ; expect error: 2 7
(last '(1 2 3))                     ; expect: 3
(last-pair '(1 2 . 3))              ; expect: (2 . 3)
(list-tail '(a b c) 1)              ; expect: (b c)
(list-ref '(a b c) 5)               ; expect: ()
(reversed-ref '(a b c) 0)           ; expect: c
(reversed-ref '(a b c) 3)           ; expect: ()
(butlast '(1 2 3))                  ; expect: (1 2)
(butlast '(1))                      ; expect: ()
(reverse '(1 2 3))                  ; expect: (3 2 1)
(reverse! (list 1 2 3))             ; expect: (3 2 1)
(copy-list '(1 (2) . 3))            ; expect: (1 (2) . 3)
(copy-tree '((1 2) (3 (4))))        ; expect: ((1 2) (3 (4)))
(subseq '(a b c d e) 1 3)           ; expect: (b c)
(subseq '(a b c d e) 3 ())          ; expect: (d e)

; Circular lists are refused, not walked forever.
(define ring (list 1 2 3))          ; expect: ring
(set-cdr! (cddr ring) ring)         ; expect: (1 2 3 1 2 3 ...)
(length ring)                       ; expect error: 2 (1 2 3 1 2 3 ...)
(reverse ring)                      ; expect error: 2 (1 2 3 1 2 3 ...)
(memq 9 ring)                       ; expect error: 2 (1 2 3 1 2 3 ...)
(eq? (memq 2 ring) (cdr ring))      ; expect: t

; Searches with an optional key and test.
(memq 'c '(a b c d))                ; expect: (c d)
(memv 2.5 '(1 2.5 3))               ; expect: (2.5 3)
(memq 2.5 '(1 2.5 3))               ; expect: ()
(member '(1) '((0) (1) (2)))        ; expect: ((1) (2))
(member 2 '(1 2 3) (lambda (_x) (- _x 1)))   ; expect: (3)
(member 2 '(1 2 3) () <)            ; expect: (3)
(find 3 '(1 2 3 4) () <)            ; expect: 4
(find-if (lambda (_x) (> _x 2)) '(1 2 3 4))  ; expect: 3
(collect-if (lambda (_x) (> _x 2)) '(1 2 3 4)) ; expect: (3 4)
(count-if (lambda (_x) (> _x 2)) '(1 2 3 4) (lambda (_x) (* _x 2))) ; expect: 3
(some (lambda (_x) (and (> _x 1) (* _x 10))) '(1 2 3)) ; expect: 20
(some (lambda (_x) t) ())           ; expect: ()
(every (lambda (_x) ()) ())         ; expect: t
(every (lambda (_x) (> _x 0)) '(1 2 3)) ; expect: t
(every (lambda (_x) (> _x 1)) '(1 2 3)) ; expect: ()

; Association and property lists.
(assq 'b '((a . 1) (b . 2)))        ; expect: (b . 2)
(assv 2.0 '((1.0 . a) (2.0 . b)))   ; expect: (2.0 . b)
(assoc "k" '(("j" . 1) ("k" . 2)))  ; expect: ("k" . 2)
(assoc 3 '((1 . a) (2 . b)) (lambda (_k) (+ _k 1))) ; expect: (2 . b)
(define al (list (cons 'a 1)))      ; expect: al
(associate 'a 5 al)                 ; expect: ((a . 5))
(associate 'b 6 al)                 ; expect: ((b . 6) (a . 5))
(getprop 'b '(a 1 b 2))             ; expect: (b 2)
(getf 'c '(a 1) 0)                  ; expect: 0
(getf 'a '(a 1) 0)                  ; expect: 1
(define pl (list 'a 1 'b 2 'c 3))   ; expect: pl
(remprop! 'b pl)                    ; expect: (a 1 c 3)
(remprop! 'a pl)                    ; expect: (c 3)
(define seen ())                    ; expect: seen
(for-each-property (lambda (_k _v) (set 'seen (cons (list _k _v) seen))) '(x 1 y 2))
seen                                ; expect: ((y 2) (x 1))

; Editing.
(remove 2 '(1 2 3 2))               ; expect: (1 3 2)
(remove 1 '(1 2 3))                 ; expect: (2 3)
(remove 9 '(1 2 3))                 ; expect: (1 2 3)
(define r (list 1 2 3))             ; expect: r
(remove! 2 r)                       ; expect: (1 3)
r                                   ; expect: (1 3)
(remove-tail! (cdr r) r)            ; expect: (1)
(replace! 'b 'x (list 'a 'b 'c 'b)) ; expect: (a x c b)
(change-rank! (list 'a 'b 'c 'd) 0 3)   ; expect: (b c a d)
(change-rank! (list 'a 'b 'c 'd) 0 ())  ; expect: (b c d a)
(change-rank! (list 'a 'b 'c 'd) 3 1)   ; expect: (a d b c)

; Grouping.
(partition '(1 2 3 4) '(odd even) (lambda (_x) (if (= (modulo _x 2) 1) 'odd 'even)))
; expect: ((odd 1 3) (even 2 4))
(transpose '((1 2 3) (a b c)))      ; expect: ((1 a) (2 b) (3 c))
(transpose! (list (list 1 2) (list 'a 'b))) ; expect: ((1 a) (2 b))

; Sorting.
(sort < '(3 1 2))                   ; expect: (1 2 3)
(sort < '(1 1 2) () =)              ; expect: (1 2)
(sort > '(1 3 2))                   ; expect: (3 2 1)
(sort < '((b . 2) (a . 1) (c . 3)) cdr) ; expect: ((a . 1) (b . 2) (c . 3))
(sort < ())                         ; expect: ()
(catch 'out (sort (lambda (_a _b) (throw 'out 'left)) '(2 1)))  ; expect: left
(sort < '(5 4 3))                   ; expect: (3 4 5)
(sort (lambda (_a _b) (car _a)) '(2 1))  ; expect error: 2 2

; Counted loops.
(define order ())                   ; expect: order
(for 1 3 (lambda (_i) (set 'order (cons _i order))))
order                               ; expect: (3 2 1)
(for-collect 3 1 (lambda (_i) (* _i 10)) t)  ; expect: (30 20 10)
(for-collect 1 3 (lambda (_i) _i))  ; expect: (1 2 3)
(for-collect 3 1 (lambda (_i) _i))  ; expect: ()
(for 'a 3 car)                      ; expect error: 2 a
