; Sketch pad: draw with the mouse in pencil, lines, boxes and ovals, in
; pen sizes and colours chosen from the menus or the colour chooser; the
; drawing and its caption are kept in a database in the settings folder
; and come back at the next run. pencil.curs is the pencil cursor (16 rows
; of image, 16 of mask, then the hot spot).
(application "Sketch"
  :output "sketch.RI"
  :load ("ui.lsp" "sketch.lsp")
  :frame (480 360)
  :flags (menu-bar paint-desktop)
  :resources (("CURS" 128 "pencil.curs" "Pencil")))
