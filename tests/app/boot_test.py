#!/usr/bin/env python3
"""Applications started from their resource file, as a user runs them: the
order of the start-up, the code resources that load and those that do not,
the preferences (including short ones), the splash waits, the exit statuses,
the alerts in their languages, the executable-name rule, the primitives of
the start-up, launch-application, and the orderly shutdown on a signal with
a committed change on disk.

The application files are written here byte by byte (a resource file is a
header, a data area and a map), so that layouts the packer never makes can
be tried.

usage: boot_test.py --talven PATH [--examples DIR] [GROUP ...]
"""
import argparse
import os
import signal
import struct
import subprocess
import sys
import tempfile
import time

from checks import check, report


def resource_file(resources):
    """The bytes of a resource file holding (type, id, data) triples."""
    data = b''
    refs = {}
    for rtype, rid, body in resources:
        if isinstance(body, str):
            body = body.encode('cp1252')
        refs.setdefault(rtype, []).append((rid, len(data)))
        data += struct.pack('>I', len(body)) + body
    types = sorted(refs)
    type_list = struct.pack('>H', (len(types) - 1) & 0xFFFF)
    ref_lists = b''
    first_ref = 2 + 8 * len(types)
    for t in types:
        type_list += t.encode('latin-1') + struct.pack('>HH', len(refs[t]) - 1, first_ref + len(ref_lists))
        for rid, offset in refs[t]:
            ref_lists += struct.pack('>hHB', rid, 0xFFFF, 0) + offset.to_bytes(3, 'big') + b'\0' * 4
    names_at = 28 + len(type_list) + len(ref_lists)
    map_bytes = b'\0' * 22 + struct.pack('>HHH', 0, 28, names_at) + type_list + ref_lists
    data_at = 256
    map_at = data_at + len(data)
    header = struct.pack('>IIII', data_at, map_at, len(data), len(map_bytes))
    map_bytes = header + map_bytes[16:]
    return header + b'\0' * (256 - 16) + data + map_bytes


def pref257(flags=0, language=0, width=640, height=480):
    return bytes([0, 0, flags, language]) + struct.pack('>HH', width, height)


def write(path, data):
    with open(path, 'wb') as f:
        f.write(data.encode('utf-8') if isinstance(data, str) else data)


class Env:
    def __init__(self, talven, tmp):
        self.talven = talven
        self.tmp = tmp
        self.env = dict(os.environ)
        self.env['XDG_STATE_HOME'] = os.path.join(tmp, 'state')
        self.env['XDG_CONFIG_HOME'] = os.path.join(tmp, 'config')
        self.env['TALVEN_NO_FSYNC'] = '1'
        self.env['TMPDIR'] = os.path.join(tmp, 'tmp')
        os.makedirs(self.env['TMPDIR'])
        self.examples = ''

    def app(self, name, resources):
        path = os.path.join(self.tmp, name)
        write(path, resource_file(resources))
        return path

    def run(self, args, exe=None, timeout=60):
        p = subprocess.run([exe or self.talven] + args, capture_output=True, timeout=timeout, env=self.env,
                           cwd=self.tmp)
        return p.returncode, p.stdout.decode('utf-8', 'replace'), p.stderr.decode('utf-8', 'replace')


# A tiny picture: its size, its frame (top left bottom right), version 1, end.
def picture(top, left, bottom, right):
    return struct.pack('>Hhhhh', 12, top, left, bottom, right) + b'\x11\x01\xff\x00'


