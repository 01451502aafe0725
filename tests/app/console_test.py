#!/usr/bin/env python3
"""The console as a user meets it: the UTF-8 boundary on pipes, readable
errors with their place, the command line's help, and the prompt driven
through a pseudo-terminal (accented text, errors, Ctrl-C, history).

usage: console_test.py --talven PATH (boundary|cli|prompt)
"""
import argparse
import os
import pty
import select
import termios
import subprocess
import sys
import tempfile
import time

FAILURES = []


def check(what, ok, detail=''):
    if not ok:
        FAILURES.append('%s %s' % (what, detail))


def run(talven, args, stdin=b'', env=None, cwd=None):
    p = subprocess.run([talven] + args, input=stdin, capture_output=True, timeout=60, env=env, cwd=cwd)
    return p.returncode, p.stdout, p.stderr


def boundary(talven):
    # Accented text read from a UTF-8 pipe comes back byte for byte.
    text = 'héllo wörld ÀÉÎõü ça coûte 5 € – “quoted” … ß'.encode('utf-8')
    rc, out, _ = run(talven, [], b'(display (readline))' + text + b'\n')
    check('round trip', out.startswith(b'"' + text + b'"') or out.startswith(text), repr(out))
    # A character code page 1252 lacks becomes '?' with a warning.
    rc, out, err = run(talven, [], '(readline)a中b\n'.encode('utf-8'))
    check('unmapped input', b'"a?b"' in out and b'warning' in err, repr((out, err)))
    # Bytes that are not UTF-8 are taken as code page 1252 already.
    rc, out, _ = run(talven, [], b'(readline)caf\xe9\n')
    check('invalid utf-8 kept', 'café'.encode('utf-8') in out, repr(out))
    # The printer's carriage returns reach a pipe as line feeds; code page
    # 1252 characters of the upper half arrive as UTF-8.
    with tempfile.TemporaryDirectory() as d:
        with open(os.path.join(d, 'p.lsp'), 'wb') as f:
            f.write(b'(display 1) (new-line) (display (char 128)) (new-line) (display "\xe9")')
        rc, out, _ = run(talven, ['p.lsp'], cwd=d)
    check('line feeds', b'\r' not in out and out.count(b'\n') >= 2, repr(out))
    check('upper half', '€'.encode('utf-8') in out and 'é'.encode('utf-8') in out, repr(out))
    # --raw-output passes the machine's bytes through.
    rc, out, _ = run(talven, ['--raw-output', '-e', '(display (char 233))'])
    check('raw output', b'\xe9' in out and b'\r' in out and b'\n' not in out, repr(out))


