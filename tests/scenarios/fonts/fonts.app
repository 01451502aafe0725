; Text in the installed fonts: two families in three sizes, the faces,
; a family named by a string, one that is not installed (it falls back),
; the embedded font beside them, and the measures programs lay text out by.
; Without the DejaVu fonts the run exits 77 and the scenario is skipped.
(application "Fonts"
  :output "fonts.RI"
  :load ("fonts.lsp")
  :frame (320 240)
  :flags (paint-desktop))
