; Plain processes on the stepped clock: (test-clock ms) fixes the clock's
; reading. Arming, delayed start, quanta, names, dead handles.
(test-clock 1000)                                ; expect: 1000
(define log ())                                  ; expect: log
(define (note _x) (set! log (cons _x log)))      ; expect: note
(define (taken) (let ((_l (reverse log))) (set! log ()) _l)) ; expect: taken
(define (a-run) (note 'a))                       ; expect: a-run
; A plain process without delayed start runs at the first step, then not
; before one quantum after that run began.
(define pa (new-process 'a-run () 100 () () ())) ; expect: pa
pa                                               ; expect: <process a-run 1>
(get-process-name pa)                            ; expect: a-run
(get-process-function pa)                        ; expect: a-run
(get-process-quantum pa)                         ; expect: 100
(get-processes)                                  ; expect: ()
(eq? (run-process pa) pa)                        ; expect: t
(get-process-wake-up pa)                         ; expect: 1000
(give-time)
(test-clock 1099)                                ; expect: 1099
(give-time)
(taken)                                          ; expect: (a)
(test-clock 1100)                                ; expect: 1100
(give-time)
(give-time)
(taken)                                          ; expect: (a)
(get-process-wake-up pa)                         ; expect: 1200
(kill-process pa)
pa                                               ; expect: <null process>
(get-processes)                                  ; expect: ()
(run-process pa)
(get-process-name pa)                            ; expect: ()

; Delayed start puts the first run one quantum after arming.
(define pd (new-process (lambda () (note 'd)) 'late 50 t () ())) ; expect: pd
(run-process pd)                                 ; expect: <process late 100001>
(give-time)
(taken)                                          ; expect: ()
(test-clock 1150)                                ; expect: 1150
(give-time)
(taken)                                          ; expect: (d)
(kill-process 'late)
(find-process 'late)                             ; expect: ()

; Dead handles and names no queued process has: nothing happens.
(suspend-process pa)
(set-process-quantum pa 5)
(reset-process 'nobody)
(wake-up-process 'nobody)
(get-process-quantum 'nobody)                    ; expect: ()
(get-process-wake-up pa)                         ; expect: ()
(kill-process 5)
(run-process "x")
(get-process-running? ())                        ; expect: ()
(cleanup-processes)
(begin (test-clock) 'steady)                     ; expect: steady
; Quanta, delays and durations are integers.
(new-process 'a-run () 'soon () () ())           ; expect error: 2 soon
(new-clock-process () 'a-run () () 0 "long" 10 ()) ; expect error: 2 long
(get-processes)                                  ; expect: ()
