; Transition effects: twelve windows whose screens show an old picture and
; whose offscreen images a new one, each effect stopped at chosen steps.
(application "Effects"
  :output "effects.RI"
  :load ("effects.lsp")
  :frame (570 250)
  :flags (paint-desktop))
