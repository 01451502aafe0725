#!/usr/bin/env python3
"""talven pack and talven unpack as a user meets them: the example
application packed twice gives identical files, the resource inspector lists
its resources, unpacking and packing again gives the same file, the unpacked
sources behave as the originals, and faults name their file and line
without leaving a half-written output.

usage: pack_test.py --talven PATH --examples DIR
"""
import argparse
import os
import struct
import shutil
import subprocess
import sys
import tempfile

from checks import check, report


def run(talven, args, cwd=None):
    p = subprocess.run([talven] + args, capture_output=True, timeout=120, cwd=cwd)
    return p.returncode, p.stdout.decode('utf-8', 'replace'), p.stderr.decode('utf-8', 'replace')


def read(path):
    with open(path, 'rb') as f:
        return f.read()


def write(path, text):
    with open(path, 'wb') as f:
        f.write(text.encode('utf-8') if isinstance(text, str) else text)


def transcript_of(talven, files, tmp, name):
    """The transcript of the files' forms followed by a call of toplevel-loop."""
    driver = os.path.join(tmp, name)
    text = b''
    for f in files:
        body = read(f)
        # One driver: a UTF-8 declaration is kept only at its head.
        if body.startswith(b'; -*- coding: utf-8 -*-'):
            body = body.split(b'\n', 1)[1]
        text += body + b'\n'
    write(driver, b'; -*- coding: utf-8 -*-\n' + text + b'(toplevel-loop)\n')
    return run(talven, ['--transcript', driver])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--talven', required=True)
    ap.add_argument('--examples', required=True)
    args = ap.parse_args()
    talven = os.path.abspath(args.talven)
    manifest = os.path.join(os.path.abspath(args.examples), 'hello', 'hello.app')
    with tempfile.TemporaryDirectory() as tmp:
        a, b = os.path.join(tmp, 'a', 'hello.RI'), os.path.join(tmp, 'b', 'hello.RI')
        os.makedirs(os.path.dirname(a))
        os.makedirs(os.path.dirname(b))
        rc1, _, err1 = run(talven, ['pack', manifest, '-o', a])
        rc2, _, err2 = run(talven, ['pack', manifest, '-o', b])
        check('pack succeeds', rc1 == 0 and rc2 == 0, err1 + err2)
        check('pack is deterministic', os.path.exists(a) and read(a) == read(b))
        check('no temporary left', sorted(os.listdir(os.path.dirname(a))) == ['hello.RI'],
              repr(os.listdir(os.path.dirname(a))))

        # The inspector lists what the start-up needs.
        rc, out, err = run(talven, ['rsrc', 'list', a])
        if rc == 0:
            for t in ('PREF', 'SYMB', 'Load', 'VPRF', 'SIZE', 'STR#', 'TEXT'):
                check('rsrc list shows ' + t, t in out, out)

        # The code resources load through the code loader with the table
        # installed from SYMB 0, which is released (its box emptied).
        rc, out, err = run(talven, ['-e', '(define f (openresfile "hello.RI")) (define s (getresource "SYMB" 0))'
                                    ' (set-symbols-table s) s'
                                    ' (load-from-handle (getresource "Load" 0) 0)'
                                    ' (load-from-handle (getresource "Load" 1) 1)'
                                    ' (set-symbols-table ()) (toplevel-loop)'], cwd=os.path.dirname(a))
        check('packed code runs', rc == 0 and '<null resource>' in out and 'Bonjour' in out and '1' in out,
              repr((rc, out, err)))

        # Unpacked, then packed again under the same name: the same file.
        u = os.path.join(tmp, 'u')
        rc, _, err = run(talven, ['unpack', a, u])
        check('unpack succeeds', rc == 0, err)
        again = os.path.join(tmp, 'again', 'hello.RI')
        os.makedirs(os.path.dirname(again))
        rc, _, err = run(talven, ['pack', os.path.join(u, 'manifest.lsp'), '-o', again])
        check('repack succeeds', rc == 0, err)
        check('repack is identical', os.path.exists(again) and read(again) == read(a))
        check('resources come back', read(os.path.join(u, 'TEXT-128.bin')) ==
              read(os.path.join(args.examples, 'hello', 'about.txt')))

        # The decoded sources do what the originals do.
        hello = os.path.join(args.examples, 'hello')
        original = transcript_of(talven, [os.path.join(hello, 'greetings.lsp'), os.path.join(hello, 'main.lsp')],
                                 tmp, 'original.lsp')
        decoded = transcript_of(talven, [os.path.join(u, 'greetings.lsp'), os.path.join(u, 'main.lsp')],
                                tmp, 'decoded.lsp')
        check('decoded sources behave alike', original == decoded and 'Bonjour' in original[1],
              repr((original, decoded)))
        # They come back under their names, each form on its own line.
        for name in ('greetings.lsp', 'main.lsp'):
            check('lines of ' + name, read(os.path.join(u, name)).count(b'\n') ==
                  read(os.path.join(hello, name)).count(b'\n'))

        # Faults: the file and line, status 1, and nothing written.
        w = os.path.join(tmp, 'w')
        os.makedirs(w)
        write(os.path.join(w, 'ok.lsp'), '(define x 1)\n')
        write(os.path.join(w, 'open.lsp'), '(define x 1)\n(define s "never closed)\n')
        write(os.path.join(w, 'han.lsp'), '; -*- coding: utf-8 -*-\n\n(define s "漢")\n')
        write(os.path.join(w, 'stray.lsp'), '(a)\n(b))\n')
        cases = [
            ('(application "T"\n  :load ("ok.lsp")\n  :bogus 1)\n', 'm.app:3:', 'unknown key'),
            ('(application "T" :load ("missing.lsp"))', 'm.app:1:', 'cannot be read'),
            ('(application "T"\n :load ("ok.lsp" "open.lsp"))', 'open.lsp:2:', 'string'),
            ('(application "T" :load ("han.lsp"))', 'han.lsp:3:', '1252'),
            ('(application "T" :load ("stray.lsp"))', 'stray.lsp:2:', "unexpected ')'"),
            ('(application "T"\n :frame (640))', 'm.app:2:', 'frame'),
            ('(application "T" :resources (("PIC" 1 "ok.lsp")))', 'm.app:1:', 'four characters'),
            ('(application "T" :resources (("TEXT" 1 "ok.lsp") ("TEXT" 1 "ok.lsp")))', 'm.app:1:', 'twice'),
            ('(application "T" :memory (:heap -1))', 'm.app:1:', 'outside'),
            ('(application "T"\n :memory (:symbols 0))', 'm.app:2:', 'below 2048'),
            ('(application "T" :memory (:nodes 1000))', 'm.app:1:', 'below 16384'),
            ('(application "T" :memory (:lisp-stack 100))', 'm.app:1:', 'below 4096'),
            ('(application "T" :memory (:node-percent 101))', 'm.app:1:', 'outside'),
            ('(application "T"', 'm.app:1:', 'still open'),
            ('(application "T" :language klingon)', 'm.app:1:', 'language'),
            ('(application "T"\n :language 99)', 'm.app:2:', '99 lies outside 0 to 2'),
            ('(application "T"\n :splash (("ok.lsp" 100)))', 'm.app:2:', 'is not a picture'),
        ]
        out_path = os.path.join(w, 'out.RI')
        write(out_path, b'previous')
        for text, place, words in cases:
            write(os.path.join(w, 'm.app'), text)
            rc, _, err = run(talven, ['pack', os.path.join(w, 'm.app'), '-o', out_path])
            check('fault ' + words, rc == 1 and place in err and words in err, repr((rc, err)))
        check('a failed pack leaves the old output', read(out_path) == b'previous')
        check('no temporaries left', sorted(os.listdir(w)) ==
              sorted(['ok.lsp', 'open.lsp', 'han.lsp', 'stray.lsp', 'm.app', 'out.RI']), repr(os.listdir(w)))

        # A splash picture file keeps its picture and loses its 512-byte
        # header on the way into PICT 501.
        picture = struct.pack('>Hhhhh', 0, 0, 0, 2, 4) + b'\x11\x01\xff'
        write(os.path.join(w, 'logo.pict'), bytes(512) + picture)
        write(os.path.join(w, 'm.app'), '(application "T" :load ("ok.lsp") :splash (("logo.pict" 100)))')
        rc, _, err = run(talven, ['pack', os.path.join(w, 'm.app'), '-o', out_path])
        rc2, _, err2 = run(talven, ['rsrc', 'extract', out_path, 'PICT', '501', os.path.join(w, 'p.bin')])
        check('splash stored without its file header', rc == 0 and rc2 == 0 and read(os.path.join(w, 'p.bin')) == picture,
              repr((rc, err, rc2, err2)))

        # Help, usage and unreadable input.
        for cmd in ('pack', 'unpack'):
            rc, out, _ = run(talven, [cmd, '--help'])
            check(cmd + ' --help', rc == 0 and out.startswith('usage: talven ' + cmd), out)
        rc, _, err = run(talven, ['pack'])
        check('pack without a manifest', rc == 2 and 'usage' in err, err)
        write(os.path.join(w, 'junk.RI'), b'\0' * 300)
        rc, _, err = run(talven, ['unpack', os.path.join(w, 'junk.RI'), os.path.join(w, 'junk')])
        check('unpack of a damaged file', rc == 1 and 'junk.RI' in err, err)

    return report()


if __name__ == '__main__':
    sys.exit(main())
