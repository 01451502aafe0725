; Load 0: the classes of the notebook. A class is made by new-class and
; filled by applying it to defslot and define forms. `send` runs a method
; with the instance as `self`; applying an instance to forms evaluates
; them inside it, where its slots are variables.

(define Note (new-class 'Note))
(Note
  (defslot title)
  (defslot body :default "")
  (define (get-title) title)
  (define (describe) (string-append title ": " body)))

(define Notebook (new-class 'Notebook))
(Notebook
  (defslot notes :default ())
  (define (add _title _body)
    (let ((_note (make-instance Note)))
      (_note (set! title _title) (set! body _body))
      (set! notes (append notes (list _note)))
      _note))
  (define (get-notes) notes)
  (define (size) (length notes))
  ; The first note whose title is _title: the search leaves the loop by a
  ; throw as soon as it finds it.
  (define (find-note _title)
    (catch 'found
      (for-each (lambda (_note) (when (equal? (send _note get-title) _title) (throw 'found _note))) notes)
      ())))
