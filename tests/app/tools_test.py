#!/usr/bin/env python3
"""The command-line tools (pict render, rsrc extract, pack, unpack, db list)
and the runtime's writers against hostile file-system layouts, one ctest per
group:

  outputs   an output that is one of the inputs is refused and the input
            kept; a FIFO or a device node named as the output is written
            into and stays what it was; a symbolic link keeps pointing at
            its target, which is replaced; no temporary is left behind
  inputs    a FIFO, a device node or a folder given as an input is refused
            at once, never read or waited on
  locks     one writer at a time: a second writer of a database is refused
            at open (error 38), a reader is not, and two processes writing
            300 records each lose none that was acknowledged
  limits    past the file-size limit a write fails (error 46, or status 1
            with no temporary left), never a death by SIGXFSZ
  unpack    resource types that a file name cannot hold as they are get
            files of their own: unpacked and packed again, the same file
            (and the corpus forks, when ../shared/corpus/rsrc is there)

Device nodes are made with mknod in the temporary folder (root only; a line
says when they are skipped).

usage: tools_test.py --talven PATH --examples DIR [GROUP ...]
"""
import argparse
import os
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import threading

from checks import check, report


def read(path):
    with open(path, 'rb') as f:
        return f.read()


def write(path, data):
    with open(path, 'wb') as f:
        f.write(data.encode('utf-8') if isinstance(data, str) else data)


