; Colours and cursors on a 256-colour screen: window colours through the
; palette, the colour chooser answered by the script, cursors by number.
(application "Appearance"
  :output "appearance.RI"
  :load ("appearance.lsp")
  :frame (240 160)
  :flags (paint-desktop)
  :resources (("CURS" 128 "cursor.bin")))