def cli(talven):
    with tempfile.TemporaryDirectory() as d:
        bad = os.path.join(d, 'bad.lsp')
        with open(bad, 'w') as f:
            f.write('; a program with an error on line 7\n(define x 1)\n\n(define (f _y)\n  _y)\n\n'
                    '   (car (f 5)) ; here\n(display "never")\n')
        rc, out, err = run(talven, ['bad.lsp'], cwd=d)
        check('file:line', err.startswith(b'bad.lsp:7: error 2 (wrong type or bad argument): 5'), repr(err))
        check('status 1', rc == 1 and b'never' not in out, repr((rc, out)))
        check('no alert', b'An error has occured' not in err, repr(err))
        # An error inside a method names the object it happened in.
        with open(bad, 'w') as f:
            f.write('(obj-root (define (print-self) "#<an object>"))\n(define C (new-class \'C))\n(C (define (m) (car 7)))\n(send (make-instance C) m)\n')
        rc, out, err = run(talven, ['bad.lsp'], cwd=d)
        check('object named', err.startswith(b'bad.lsp:3: error 2') and b', in car, in #<an object>' in err, repr(err))
        # An application's own handler wins over the command line's.
        with open(bad, 'w') as f:
            f.write('(define (h _k _n _v _o) (display "mine"))\n(set! Error-Handler h)\n\n(car 5)\n')
        rc, out, err = run(talven, ['bad.lsp'], cwd=d)
        check('handler wins', b'mine' in out and b'bad.lsp:' not in err, repr((out, err)))
        # A zero byte inside a string literal is refused with its line,
        # never a string silently cut short.
        with open(bad, 'wb') as f:
            f.write(b'(define a 1)\n(display "ab\0cd")\n')
        rc, out, err = run(talven, ['bad.lsp'], cwd=d)
        check('zero byte in a string', rc == 1 and err.startswith(b'bad.lsp:2: error 2') and b'zero byte' in err
              and out == b'', repr((rc, out, err)))
        # A source with the coding line whose bytes are not UTF-8: its line,
        # status 1 like any fault of a file (0 for the transcript).
        with open(bad, 'wb') as f:
            f.write(b'; -*- coding: utf-8 -*-\n(display "a\xff")\n')
        rc, _, err = run(talven, ['bad.lsp'], cwd=d)
        rc2, _, _ = run(talven, ['--transcript', 'bad.lsp'], cwd=d)
        check('bad UTF-8', rc == 1 and rc2 == 0 and err.startswith(b'talven: bad.lsp:2:'), repr((rc, rc2, err)))
        # The transcript keeps the machine's own report line.
        with open(bad, 'w') as f:
            f.write('(car 5)\n')
        rc, out, err = run(talven, ['--transcript', 'bad.lsp'], cwd=d)
        check('transcript line', out.startswith(b'Error: 2, 5, '), repr(out))
    # A top-level form's lexical variables are locals of a function made for
    # it, from -e as at the prompt; one bound nowhere is still unbound.
    rc, out, err = run(talven, ['-e', '(let* ((_a 20) (_b (+ _a 1))) (* _a _b))'])
    check('-e lexicals', rc == 0 and out == b'420\n', repr((rc, out, err)))
    rc, out, err = run(talven, ['-e', '(let ((_a 1)) (+ _a _b))'])
    check('-e unbound lexical', rc == 1 and err.startswith(b'error 6 (unbound symbol or variable): _b'), repr((rc, err)))
    # Several -e run in turn, each converted from UTF-8 like piped input.
    rc, out, err = run(talven, ['-e', '(string-length "é")', '-e', '(display "ça")'])
    check('-e twice, UTF-8', rc == 0 and out == '1\n"ça"\n"ça"\n'.encode('utf-8'), repr((rc, out, err)))
    rc, out, err = run(talven, ['-e', '(car 1)', '-e', '(display 2)'])
    check('-e stops at an error', rc == 1 and b'2' not in out, repr((rc, out)))
    with tempfile.TemporaryDirectory() as d:
        # UTF-8 text without the coding line: read as code page 1252, with
        # one warning that says what to add.
        with open(os.path.join(d, 'u.lsp'), 'wb') as f:
            f.write(b'(define a 1)\n(display (string-length "caf\xc3\xa9"))\n(display "\xc3\xa9")\n')
        rc, out, err = run(talven, ['u.lsp'], cwd=d)
        check('coding-line warning', rc == 0 and out.startswith(b'5') and err.count(b'warning') == 1 and
              err.startswith(b'talven: u.lsp:2: warning:') and b'; -*- coding: utf-8 -*-' in err, repr((out, err)))
        rc, out, err = run(talven, ['missing.lsp'], cwd=d)
        check('missing file', rc == 2 and err == b'talven: missing.lsp: No such file or directory\n', repr(err))
        # The packer refuses a manifest without code, and lists the keys.
        with open(os.path.join(d, 'm.app'), 'w') as f:
            f.write('(application "T" :output "x.RI")\n')
        rc, out, err = run(talven, ['pack', 'm.app'], cwd=d)
        check('no :load', rc == 1 and err.startswith(b'talven: m.app:1: no :load'), repr(err))
        with open(os.path.join(d, 'm.app'), 'w') as f:
            f.write('(application "T" :load ("u.lsp") :lod 1)\n')
        rc, out, err = run(talven, ['pack', 'm.app'], cwd=d)
        check('unknown key', rc == 1 and b'unknown key :lod (the keys: :output :load' in err, repr(err))
    rc, out, _ = run(talven, ['--help'])
    check('help', rc == 0 and b'--transcript' in out and b'repl' in out and b'--raw-output' in out, repr(out))
    rc2, out2, _ = run(talven, ['help'])
    check('talven help', rc2 == 0 and out2 == out, repr(out2))
    rc, out, err = run(talven, ['help', 'bogus'])
    check('help of nothing', rc == 2 and err.startswith(b'talven help: unknown command bogus'), repr(err))
    for sub in ('run', 'repl', '-e', '--transcript', 'pack', 'unpack', 'rsrc', 'db', '--smoke', 'pict'):
        rc, out, _ = run(talven, [sub, '--help'])
        rc2, out2, _ = run(talven, ['help', sub])
        check('help of ' + sub, rc == 0 and out.startswith(b'usage: talven') and rc2 == 0 and out2 == out, repr(out))
    rc, out, err = run(talven, ['--bogus'])
    check('unknown option', rc == 2 and b'unknown option --bogus' in err, repr(err))
    pict(talven)