def group_order(e):
    """The globals before the first form, the init functions in order, the
    statuses of quit and of a returning toplevel-loop."""
    app = e.app('order.RI', [
        ('Load', 0, '(display (list Machine Development-Stage Environment Rainbow? Load-File Compare-Vector'
                    ' Appl InQuit? (eq? TALVEN (self))) ())\r'
                    '(define (init-talven) (display (list \'init-talven Load-File) ()))\r'),
        ('Load', 1, '(define (init-user) (display \'init-user ()))\r'
                    '(define App (new-class \'App))\r'
                    '(App (define (start-appl) (display \'start-appl ())))\r'
                    '(set! Appl (make-instance App))\r'
                    '(define (toplevel-loop) (display (list \'toplevel-loop (integer? (boot-time))) ()) (quit))\r'),
        ('PREF', 257, pref257()),
    ])
    rc, out, err = e.run([app])
    lines = out.split('\n')
    want = ['(ibm release standalone () 0 () () () t)', '(init-talven ())', 'init-user', 'start-appl',
            '(toplevel-loop t)', '']
    check('order: globals, init functions, start-appl, toplevel-loop', lines == want, repr((lines, err)))
    check('order: quit exits with 0', rc == 0, repr((rc, err)))

    # Load 0, 1 and 3: 3 never loads; toplevel-loop returns: status 1. A
    # form of a Load resource may bind lexical variables.
    app = e.app('gap.RI', [
        ('Load', 0, '(let ((_w \'zero)) (display _w ()))\r'),
        ('Load', 1, '(display \'one ())(define (toplevel-loop) (display \'loop ()))\r'),
        ('Load', 3, '(display \'three ())\r'),
    ])
    rc, out, err = e.run([app])
    check('gap: Load 3 is not loaded', out.split() == ['zero', 'one', 'loop'], repr((out, err)))
    check('gap: a returning toplevel-loop exits with 1', rc == 1, repr((rc, err)))

    # A Load resource found in another open resource file ends loading.
    other = e.app('other.RI', [('Load', 1, '(display \'other ())\r')])
    app = e.app('chain.RI', [
        ('Load', 0, '(define Other (openresfile "%s"))\r'
                    '(define (toplevel-loop) (display (list \'loop (> Other 0)) ()))\r' % other),
        ('Load', 1, '(display \'app-one ())\r'),
    ])
    rc, out, err = e.run([app])
    check('chain: loading stops at a Load of another file', out.split() == ['(loop', 't)'] and rc == 1,
          repr((rc, out, err)))


def group_prefs(e):
    """PREF 257 of every length, the frame on small screens, the alert
    languages."""
    show = ('(define (toplevel-loop) (display (list (desktop-frame-width) (desktop-frame-height)'
            ' (screen-width) (screen-height)) ()) (quit))\r')
    cases = [
        # (PREF 257, screen, expected frame and screen)
        (pref257(0, 0, 320, 200), '1024x768', '(320 200 1024 768)'),
        (bytes([0, 0, 0, 1, 2, 128]), '1024x768', '(640 480 1024 768)'),  # 6 bytes: 640 by 480
        (bytes([0, 0, 0x02, 0, 2, 128]), '600x400', '(600 400 600 400)'),  # frameless when too big
        (bytes([0, 0, 0x00, 0, 2, 128]), '600x400', '(598 384 600 400)'),  # framed, maximised
        (pref257(0x80, 0, 100, 100), '800x600', '(798 584 800 600)'),  # maximised by its flag
        (bytes([0, 0]), '1024x768', '(640 480 1024 768)'),
        (b'', '1024x768', '(640 480 1024 768)'),
    ]
    for i, (pref, screen, want) in enumerate(cases):
        app = e.app('pref%d.RI' % i, [('Load', 0, show), ('PREF', 257, pref)])
        rc, out, err = e.run(['--screen', screen, app])
        check('prefs: PREF 257 %r on %s' % (pref, screen), rc == 0 and out.strip() == want, repr((rc, out, err)))

    # The language of PREF 257 (a 6-byte one: flags and language read);
    # set-language 2 gives English; an unknown language is English.
    body = ('(define (toplevel-loop) (catch \'toplevel (car 1)) (set-language 2) (catch \'toplevel (car 2))'
            ' (set-language 1) (catch \'toplevel (car 3)) (quit))\r')
    for language, first in ((1, 'Une erreur interne'), (2, 'Se ha producido'), (7, 'An error has occured')):
        app = e.app('lang%d.RI' % language, [('Load', 0, body), ('PREF', 257, bytes([0, 0, 0, language, 2, 128]))])
        rc, out, err = e.run([app])
        alerts = [l for l in err.split('\n') if l.startswith('alert: ')]
        check('language %d: the alerts' % language,
              rc == 0 and len(alerts) == 3 and first in alerts[0] and 'An error has occured' in alerts[1]
              and 'Une erreur interne' in alerts[2] and 'sugg\u00e9rons' in alerts[2], repr((rc, err)))


