; send: arguments in the caller's context, the message in the receiver's;
; non-objects; the current object after an error.
(define (list . _xs) _xs)                   ; expect: list
(obj-root (define (print-self) "#<object>")) ; expect: print-self
(define Echo (new-class 'Echo))             ; expect: Echo
(Echo (defslot who :default 'echo) (define (back _x) (list _x who))) ; expect: back
(define Asker (new-class 'Asker))           ; expect: Asker
(Asker (defslot who :default 'asker) (define (ask _o) (send _o back who))) ; expect: ask
(send (make-instance Asker) ask (make-instance Echo)) ; expect: (asker echo)
(send (make-instance Echo) unknown)         ; expect error: 6 unknown
(self)                                      ; expect: #<class TALVEN>
(send 5 +  1 2)                             ; expect: 3
(eq? (send 5 self) (self))                  ; expect: t
(send 'x 5)                                 ; expect error: 5 5
(Echo (define (fail) (+ 'a 1)))             ; expect: fail
(send (make-instance Echo) fail)            ; expect error: 2 a
(self)                                      ; expect: #<class TALVEN>
(apply send (list (make-instance Echo) 'back 1)) ; expect: (1 echo)
; Applying an object evaluates forms with it current.
(define e (make-instance Echo))             ; expect: e
(eq? (e (self)) e)                          ; expect: t
(e who)                                     ; expect: echo
(e (set! who 'changed) (back 0))            ; expect: (0 changed)
(Echo who)                                  ; expect: echo
