; A process made and not yet run keeps its function, name and context alive
; across collections; a process whose handle nobody holds goes.
(define log ())                                  ; expect: log
(define (note _x) (set! log (cons _x log)))      ; expect: note
(define (taken) (let ((_l (reverse log))) (set! log ()) _l)) ; expect: taken
(define (a-run) (note 'a))                       ; expect: a-run
(test-clock 0)                                   ; expect: 0
(define Counter (new-class 'Counter))            ; expect: Counter
(Counter (defslot hits :default 0) (define (hit) (set! hits (+ hits 1)) (note (list 'hit hits)))) ; expect: hit
(define pk (new-process 'hit (list 'made 'name) 10 () () (make-instance Counter))) ; expect: pk
(define ph (new-process (lambda () (note (list 'fresh (string-append "l" "ive")))) () 10 () () ())) ; expect: ph
ph                                               ; expect: <process 2>
(for 1 300 (lambda (_i) (new-process (lambda () _i) 'garbage 1 () () ())))
(length (test-collect))                          ; expect: 5
(length (test-collect))                          ; expect: 5
(get-process-name pk)                            ; expect: (made name)
(run-process pk)                                 ; expect: <process 1>
(run-process ph)                                 ; expect: <process 2>
(give-time)
(give-time)
(give-time)
(taken)                                          ; expect: ((hit 1) (fresh "live"))
(kill-process ph)
(kill-process pk)
(get-processes)                                  ; expect: ()
