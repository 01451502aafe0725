; Mixins and copy-down: among several superclasses the first that has an
; entry wins; later definitions reach the classes that still inherit them.
(define (list . _xs) _xs)                  ; expect: list
(define Left (new-mixin 'Left))            ; expect: Left
(define Right (new-mixin 'Right))          ; expect: Right
(Left (define (side) 'left))               ; expect: side
(Right (define (side) 'right))             ; expect: side
(define Both (new-class 'Both Left Right)) ; expect: Both
(ascendants Both)                          ; expect: (#<mixin Left> #<mixin Right> #<class obj-root>)
(define b (make-instance Both))            ; expect: b
(send b side)                              ; expect: left
(Right (define (side) 'right-2))           ; expect: side
(send b side)                              ; expect: left
(Left (define (side) 'left-2))             ; expect: side
(send b side)                              ; expect: left-2
; A subclass that overrides keeps its own; a sibling that inherits follows.
(define Own (new-class 'Own Left))         ; expect: Own
(define Heir (new-class 'Heir Left))       ; expect: Heir
(Own (define (side) 'own))                 ; expect: side
(Left (define (side) 'left-3))             ; expect: side
(list (send (make-instance Own) side) (send (make-instance Heir) side) (send b side)) ; expect: (own left-3 left-3)
(superclass (make-instance Left))          ; expect: ()
(genealogy Heir)                           ; expect: (#<class Heir> #<mixin Left> #<class obj-root>)
(new-class 'Bad 'Left)                     ; expect error: 2 Left
