; Window objects driven by an input script: every message a window hears
; is printed, so the transcript shows the event loop's rules at work.
(application "Windows"
  :output "windows.RI"
  :load ("windows.lsp")
  :frame (400 300)
  :flags (paint-desktop)
  :resources (("STR#" 128 ("One" "Two" "Third" ""))))
