; Clock processes: start, ticks with the elapsed time, end.
(test-clock 1400)                                ; expect: 1400
(define log ())                                  ; expect: log
(define (note _x) (set! log (cons _x log)))      ; expect: note
(define (taken) (let ((_l (reverse log))) (set! log ()) _l)) ; expect: taken
(define (a-run) (note 'a))                       ; expect: a-run
; A clock process: start, ticks with the elapsed time (initial delay
; included), end after its duration, then gone.
(define clock-log ())                            ; expect: clock-log
(define cp (new-clock-process (lambda () (note 'start))
                              (lambda (_e) (note _e))
                              (lambda () (note 'end))
                              'clock 20 100 30 ()))   ; expect: cp
(run-process cp)                                 ; expect: <process clock 1>
(give-time)
(taken)                                          ; expect: ()
(test-clock 1420)                                ; expect: 1420
(give-time)
(test-clock 1450)                                ; expect: 1450
(give-time)
(test-clock 1485)                                ; expect: 1485
(give-time)
(test-clock 1499)                                ; expect: 1499
(give-time)
(test-clock 1515)                                ; expect: 1515
(give-time)
(taken)                                          ; expect: (start 20 50 85 end)
(get-processes)                                  ; expect: ()
; Without a duration: start and end at the first run.
(define cq (new-clock-process (lambda () (note 'start)) 'no-tick (lambda () (note 'end)) () 0 () 10 ())) ; expect: cq
cq                                               ; expect: <process no-tick 100001>
(run-process cq)                                 ; expect: <process no-tick 100001>
(give-time)
(taken)                                          ; expect: (start end)
