#!/usr/bin/env python3
"""Applications driven by input scripts, as an author's CI drives them:
`talven run --headless --input SCRIPT APP.RI`. A small application waits
for input like any other and reports what it sees of the run: the virtual
clock at each second, the frame's close box asking `do-quit`. Checked: every
kind of script line is taken, a bad line stops the run before it starts, a
used-up script ends the run with status 4 after a virtual minute, time
passes only as the script says (two runs give the same transcript and the
same screenshots), and screenshots show the frame as it stands.

usage: drive_test.py --talven PATH [--examples DIR]
"""
import argparse
import os
import subprocess
import sys
import tempfile

from checks import check, report


APP = r'''
; Waits for input, saying the virtual time at every whole second; the
; close box asks do-quit, which keeps the frame the first time.
(define Asked 0)
(define (do-quit)
  (set! Asked (+ Asked 1))
  (princ (list 'do-quit Asked (milliseconds)) ())
  (if (= Asked 1) (void) t))
(define (toplevel-loop)
  (let ((_second (quotient (milliseconds) 1000)))
    (while t
      (process-events ())
      (when (/= _second (quotient (milliseconds) 1000))
        (set! _second (quotient (milliseconds) 1000))
        (princ (list 'second _second) ())))))
'''

MANIFEST = '''(application "Driven"
  :output "driven.RI"
  :load ("driven.lsp")
  :frame (320 200)
  :flags (paint-desktop))
'''

# Every kind of line once (the menu line names no menu: the application
# has none, which is said and passed over).
EVERY_LINE = '''# every kind of line
move 10 10
press 20 20 right shift
release 20 20 right shift
click 30 30 ctrl alt
double 40 40
drag 10 10 100 80
key F5
key a ctrl
key Enter
type h\u00e9llo "quoted"
wait 2500
screenshot desk.png
screenshot-frame frame.png
alert 1
menu File Open
close
wait 500
close
'''


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--talven', required=True)
    ap.add_argument('--examples')
    args = ap.parse_args()
    talven = os.path.abspath(args.talven)
    with tempfile.TemporaryDirectory() as tmp:
        def write(name, text):
            with open(os.path.join(tmp, name), 'w', encoding='utf-8') as f:
                f.write(text)

        def run(*words):
            p = subprocess.run([talven] + list(words), cwd=tmp, capture_output=True, timeout=120)
            return p.returncode, p.stdout.decode('utf-8', 'replace'), p.stderr.decode('utf-8', 'replace')

        write('driven.lsp', APP)
        write('driven.app', MANIFEST)
        rc, _, err = run('pack', 'driven.app')
        check('packs', rc == 0, err)

        # A bad line is reported with its place, and nothing runs.
        write('bad.txt', 'move 1 1\n\n# fine so far\njump 3 4\n')
        rc, out, err = run('run', '--headless', '--input', 'bad.txt', 'driven.RI')
        check('bad line', rc == 2 and err.strip() == "bad.txt:4: unknown action 'jump'" and out == '',
              repr((rc, out, err)))
        for line, message in [('click 1', 'click needs a point X Y (whole numbers)'),
                              ('key Hyper', "unknown key 'Hyper'"),
                              ('press 1 2 left', "unknown word 'left' (right, middle, shift, ctrl or alt)"),
                              ('wait soon', 'usage: wait MS (0 to 86400000)'),
                              ('type \u4e2d', 'a character code page 1252 does not have')]:
            write('bad.txt', line + '\n')
            rc, _, err = run('run', '--input', 'bad.txt', 'driven.RI')
            check('bad line ' + line, rc == 2 and err.strip() == 'bad.txt:1: ' + message, repr((rc, err)))
        rc, _, err = run('run', '--input', 'missing.txt', 'driven.RI')
        check('missing script', rc == 2 and err.startswith('talven: missing.txt: No such file'), repr((rc, err)))

        # Every line kind: time passes only through the waits (2.5 s, then
        # half a second after the first close, which do-quit refuses).
        write('every.txt', EVERY_LINE)
        runs = []
        for n in range(2):
            rc, out, err = run('run', '--headless', '--input', 'every.txt', 'driven.RI')
            shots = [open(os.path.join(tmp, f), 'rb').read() for f in ('desk.png', 'frame.png')]
            runs.append((rc, out, err, shots))
        rc, out, err, shots = runs[0]
        want = ['(second 1)', '(second 2)', '(do-quit 1 2500)', '(second 3)', '(do-quit 2 3000)']
        check('every line: transcript', rc == 0 and out.splitlines() == want, repr((rc, out, err)))
        check('every line: the menu line is said and passed over',
              "every.txt:16: menu: no title 'File' in the menu bar" in err, repr(err))
        check('every line: repeatable', runs[0] == runs[1], repr((runs[0][:3], runs[1][:3])))
        check('every line: screenshots are PNG', all(s.startswith(b'\x89PNG') for s in shots))
        check('every line: the desktop area is smaller than the frame', len(shots[0]) <= len(shots[1]))

        # A used-up script: the application waits a virtual minute, then the
        # run ends with status 4, at once in real time.
        write('short.txt', 'wait 1000\n')
        rc, out, err = run('run', '--input', 'short.txt', 'driven.RI')
        lines = out.splitlines()
        check('exhausted: status and line', rc == 4 and err.strip() == 'talven: input script exhausted',
              repr((rc, err)))
        check('exhausted: a virtual minute waited', lines[:1] == ['(second 1)'] and lines[-1] in ('(second 60)', '(second 61)'),
              repr(lines[-3:]))

        # quit ends the run at once with status 0.
        write('quit.txt', 'wait 1200\nquit\n')
        rc, out, err = run('run', '--input', 'quit.txt', 'driven.RI')
        check('quit', rc == 0 and out.splitlines() == ['(second 1)'], repr((rc, out, err)))
        # The example application runs the same under a script: its one
        # process-events takes the screenshot line, then it says goodbye.
        if args.examples:
            rc, _, err = run('pack', os.path.join(args.examples, 'notebook', 'notebook.app'), '-o', 'notebook.RI')
            write('note.txt', 'screenshot note.png\nwait 100\n')
            rc, out, err = run('run', '--input', 'note.txt', 'notebook.RI')
            check('example: runs to its goodbye', rc == 0 and out.splitlines()[-1] == 'Goodbye.' and err == '',
                  repr((rc, out[-80:], err)))
            check('example: the screenshot was taken', os.path.exists(os.path.join(tmp, 'note.png')))
    return report()


if __name__ == '__main__':
    sys.exit(main())
