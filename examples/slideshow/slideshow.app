; Slide show: pages of pictures and text, each brought to the screen
; through its own transition effect with its own sound. `talven pack
; slideshow.app` builds slideshow.RI; `talven slideshow.RI` runs it in a
; window (the buttons, the arrow keys, Space or the Show menu turn the
; pages), and `talven run --input test.input slideshow.RI` drives it
; headless from a script. The last page shown is kept in a database in the
; settings folder and the show starts there next time.
(application "Slide Show"
  :output "slideshow.RI"
  :load ("ui.lsp" "slideshow.lsp")
  :frame (480 360)
  :flags (menu-bar paint-desktop)
  :resources (("PICT" 128 "media/sunrise.pict" "Sunrise")
              ("PICT" 129 "media/shapes.pict" "Shapes")
              ("PICT" 130 "media/night.pict" "Night")
              ("PICT" 131 "media/waves.pict" "Waves")
              ("PICT" 132 "media/rings.pict" "Rings")
              ("snd " 128 "media/page1.snd" "Page 1")
              ("snd " 129 "media/page2.snd" "Page 2")
              ("snd " 130 "media/page3.snd" "Page 3")
              ("snd " 131 "media/page4.snd" "Page 4")
              ("snd " 132 "media/page5.snd" "Page 5")))