def pict(talven):
    """talven pict render: a picture file to a PNG, damage reported on one line."""
    import struct
    rc, out, _ = run(talven, ['pict', '--help'])
    check('pict help', rc == 0 and out.startswith(b'usage: talven pict render'), repr(out))
    with tempfile.TemporaryDirectory() as d:
        # A version 1 picture 4 by 2: a painted rectangle, then the end.
        body = struct.pack('>Hhhhh', 0, 0, 0, 2, 4) + b'\x11\x01' + b'\x31' + struct.pack('>hhhh', 0, 0, 2, 2) + b'\xff'
        with open(os.path.join(d, 'a.pict'), 'wb') as f:
            f.write(bytes(512) + body)
        rc, _, err = run(talven, ['pict', 'render', 'a.pict', 'a.png'], cwd=d)
        png = open(os.path.join(d, 'a.png'), 'rb').read() if rc == 0 else b''
        check('pict render', rc == 0 and png.startswith(b'\x89PNG') and struct.unpack('>II', png[16:24]) == (4, 2),
              repr((rc, err)))
        rc, _, err = run(talven, ['pict', 'render', 'a.pict', 'b.png', '40x20'], cwd=d)
        png = open(os.path.join(d, 'b.png'), 'rb').read() if rc == 0 else b''
        check('pict scaled', rc == 0 and struct.unpack('>II', png[16:24]) == (40, 20), repr((rc, err)))
        rc, _, err = run(talven, ['pict', 'render', 'missing.pict', 'c.png'], cwd=d)
        check('pict missing', rc == 1 and err.startswith(b'talven: missing.pict:') and err.count(b'\n') == 1, repr(err))
        with open(os.path.join(d, 'junk.pict'), 'wb') as f:
            f.write(bytes(600))
        rc, _, err = run(talven, ['pict', 'render', 'junk.pict', 'c.png'], cwd=d)
        check('pict junk', rc == 1 and b'not a picture' in err and not os.path.exists(os.path.join(d, 'c.png')),
              repr(err))
        # The same picture as PICT 501 of a resource file.
        data = struct.pack('>I', len(body)) + body
        refs = struct.pack('>H4sHH', 0, b'PICT', 0, 10) + struct.pack('>hHB3sI', 501, 0xFFFF, 0, bytes(3), 0)
        rmap = bytes(24) + struct.pack('>HH', 28, 28 + len(refs)) + refs
        head = struct.pack('>IIII', 256, 256 + len(data), len(data), len(rmap))
        with open(os.path.join(d, 'APP.RI'), 'wb') as f:
            f.write(head + bytes(240) + data + rmap)
        rc, _, err = run(talven, ['pict', 'render', 'APP.RI', 'r.png', '--id', '501'], cwd=d)
        check('pict resource', rc == 0 and open(os.path.join(d, 'r.png'), 'rb').read() == open(os.path.join(d, 'a.png'), 'rb').read(),
              repr((rc, err)))
        rc, _, err = run(talven, ['pict', 'render', 'APP.RI', 'r.png', '--id', '502'], cwd=d)
        check('pict no resource', rc == 1 and b'no PICT resource 502' in err, repr(err))
        # Cut short inside its rectangle, or stopped by an opcode outside the
        # set: drawn up to there, written, reported with the place, status 1.
        for name, damaged, said in [('cut.pict', body[:-4], b'cut short in the opcode at byte 524'),
                                    ('odd.pict', body[:-1] + b'\x15', b'opcode 0x0015 at byte 533')]:
            with open(os.path.join(d, name), 'wb') as f:
                f.write(bytes(512) + damaged)
            rc, _, err = run(talven, ['pict', 'render', name, 'd.png'], cwd=d)
            check('pict damaged ' + name, rc == 1 and said in err and os.path.exists(os.path.join(d, 'd.png')),
                  repr((rc, err)))
            os.remove(os.path.join(d, 'd.png'))
        rc, _, err = run(talven, ['pict', 'render', 'a.pict', 'c.png', 'big'], cwd=d)
        check('pict bad size', rc == 2 and b'not a size' in err, repr(err))


