#!/usr/bin/env python3
"""Runs every benchmark on talven and on the peer interpreters, interleaved
(round by round, each round every program on every interpreter), and writes
one report to stdout and bench/RESULTS.md.

Each program runs for 0.1 to 1 second on talven. Each interpreter's start-up
is its time on the empty program, measured in the same rounds (20 runs in
each); it is subtracted from that interpreter's median before any ratio is
taken, so the ratios compare the work and not the start-up. The report shows, per program
and interpreter, the raw wall time (median, min and max over the rounds), the
net time, peak resident memory, and talven's net time divided by the peer's
(below 1: talven is faster). The checksum each program prints last must agree
with talven's, or the cell says so and takes no ratio. Callgrind's
instruction count of every talven program comes last (deterministic: the
figure to follow while changing the evaluator)."""
import argparse
import concurrent.futures
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
# The peers compared by default: the targets (petite, Lua 5.4, scm) and the
# Prolog systems. The others are slow enough on one-second programs to
# stretch a run to an hour; --peers all brings them in.
DEFAULT_PEERS = ['scm', 'petite', 'lua5.4', 'swipl', 'gprolog']
EMPTY = 'empty'
# The empty program takes a few milliseconds: it runs this many times in each
# round, interleaved across the interpreters, so that the start-up figure
# subtracted from every other program rests on enough runs to hold still.
EMPTY_REPEAT = 20


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
        p = subprocess.run(['nice', 'valgrind', '--tool=callgrind', '--callgrind-out-file=/dev/null', talven, program],
                           capture_output=True, timeout=3600, cwd=HERE)
    except (OSError, subprocess.TimeoutExpired):
        return None
    m = re.search(r'Collected : (\d+)', p.stderr.decode('latin-1'))
    return int(m.group(1)) if m else None