class Env:
    def __init__(self, talven, examples, tmp):
        self.talven = talven
        self.examples = examples
        self.tmp = tmp
        self.env = dict(os.environ)
        self.env['XDG_STATE_HOME'] = os.path.join(tmp, 'state')
        self.env['TALVEN_NO_FSYNC'] = '1'

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)

    def run(self, args, timeout=60):
        try:
            p = subprocess.run([self.talven] + args, capture_output=True, timeout=timeout, env=self.env,
                               cwd=self.tmp, stdin=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            return 'timeout', '', ''
        return p.returncode, p.stdout.decode('utf-8', 'replace'), p.stderr.decode('utf-8', 'replace')


# A picture: its size, its frame, version 1, a black rectangle painted, end.
def picture(width, height):
    body = b'\x11\x01' + b'\x31' + struct.pack('>hhhh', 1, 1, height - 1, width - 1) + b'\xff'
    return struct.pack('>Hhhhh', 10 + len(body), 0, 0, height, width) + body


def device_node(path):
    """A private character device like the null device; False when this
    user may not make one."""
    try:
        os.mknod(path, stat.S_IFCHR | 0o666, os.makedev(1, 3))
        return True
    except PermissionError:
        return False


class FifoReader:
    """Reads everything written into a FIFO, on a thread of its own."""

    def __init__(self, path):
        self.data = b''
        self.path = path
        self.thread = threading.Thread(target=self._read, args=(path,), daemon=True)
        self.thread.start()

    def _read(self, path):
        with open(path, 'rb') as f:
            self.data = f.read()

    def join(self):
        """What was read, once the writer is gone; a reader still waiting
        for a writer (none came) is released."""
        self.thread.join(5)
        if self.thread.is_alive():
            try:
                os.close(os.open(self.path, os.O_WRONLY | os.O_NONBLOCK))
            except OSError:
                pass
            self.thread.join(5)
        return self.data


def leftovers(folder):
    return [n for n in os.listdir(folder) if '.tmp' in n]


def group_outputs(e):
    pic = e.path('pic.pict')
    write(pic, picture(8, 6))
    before = read(pic)

    # The input named as the output, directly or by another name.
    rc, _, err = e.run(['pict', 'render', pic, pic])
    check('pict render X X: refused', rc == 1 and 'input' in err and read(pic) == before, repr((rc, err)))
    os.link(pic, e.path('same.pict'))
    rc, _, err = e.run(['pict', 'render', pic, 'same.pict'])
    check('pict render onto a hard link of the input: refused', rc == 1 and read(pic) == before, repr((rc, err)))

    # A FIFO and a device node take the bytes and stay what they were.
    fifo = e.path('out.fifo')
    os.mkfifo(fifo)
    reader = FifoReader(fifo)
    rc, _, err = e.run(['pict', 'render', pic, fifo])
    data = reader.join()
    check('pict render into a FIFO', rc == 0 and data.startswith(b'\x89PNG') and stat.S_ISFIFO(os.lstat(fifo).st_mode),
          repr((rc, err, data[:8])))
    node = e.path('null')
    if device_node(node):
        rc, _, err = e.run(['pict', 'render', pic, node])
        check('pict render into a device node', rc == 0 and stat.S_ISCHR(os.lstat(node).st_mode), repr((rc, err)))
    else:
        print('skipped: device nodes (mknod needs root)')

    # A symbolic link keeps pointing at its target, which gets the picture;
    # a dangling one makes its target.
    write(e.path('target.png'), b'old')
    os.symlink('target.png', e.path('link.png'))
    os.symlink('made.png', e.path('dangling.png'))
    rc1, _, err1 = e.run(['pict', 'render', pic, 'link.png'])
    rc2, _, err2 = e.run(['pict', 'render', pic, 'dangling.png'])
    check('pict render through symbolic links',
          rc1 == 0 and rc2 == 0 and os.path.islink(e.path('link.png')) and os.path.islink(e.path('dangling.png'))
          and read(e.path('target.png')).startswith(b'\x89PNG') and read(e.path('made.png')).startswith(b'\x89PNG'),
          repr((rc1, err1, rc2, err2)))

    # The packer: an output that is the manifest, a source or a resource
    # file is refused, and nothing is changed.
    src = e.path('app')
    os.makedirs(src)
    write(os.path.join(src, 'main.lsp'), '(define (toplevel-loop) (quit))\n')
    write(os.path.join(src, 'notes.txt'), 'notes')
    manifest = os.path.join(src, 'm.app')
    text = '(application "T" :load ("main.lsp") :resources (("TEXT" 128 "notes.txt")))\n'
    write(manifest, text)
    originals = {n: read(os.path.join(src, n)) for n in os.listdir(src)}
    for out in ('m.app', 'main.lsp', 'notes.txt'):
        rc, _, err = e.run(['pack', manifest, '-o', os.path.join(src, out)])
        check('pack -o %s: refused' % out, rc == 1 and 'input' in err, repr((rc, err)))
    write(e.path('m2.app'), text.replace('(application "T"', '(application "T" :output "m2.app"')
          .replace('"main.lsp"', '"app/main.lsp"').replace('"notes.txt"', '"app/notes.txt"'))
    rc, _, err = e.run(['pack', e.path('m2.app')])
    check('pack with :output naming the manifest: refused', rc == 1 and 'input' in err, repr((rc, err)))
    check('pack left its inputs alone', {n: read(os.path.join(src, n)) for n in os.listdir(src)} == originals)

    # The packer into a FIFO; rsrc extract refuses its input as output and
    # writes into a FIFO.
    reader = FifoReader(fifo)
    rc, _, err = e.run(['pack', manifest, '-o', fifo])
    packed = reader.join()
    check('pack into a FIFO', rc == 0 and len(packed) > 256, repr((rc, err, len(packed))))
    app = e.path('t.RI')
    write(app, packed)
    rc, _, err = e.run(['rsrc', 'extract', app, 'TEXT', '128', app])
    check('rsrc extract onto its input: refused', rc == 1 and read(app) == packed, repr((rc, err)))
    reader = FifoReader(fifo)
    rc, _, err = e.run(['rsrc', 'extract', app, 'TEXT', '128', fifo])
    check('rsrc extract into a FIFO', rc == 0 and reader.join() == b'notes', repr((rc, err)))
    check('no temporaries left', not leftovers(e.tmp) and not leftovers(src), repr(os.listdir(e.tmp)))


def group_inputs(e):
    fifo = e.path('in.fifo')
    os.mkfifo(fifo)
    os.makedirs(e.path('folder'))
    node = e.path('zero')
    inputs = [fifo, e.path('folder')]
    if device_node(node):
        inputs.append(node)
    else:
        print('skipped: a device node as input (mknod needs root)')
    for path in inputs:
        name = os.path.basename(path)
        for args in (['pict', 'render', path, 'out.png'], ['unpack', path, 'u'], ['rsrc', 'list', path]):
            rc, _, err = e.run(args, timeout=10)
            check('%s of %s: refused' % (args[0], name), rc == 1 and path in err, repr((rc, err)))
    check('nothing written', not os.path.exists(e.path('out.png')) and not os.path.exists(e.path('u')))
    # Files the user may not read, and a folder it may not write, are said
    # as such (run as an ordinary user: root reads everything).
    as_user = ['setpriv', '--reuid=65534', '--regid=65534', '--clear-groups', e.talven]
    usable = shutil.which('setpriv') and os.geteuid() == 0
    if usable:
        os.chmod(e.tmp, 0o755)
        # The build may lie where another user cannot reach it.
        usable = subprocess.run(as_user + ['--help'], capture_output=True, timeout=20).returncode == 0
    if usable:
        secret = e.path('secret.rsrc')
        write(secret, b'x')
        os.chmod(secret, 0)
        os.makedirs(e.path('ro'))
        os.chmod(e.path('ro'), 0o555)
        for args in (['rsrc', 'list', secret], ['db', 'list', secret], ['run', '--headless', secret]):
            p = subprocess.run(as_user + args, cwd=e.tmp, capture_output=True, timeout=20)
            check('%s of an unreadable file says so' % args[0], p.returncode in (1, 255) and b'Permission denied' in p.stderr,
                  repr((p.returncode, p.stderr)))
        write(e.path('ok.lsp'), '(define x 1)\n')
        write(e.path('m.app'), '(application "T" :load ("ok.lsp"))')
        subprocess.run([e.talven, 'pack', e.path('m.app'), '-o', e.path('ok.RI')], capture_output=True)
        os.chmod(e.path('ok.RI'), 0o644)
        p = subprocess.run(as_user + ['unpack', e.path('ok.RI'), e.path('ro/u')], cwd=e.tmp, capture_output=True, timeout=20)
        check('unpack into a folder it may not make', p.returncode == 1 and b'ro/u: cannot make the folder: Permission denied'
              in p.stderr, repr((p.returncode, p.stderr)))
    else:
        print('skipped: unreadable files (needs root, setpriv, and a build another user can run)')
    # A tiny picture naming a huge frame is refused before anything is
    # drawn, unless --max-pixels allows that many.
    huge = b'\0\0' + bytes([0, 0, 0, 0, 0x40, 0, 0x40, 0]) + b'\x11\x01\xff'
    write_bytes = open(e.path('huge.pict'), 'wb')
    write_bytes.write(huge)
    write_bytes.close()
    rc, _, err = e.run(['pict', 'render', e.path('huge.pict'), 'h.png'], timeout=10)
    check('huge frame: refused', rc == 1 and '16384x16384 is 268435456 pixels, more than 16777216' in err
          and not os.path.exists(e.path('h.png')), repr((rc, err)))
    rc, _, err = e.run(['pict', 'render', e.path('huge.pict'), 'h.png', '64x64', '--max-pixels', '4096'], timeout=10)
    check('huge frame: drawn smaller within the budget', rc == 0 and os.path.exists(e.path('h.png')), repr((rc, err)))
    # A folder or a FIFO as a source or a resource file of a manifest.
    for given in ('folder', 'in.fifo'):
        write(e.path('m.app'), '(application "T"\n :load ("%s"))\n' % given)
        rc, _, err = e.run(['pack', e.path('m.app'), '-o', 'x.RI'], timeout=10)
        check('pack of a %s as a source: refused' % given, rc == 1 and 'm.app:2:' in err, repr((rc, err)))
        write(e.path('m.app'), '(application "T"\n :resources (("TEXT" 1 "%s")))\n' % given)
        rc, _, err = e.run(['pack', e.path('m.app'), '-o', 'x.RI'], timeout=10)
        check('pack of a %s as a resource: refused' % given, rc == 1 and 'm.app:2:' in err, repr((rc, err)))


# A writer of a database: batches of ten records, each batch in one open,
# an open refused as busy (error 38) tried again; every record written is
# printed once its commit has returned.
WRITER = """(define H (new-class 'H))
(H (define (error-trap _k _n _v _o _a _b) (throw 'refused _n)))
(define Error-Handler (make-instance H))
(define busy 0)
(define (open-db)
  (let ((_d (catch 'refused (open-database "%(db)s" 2))))
    (if (eq? _d 38) (begin (set! busy (+ busy 1)) (open-db)) _d)))
(define (put-all _d _i _hi)
  (if (< _i _hi) (begin (put-record-number _i "NUMB" _i _d) (display _i ()) (display " " ()) (put-all _d (+ _i 1) _hi))))
(define (run _lo _hi)
  (if (< _lo _hi) (let ((_d (open-db))) (put-all _d _lo (+ _lo 10)) (close-database _d ()) (run (+ _lo 10) _hi))))
(run %(lo)d (+ %(lo)d 300))
(display (list 'busy busy) ())
"""


def group_locks(e):
    db = e.path('shared.db')
    rc, _, err = e.run(['-e', '(create-database-subr "%s" "CREA" "TYPE")' % db])
    check('database made', rc == 0, err)
    # A writer holds the database open: a second writer is refused at open
    # with error 38 naming the file, a reader is not.
    holder = subprocess.Popen([e.talven], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              env=e.env, cwd=e.tmp)
    holder.stdin.write(b'(define d (open-database "%s" 2))\n' % db.encode())
    holder.stdin.flush()
    holder.stdout.readline()
    rc, _, err = e.run(['-e', '(open-database "%s" 2)' % db])
    check('a second writer: error 38 with the path', rc == 1 and 'error 38' in err and db in err, repr((rc, err)))
    rc, _, err = e.run(['-e', '(open-database "%s" 0)' % db])
    check('a reader beside a writer', rc == 0, repr((rc, err)))
    holder.stdin.close()
    holder.wait(30)

    # Two processes writing 300 records each: every acknowledged record is
    # in the database.
    procs = []
    for lo in (1, 1001):
        script = e.path('writer%d.lsp' % lo)
        write(script, WRITER % {'db': db, 'lo': lo})
        procs.append(subprocess.Popen([e.talven, script], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                      env=e.env, cwd=e.tmp))
    acked = []
    for p in procs:
        out, err = p.communicate(timeout=300)
        words = out.decode().replace('(', ' ').replace(')', ' ').split()
        check('writer ends well', p.returncode == 0, repr((p.returncode, err.decode()[-300:])))
        acked += [int(w) for w in words[:-2] if w.isdigit()]
        print('writer: %s opens refused as busy' % words[-1] if words else '?')
    rc, out, err = e.run(['db', 'list', db])
    stored = {int(line.split('\t')[1]) for line in out.splitlines()[1:]}
    check('600 records acknowledged', sorted(acked) == list(range(1, 301)) + list(range(1001, 1301)),
          repr(len(acked)))
    check('every acknowledged record stored', rc == 0 and set(acked) <= stored,
          repr((rc, err, len(stored), sorted(set(acked) - stored)[:10])))


def group_unpack(e):
    # Types that differ only in bytes a file name cannot hold as they are
    # ('../x' and '..\\x', quotes, control and high bytes, spaces): packed,
    # unpacked and packed again, the same file.
    types = [b'../x', b'..\\x', b'.._x', b'a"b\\', b'\x01\x02/ ', b'\xff\xfe%_', b'%25_', b'STR ', b'\r\n\t ']
    # One id for all: the names differ by the type alone.
    resources = ''.join('("%s" 128 "r%d.bin")' % (t.decode('latin-1').replace('\\', '\\\\').replace('"', '\\"'), i)
                        for i, t in enumerate(types))
    for i, t in enumerate(types):
        write(e.path('r%d.bin' % i), b'data of ' + t)
    write(e.path('main.lsp'), b'(define x 1)\n')
    write(e.path('m.app'), ('(application "T" :output "x.RI" :load ("main.lsp") :resources (%s))\n'
                            % resources).encode('latin-1'))
    # The header holds the output's name: both outputs are x.RI.
    os.makedirs(e.path('a'))
    os.makedirs(e.path('b'))
    rc, _, err = e.run(['pack', e.path('m.app'), '-o', e.path('a', 'x.RI')])
    check('hostile types packed', rc == 0, err)
    rc1, _, err1 = e.run(['unpack', e.path('a', 'x.RI'), 'u'])
    rc2, _, err2 = e.run(['pack', e.path('u', 'manifest.lsp'), '-o', e.path('b', 'x.RI')])
    check('hostile types: unpacked and packed again, the same file',
          rc1 == 0 and rc2 == 0 and read(e.path('a', 'x.RI')) == read(e.path('b', 'x.RI')), repr((err1, err2)))
    check('one file per resource, all inside the folder', len(os.listdir(e.path('u'))) == len(types) + 2,
          repr(os.listdir(e.path('u'))))

    corpus = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', '..', 'shared', 'corpus', 'rsrc')
    if not os.path.isdir(corpus):
        print('skipped: no corpus at %s (unpacking the sample forks)' % os.path.normpath(corpus))
        return
    for name in sorted(os.listdir(corpus)):
        if not name.endswith('.rsrc'):
            continue
        fork = os.path.join(corpus, name)
        # Packed from the unpacked fork: every resource kept, and unpacking
        # and packing that gives it again byte for byte.
        outs = []
        packed = [e.path('c0', name), e.path('c1', name)]
        for step, source in enumerate((fork, packed[0])):
            os.makedirs(os.path.dirname(packed[step]))
            rc1, _, err1 = e.run(['unpack', source, e.path('cu%d' % step)])
            rc2, _, err2 = e.run(['pack', e.path('cu%d' % step, 'manifest.lsp'), '-o', packed[step]])
            outs.append((rc1, rc2, err1 + err2))
        same = all(o[0] == 0 and o[1] == 0 for o in outs) and read(packed[0]) == read(packed[1])
        # Type, id, name, attributes, length and digest: all kept.
        entries = lambda listing: {tuple(l.split('\t')) for l in listing.splitlines()}
        rc, original, _ = e.run(['rsrc', 'list', fork])
        rc, repacked, _ = e.run(['rsrc', 'list', packed[0]])
        kept = entries(original) <= entries(repacked)
        check('corpus %s: unpacked and packed, every resource kept and a fixed point' % name, same and kept,
              repr(outs))
        for step in (0, 1):
            subprocess.run(['rm', '-rf', e.path('cu%d' % step), e.path('c%d' % step)])


def group_limits(e):
    # Past the file-size limit: pack fails with status 1 and leaves no
    # temporary; a Lisp write is error 46. Neither dies of SIGXFSZ.
    import resource
    limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
    write(e.path('big.bin'), b'x' * 10000)
    write(e.path('m.app'), '(application "T" :resources (("DATA" 1 "big.bin")))\n')
    p = subprocess.run([e.talven, 'pack', e.path('m.app'), '-o', e.path('out.RI')], capture_output=True,
                       env=e.env, cwd=e.tmp, preexec_fn=limit, timeout=60)
    check('pack past the size limit: status 1, nothing left', p.returncode == 1 and not os.path.exists(
        e.path('out.RI')) and not leftovers(e.tmp), repr((p.returncode, p.stderr, os.listdir(e.tmp))))
    form = ('(define f (talven-file-create "%s" "ABCD" "TEXT" () t ())) (define h (file-open f 2))'
            ' (define (fill _n) (if (> _n 0) (begin (file-write-ch 65 h) (fill (- _n 1))))) (fill 5000)' % e.path('w'))
    p = subprocess.run([e.talven, '-e', form], capture_output=True, env=e.env, cwd=e.tmp, preexec_fn=limit,
                       timeout=60)
    check('a Lisp write past the size limit: error 46', p.returncode == 1 and b'error 46' in p.stderr,
          repr((p.returncode, p.stderr)))


GROUPS = {'limits': group_limits, 'outputs': group_outputs, 'inputs': group_inputs, 'locks': group_locks, 'unpack': group_unpack}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--talven', required=True)
    ap.add_argument('--examples', default=os.path.join(os.path.dirname(__file__), '..', '..', 'examples'))
    ap.add_argument('groups', nargs='*')
    args = ap.parse_args()
    for name in args.groups or sorted(GROUPS):
        with tempfile.TemporaryDirectory() as tmp:
            GROUPS[name](Env(os.path.abspath(args.talven), os.path.abspath(args.examples), tmp))
    return report()


if __name__ == '__main__':
    sys.exit(main())
