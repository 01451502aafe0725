; A small windowed application: `talven pack tiles.app` builds tiles.RI;
; `talven tiles.RI` runs it in a window, and
; `talven run --input test.input tiles.RI` drives it headless from a script.
(application "Tiles"
  :output "tiles.RI"
  :load ("tiles.lsp")
  :frame (360 260)
  :flags (paint-desktop)
  :resources (("STR#" 128 ("Tiles" "Colours"))))
