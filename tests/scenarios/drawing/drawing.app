; Drawing from Lisp in a window's paint method: every shape in its four
; operations, pen sizes and modes, patterns, lines and text.
(application "Drawing"
  :output "drawing.RI"
  :load ("drawing.lsp")
  :frame (320 240)
  :flags (paint-desktop))
