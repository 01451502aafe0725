; The manifest of the example application: `talven pack examples/hello/hello.app`
; builds hello.RI beside it (or where -o says).
(application "Hello"
  :output "hello.RI"
  :load ("greetings.lsp" "main.lsp")   ; loaded in this order at start-up
  :frame (640 480)
  :flags (menu-bar)
  :language english
  :memory (:nodes 200000 :heap 2097152)
  :resources (("STR#" 128 ("Hello" "Bonjour" "Hola"))
              ("TEXT" 128 "about.txt" "about")))
