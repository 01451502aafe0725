; Slides: pages of coloured panels brought to the screen through the
; transition effects. `talven pack slides.app` builds slides.RI;
; `talven slides.RI` runs it in a window (Space, the right arrow or a click
; for the next page, the left arrow for the one before), and
; `talven run --input test.input slides.RI` drives it headless from a script.
(application "Slides"
  :output "slides.RI"
  :load ("slides.lsp")
  :frame (360 260)
  :flags (paint-desktop))
