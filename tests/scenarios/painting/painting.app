; The paint pipeline: overlapping, nested, transparent, hidden and framed
; window objects, and an offscreen image, shown in screenshots.
(application "Painting"
  :output "painting.RI"
  :load ("painting.lsp")
  :frame (400 300)
  :flags (paint-desktop))
