; A method defined by one class lives in its symbol and is seen only from
; that class's descendants; a second definer moves it into tables.
(define (list . _xs) _xs)                   ; expect: list
(obj-root (define (print-self) "#<object>")) ; expect: print-self
(define Shape (new-class 'Shape))           ; expect: Shape
(define Circle (new-class 'Circle Shape))   ; expect: Circle
(define Tune (new-class 'Tune))             ; expect: Tune
(Shape (define (area) 'shape-area))         ; expect: area
(send (make-instance Circle) area)          ; expect: shape-area
area                                        ; expect error: 6 area
(send (make-instance Tune) area)            ; expect error: 6 area
(bound? 'area)                              ; expect: ()
(Tune (define (area) 'no-area))             ; expect: area
(list (send (make-instance Circle) area) (send (make-instance Tune) area)) ; expect: (shape-area no-area)
area                                        ; expect error: 6 area
; A name with a global value keeps it beside the classes' definitions.
(define colour 'grey)                       ; expect: colour
(Shape (define colour 'red))                ; expect: colour
(list colour (send (make-instance Circle) (lambda () colour))) ; expect: (grey red)
