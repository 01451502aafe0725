; Puzzle: the eight sliding tiles, put back in order. Click a tile next to
; the gap (or use the arrow keys) to slide it; Hint and Solve ask a search
; written as clauses for the shortest way home. `talven pack puzzle.app`
; builds puzzle.RI; `talven run --input test.input puzzle.RI` plays it
; headless from a script.
(application "Puzzle"
  :output "puzzle.RI"
  :load ("ui.lsp" "search.lsp" "puzzle.lsp")
  :frame (400 300)
  :flags (menu-bar paint-desktop)
  :resources (("snd " 128 "../slideshow/media/page1.snd" "Slide")
              ("snd " 129 "../slideshow/media/page5.snd" "Won")))
