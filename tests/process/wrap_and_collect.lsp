; The clock wraps through 2^32 without a process noticing: every comparison
; takes the signed difference of two readings.
(define log ())                                  ; expect: log
(define (note _x) (set! log (cons _x log)))      ; expect: note
(define (taken) (let ((_l (reverse log))) (set! log ()) _l)) ; expect: taken
(test-clock -150)                                ; expect: -150
(define pw (new-process (lambda () (note 'w)) 'w 100 () () ())) ; expect: pw
(define px (new-process (lambda () (note 'x)) 'x 100 t () ()))  ; expect: px
(run-process px)                                 ; expect: <process x 2>
(run-process pw)                                 ; expect: <process w 1>
(get-processes)                                  ; expect: (<process x 2> <process w 1>)
(give-time)
(give-time)
(test-clock -51)                                 ; expect: -51
(give-time)
(test-clock -50)                                 ; expect: -50
(give-time)
(give-time)
(test-clock 49)                                  ; expect: 49
(give-time)
(test-clock 50)                                  ; expect: 50
(give-time)
(give-time)
(taken)                                          ; expect: (w x w x w)
(get-process-wake-up pw)                         ; expect: 150
(define cw (new-clock-process () (lambda (_e) (note _e)) () 'cw 0 250 100 ())) ; expect: cw
(test-clock -120)                                ; expect: -120
(kill-process pw)
(kill-process px)
(run-process cw)                                 ; expect: <process cw 3>
(give-time)
(test-clock -20)                                 ; expect: -20
(give-time)
(test-clock 80)                                  ; expect: 80
(give-time)
(test-clock 179)                                 ; expect: 179
(give-time)
(test-clock 180)                                 ; expect: 180
(give-time)
(taken)                                          ; expect: (0 100 200)
(get-processes)                                  ; expect: ()

; A process made and not yet run keeps its function, name and context alive
; across collections; a process whose handle nobody holds goes.
(define Counter (new-class 'Counter))            ; expect: Counter
(Counter (defslot hits :default 0) (define (hit) (set! hits (+ hits 1)) (note (list 'hit hits)))) ; expect: hit
(define pk (new-process 'hit (list 'made 'name) 10 () () (make-instance Counter))) ; expect: pk
(define ph (new-process (lambda () (note (list 'fresh (string-append "l" "ive")))) () 10 () () ())) ; expect: ph
ph                                               ; expect: <process 100002>
(for 1 300 (lambda (_i) (new-process (lambda () _i) 'garbage 1 () () ())))
(length (test-collect))                          ; expect: 5
(length (test-collect))                          ; expect: 5
(get-process-name pk)                            ; expect: (made name)
(run-process pk)                                 ; expect: <process 100003>
(run-process ph)                                 ; expect: <process 100002>
(give-time)
(give-time)
(give-time)
(taken)                                          ; expect: ((hit 1) (fresh "live"))
(kill-process ph)
(kill-process pk)
(get-processes)                                  ; expect: ()
