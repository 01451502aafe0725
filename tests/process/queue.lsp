; The queue: order of wake-up, equal times in order of queueing, the head
; alone considered, moves by reset, wake-up, quantum changes and re-arming.
(test-clock 1150)                                ; expect: 1150
(define log ())                                  ; expect: log
(define (note _x) (set! log (cons _x log)))      ; expect: note
(define (taken) (let ((_l (reverse log))) (set! log ()) _l)) ; expect: taken
(define (a-run) (note 'a))                       ; expect: a-run
; Two processes due together alternate, one run per step, in the order
; they were queued.
(define (b-run) (note 'b))                       ; expect: b-run
(define pb (new-process 'b-run () 10 () () ()))  ; expect: pb
(define pc (new-process (lambda () (note 'c)) 'c 10 () () ())) ; expect: pc
(run-process pb)                                 ; expect: <process b-run 1>
(run-process pc)                                 ; expect: <process c 2>
(get-processes)                                  ; expect: (<process c 2> <process b-run 1>)
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

(test-clock 1400)                                ; expect: 1400
; reset-process and wake-up-process move the process in the queue: a head
; reset into the future lets a due process run.
(define pr (new-process (lambda () (note 'r)) 'r 100 () () ())) ; expect: pr
(define ps (new-process (lambda () (note 's)) 's 100 () () ())) ; expect: ps
(run-process pr)                                 ; expect: <process r 100002>
(run-process ps)                                 ; expect: <process s 100001>
(reset-process pr)
(get-processes)                                  ; expect: (<process r 100002> <process s 100001>)
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
(get-processes)                                  ; expect: (<process r 100002> <process s 100001>)
; run-process on a queued process re-arms it and moves it; it is never
; linked twice.
(run-process pr)                                 ; expect: <process r 100002>
(run-process 'r)                                 ; expect: <process r 100002>
(get-processes)                                  ; expect: (<process s 100001> <process r 100002>)
(get-process-wake-up pr)                         ; expect: 1400
(kill-process pr)
(kill-process ps)
(get-processes)                                  ; expect: ()
; The wake-up time is answered in its low 24 bits.
(test-clock 16777316)                            ; expect: 16777316
(define pl (new-process 'a-run () 5 t () ()))    ; expect: pl
(run-process pl)                                 ; expect: <process a-run 200001>
(get-process-wake-up pl)                         ; expect: 105
(kill-process pl)
(test-clock 1400)                                ; expect: 1400