def geometric_mean(xs):
    return math.exp(sum(math.log(x) for x in xs) / len(xs)) if xs else None


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('--talven', default=os.path.join(ROOT, 'build', 'talven'))
    ap.add_argument('--runs', type=int, default=3, help='rounds (default 3)')
    ap.add_argument('--timeout', type=float, default=120)
    ap.add_argument('--only', nargs='*', help='these programs (the empty program is always run)')
    ap.add_argument('--peers', nargs='*', default=DEFAULT_PEERS, help='peer names, or "all"')
    ap.add_argument('--no-callgrind', action='store_true')
    ap.add_argument('--callgrind-only', action='store_true', help='only the instruction counts, printed')
    ap.add_argument('--output', default=os.path.join(HERE, 'RESULTS.md'))
    args = ap.parse_args()

    benches = sorted(f[:-4] for f in os.listdir(os.path.join(HERE, 'talven')) if f.endswith('.lsp'))
    if args.only:
        benches = [b for b in benches if b in args.only or b == EMPTY]

    if args.callgrind_only:
        counts = callgrind_all(args.talven, benches)
        for b in benches:
            if b in counts:
                print('%-12s %s' % (b, '{:,}'.format(counts[b]) if counts[b] else 'n/a'))
        return 0

    def program_name(cmd):
        return next(c for c in cmd if c != 'env' and '=' not in c)

    wanted = [p for p in PEERS if 'all' in args.peers or p[0] in args.peers]
    peers = [p for p in wanted if subprocess.run(['which', program_name(p[1])], capture_output=True).returncode == 0]
    missing = [p[0] for p in wanted if p not in peers]
    interps = [('talven', [args.talven], 'talven', '.lsp')] + peers

    def program(interp, bench):
        name, cmd, folder, ext = interp
        base = os.path.join(HERE, 'talven') if folder == 'talven' else os.path.join(HERE, 'peers', folder)
        path = os.path.join(base, bench + ext)
        return cmd + [path] if os.path.exists(path) else None

    times, mem, sums = {}, {}, {}
    for r in range(args.runs):
        for bench in benches:
            for _ in range(EMPTY_REPEAT if bench == EMPTY else 1):
                for interp in interps:
                    cmd = program(interp, bench)
                    if cmd is None:
                        continue
                    t, kb, checksum = run_measured(cmd, args.timeout)
                    key = (bench, interp[0])
                    sums.setdefault(key, checksum)
                    if checksum != sums[key]:
                        sums[key] = 'varies'
                    if t is not None:
                        times.setdefault(key, []).append(t)
                        mem.setdefault(key, []).append(kb)
        print('round %d of %d done' % (r + 1, args.runs), file=sys.stderr)

    names = [i[0] for i in interps]
    # Start-up: each interpreter's median on the empty program.
    startup = {n: statistics.median(times[(EMPTY, n)]) for n in names if (EMPTY, n) in times}

    def net(bench, n):
        med = statistics.median(times[(bench, n)])
        return max(med - startup.get(n, 0.0), 0.001)

    ok = {}
    for bench in benches:
        ref = sums.get((bench, 'talven'))
        for n in names:
            key = (bench, n)
            ok[key] = key in times and sums.get(key) == ref and not ref.startswith(('exit', 'timeout', 'varies'))

    out = []
    out.append('## Net time and talven\'s ratio')
    out.append('')
    out.append('Median seconds less the interpreter\'s empty-program median; the ratio is talven\'s net time '
               'divided by the peer\'s (below 1: talven is faster).')
    out.append('')
    out.append('| program | ' + ' | '.join(names) + ' |')
    out.append('|' + '---|' * (len(names) + 1))
    ratios = {n: [] for n in names[1:]}
    slower = {n: [] for n in names[1:]}
    for bench in benches:
        if bench == EMPTY:
            continue
        cells = []
        for n in names:
            key = (bench, n)
            if key not in sums:
                cells.append('-')
            elif not ok[key]:
                cells.append('checksum %s vs %s' % (sums[key], sums.get((bench, 'talven'))))
            elif n == 'talven':
                cells.append('%.3f' % net(bench, n))
            elif not ok[(bench, 'talven')]:
                cells.append('%.3f' % net(bench, n))
            else:
                ratio = net(bench, 'talven') / net(bench, n)
                ratios[n].append(ratio)
                if ratio > 1:
                    slower[n].append(bench)
                cells.append('%.3f x%.2f' % (net(bench, n), ratio))
        out.append('| %s | %s |' % (bench, ' | '.join(cells)))
    geo = []
    for n in names[1:]:
        g = geometric_mean(ratios[n])
        geo.append('**%.2f** (%d)' % (g, len(ratios[n])) if g else '-')
    out.append('| geometric mean of talven / peer (programs) | - | ' + ' | '.join(geo) + ' |')
    out.append('| programs where talven is slower | - | ' +
               ' | '.join(', '.join(slower[n]) or 'none' for n in names[1:]) + ' |')
    out.append('')
    out.append('## Start-up: the empty program')
    out.append('')
    out.append('| | ' + ' | '.join(names) + ' |')
    out.append('|' + '---|' * (len(names) + 1))
    out.append('| median seconds (%d runs) | ' % (args.runs * EMPTY_REPEAT) +
               ' | '.join('%.4f' % startup[n] if n in startup else '-' for n in names) + ' |')
    out.append('| fastest run | ' + ' | '.join('%.4f' % min(times[(EMPTY, n)]) if n in startup else '-'
                                            for n in names) + ' |')
    out.append('')
    out.append('## Raw wall time and peak memory')
    out.append('')
    out.append('Median seconds (min to max over %d rounds; the empty program %d runs) and the largest peak '
               'resident memory.' % (args.runs, args.runs * EMPTY_REPEAT))
    out.append('')
    out.append('| program | ' + ' | '.join(names) + ' |')
    out.append('|' + '---|' * (len(names) + 1))
    for bench in benches:
        cells = []
        for n in names:
            key = (bench, n)
            if key not in times:
                cells.append(sums.get(key, '-'))
                continue
            ts = times[key]
            cells.append('%.3f (%.3f-%.3f) %.1f MB' % (statistics.median(ts), min(ts), max(ts), max(mem[key]) / 1024.0))
        out.append('| %s | %s |' % (bench, ' | '.join(cells)))

    if not args.no_callgrind:
        counts = callgrind_all(args.talven, benches)
        out.append('')
        out.append('## talven instruction counts (callgrind)')
        out.append('')
        out.append('| program | instructions |')
        out.append('|---|---|')
        for bench in benches:
            n = counts.get(bench)
            out.append('| %s | %s |' % (bench, '{:,}'.format(n) if n else 'n/a'))

    report = '\n'.join(out)
    print(report)
    header = ('# Benchmark results\n\n'
              'Written by `make bench` on %s: %d interleaved rounds of every program on every interpreter%s.\n\n'
              % (time.strftime('%Y-%m-%d %H:%M'), args.runs,
                 ('; not installed: ' + ', '.join(missing)) if missing else ''))
    keep = ''
    try:
        with open(args.output) as f:
            old = f.read()
        # Sections written by other benchmarks (pictures, graphics) are kept.
        m = re.search(r'\n## Pictures:.*', old, re.S)
        keep = m.group(0) if m else ''
    except OSError:
        pass
    with open(args.output, 'w') as f:
        f.write(header + report + '\n' + keep)
    return 0


def callgrind_all(talven, benches):
    """Instruction counts of the talven programs, two at a time (the wall
    times are taken by then, and callgrind's counts do not depend on load)."""
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        futures = {b: pool.submit(callgrind, talven, os.path.join(HERE, 'talven', b + '.lsp')) for b in benches}
        return {b: f.result() for b, f in futures.items()}


if __name__ == '__main__':
    sys.exit(main())
