; How a process ends: once, by killing itself inside its run, by an error
; or a throw that leaves its run.
(test-clock 1200)                                ; expect: 1200
(define log ())                                  ; expect: log
(define (note _x) (set! log (cons _x log)))      ; expect: note
(define (taken) (let ((_l (reverse log))) (set! log ()) _l)) ; expect: taken
(define (a-run) (note 'a))                       ; expect: a-run
; A once process runs once and is gone.
(define po (new-process (lambda () (note 'once)) 'once 10 () t ())) ; expect: po
(run-process po)                                 ; expect: <process once 1>
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
(run-process pk)                                 ; expect: <process killer 100001>
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
(run-process pf)                                 ; expect: <process faulty 200001>
(run-process pg)                                 ; expect: <process a-run 2>
(run-process pt)                                 ; expect: <process thrower 3>
(run-process pu)                                 ; expect: <process lost 4>
(begin (give-time) 'went-on)                     ; expect: went-on
(catch 'out (give-time) (give-time) 'kept)       ; expect: kept
(give-time)
(taken)                                          ; expect: (faulty (error 2 5) a (error 17 out))
(get-processes)                                  ; expect: (<process a-run 2>)
(set! Error-Handler ())                          ; expect: ()
(kill-process pg)
(test-clock 1400)                                ; expect: 1400
