; Per-instance overrides and overriden.
(define (list . _xs) _xs)                   ; expect: list
(define Window (new-class 'Window))         ; expect: Window
(Window (define (paint) 'plain))            ; expect: paint
(define w1 (make-instance Window))          ; expect: w1
(define w2 (make-instance Window))          ; expect: w2
(define (framed) (list 'framed ((overriden paint)))) ; expect: framed
(w1 (add-override 'paint framed))           ;
(list (send w1 paint) (send w2 paint))      ; expect: ((framed plain) plain)
(w1 (add-override 'paint (lambda () 'newest))) ;
(send w1 paint)                             ; expect: newest
(w1 (remove-override 'paint))               ;
(send w1 paint)                             ; expect: (framed plain)
(w1 (remove-override 'paint))               ;
(send w1 paint)                             ; expect: plain
(add-override 'paint framed)                ; expect error: 2 paint
(Window (overriden nothing))                ; expect error: 6 nothing
