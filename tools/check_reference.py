#!/usr/bin/env python3
"""The reference of the syntax words, primitives and methods is up to date: docs/reference.md is what
`talven doc --markdown` writes, and docs/undocumented.txt lists exactly the
natives still without a description or without an entry (a new native
without one fails, and so does one described but still listed).

usage: check_reference.py --talven PATH --docs DIR [--write]
With --write, both files are written again instead (`ninja reference`)."""
import argparse
import difflib
import os
import subprocess
import sys


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--talven', required=True)
    ap.add_argument('--docs', required=True)
    ap.add_argument('--write', action='store_true')
    a = ap.parse_args()
    failures = 0
    for option, name in (('--markdown', 'reference.md'), ('--undocumented', 'undocumented.txt')):
        p = subprocess.run([a.talven, 'doc', option], capture_output=True, timeout=120)
        if p.returncode != 0:
            print('FAIL talven doc %s: status %d %r' % (option, p.returncode, p.stderr))
            failures += 1
            continue
        path = os.path.join(a.docs, name)
        if a.write:
            with open(path, 'wb') as f:
                f.write(p.stdout)
            continue
        old = open(path, 'rb').read() if os.path.exists(path) else b''
        if old != p.stdout:
            diff = difflib.unified_diff(old.decode('utf-8', 'replace').splitlines(),
                                        p.stdout.decode('utf-8', 'replace').splitlines(), path, 'generated', lineterm='')
            print('FAIL %s is stale (ninja reference writes it again):' % path)
            print('\n'.join(list(diff)[:40]))
            failures += 1
    # Entries through the command line: a special form, a syntax word, a
    # method of two classes, and the refusal of a near name.
    if not a.write:
        for name, parts in (('catch', [b'(catch TAG BODY...)']),
                            ('while', [b'(while TEST BODY...)', b'syntax word']),
                            ('get-color', [b'(get-color)', b'method of obj-window', b'method of obj-menu'])):
            p = subprocess.run([a.talven, 'doc', name], capture_output=True, timeout=60)
            if p.returncode != 0 or not p.stdout.startswith(parts[0]) or not all(x in p.stdout for x in parts):
                print('FAIL talven doc %s: %r' % (name, p.stdout))
                failures += 1
        p = subprocess.run([a.talven, 'doc', 'cathc'], capture_output=True, timeout=60)
        if p.returncode != 0 and b'did you mean catch?' in p.stderr:
            pass
        else:
            print('FAIL talven doc cathc: %r' % (p.stderr,))
            failures += 1
    print('%d failure(s)' % failures)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
