#!/usr/bin/env python3
"""The authors' guide runs as written. Its code blocks are of three kinds:

- ```lisp: samples for the prompt, with `; expect:` lines as in the golden
  files; all of them, in order, run as one golden file;
- ```lisp DIR/FILE and ```text DIR/FILE: files of an application. A folder
  with a manifest (NAME.app) is packed; with a test.input it is run
  headless by it, and its transcript must equal DIR/expected.txt. A
  folder of sources without a manifest is packed with a manifest made
  here and a window whose paint calls `draw-sample` when the sources
  define it; it must load, draw and quit without an error.

usage: guide_test.py --talven PATH GUIDE.md
"""
import argparse
import os
import subprocess
import sys
import tempfile

from checks import check, report

HERE = os.path.dirname(os.path.abspath(__file__))

HARNESS = """
(define Harness (new-class 'Harness obj-window))
(Harness (defslot parent) (defslot position) (defslot size) (defslot title :default "")
         (defslot erase? :default t) (defslot color :default '(65535 65535 65535))
         (define (paint) (when (bound? 'draw-sample) (draw-sample))))
(define (harness _parent _position _size)
  (let ((_w (make-instance Harness)))
    (_w (set! parent _parent) (set! position _position) (set! size _size))
    (send _w link-object)
    (send _w show)
    _w))
(define Harness-System (harness () '(0 . 0) '(0 . 0)))
(define Harness-Desktop (harness Harness-System '(0 . 0) '(0 . 0)))
(harness Harness-Desktop '(30 . 10) '(200 . 300))
(define (do-quit) t)
(define (toplevel-loop) (while t (process-events ()) (give-time)))
"""


def blocks(path):
    """(language, file or '', text, line) of every fenced block."""
    out, current = [], None
    for number, line in enumerate(open(path, encoding='utf-8'), 1):
        if current is None and line.startswith('```'):
            info = line[3:].split()
            current = (info[0] if info else '', info[1] if len(info) > 1 else '', [], number)
        elif current is not None and line.strip() == '```':
            out.append((current[0], current[1], ''.join(current[2]), current[3]))
            current = None
        elif current is not None:
            current[2].append(line)
    return out


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, timeout=300, **kw)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--talven', required=True)
    ap.add_argument('guide')
    a = ap.parse_args()
    a.talven = os.path.abspath(a.talven)
    found = blocks(a.guide)
    with tempfile.TemporaryDirectory() as tmp:
        env = dict(os.environ)
        for var, sub in (('XDG_CONFIG_HOME', 'config'), ('XDG_STATE_HOME', 'state'), ('XDG_CACHE_HOME', 'cache')):
            env[var] = os.path.join(tmp, sub)
        # The prompt samples, as one golden file.
        samples = ''.join(text for lang, name, text, _ in found if lang == 'lisp' and not name)
        sample_file = os.path.join(tmp, 'samples.lsp')
        with open(sample_file, 'w', encoding='cp1252') as f:
            f.write(samples)
        golden = run([sys.executable, os.path.join(HERE, '..', '..', 'tools', 'golden.py'),
                      '--talven', a.talven, sample_file], env=env)
        check('the prompt samples', golden.returncode == 0,
              golden.stdout.decode('utf-8', 'replace') + golden.stderr.decode('utf-8', 'replace'))

        # The application files, folder by folder.
        folders = {}
        for lang, name, text, line in found:
            if name:
                folders.setdefault(os.path.dirname(name), []).append((os.path.basename(name), text))
        check('the guide has application samples', len(folders) > 0)
        for folder, files in sorted(folders.items()):
            where = os.path.join(tmp, 'apps', folder)
            os.makedirs(where, exist_ok=True)
            for base, text in files:
                with open(os.path.join(where, base), 'w', encoding='cp1252') as f:
                    f.write(text)
            manifests = [b for b, _ in files if b.endswith('.app')]
            if manifests:
                manifest = os.path.join(where, manifests[0])
            else:
                with open(os.path.join(where, 'harness.lsp'), 'w') as f:
                    f.write(HARNESS)
                sources = ' '.join('"%s"' % b for b, _ in files if b.endswith('.lsp'))
                manifest = os.path.join(where, 'sample.app')
                with open(manifest, 'w') as f:
                    f.write('(application "Sample" :load (%s "harness.lsp") :frame (320 260) :flags (menu-bar))\n'
                            % sources)
                with open(os.path.join(where, 'test.input'), 'w') as f:
                    f.write('wait 100\nscreenshot sample.png\nclose\n')
            app = os.path.join(where, 'app.RI')
            packed = run([a.talven, 'pack', manifest, '-o', app], env=env)
            check('%s packs' % folder, packed.returncode == 0, packed.stderr.decode('utf-8', 'replace'))
            script = os.path.join(where, 'test.input')
            if packed.returncode != 0 or not os.path.exists(script):
                continue
            ran = run([a.talven, 'run', '--input', script, app], cwd=where, env=env)
            out = ran.stdout.decode('utf-8', 'replace')
            err = ran.stderr.decode('utf-8', 'replace')
            check('%s runs' % folder, ran.returncode == 0 and 'alert:' not in out, out + err)
            expected = os.path.join(where, 'expected.txt')
            if os.path.exists(expected):
                want = open(expected, encoding='cp1252').read()
                check('%s prints what the guide says' % folder, out == want,
                      '\n--- guide\n%s--- got\n%s' % (want, out))
    return report()


if __name__ == '__main__':
    sys.exit(main())