class Prompt:
    """talven's prompt on a pseudo-terminal."""

    def __init__(self, talven, env):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.execve(talven, [talven], env)
        self.seen = b''

    def send(self, data):
        os.write(self.fd, data)

    def expect(self, what, timeout=10.0):
        end = time.time() + timeout
        while what not in self.seen:
            left = end - time.time()
            if left <= 0:
                return False
            r, _, _ = select.select([self.fd], [], [], left)
            if r:
                try:
                    chunk = os.read(self.fd, 4096)
                except OSError:
                    return False
                if not chunk:
                    return False
                self.seen += chunk
        self.seen = self.seen[self.seen.index(what) + len(what):]
        return True

    def close(self):
        self.expect(b'? ', timeout=5)
        # The line editor prints its prompt before it takes the terminal out
        # of line mode; a Ctrl-D typed in between is read as a character,
        # not as the end of input. Wait for the editor to hold the terminal.
        end = time.time() + 10
        while time.time() < end and termios.tcgetattr(self.fd)[3] & termios.ICANON:
            time.sleep(0.02)
        self.send(b'\x04')
        end = time.time() + 60
        while time.time() < end:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                return os.waitstatus_to_exitcode(status)
            try:
                r, _, _ = select.select([self.fd], [], [], 0.1)
                if r:
                    os.read(self.fd, 4096)
            except OSError:
                pass
        os.kill(self.pid, 9)
        os.waitpid(self.pid, 0)
        return -9


def places(talven):
    """Errors name the innermost file and line, the primitive and the Lisp
    functions active, in source files, in their encoded form and in a packed
    application; the transcript's line and the application's handler stay."""
    books = ('; books\n(define (count-books _l)\n  (car _l))\n'
             '(define (shelf _x)\n  (+ 1\n     (count-books _x)))\n')
    faults = [
        # (the last form, the report, the backtrace lines)
        ('(shelf 5)', b'books.lsp:3: error 2 (wrong type or bad argument): 5, in car',
         [b'  in count-books (books.lsp:3)', b'  called from shelf (books.lsp:6)']),
        # (a primitive called and returned before the unbound name is met)
        ('(define (go)\n  (length \'(1))\n  (list\n   (save-to-fiel 2)))\n(go)',
         b'books.lsp:10: error 6 (unbound symbol or variable): save-to-fiel', [b'  in go (books.lsp:10)']),
        ('(define (h _a)\n  (list _a\n   (+ _b 1)))\n(h 1)',
         b'books.lsp:9: error 6 (unbound symbol or variable): _b', [b'  in h (books.lsp:9)']),
        ('(map (lambda (_x) (shelf _x)) \'(1))', b'books.lsp:3: error 2 (wrong type or bad argument): 1, in car',
         [b'  in count-books (books.lsp:3)', b'  called from shelf (books.lsp:6)', b'  called from a function (books.lsp:7)']),
    ]
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, 'books.lsp')
        for last, line, trace in faults:
            with open(path, 'w') as f:
                f.write(books + last + '\n')
            rc, out, err = run(talven, ['books.lsp'], cwd=d)
            lines = err.replace(b'\r', b'\n').splitlines()
            check('place of ' + last, rc == 1 and lines == [line] + trace, repr((rc, err)))
            # The transcript's line stays the machine's own, encoded too.
            rc, out, err = run(talven, ['--transcript', '--encoded', 'books.lsp'], cwd=d)
            number = line.split(b'error ')[1].split(b' ')[0]
            culprit = line.split(b'): ')[1].split(b',')[0]
            check('transcript line of ' + last, b'\nError: %s, %s, #<class TALVEN>, (), ()\n' % (number, culprit) in out,
                  repr(out))
        # A packed application: the file and line of the Load resource's
        # source, the backtrace up to the application's own loop.
        with open(os.path.join(d, 'main.lsp'), 'w') as f:
            f.write('(define (init-talven) 1)\n\n(define (toplevel-loop)\n  (shelf 5))\n')
        with open(path, 'w') as f:
            f.write(books)
        with open(os.path.join(d, 'books.manifest'), 'w') as f:
            f.write('(application "Books" :output "books.RI" :load ("books.lsp" "main.lsp"))\n')
        rc, out, err = run(talven, ['pack', 'books.manifest'], cwd=d)
        check('pack', rc == 0, repr(err))
        rc, out, err = run(talven, ['books.RI'], cwd=d)
        lines = err.replace(b'\r', b'\n').splitlines()
        check('packed place', lines[:4] == [b'talven: books.lsp:3: error 2 (wrong type or bad argument): 5, in car',
                                            b'  in count-books (books.lsp:3)', b'  called from shelf (books.lsp:6)',
                                            b'  called from toplevel-loop (main.lsp:4)'], repr(err))
        # The application's handler still takes the error, and nothing else
        # is reported.
        with open(os.path.join(d, 'main.lsp'), 'a') as f:
            f.write('(define (h _k _n _v _o _a _b) (display "mine") (exit 0))\n(set! Error-Handler h)\n')
        run(talven, ['pack', 'books.manifest'], cwd=d)
        rc, out, err = run(talven, ['books.RI'], cwd=d)
        check('handler wins', b'mine' in out and b'books.lsp' not in err, repr((rc, out, err)))


