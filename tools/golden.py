#!/usr/bin/env python3
"""Golden-file runner for Lisp tests.

A test is a .lsp file. `talven --transcript FILE` evaluates its forms one by
one, printing the value of each form that has one and the report of each
error, and carries on after errors. The expected transcript is written inline:

    (car '(1 2))            ; expect: 1
    (car 5)                 ; expect error: 2 5
    ; expect exit: 0

`; expect: TEXT` expects one line of output equal to TEXT; `; expect error: N
CULPRIT` expects an error report line for error N with that culprit (the
culprit may be omitted). The printer ends lines with a carriage return; the
comparison turns carriage returns into line ends. Files listed in
known-failures.txt must fail (an unexpected pass is a failure).
"""
import argparse
import os
import re
import subprocess
import tempfile
import sys

EXPECT = re.compile(r';\s*expect(?:\s+(error|exit))?:\s?(.*)$')


def machine_text(data):
    """Code page 1252 bytes as text; the five unassigned codes stand for the
    control characters of the same number, as at the console boundary."""
    return ''.join(chr(b) if b in (0x81, 0x8D, 0x8F, 0x90, 0x9D) else bytes([b]).decode('cp1252')
                   for b in data)


def expectations(path):
    """The expected lines, each (kind, text, culprit, source line number),
    and the expected exit status."""
    lines, exit_code = [], None
    with open(path, 'rb') as f:
        source = machine_text(f.read())
    for number, raw in enumerate(source.splitlines(), 1):
        m = EXPECT.search(raw)
        if not m:
            continue
        kind, text = m.group(1), m.group(2).rstrip()
        if kind == 'exit':
            exit_code = int(text)
        elif kind == 'error':
            parts = text.split(None, 1)
            lines.append(('error', parts[0], parts[1] if len(parts) > 1 else None, number))
        else:
            lines.append(('line', text, None, number))
    return lines, exit_code


def matches(expected, actual):
    kind, a, b, _ = expected
    if kind == 'line':
        return actual == a
    prefix = 'Error: %s, ' % a
    if not actual.startswith(prefix):
        return False
    return b is None or actual[len(prefix):].startswith(b + ',')


def run(talven, path, encoded=False):
    exp, exit_code = expectations(path)
    env = dict(os.environ)
    command = [talven, '--transcript'] + (['--encoded'] if encoded else []) + [path]
    # Settings, journals and the desktop files a test writes go to folders
    # of its own, never to the user's.
    with tempfile.TemporaryDirectory(prefix='talven-golden-') as home:
        for name in ('XDG_CONFIG_HOME', 'XDG_STATE_HOME', 'XDG_DATA_HOME', 'XDG_CACHE_HOME'):
            env[name] = os.path.join(home, name.lower())
        proc = subprocess.run(command, capture_output=True,
                              timeout=240, env=env, cwd=os.path.dirname(path))
    # The console boundary writes UTF-8 with line feeds.
    out = proc.stdout.decode('utf-8', errors='replace')
    actual = out.split('\n')
    if actual and actual[-1] == '':
        actual.pop()
    problems = []
    for i, e in enumerate(exp):
        got = actual[i] if i < len(actual) else '<no more output>'
        if not matches(e, got):
            want = e[1] if e[0] == 'line' else 'Error: %s, %s' % (e[1], e[2] or '...')
            problems.append('%s:%d: expected %r, got %r (output line %d)' % (path, e[3], want, got, i + 1))
            break
    if not problems and len(actual) > len(exp):
        after = exp[-1][3] if exp else 0
        problems.append('%s:%d: unexpected output after this expectation: %r' % (path, after, actual[len(exp)]))
    want_exit = 0 if exit_code is None else exit_code
    if proc.returncode != want_exit:
        problems.append('%s: exit status %d, expected %d' % (path, proc.returncode, want_exit))
    err = proc.stderr.decode('latin-1')
    if 'runtime error:' in err or 'AddressSanitizer' in err or 'LeakSanitizer' in err:
        problems.append('sanitizer report:\n' + err)
    return problems, out, err


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--talven', required=True)
    ap.add_argument('--known', action='append', default=[])
    ap.add_argument('--encoded', action='store_true',
                    help='run each file encoded as the packer encodes it')
    ap.add_argument('--root')
    ap.add_argument('files', nargs='+')
    args = ap.parse_args()
    known = {}
    for known_file in args.known:
        if not os.path.exists(known_file):
            continue
        for line in open(known_file):
            line = line.strip()
            if line and not line.startswith('#'):
                name, _, reason = line.partition('#')
                known[name.strip()] = reason.strip()
    failed = 0
    for path in args.files:
        rel = os.path.relpath(path, args.root) if args.root else path
        problems, out, err = run(args.talven, os.path.abspath(path), args.encoded)
        if rel in known:
            if problems:
                print('known failure: %s (%s)' % (rel, known[rel]))
            else:
                print('UNEXPECTED PASS: %s is listed as a known failure' % rel)
                failed += 1
            continue
        if problems:
            failed += 1
            print('FAIL %s' % rel)
            for p in problems:
                print('  ' + p)
            print('--- output ---\n' + out + '--- stderr ---\n' + err)
        else:
            print('ok %s' % rel)
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
