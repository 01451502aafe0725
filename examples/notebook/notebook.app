; The manifest of the notebook application: `talven pack notebook.app`
; builds notebook.RI beside it; `talven notebook.RI` runs it.
(application "Notebook"
  :output "notebook.RI"
  :load ("notes.lsp" "main.lsp")   ; Load 0 and Load 1, loaded in this order
  :frame (640 480)
  :language english
  :resources (("STR#" 128 ("Notebook" "notes kept" "Goodbye."))))
