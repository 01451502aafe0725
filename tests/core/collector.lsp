; The test primitive collects and answers (live-nodes free-nodes objects
; heap-bytes collections).
(length (test-collect))                  ; expect: 5
(define counts (test-collect))           ; expect: counts
(= (+ (car counts) (cadr counts)) (fourth (space-subr)))  ; expect: t

; Data held only by globals survives while garbage goes.
(define keep (list "kept" 2.5 '(a b) 8388607))  ; expect: keep
(define nested (list (list (list "deep" 1.5))))  ; expect: nested
(define before (car (test-collect)))     ; expect: before
(for 1 3000 (lambda (_i) (list _i "garbage" 0.5)))
(< (- (car (test-collect)) before) 1000)  ; expect: t
keep                                     ; expect: ("kept" 2.5 (a b) 8388607)
nested                                   ; expect: ((("deep" 1.5)))

; A sort whose predicate collects keeps its elements and their keys.
(sort (lambda (_a _b) (test-collect) (< _a _b)) '(5 3 4 1 2) (lambda (_x) (* _x 1.0)))
; expect: (1 2 3 4 5)

; The node zone grows only when growable, by at least 5,000 nodes.
(memory-growable?)                       ; expect: ()
(grow-nodes 10)                          ; expect: ()
(define nodes (fourth (space-subr)))     ; expect: nodes
(set-memory-growable? t)
(grow-nodes 10)                          ; expect: t
(- (fourth (space-subr)) nodes)          ; expect: 5000
keep                                     ; expect: ("kept" 2.5 (a b) 8388607)
(set-memory-growable? ())
(grow-heap 100)                          ; expect: ()
