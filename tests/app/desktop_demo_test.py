#!/usr/bin/env python3
"""The slide show through the desktop back-end: packed, run as `make demo`
runs it on a desktop (a virtual X server here), its page turned with the
arrow key and a click on its Next button, and closed as a window manager
closes a window. Reuses the X tooling of the back-end's smoke test; skips
(status 77) only when Xvfb and xdotool cannot be had."""
import argparse
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'platform', 'sdl_smoke'))
import sdl_smoke as x  # noqa: E402

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..')


class Talven(x.Program):
    def __init__(self, args, cwd, env, log):  # noqa: super is for the smoke program's arguments
        self.proc = subprocess.Popen(args, cwd=cwd, stdout=subprocess.PIPE, stderr=log, env=env,
                                     preexec_fn=x.die_with_parent, text=True)
        self.lines = []
        self.queue = x.queue.Queue()
        x.threading.Thread(target=self._read, daemon=True).start()


def demo(talven, work, log):
    app = os.path.join(work, 'slideshow.RI')
    x.run([talven, 'pack', os.path.join(ROOT, 'examples', 'slideshow', 'slideshow.app'), '-o', app], dict(os.environ))
    xvfb, display = x.start_xvfb(log)
    children = [xvfb]
    try:
        env = {k: v for k, v in os.environ.items() if k not in ('WAYLAND_DISPLAY', 'XAUTHORITY')}
        env.update(DISPLAY=display, SDL_VIDEODRIVER='x11', SDL_AUDIODRIVER='dummy',
                   XDG_CONFIG_HOME=os.path.join(work, 'config'), XDG_STATE_HOME=os.path.join(work, 'state'))
        show = Talven([talven, app], work, env, log)
        children.append(show.proc)
        show.wait_line('starting at page 1', limit=120)
        window = int(x.wait_until('the frame on the X screen', lambda: x.run(
            ['xdotool', 'search', '--name', '^Slide Show$'], env).split()[:1] or None, 60)[0])
        geometry = dict(line.split('=', 1) for line in x.run(
            ['xdotool', 'getwindowgeometry', '--shell', str(window)], env).split())
        wx, wy = int(geometry['X']), int(geometry['Y'])
        x.run(['xdotool', 'windowfocus', '--sync', str(window)], env)
        mark = show.mark()
        x.run(['xdotool', 'key', 'Right'], env)
        show.wait_line('page 2: Shapes', since=mark, limit=60)
        # The Next button, below the menu bar (18 pixels) in the frame.
        mark = show.mark()
        x.run(['xdotool', 'mousemove', '--sync', str(wx + 415), str(wy + 18 + 307)], env)
        x.run(['xdotool', 'click', '1'], env)
        show.wait_line('page 3: Night', since=mark, limit=60)
        print('desktop demo: the slide show turned its pages on %s' % display)
        x.send_close_request(display, window)
        code = show.proc.wait(timeout=60)
        if code != 0:
            raise x.Failure('the slide show ended with status %d' % code)
    finally:
        for child in reversed(children):
            if child.poll() is None:
                child.terminate()
                try:
                    child.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    child.kill()
                    child.wait()


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument('--talven', required=True)
    a = ap.parse_args()
    if not x.ensure_tools():
        return x.SKIP
    with tempfile.TemporaryDirectory(prefix='talven-desktop-demo-') as work:
        with open(os.path.join(work, 'log'), 'w') as log:
            try:
                demo(os.path.abspath(a.talven), work, log)
            except x.Failure as e:
                log.flush()
                print('FAIL desktop demo: %s' % e)
                print(open(os.path.join(work, 'log')).read()[-3000:])
                return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
