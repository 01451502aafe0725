#!/usr/bin/env python3
"""Messages per second through the event loop: an application with a tree
of 50 window objects (5 top-level windows of 9 nested ones each), every one
answering mouse-move-system with a Lisp method, driven headless by a script
of 10,000 mouse moves that each land on a different point. The figure is
the moves counted by the methods over the run's time, net of the same
application's run on an empty script (start-up, boot and shutdown).

usage: dispatch_bench.py [--talven build/talven] [--moves 10000] [--rounds 5]
"""
import argparse
import os
import statistics
import subprocess
import tempfile
import time

APP = r'''
(define Moves 0)
(define Win (new-class 'Win obj-window))
(Win (defslot parent) (defslot position) (defslot size) (defslot handles-mouse? :default t)
     (defslot erase? :default t) (defslot color :default '(50000 50000 50000)) (defslot title :default "")
     (define (mouse-move-system _x _y) (set! Moves (+ Moves 1))))
(define (window _parent _position _size)
  (let ((_w (make-instance Win)))
    (_w (set! parent _parent) (set! position _position) (set! size _size))
    (send _w link-object)
    (send _w show)
    _w))
(define Sys (window () '(0 . 0) '(0 . 0)))
(define Desk (window Sys '(0 . 0) '(0 . 0)))
(let ((_i 0))
  (while (< _i 5)
    (let ((_top (window Desk (cons 10 (+ 10 (* 200 _i))) '(180 . 180))) (_j 0))
      (while (< _j 9)
        (window _top (cons (* 60 (quotient _j 3)) (* 60 (remainder _j 3))) '(60 . 60))
        (set! _j (+ _j 1))))
    (set! _i (+ _i 1))))
(define (do-quit) (princ Moves ()) t)
(define (toplevel-loop) (while t (process-events ())))
'''

MANIFEST = '''(application "Dispatch"
  :output "dispatch.RI"
  :load ("dispatch.lsp")
  :frame (1024 240))
'''


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser()
    ap.add_argument('--talven', default=os.path.join(here, '..', 'build', 'talven'))
    ap.add_argument('--moves', type=int, default=10000)
    ap.add_argument('--rounds', type=int, default=5)
    a = ap.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        with open(os.path.join(tmp, 'dispatch.lsp'), 'w') as f:
            f.write(APP)
        with open(os.path.join(tmp, 'dispatch.app'), 'w') as f:
            f.write(MANIFEST)
        subprocess.run([a.talven, 'pack', os.path.join(tmp, 'dispatch.app'), '-o', os.path.join(tmp, 'dispatch.RI')],
                       check=True)
        # Each move lands inside the top-level windows, on a point the last
        # one did not, so every move is reported.
        lines = []
        for i in range(a.moves):
            lines.append('move %d %d' % (12 + (i * 37) % 990, 12 + (i * 13) % 176))
        with open(os.path.join(tmp, 'moves.txt'), 'w') as f:
            f.write('\n'.join(lines + ['close']) + '\n')
        with open(os.path.join(tmp, 'empty.txt'), 'w') as f:
            f.write('close\n')

        def run(script):
            start = time.monotonic()
            out = subprocess.run([a.talven, 'run', '--input', os.path.join(tmp, script), 'dispatch.RI'], cwd=tmp,
                                 capture_output=True, text=True, check=True).stdout
            return time.monotonic() - start, int(out.strip().split()[-1] if out.strip() else 0)

        full, empty, counted = [], [], 0
        for _ in range(a.rounds):
            t, counted = run('moves.txt')
            full.append(t)
            empty.append(run('empty.txt')[0])
        net = statistics.median(full) - statistics.median(empty)
        print('moves sent to Lisp methods: %d of %d scripted' % (counted, a.moves))
        print('run: median %.3f s, empty script %.3f s, net %.3f s' % (statistics.median(full),
                                                                       statistics.median(empty), net))
        print('dispatch: %.0f messages per second' % (counted / net if net > 0 else 0))


if __name__ == '__main__':
    main()