def group_failures(e):
    """A missing or damaged application file, a failing boot, an unmatched
    throw, memory short: an alert and a non-zero status, never a crash."""
    rc, out, err = e.run(['missing.RI'])
    check('missing file: alert 5200 with its path and status 255',
          rc == 255 and 'alert: The file missing.RI was not found! [OK]' in err, repr((rc, err)))
    write(os.path.join(e.tmp, 'junk.RI'), b'\0' * 300)
    rc, out, err = e.run(['junk.RI'])
    check('damaged file: alert 5200', rc == 255 and 'junk.RI was not found' in err, repr((rc, err)))
    os.makedirs(os.path.join(e.tmp, 'dir.RI'), exist_ok=True)
    rc, out, err = e.run(['dir.RI'])
    check('a folder: alert 5200', rc == 255 and 'dir.RI was not found' in err, repr((rc, err)))

    cases = [
        ('error in Load', [('Load', 0, '(car 5)\r(display \'after ())\r')]),
        ('unmatched throw in Load', [('Load', 0, '(throw \'nowhere 1)\r')]),
        ('toplevel throw in Load', [('Load', 0, '(toplevel)\r')]),
        ('error in init-talven', [('Load', 0, '(define (init-talven) (vector-ref 1 2))\r')]),
        ('error in init-user', [('Load', 0, '(define (init-user) (car 5))\r')]),
        ('error in start-appl', [('Load', 0, '(define C (new-class \'C))(C (define (start-appl) (car 5)))'
                                             '(set! Appl (make-instance C))\r')]),
        ('no toplevel-loop', [('Load', 0, '(define x 1)\r')]),
        ('error leaving toplevel-loop', [('Load', 0, '(define (toplevel-loop) (car 5))\r')]),
        ('damaged symbols table', [('SYMB', 0, b'\x00\x09ab'), ('Load', 0, '(define (toplevel-loop) 1)\r')]),
    ]
    for what, resources in cases:
        rc, out, err = e.run([e.app('fail.RI', resources)])
        alerts = [l for l in err.split('\n') if l.startswith('alert: An error has occured')]
        check(what + ': one alert 5500 and status 3', rc == 3 and len(alerts) == 1 and 'after' not in out,
              repr((rc, out, err)))

    # An application's own Error-Handler takes the error; the boot still stops.
    rc, out, err = e.run([e.app('handler.RI', [(
        'Load', 0, '(define (Error-Handler _k _n _v _o _a _b) (display (list \'handled _n) ()))\r(car 5)\r')])])
    check('Error-Handler: handled, then alert 5500 and status 3',
          rc == 3 and '(handled 2)' in out and 'alert: An error' in err and 'talven: error' not in err,
          repr((rc, out, err)))

    # Not enough memory for the machine the file asks for.
    vprf = struct.pack('>9I', 32768, 1 << 20, 65536, 400000000, 4 << 20, 8 << 20, 7 << 20, 0, 0)
    rc, out, err = e.run([e.app('big.RI', [('VPRF', 256, vprf), ('PREF', 257, pref257(language=1)),
                                           ('Load', 0, '(define (toplevel-loop) (quit))\r')])])
    check('memory short: alert 5000 in French, status 255',
          rc == 255 and 'alert: Il n\'y a pas assez de m\u00e9moire RAM : ' in err, repr((rc, err)))

    # Memory words no machine can be built with (zero symbols, a node zone
    # too small to start, shares past 100 %, both shares at 100 %): the
    # memory alert with a positive figure and status 255, never a signal.
    base = [32768, 1 << 20, 65536, 500000, 4 << 20, 8 << 20, 7 << 20, 0, 0]
    for field, value in ((0, 0), (0, 1), (1, 100), (2, 0), (3, 0), (3, 1000), (4, 0), (6, 0), (7, 0xFFFFFFFF),
                         (8, 101), (3, 0xFFFFFFFF), (0, 0xFFFFFFFF), (7, 100)):
        words = list(base)
        words[field] = value
        if (field, value) == (7, 100):
            words[8] = 100
        app = e.app('words.RI', [('VPRF', 256, struct.pack('>9I', *words)),
                                 ('Load', 0, '(define (toplevel-loop) (quit))\r')])
        rc, out, err = e.run([app])
        figure = err.split('RAM memory : ')[-1].split(' K')[0]
        check('VPRF word %d = %d: alert 5000 with a positive figure, status 255' % (field, value),
              rc == 255 and 'alert: There is not enougth RAM memory : ' in err and figure.isdigit()
              and int(figure) > 0 and 'terminate' not in err, repr((rc, err)))


