#!/usr/bin/env python3
"""Runs every benchmark on talven and on the peer interpreters, interleaved
(A B A B ...), and prints one table: median seconds and peak resident memory
per benchmark and interpreter, talven's ratio to each peer and the geometric
mean of those ratios. Checksums (the last line each program prints) must
agree, or the cell says so. The table is also written to bench/RESULTS.md."""
import argparse
import math
import os
import re
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

# name, command prefix, folder, extension; the program path is appended.
PEERS = [
    ('scm', ['scm', '-f'], 'scheme', '.scm'),
    ('elk', ['elk', '-l'], 'scheme', '.scm'),
    ('tinyscheme', ['tinyscheme'], 'scheme', '.scm'),
    ('guile', ['guile', '--no-auto-compile'], 'scheme', '.scm'),
    ('petite', ['petite', '--script'], 'scheme', '.scm'),
    ('gsi', ['gsi'], 'scheme', '.scm'),
    ('csi', ['csi', '-script'], 'scheme', '.scm'),
    ('lua5.4', ['lua5.4'], 'lua', '.lua'),
    ('swipl', ['swipl', '-q'], 'prolog', '.pl'),
    # GNU Prolog runs consulted code from its global stack: the deep
    # recursion needs more than the default 32 MB.
    ('gprolog', ['env', 'GLOBALSZ=262144', 'gprolog', '--consult-file'], 'prolog', '.pl'),
]


def run_measured(cmd, timeout):
    """Runs cmd once: wall seconds, peak resident KB (from GNU time, which
    measures the program alone), and the checksum it printed."""
    stats = os.path.join(HERE, '.time-stats')
    start = time.monotonic()
    try:
        p = subprocess.run(['/usr/bin/time', '-f', '%M', '-o', stats] + cmd, stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, cwd=HERE, timeout=timeout)
    except subprocess.TimeoutExpired:
        return None, None, 'timeout'
    elapsed = time.monotonic() - start
    kb = 0
    try:
        with open(stats) as f:
            kb = int(f.read().split()[-1])
    except (OSError, ValueError, IndexError):
        pass
    text = p.stdout.decode('latin-1').replace('\r', '\n').split()
    checksum = text[-1] if text else ''
    if p.returncode != 0:
        checksum = 'exit %d' % p.returncode
    return elapsed, kb, checksum


def callgrind(talven, program):
    try:
        p = subprocess.run(['valgrind', '--tool=callgrind', '--callgrind-out-file=/dev/null', talven, program],
                           capture_output=True, timeout=600, cwd=HERE)
    except (OSError, subprocess.TimeoutExpired):
        return None
    m = re.search(r'Collected : (\d+)', p.stderr.decode('latin-1'))
    return int(m.group(1)) if m else None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--talven', default=os.path.join(ROOT, 'build', 'talven'))
    ap.add_argument('--runs', type=int, default=3)
    ap.add_argument('--timeout', type=float, default=60)
    ap.add_argument('--only', nargs='*')
    ap.add_argument('--no-callgrind', action='store_true')
    args = ap.parse_args()

    benches = sorted(f[:-4] for f in os.listdir(os.path.join(HERE, 'talven')) if f.endswith('.lsp'))
    if args.only:
        benches = [b for b in benches if b in args.only]
    def program_name(cmd):
        return next(c for c in cmd if c != 'env' and '=' not in c)

    peers = [p for p in PEERS if subprocess.run(['which', program_name(p[1])], capture_output=True).returncode == 0]
    interps = [('talven', [args.talven], 'talven', '.lsp')] + peers

    def program(interp, bench):
        name, cmd, folder, ext = interp
        base = os.path.join(HERE, 'talven') if folder == 'talven' else os.path.join(HERE, 'peers', folder)
        path = os.path.join(base, bench + ext)
        return cmd + [path] if os.path.exists(path) else None

    times = {}
    mem = {}
    sums = {}
    for r in range(args.runs):
        for bench in benches:
            for interp in interps:
                cmd = program(interp, bench)
                if cmd is None:
                    continue
                t, kb, checksum = run_measured(cmd, args.timeout)
                key = (bench, interp[0])
                sums.setdefault(key, checksum)
                if t is not None:
                    times.setdefault(key, []).append(t)
                    mem.setdefault(key, []).append(kb)
        print('round %d of %d done' % (r + 1, args.runs), file=sys.stderr)

    names = [i[0] for i in interps]
    lines = []
    header = '| benchmark | ' + ' | '.join(names) + ' |'
    lines.append(header)
    lines.append('|' + '---|' * (len(names) + 1))
    ratios = {n: [] for n in names[1:]}
    for bench in benches:
        ref = sums.get((bench, 'talven'))
        cells = []
        t_talven = statistics.median(times[(bench, 'talven')]) if (bench, 'talven') in times else None
        for n in names:
            key = (bench, n)
            if key not in sums:
                cells.append('-')
                continue
            if key not in times:
                cells.append(sums[key])
                continue
            med = statistics.median(times[key])
            kb = max(mem[key])
            cell = '%.3f s %.1f MB' % (med, kb / 1024.0)
            if sums[key] != ref:
                cell += ' (checksum %s vs %s)' % (sums[key], ref)
            elif n != 'talven' and t_talven is not None and med > 0:
                ratio = t_talven / med
                ratios[n].append(ratio)
                cell += ' x%.2f' % ratio
            cells.append(cell)
        lines.append('| %s | %s |' % (bench, ' | '.join(cells)))
    geo = []
    for n in names[1:]:
        rs = ratios[n]
        geo.append('%.2f' % math.exp(sum(math.log(x) for x in rs) / len(rs)) if rs else '-')
    lines.append('| geometric mean of talven / peer | - | ' + ' | '.join(geo) + ' |')

    if not args.no_callgrind:
        lines.append('')
        lines.append('| talven instruction counts (callgrind) | instructions |')
        lines.append('|---|---|')
        for bench in ('fib', 'tak'):
            if bench in benches:
                n = callgrind(args.talven, os.path.join(HERE, 'talven', bench + '.lsp'))
                lines.append('| %s | %s |' % (bench, '{:,}'.format(n) if n else 'n/a'))

    table = '\n'.join(lines)
    print(table)
    with open(os.path.join(HERE, 'RESULTS.md'), 'w') as f:
        f.write('# Benchmark results\n\n')
        f.write('Written by `make bench` (%d runs each, interleaved, on %s). Each cell: median wall seconds, '
                'peak resident memory, and talven\'s time divided by that peer\'s (below 1: talven is '
                'faster).\n\n' % (args.runs, time.strftime('%Y-%m-%d')))
        f.write(table + '\n')
    return 0


if __name__ == '__main__':
    sys.exit(main())
