#!/usr/bin/env python3
"""Scenarios: an application packed from its manifest and driven by an
input script as a user drives it (`talven run --headless --input`). The
folder of a scenario holds the manifest (NAME.app), its sources, the
script (input.txt), a second script run afterwards on the same settings
folder when there is one (again.txt: what a user sees the next time), the run's extra options in `options.txt` when there
is one (`--depth 8`), or instead a file `from.txt` naming a manifest and a
script elsewhere (an example's, by paths relative to the folder), the
transcript expected (expected.txt: what the run
printed, then a line `status N`; a run ending with status 77 skips the
scenario) and the screenshots the script takes,
each compared with the PNG of the same name beside the script, and the
audio logs it writes (WAV) likewise. Settings, state and caches go to
folders of the run's own.

usage: scenario_test.py --talven PATH DIR [--update]

--update writes the transcript and the screenshots of this run as the
expected ones (look at the pictures before committing them).
"""
import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile

from checks import check, report

# The status of an application that cannot run here (what it needs is not
# installed): the scenario is skipped, not failed.
SKIP = 77


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--talven', required=True)
    ap.add_argument('--update', action='store_true')
    ap.add_argument('dir')
    a = ap.parse_args()
    folder = os.path.abspath(a.dir)
    name = os.path.basename(folder)
    manifest = os.path.join(folder, name + '.app')
    script = os.path.join(folder, 'input.txt')
    if os.path.exists(os.path.join(folder, 'from.txt')):
        lines = open(os.path.join(folder, 'from.txt')).read().split()
        manifest, script = (os.path.normpath(os.path.join(folder, p)) for p in lines[:2])
    with tempfile.TemporaryDirectory() as tmp:
        app = os.path.join(tmp, name + '.RI')
        packed = subprocess.run([a.talven, 'pack', manifest, '-o', app], capture_output=True, text=True)
        if packed.returncode != 0:
            print('FAIL pack: ' + packed.stderr)
            return 1
        options_path = os.path.join(folder, 'options.txt')
        options = open(options_path).read().split() if os.path.exists(options_path) else []
        env = dict(os.environ)
        for var, sub in (('XDG_CONFIG_HOME', 'config'), ('XDG_STATE_HOME', 'state'), ('XDG_CACHE_HOME', 'cache')):
            env[var] = os.path.join(tmp, sub)
        scripts = [script] + [p for p in [os.path.join(folder, 'again.txt')] if os.path.exists(p)]
        transcript, stderr = '', ''
        for s in scripts:
            run = subprocess.run([a.talven, 'run'] + options + ['--input', s, app],
                                 cwd=tmp, env=env, capture_output=True, timeout=600)
            if run.returncode == SKIP:
                print('SKIP %s: %s' % (name, run.stdout.decode('utf-8', 'replace').strip()))
                return SKIP
            transcript += run.stdout.decode('utf-8', 'replace') + 'status %d\n' % run.returncode
            stderr += run.stderr.decode('utf-8', 'replace')
        # A step of a script that could not be played is a broken test.
        faults = [l for l in stderr.splitlines() if any(l.startswith('talven: %s:' % s) for s in scripts)]
        if faults:
            print('FAIL script: ' + '\n'.join(faults))
            return 1
        shots = sorted(os.path.basename(p) for p in glob.glob(os.path.join(tmp, '*.png')) +
                       glob.glob(os.path.join(tmp, '*.wav')))
        expected_path = os.path.join(folder, 'expected.txt')
        if a.update:
            with open(expected_path, 'w') as f:
                f.write(transcript)
            for s in shots:
                shutil.copy(os.path.join(tmp, s), os.path.join(folder, s))
            print('updated %s: %d screenshot(s)' % (name, len(shots)))
            return 0
        expected = open(expected_path).read() if os.path.exists(expected_path) else ''
        check('transcript', transcript == expected,
              '\n--- expected\n%s--- got\n%s--- stderr\n%s' % (expected, transcript,
                                                               stderr))
        goldens = sorted(os.path.basename(p) for p in glob.glob(os.path.join(folder, '*.png')) +
                         glob.glob(os.path.join(folder, '*.wav')))
        check('screenshots taken', shots == goldens, '%s against %s' % (shots, goldens))
        for s in shots:
            golden = os.path.join(folder, s)
            if os.path.exists(golden):
                same = open(os.path.join(tmp, s), 'rb').read() == open(golden, 'rb').read()
                check('screenshot ' + s, same, '(differs from the golden)')
    return report()


if __name__ == '__main__':
    sys.exit(main())
