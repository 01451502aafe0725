; The clock wraps through 2^32 without a process noticing: every comparison
; takes the signed difference of two readings.
(define log ())                                  ; expect: log
(define (note _x) (set! log (cons _x log)))      ; expect: note
(define (taken) (let ((_l (reverse log))) (set! log ()) _l)) ; expect: taken
(define (a-run) (note 'a))                       ; expect: a-run
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
