; Running out of memory in the middle of a form drops the form whole: none
; of its remaining elements is evaluated as a form of its own. The heap is
; filled (a collection in each allocation must stay cheap), then a reader
; macro inside the form asks for more than is left.
(define ran 'no)                         ; expect: ran
(define hog ())                          ; expect: hog
(define spare (make-string 1000))        ; expect: spare
(catch 'toplevel (while t (set! hog (cons (make-string 32000) hog))))  ; expect: ()
(catch 'toplevel (while t (set! hog (cons (make-string 1000) hog))))   ; expect: ()
(catch 'toplevel (while t (set! hog (cons (make-string 10) hog))))     ; expect: ()
(set! spare ())                          ; expect: ()
(dmc 126 (make-string 32000) (make-string 32000) 0)
(define broken (list 1 2 ~
  (set! ran 'yes)
  5))
(set! hog ())                            ; expect: ()
ran                                      ; expect: no
(list 'a 1)                              ; expect: (a 1)
(typech 126 6)                           ; expect: 6

; A reading error inside a list that spans lines drops the whole list, its
; strings, character literals and comments included.
(list 1 ")" #\) ; )
  #\ab                                   ; expect error: 2 ab
  (set! ran 'yes))
ran                                      ; expect: no
(list "after" 2)                         ; expect: ("after" 2)
