; The resource manager with no file open, refused files, and the helpers
; that read string lists and help indexes from handles.
(openresfile "no-such-file.rsrc")      ; expect: -1
(reserror)                             ; expect: -37
(openresfile "resources.lsp")          ; expect: -1
(reserror)                             ; expect: -37
(resource-fork-exists? "resources.lsp") ; expect: ()
(openrf? "resources.lsp")              ; expect: ()
(curresfile)                           ; expect: 0
(count1types)                          ; expect: 0
(countresources "PICT")                ; expect: 0
(getresource "PICT" 1)                 ; expect: <null resource>
(reserror)                             ; expect: -192
(getindresource "PICT" 0)              ; expect: <null resource>
(reserror)                             ; expect: 0
(sizeresource (getpicture 1))          ; expect: -1
(closeresfile 3)                       ; expect error: 36 -193
(updateresfile 3)                      ; expect error: 36 -193
(writeresource (getpicture 1))         ; expect error: 36 -192
(rmveresource (getpicture 1))          ; expect error: 36 -196
(addresource (new-handle 2) "TEST" 128 "x") ; expect error: 36 -194
(uniqueid "TEST")                      ; expect: 128
(uniqueid "TEST")                      ; expect: 129
(unique1id "ELSE")                     ; expect: 128
(equal? (get-ind-string 1 1) "")       ; expect: t
(get-nb-string 1)                      ; expect: 0

; A help index: entries of a 4-byte field and a name, padded to even.
(define h (new-handle 14))             ; expect: h
(define p (hlock h))                   ; expect: p
(mset 1 3 p 4)                         ; expect: 3
(mset 1 97 p 5)                        ; expect: 97
(mset 1 98 p 6)                        ; expect: 98
(mset 1 99 p 7)                        ; expect: 99
(mset 1 1 p 12)                        ; expect: 1
(mset 1 122 p 13)                      ; expect: 122
(help-get-all-name h)                  ; expect: ("abc" "z")
(help-get-offset h 1)                  ; expect: 8
(help-get-offset h 2)                  ; expect: 14
(help-get-no h 9)                      ; expect: 2
(help-get-no h 0)                      ; expect: 0
(get-strings-count h)                  ; expect: 0
(mset 1 7 p 1)                         ; expect: 7
(get-strings-count h)                  ; expect: 7
; The last entry claims more name than the handle holds: the walk stops.
(mset 1 200 p 12)                      ; expect: 200
(help-get-all-name h)                  ; expect: ("abc")