def group_splash(e):
    """The splash sequence: wait-boot-time waits for every picture that has
    a wait resource and a next picture; without PICT 501, or with an
    inverted frame, it returns at once. The first picture's time runs from
    when it is shown, before the code loads: the two waits of 150 and 100 ms
    take less than 250 ms after init-talven begins (less the loading's
    share, tens of ms when every allocation collects), and never less than
    the second picture's whole 100 ms."""
    body = ('(define (init-talven) (define T0 (milliseconds)) (wait-boot-time) (test-wait-dlg)'
            ' (define Waited (- (milliseconds) T0)))\r'
            '(define (toplevel-loop) (display Waited ()) (quit))\r')
    w = lambda ms: struct.pack('>H', ms)
    cases = [
        ('two waits', [('PICT', 501, picture(0, 0, 20, 30)), ('wait', 501, w(150)), ('PICT', 502, picture(0, 0, 20, 30)),
                       ('wait', 502, w(100)), ('PICT', 503, picture(0, 0, 20, 30))], 100, 5000),
        ('no next picture', [('PICT', 501, picture(0, 0, 20, 30)), ('wait', 501, w(3000))], 0, 1000),
        ('short wait', [('PICT', 501, picture(0, 0, 20, 30)), ('wait', 501, b'\x07'),
                        ('PICT', 502, picture(0, 0, 20, 30))], 0, 1000),
        ('inverted frame', [('PICT', 501, picture(20, 0, 0, 30)), ('wait', 501, w(3000)),
                            ('PICT', 502, picture(0, 0, 20, 30))], 0, 1000),
        ('no picture', [('wait', 501, w(3000)), ('PICT', 502, picture(0, 0, 20, 30))], 0, 1000),
        ('short picture', [('PICT', 501, b'\x00\x0a\x00'), ('wait', 501, w(3000)),
                           ('PICT', 502, picture(0, 0, 20, 30))], 0, 1000),
    ]
    for what, resources, low, high in cases:
        rc, out, err = e.run([e.app('splash.RI', resources + [('Load', 0, body)])])
        waited = int(out.strip()) if rc == 0 and out.strip().isdigit() else -1
        check('splash %s: waited %d ms' % (what, waited), low <= waited < high, repr((rc, out, err)))


