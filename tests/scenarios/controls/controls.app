; The standard controls driven by the mouse and the keyboard: each one says
; when it is chosen, and F5 reports the state of them all.
(application "Controls"
  :output "controls.RI"
  :load ("controls.lsp")
  :frame (400 300)
  :flags (paint-desktop)
  :resources (("PICT" 128 "../../../examples/slideshow/media/shapes.pict" "Shapes")))
