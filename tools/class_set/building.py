"""Building a set: one program per newcomer, laid out beside OUT and
swapped in with one rename, so that an interrupted build leaves the
previous set as it was."""
import ctypes
import fcntl
import glob
import os
import re
import secrets
import shutil
import subprocess
import sys
import tempfile
import time

from . import ROOT
from .records import ALPHABET, read_set, sha256, write_set
from .roster import check_folders, folder_for, read_roster

WORK = os.path.join(ROOT, 'build', 'class-set')


class Progress:
    """done/total, the rate and the time left, on standard error: in place
    on a terminal, else a line at every tenth."""

    def __init__(self, what, total):
        self.what, self.total, self.done, self.start = what, total, 0, time.monotonic()
        self.tty = sys.stderr.isatty()

    def step(self):
        self.done += 1
        if not self.tty and self.done != self.total and self.done % max(1, self.total // 10):
            return
        spent = time.monotonic() - self.start
        rate = self.done / spent if spent else 0
        left = f', {(self.total - self.done) / rate:.0f} s left' if rate and self.done != self.total else ''
        print(f'{self.what}: {self.done}/{self.total}, {rate:.1f} a second, {spent:.0f} s{left}',
              end='\r' if self.tty and self.done != self.total else '\n', file=sys.stderr, flush=True)


def work_folder():
    """A work folder of this build's own, locked while it lives, so that two
    builds from one checkout never share one; folders whose build is gone
    are removed."""
    os.makedirs(WORK, exist_ok=True)
    for stale in glob.glob(os.path.join(WORK, 'work-*')):
        try:
            with open(os.path.join(stale, 'lock'), 'rb') as f:
                fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            continue  # another build's
        except OSError:
            if time.time() - os.path.getmtime(stale) < 60:
                continue  # another build's, not yet locked
        shutil.rmtree(stale, ignore_errors=True)
    work = tempfile.mkdtemp(prefix='work-', dir=WORK)
    lock = open(os.path.join(work, 'lock'), 'wb')
    fcntl.flock(lock, fcntl.LOCK_EX)
    return work, lock


def folder_size(top):
    return sum(os.lstat(os.path.join(root, name)).st_blocks * 512
               for root, _, names in os.walk(top) for name in names)


def build_programs(work, newcomers, jobs):
    """Builds one program per newcomer in `work`, then scans them all, each
    for its own password; returns the path of each."""
    with open(os.path.join(work, 'people.txt'), 'w') as f:
        for i, row in enumerate(newcomers):
            f.write(f'p{i} {row["password"]} {row["mask"]}\n')
    build = os.path.join(work, 'build')
    subprocess.run(['cmake', '--preset', 'release', '-B', build, f'-DPASSWORD_SET={work}/people.txt'],
                   cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    progress, log = Progress('built', len(newcomers)), []
    tool = subprocess.Popen(['cmake', '--build', build, '-j', str(jobs), '--target', 'class_set'],
                            cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors='replace')
    for line in tool.stdout:
        log.append(line)
        if re.search(r'Linking CXX executable set/p\d+/PassWord\.exe', line):
            progress.step()
    if tool.wait():
        sys.stderr.write(''.join(log[-40:]))
        raise SystemExit('class-set: the build or its password scan failed; nothing was changed')
    print(f'build folder: {folder_size(work) / 2**20:.0f} MiB, removed', file=sys.stderr)
    return [os.path.join(build, 'set', f'p{i}', 'PassWord.exe') for i in range(len(newcomers))]


def swap_in(new, out):
    """Puts the directory `new` in the place of `out` in one step where the
    system can (renameat2 with RENAME_EXCHANGE); the old set is removed."""
    if not os.path.exists(out):
        os.rename(new, out)
        return
    libc = ctypes.CDLL(None, use_errno=True)
    AT_FDCWD, RENAME_EXCHANGE = -100, 2
    if libc.renameat2(AT_FDCWD, os.fsencode(new), AT_FDCWD, os.fsencode(out), RENAME_EXCHANGE) != 0:
        raise SystemExit(f'class-set: cannot swap the new set into {out}: {os.strerror(ctypes.get_errno())}')
    shutil.rmtree(new)


def draw(rows, newcomers):
    """Rows for the newcomers: a password no one else in the set has, and a mask."""
    taken = {r['password'] for r in rows}
    added = []
    for name in newcomers:
        password = None
        while password is None or password in taken:
            password = ''.join(secrets.choice(ALPHABET) for _ in range(5))
        taken.add(password)
        added.append({'name': name, 'folder': folder_for(name), 'password': password,
                      'mask': str(1 + secrets.randbelow(255))})
    return added


def build(roster, out, jobs):
    out = os.path.abspath(out)
    people = read_roster(roster)
    check_folders(people, lambda number: f'{roster}:{number}')
    rows = read_set(out)
    known = {r['name'] for r in rows}
    newcomers = [name for _, name in people if name not in known]
    check_folders([(r['name'], r['name']) for r in rows] + [(n, n) for n in newcomers],
                  lambda name: f'{roster}, "{name}"' if name in newcomers else f'{out}/answers.csv, "{name}"')
    absent = sorted(known - {name for _, name in people})
    if absent:
        print(f'kept, though not in the roster: {", ".join(absent)}')

    start = time.monotonic()
    if newcomers:
        added = draw(rows, newcomers)
        parent = os.path.dirname(out)
        os.makedirs(parent, exist_ok=True)
        for stale in glob.glob(os.path.join(parent, f'.{os.path.basename(out)}.new-*')):
            shutil.rmtree(stale, ignore_errors=True)  # left by an interrupted build
        # Beside OUT, so that the swap is a rename; private, as it holds passwords.
        new = tempfile.mkdtemp(prefix=f'.{os.path.basename(out)}.new-', dir=parent)
        work, lock = work_folder()
        try:
            built = build_programs(work, added, jobs)
            programs = {r['folder']: os.path.join(out, 'handout', r['folder'], 'PassWord.exe') for r in rows}
            for row, program in zip(added, built):
                row['sha256'] = sha256(program)
                programs[row['folder']] = program
            write_set(new, rows + added, programs)
            os.chmod(new, 0o755)
            swap_in(new, out)
        finally:
            shutil.rmtree(work, ignore_errors=True)
            shutil.rmtree(new, ignore_errors=True)
            lock.close()
        rows += added
    print(f'{len(rows)} programs in {out}/handout: {len(newcomers)} new, '
          f'{len(rows) - len(newcomers)} kept, {time.monotonic() - start:.1f} s')
    return rows