def group_primitives(e):
    """The primitives of the start-up as an application sees them."""
    script = os.path.join(e.tmp, 'a b;c.sh')  # a shell would split this path
    marker = os.path.join(e.tmp, 'launched')
    write(script, '#!/bin/sh\ntouch "%s"\n' % marker)
    os.chmod(script, 0o755)
    body = ('(define (toplevel-loop)'
            ' (display (list (debugger 7) (debug \'x) (get-menubar?) (catch \'toplevel (get-appl-creator))'
            ' (launch-application "%s" ()) (launch-application "%s" ()) (process-events ()) (process-events 0)) ())'
            ' (launch-application "%s" t) (display \'not-reached ()))\r' %
            (script, os.path.join(e.tmp, 'nothing-here'), script))
    rc, out, err = e.run([e.app('prims.RI', [('Load', 0, body)])])
    check('primitives: values', out.strip() == '(7 x () () 0 -1 #<no value> #<no value>)' or
          out.strip().startswith('(7 x () () 0 -1'), repr((out, err)))
    check('primitives: get-appl-creator is error 47', 'error 47' in err, repr(err))
    check('launch-application with quit: status 0, nothing after', rc == 0 and 'not-reached' not in out,
          repr((rc, out)))
    for _ in range(100):
        if os.path.exists(marker):
            break
        time.sleep(0.05)
    check('launch-application ran the program by its path', os.path.exists(marker))

    # quit from the command line, and the read-eval-print loop.
    rc, out, err = e.run(['-e', '(display 1 ()) (quit) (display 2 ())'])
    check('-e: quit ends with 0 after the output', rc == 0 and out.split() == ['1', '1'], repr((rc, out, err)))
    rc, out, err = e.run(['-e', '(list (screen-width) (desktop-frame-width) (set-language \'x))'])
    check('-e: no frame; set-language wants a fixnum', '2 x' in err or 'error 2' in err, repr((rc, out, err)))

    # The executable-name rule: a link named game runs game.RI beside it,
    # whatever its arguments; without game.RI it is the talven command.
    os.symlink(e.talven, os.path.join(e.tmp, 'game'))
    rc, out, err = e.run(['-e', '(+ 1 2)'], exe=os.path.join(e.tmp, 'game'))
    check('name rule: without game.RI the command line', rc == 0 and out.strip() == '3', repr((rc, out, err)))
    e.app('game.RI', [('Load', 0, '(define (toplevel-loop) (display (screen-width) ()) (quit))\r')])
    rc, out, err = e.run(['--screen', '640x400'], exe=os.path.join(e.tmp, 'game'))
    check('name rule: game runs game.RI', rc == 0 and out.strip() == '640', repr((rc, out, err)))
    os.symlink(e.talven, os.path.join(e.tmp, 'game.bin'))
    rc, out, err = e.run([], exe=os.path.join(e.tmp, 'game.bin'))
    check('name rule: the extension is replaced', rc == 0 and out.strip() == '1024', repr((rc, out, err)))

    # Options: a bad screen size, help, a screenshot at quit.
    rc, out, err = e.run(['--screen', '0x5', 'game.RI'])
    check('--screen 0x5 refused', rc == 2 and '--screen 0x5' in err, repr((rc, err)))
    rc, out, err = e.run(['run', '--help'])
    check('run --help', rc == 0 and out.startswith('usage: talven [run]'), out)
    shot = os.path.join(e.tmp, 'shot.png')
    rc, out, err = e.run(['--screen', '300x200', '--screenshot', shot, 'game.RI'])
    with open(shot, 'rb') as f:
        head = f.read(24)
    check('screenshot: a PNG of the frame', rc == 0 and head[:8] == b'\x89PNG\r\n\x1a\n' and
          struct.unpack('>II', head[16:24]) == (298, 184), repr((rc, head, err)))


