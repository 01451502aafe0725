; Menus: a menu bar built from menu objects, items chosen from it, by
; their keys and from a pop-up, and the font menu.
(application "Menus"
  :output "menus.RI"
  :load ("menus.lsp")
  :frame (360 240)
  :flags (menu-bar paint-desktop))