def prompt(talven):
    with tempfile.TemporaryDirectory() as d:
        env = dict(os.environ, HOME=d, XDG_STATE_HOME=os.path.join(d, 'state'), TERM='xterm')
        p = Prompt(talven, env)
        check('banner', p.expect(b'? '))
        p.send('"héllo"\r'.encode('utf-8'))
        check('accented echo', p.expect('"héllo"'.encode('utf-8')), repr(p.seen))
        p.send(b'(car 5)\r')
        check('readable error', p.expect(b'error 2 (wrong type or bad argument): 5'), repr(p.seen))
        check('no alert', b'An error has occured' not in p.seen, repr(p.seen))
        p.send(b'(+ 1 2)\r')
        check('loop goes on', p.expect(b'3'), repr(p.seen))
        p.send(b'(let* ((_a 20) (_b (+ _a 1))) (* _a _b))\r')
        check('lexicals at the prompt', p.expect(b'420'), repr(p.seen))
        # Ctrl-C interrupts a running form and the prompt comes back. The
        # form is under way once its line has been echoed; the interrupt is
        # sent again if a loaded machine had not started it yet.
        # The report starts its own line after what the form printed.
        p.send(b'(begin (prin "abc" ()) (while t))\r')
        p.expect(b'(while t))\r\n')
        p.expect(b'abc')
        interrupted = False
        for _ in range(5):
            time.sleep(0.5)
            p.send(b'\x03')
            if p.expect(b'\r\nerror: interrupted', timeout=5):
                interrupted = True
                break
        check('interrupted on a line of its own', interrupted, repr(p.seen))
        p.send(b'(+ 20 22)\r')
        check('after interrupt', p.expect(b'42'), repr(p.seen))
        # Ctrl-C abandons an unfinished form at the continuation prompt.
        p.send(b'(list 1\r')
        p.expect(b'(list 1\r\n')
        time.sleep(0.3)
        p.send(b'\x03')
        time.sleep(0.3)
        p.send(b'(+ 3 3)\r')
        check('abandoned form', p.expect(b'6'), repr(p.seen))
        # Tab completes a symbol name.
        p.send(b'(string-leng\t"abcd")\r')
        check('completion', p.expect(b'4'), repr(p.seen))
        p.send(b',time (+ 1 1)\r')
        check(',time', p.expect(b'collection'), repr(p.seen))
        # A file ,load cannot read is reported once.
        p.send(b',load nothere.lsp\r')
        found = p.expect(b'nothere.lsp\r\n') and p.expect(b'nothere.lsp: No such file or directory')
        p.expect(b'never', timeout=0.5)  # takes in whatever else comes
        check(',load of nothing', found and b'nothere' not in p.seen, repr(p.seen))
        p.send(b',nope\r')
        check('unknown command', p.expect(b'unknown command'), repr(p.seen))
        code = p.close()
        check('quit', code == 0, 'exit status %d: %r' % (code, p.seen))
        history = os.path.join(d, 'state', 'talven', 'history')
        check('history file', os.path.exists(history))
        # History survives a restart: Ctrl-P brings the last line back.
        p = Prompt(talven, env)
        check('banner again', p.expect(b'? '))
        p.send(b'\x10\r')
        check('history recalled', p.expect(b'unknown command ,nope'), repr(p.seen))
        p.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--talven', required=True)
    ap.add_argument('group', choices=['boundary', 'cli', 'places', 'prompt'])
    a = ap.parse_args()
    {'boundary': boundary, 'cli': cli, 'places': places, 'prompt': prompt}[a.group](os.path.abspath(a.talven))
    for f in FAILURES:
        print('FAIL', f)
    return 1 if FAILURES else 0


if __name__ == '__main__':
    sys.exit(main())
