; The pathname notation: joining lists into texts and splitting texts back.
(talven->os '("C:" "dir" "f.txt"))          ; expect: "C:\\dir\\f.txt"
(talven->os '("C:" ""))                     ; expect: "C:\\"
(os->talven "C:\\")                         ; expect: ("C:")
(os->talven "C:\\dir\\f.txt")               ; expect: ("C:" "dir" "f.txt")
(os->talven "C:dir\\f")                     ; expect: ("C:" "dir" "f")
(os->talven "dir\\\\f\\")                   ; expect: ("dir" "" "f")

; A rooted path keeps its root both ways.
(os->talven "\\dir\\f")                     ; expect: ("" "dir" "f")
(talven->os (os->talven "\\dir\\f"))        ; expect: "\\dir\\f"

; POSIX paths are named through the drive table.
(os->talven "/opt/app/x")                   ; expect: ("Z:" "opt" "app" "x")
(talven->os "/opt/app/x")                   ; expect: "/opt/app/x"

; Symbols stand for their values; lists nest; nil adds nothing.
(define app '("C:" "app"))                  ; expect: app
(talven->os '(app ("lib" ()) "x.lsp"))      ; expect: "C:\\app\\lib\\x.lsp"
(parse-pathname '(app "y"))                 ; expect: "C:\\app\\y"
(talven->os '(never-bound "x"))             ; expect error: 6 never-bound
(talven->os 12)                             ; expect error: 2 12
(talven->os '("a" . "b"))                   ; expect error: 2

; 255 characters at most.
(define long (make-string 252 #\x))         ; expect: long
(string-length (talven->os (list "C:" long)))   ; expect: 255
(talven->os (list "C:" long "y"))           ; expect error: 2

; Taking pathnames apart.
(make-pathname "C:\\dir\\sub\\f.txt")       ; expect: ("C:" ("dir" "sub") "f.txt")
(pathname-name '(app "x.lsp"))              ; expect: "x.lsp"
(pathname-directory '(app "x.lsp"))         ; expect: ("C:" "app")
(pathname-volume '((app "lib") "x"))        ; expect: "C:"
(pathname=? '(app "X.LSP") "c:\\APP\\x.lsp")      ; expect: t
(pathname=? '(app "x.lsp") "c:\\app\\y.lsp")      ; expect: ()
(pathname-inclusion app "C:\\App\\lib\\x")  ; expect: t
(pathname-inclusion "C:\\App\\lib\\x" app)  ; expect: ()
(resource-pathname? 3)                      ; expect: t
(resource-pathname? app)                    ; expect: ()
(resource-pathname? "x")                    ; expect: t