def group_signals(e):
    """SIGTERM, SIGINT and SIGHUP end a running application through the
    orderly shutdown: the committed change to a resource file is on disk,
    the open database is closed with its committed and its pending record,
    every file is whole and no journal is left. A second signal ends a loop
    that never polls."""
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        data = os.path.join(e.tmp, 'data-%d.rsrc' % sig)
        write(data, resource_file([('KEEP', 1, b'old')]))
        db = os.path.join(e.tmp, 'records-%d.db' % sig)
        body = ('(define F (openresfile "%s"))\r'
                '(define H (string->handle "new"))\r'
                '(addresource H "TEST" 128 "rec")\r(updateresfile F)\r'
                '(create-database-subr "%s" "CREA" "TYPE")\r'
                '(define D (open-database "%s" 2))\r'
                '(put-record-string "committed" "TEXT" 1 D)\r(update-database D)\r'
                '(put-record-string "pending" "TEXT" 2 D)\r'
                '(run-process (new-process (lambda () (display \'tick ())) \'ticker 10 () () ()))\r'
                '(define (toplevel-loop) (display \'ready ()) (while t (process-events ()) (give-time)))\r'
                % (data, db, db))
        p = subprocess.Popen([e.talven, e.app('sig.RI', [('Load', 0, body)])], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, env=e.env, cwd=e.tmp)
        line = p.stdout.readline()
        check('signal %d: the application runs' % sig, line.strip() == b'ready', repr(line))
        p.send_signal(sig)
        try:
            out, err = p.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            p.kill()
            out, err = p.communicate()
        check('signal %d: status 128+N' % sig, p.returncode == 128 + sig, repr((p.returncode, err)))
        rc, listing, lerr = e.run(['rsrc', 'list', data])
        check('signal %d: the committed resource is there' % sig,
              rc == 0 and 'TEST\t128\trec' in listing and 'KEEP\t1' in listing, repr((listing, lerr)))
        rc, listing, lerr = e.run(['db', 'list', db])
        rows = [l.split('\t')[:2] for l in listing.split('\n')[1:] if l]
        check('signal %d: the database was closed with both records' % sig,
              rc == 0 and rows == [['TEXT', '1'], ['TEXT', '2']], repr((rc, listing, lerr)))
        rc, out, err = e.run(['-e', '(define D (open-database "%s" 1)) (list (get-record-string "TEXT" 1 D)'
                                    ' (get-record-string "TEXT" 2 D))' % db])
        check('signal %d: the records read back' % sig, out.split('\n')[1] == '("committed" "pending")',
              repr((rc, out, err)))
        journal = os.path.join(e.tmp, 'state', 'talven')
        left = [f for f in os.listdir(journal)] if os.path.isdir(journal) else []
        check('signal %d: no journal left' % sig, not [f for f in left if 'journal' in f or f.endswith('.jnl')],
              repr(left))

    # A loop that never polls: the first signal waits for a poll that never
    # comes; the second ends the process at once.
    p = subprocess.Popen([e.talven, e.app('spin.RI', [('Load', 0, '(define (toplevel-loop) (display \'ready ()) (process-events ())'
                                                                   ' (while t 1))\r')])],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=e.env, cwd=e.tmp)
    p.stdout.readline()
    p.send_signal(signal.SIGTERM)
    time.sleep(0.2)
    check('a loop that never polls keeps running after one signal', p.poll() is None)
    p.send_signal(signal.SIGTERM)
    try:
        p.communicate(timeout=30)
    except subprocess.TimeoutExpired:
        p.kill()
        p.communicate()
    check('the second signal ends it', p.returncode == -signal.SIGTERM, repr(p.returncode))


def group_example(e):
    """The example application of the repository packs and runs as the
    README shows it."""
    manifest = os.path.join(e.examples, 'notebook', 'notebook.app')
    app = os.path.join(e.tmp, 'notebook.RI')
    rc, out, err = e.run(['pack', manifest, '-o', app])
    check('example: packs', rc == 0, err)
    rc, out, err = e.run([app])
    want = ['Notebook starts on a ibm machine.', '3 notes kept:', '  shopping: bread, cheese',
            '  call: the plumber, Tuesday', '  idea: a notebook that keeps itself',
            'found by a throw: call: the plumber, Tuesday', 'not there: ()', 'read back from a file: 3 notes',
            'kept in a database: (3 call: the plumber, Tuesday)', 'Goodbye.']
    check('example: runs and quits', rc == 0 and out.splitlines() == want and err == '', repr((rc, out, err)))
    left = [f for _, _, files in os.walk(os.path.join(e.tmp, 'tmp')) for f in files if f.endswith('.tmp')]
    check('example: its temporary files are gone', left == [], repr(left))


GROUPS = {
    'example': group_example,
    'order': group_order,
    'prefs': group_prefs,
    'failures': group_failures,
    'splash': group_splash,
    'primitives': group_primitives,
    'signals': group_signals,
}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--talven', required=True)
    ap.add_argument('--examples', default=os.path.join(os.path.dirname(__file__), '..', '..', 'examples'))
    ap.add_argument('groups', nargs='*')
    args = ap.parse_args()
    talven = os.path.abspath(args.talven)
    for name in args.groups or sorted(GROUPS):
        with tempfile.TemporaryDirectory() as tmp:
            env = Env(talven, tmp)
            env.examples = os.path.abspath(args.examples)
            GROUPS[name](env)
    return report()


if __name__ == '__main__':
    sys.exit(main())
