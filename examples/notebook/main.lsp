; Load 1: the application. The runtime loads every Load resource, calls
; init-talven and init-user if they are defined, sends start-appl to Appl,
; then calls toplevel-loop. The loop is the application's own; it ends
; the run with (quit).

; prin writes a value without a line end, princ ends the line.
(define (say . _words)
  (for-each (lambda (_w) (prin _w ())) _words)
  (princ "" ()))

(define (init-talven)
  (say (get-ind-string 128 1) " starts on a " Machine " machine."))

(define App (new-class 'App))
(App
  (defslot book)
  (define (get-book) book)
  (define (start-appl)
    (set! book (make-instance Notebook))
    (send book add "shopping" "bread, cheese")
    (send book add "call" "the plumber, Tuesday")
    (send book add "idea" "a notebook that keeps itself")))
(set! Appl (make-instance App))

; Writes the notes to a file in the temporary folder (display writes strings
; with their quotes, so that read gives them back whole) and reads them back.
(define (through-a-file _book)
  (let* ((_path (talven-file-create () "NOTE" "TEXT" () t t))
         (_out (file-open _path 2)))
    (display (map (lambda (_n) (send _n describe)) (send _book get-notes)) (cons file-write-ch _out))
    (file-set-pos _out 0)
    (let ((_back (read (cons file-read-ch _out))))
      (file-close _out)
      (file-remove _path ())
      _back)))

; Keeps the notes in a database, closes it, and opens it again to count them.
(define (through-a-database _book)
  (let* ((_path (talven-file-create () "NOTE" "DATA" () t t))
         (_id 0))
    (create-database-in-subr _path "NOTE" "DATA")
    (let ((_db (open-database _path 2)))
      (for-each (lambda (_n) (set! _id (+ _id 1)) (put-record-string (send _n describe) "NOTE" _id _db))
                (send _book get-notes))
      (close-database _db ()))
    (let* ((_db (open-database _path 1))
           (_result (list (count-records "NOTE" _db) (get-record-string "NOTE" 2 _db))))
      (close-database _db ())
      (file-remove _path ())
      _result)))

(define (toplevel-loop)
  (let ((_book (send Appl get-book)))
    (say (send _book size) " " (get-ind-string 128 2) ":")
    (for-each (lambda (_n) (say "  " (send _n describe))) (send _book get-notes))
    (say "found by a throw: " (send (send _book find-note "call") describe))
    (say "not there: " (send _book find-note "holiday"))
    (say "read back from a file: " (length (through-a-file _book)) " notes")
    (say "kept in a database: " (through-a-database _book))
    (process-events ())
    (say (get-ind-string 128 3))
    (quit)))
