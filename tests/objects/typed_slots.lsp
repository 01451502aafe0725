; Typed and packed slots round-trip their value ranges; defaults and
; initial values.
(define (list . _xs) _xs)                   ; expect: list
(obj-root (define (print-self) "#<object>")) ; expect: print-self
(define Cell (new-class 'Cell))             ; expect: Cell
(Cell (defslot flag :type boolean) (defslot small :type byte :default 5) (defslot mid :type word :default -3) (defslot any :default 'thing) (defslot later :initform (+ 20 22))) ; expect: later
(define c (make-instance Cell))             ; expect: c
(c (list flag small mid any))               ; expect: (() 5 -3 thing)
(c (set! flag 7) flag)                      ; expect: t
(c (set! flag ()) flag)                     ; expect: ()
(c (set! small 300) small)                  ; expect: 44
(c (set! small 128) small)                  ; expect: -128
(c (set! small -129) small)                 ; expect: 127
(c (set! mid 32768) mid)                    ; expect: -32768
(c (set! mid 70000) mid)                    ; expect: 4464
(c (set! mid 9000000) mid)                  ; expect: 21568
(c (set! small 'x))                         ; expect error: 2 x
(c (set! mid 1.5))                          ; expect error: 2 1.5
(c (list flag small mid any))               ; expect: (() 127 21568 thing)
(Cell (slot-initial-value 'later))          ; expect: 42
(Cell (slot-initial-value 'any))            ; expect: thing
(eq? (Cell (slot-default 'later)) (void))   ; expect: t
(Cell (list (slot-type 'small) (slot-allocate? 'small) (slot-link? 'small))) ; expect: (byte t ())
; Nine booleans: two bytes after the header.
(define Bits (new-class 'Bits))             ; expect: Bits
(Bits (defslot b1 :type boolean) (defslot b2 :type boolean) (defslot b3 :type boolean) (defslot b4 :type boolean) (defslot b5 :type boolean) (defslot b6 :type boolean) (defslot b7 :type boolean) (defslot b8 :type boolean) (defslot b9 :type boolean)) ; expect: b9
(define bits (make-instance Bits))          ; expect: bits
(bits (set! b1 t) (set! b9 t) (list b1 b2 b8 b9)) ; expect: (t () () t)
; Defaults changed in a superclass reach subclasses that did not set theirs.
(define Base (new-class 'Base))             ; expect: Base
(Base (defslot size :default 1))            ; expect: size
(define Kept (new-class 'Kept Base))        ; expect: Kept
(define Own (new-class 'Own Base))          ; expect: Own
(Own (defslot size :default 3))             ; expect: size
(Base (defslot size :default 2))            ; expect: size
(list ((make-instance Kept) size) ((make-instance Own) size)) ; expect: (2 3)
