; Processes on the stepped clock: (test-clock ms) fixes the clock's reading.
(define log ())                                  ; expect: log
(define (note _x) (set! log (cons _x log)))      ; expect: note
(define (taken) (let ((_l (reverse log))) (set! log ()) _l)) ; expect: taken
(test-clock 1000)                                ; expect: 1000

; A plain process without delayed start runs at the first step, then not
; before one quantum after that run began.
(define (a-run) (note 'a))                       ; expect: a-run
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

; Two processes due together alternate, one run per step, in the order
; they were queued.
(define (b-run) (note 'b))                       ; expect: b-run
(define pb (new-process 'b-run () 10 () () ()))  ; expect: pb
(define pc (new-process (lambda () (note 'c)) 'c 10 () () ())) ; expect: pc
(run-process pb)                                 ; expect: <process b-run 200001>
(run-process pc)                                 ; expect: <process c 2>
(get-processes)                                  ; expect: (<process c 2> <process b-run 200001>)
(eq? (find-process 'c) pc)                       ; expect: t
(give-time)
(give-time)
(give-time)
(taken)                                          ; expect: (b c)
(test-clock 1160)                                ; expect: 1160
(give-time)
(give-time)
(give-time)
(test-clock 1170)                                ; expect: 1170
(give-time)
(give-time)
(taken)                                          ; expect: (b c b c)

; A suspended head holds back every process behind it, due or not.
(suspend-process 'b-run)
(process-suspended? pb)                          ; expect: t
(get-process-suspended? pc)                      ; expect: ()
(test-clock 1200)                                ; expect: 1200
(give-time)
(give-time)
(taken)                                          ; expect: ()
(resume-process pb)
(give-time)
(give-time)
(taken)                                          ; expect: (b c)
(kill-process pb)
(kill-process pc)
(get-processes)                                  ; expect: ()

; A once process runs once and is gone.
(define po (new-process (lambda () (note 'once)) 'once 10 () t ())) ; expect: po
(run-process po)                                 ; expect: <process once 100002>
(give-time)
(test-clock 1300)                                ; expect: 1300
(give-time)
(taken)                                          ; expect: (once)
(get-processes)                                  ; expect: ()
po                                               ; expect: <null process>

; A process that kills itself finishes its run; while it runs it is
; running, and a nested step does nothing.
(define (self-killer)
  (note (get-process-running? 'killer))
  (kill-process 'killer)
  (give-time)
  (note 'after-kill))                            ; expect: self-killer
(define pk (new-process 'self-killer 'killer 10 () () ())) ; expect: pk
(run-process pk)                                 ; expect: <process killer 200002>
(give-time)
(taken)                                          ; expect: (t after-kill)
(get-process-running? pk)                        ; expect: ()
(get-processes)                                  ; expect: ()

; An error kills only its process, after its report; the caller of
; give-time goes on. A throw out of a run stops there too, even with a
; catch for it outside.
(define Error-Handler (lambda (_k _n _v _o _a _b) (note (list 'error _n _v)))) ; expect: Error-Handler
(define (faulty) (note 'faulty) (car 5))         ; expect: faulty
(define pf (new-process 'faulty () 10 () () ())) ; expect: pf
(define pg (new-process 'a-run () 10 () () ()))  ; expect: pg
(define pt (new-process (lambda () (throw 'out 1)) 'thrower 10 () () ())) ; expect: pt
(define pu (new-process (lambda () (throw 'out 2)) 'lost 10 () () ())) ; expect: pu
(run-process pf)                                 ; expect: <process faulty 300002>
(run-process pg)                                 ; expect: <process a-run 300001>
(run-process pt)                                 ; expect: <process thrower 3>
(run-process pu)                                 ; expect: <process lost 4>
(begin (give-time) 'went-on)                     ; expect: went-on
(catch 'out (give-time) (give-time) 'kept)       ; expect: kept
(give-time)
(taken)                                          ; expect: (faulty (error 2 5) a (error 17 out))
(get-processes)                                  ; expect: (<process a-run 300001>)
(set! Error-Handler ())                          ; expect: ()
(kill-process pg)
(test-clock 1400)                                ; expect: 1400

; reset-process and wake-up-process move the process in the queue: a head
; reset into the future lets a due process run.
(define pr (new-process (lambda () (note 'r)) 'r 100 () () ())) ; expect: pr
(define ps (new-process (lambda () (note 's)) 's 100 () () ())) ; expect: ps
(run-process pr)                                 ; expect: <process r 400001>
(run-process ps)                                 ; expect: <process s 100004>
(reset-process pr)
(get-processes)                                  ; expect: (<process r 400001> <process s 100004>)
(give-time)
(taken)                                          ; expect: (s)
(wake-up-process 'r)
(give-time)
(taken)                                          ; expect: (r)
; set-process-quantum: the next wake-up is one new quantum after the run.
(get-process-wake-up pr)                         ; expect: 1500
(set-process-quantum pr 300)
(get-process-wake-up pr)                         ; expect: 1700
(get-process-quantum pr)                         ; expect: 300
(get-processes)                                  ; expect: (<process r 400001> <process s 100004>)
; run-process on a queued process re-arms it and moves it; it is never
; linked twice.
(run-process pr)                                 ; expect: <process r 400001>
(run-process 'r)                                 ; expect: <process r 400001>
(get-processes)                                  ; expect: (<process s 100004> <process r 400001>)
(get-process-wake-up pr)                         ; expect: 1400
(kill-process pr)
(kill-process ps)
(get-processes)                                  ; expect: ()
; The wake-up time is answered in its low 24 bits.
(test-clock 16777316)                            ; expect: 16777316
(define pl (new-process 'a-run () 5 t () ()))    ; expect: pl
(run-process pl)                                 ; expect: <process a-run 200004>
(get-process-wake-up pl)                         ; expect: 105
(kill-process pl)
(test-clock 1400)                                ; expect: 1400

; A clock process: start, ticks with the elapsed time (initial delay
; included), end after its duration, then gone.
(define clock-log ())                            ; expect: clock-log
(define cp (new-clock-process (lambda () (note 'start))
                              (lambda (_e) (note _e))
                              (lambda () (note 'end))
                              'clock 20 100 30 ()))   ; expect: cp
(run-process cp)                                 ; expect: <process clock 300004>
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
cq                                               ; expect: <process no-tick 400004>
(run-process cq)                                 ; expect: <process no-tick 400004>
(give-time)
(taken)                                          ; expect: (start end)

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
