; Layout is fixed by the first instance; reset-inited allows new slots
; without disturbing the instances already made.
(define (list . _xs) _xs)                   ; expect: list
(obj-root (define (print-self) "#<object>")) ; expect: print-self
(define Rec (new-class 'Rec))               ; expect: Rec
(Rec (defslot a :default 1) (defslot n :type byte :default 2)) ; expect: n
(define old (make-instance Rec))            ; expect: old
(old (set! a 'kept))                        ; expect: kept
(Rec (defslot b))                           ; expect error: 56 b
(Rec (defslot a :type word))                ; expect error: 57 :type
(Rec (defslot a :allocate? ()))             ; expect error: 57 :allocate?
(Rec (defslot a :colour 'red))              ; expect error: 2 :colour
(Rec (defslot a :default 3))                ; expect: a
(reset-inited Rec)                          ;
(Rec (defslot b :default 'bee) (defslot n :type word :default 9)) ; expect: n
(define new (make-instance Rec))            ; expect: new
(new (list a b n))                          ; expect: (3 bee 9)
(old (list a b n))                          ; expect: (kept bee 9)
(old (set! b 1))                            ; expect error: 2 b
(object-slots new)                          ; expect: (a n b)
(Rec (read-slot 'missing))                  ; expect error: 2 missing
(defslot loose)                             ; expect error: 2 loose
