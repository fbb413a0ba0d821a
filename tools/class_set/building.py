"""Building a set: one program per newcomer, laid out beside OUT and
swapped in with one rename, so that an interrupted build leaves the
previous set as it was. Whatever else the set holds (the answers handed in
through serve, files of the organiser's own) is carried into the new one."""
import contextlib
import ctypes
import errno
import fcntl
import hashlib
import os
import re
import secrets
import shutil
import subprocess
import sys
import tempfile
import time

from . import ROOT
from .records import ALPHABET, WRITTEN, locked, new_key, read_keys, read_set, with_keys, write_keys, write_set
from .roster import Refusal, check_folders, check_newcomers, folder_for, read_roster

WORK = os.path.join(ROOT, 'build', 'class-set')
# What other commands keep in a set, and build carries across as it is.
KNOWN = {'checkins.sqlite', 'checkins.sqlite-journal', 'checkins.sqlite-wal', 'checkins.sqlite-shm', 'walkins.csv'}
# Compilers and tools speak the user's language; build reads their words in the C locale.
C_LOCALE = {k: v for k, v in os.environ.items() if k != 'LANGUAGE'} | {'LC_ALL': 'C'}


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
    for stale in leftovers(WORK, 'work-'):
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


def leftovers(parent, prefix):
    """The entries of `parent` whose names start with `prefix`, taken
    literally (a name may hold [, ], * or ?)."""
    return [os.path.join(parent, name) for name in os.listdir(parent) if name.startswith(prefix)]


def folder_size(top):
    return sum(os.lstat(os.path.join(root, name)).st_blocks * 512
               for root, _, names in os.walk(top) for name in names)


def build_programs(work, newcomers, jobs):
    """Builds one program per row with the release preset in `work` (the
    judge compiled for each, the rest once), then scans them all, each for
    its own password; returns the path of each."""
    with open(os.path.join(work, 'people.txt'), 'w') as f:
        for i, row in enumerate(newcomers):
            f.write(f'p{i} {row["password"]} {row["mask"]}\n')
    build = os.path.join(work, 'build')
    configure = subprocess.run(['cmake', '--preset', 'release', '-B', build, f'-DPASSWORD_SET={work}/people.txt'],
                               cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                               errors='replace', env=C_LOCALE)
    if configure.returncode:
        sys.stderr.write(configure.stdout[-4000:])
        raise Refusal('configuring the build failed; nothing was changed')
    progress, log = Progress('built', len(newcomers)), []
    tool = subprocess.Popen(['cmake', '--build', build, '-j', str(jobs), '--target', 'class_set'],
                            cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors='replace',
                            env=C_LOCALE)
    for line in tool.stdout:
        log.append(line)
        if re.search(r'Linking CXX executable set/p\d+/PassWord\.exe', line):
            progress.step()
    if tool.wait():
        sys.stderr.write(''.join(log[-40:]))
        raise Refusal('the build or its password scan failed; nothing was changed')
    print(f'build folder: {folder_size(work) / 2**20:.0f} MiB, removed', file=sys.stderr)
    return [os.path.join(build, 'set', f'p{i}', 'PassWord.exe') for i in range(len(newcomers))]


def carry(source, target):
    """A file or folder of the old set into the new one: the same file
    (a hard link) where the file system allows, else a copy."""
    if os.path.isdir(source) and not os.path.islink(source):
        os.mkdir(target, os.stat(source).st_mode & 0o7777)
        for name in os.listdir(source):
            carry(os.path.join(source, name), os.path.join(target, name))
        return
    try:
        os.link(source, target, follow_symlinks=False)
    except OSError as e:
        if e.errno not in (errno.EPERM, errno.EXDEV, errno.EMLINK, errno.ENOTSUP):
            raise
        shutil.copy2(source, target, follow_symlinks=False)


def swap_in(new, out):
    """Carries what else OUT holds into `new`, then puts `new` in the place
    of OUT in one step (renameat2 with RENAME_EXCHANGE), leaving the old set
    at `new`. serve's writes of the answers wait while this runs."""
    extras = sorted(set(os.listdir(out)) - WRITTEN - set(os.listdir(new)))
    checkins = os.path.join(out, 'checkins.sqlite')
    held = os.open(checkins, os.O_RDONLY) if os.path.exists(checkins) else None
    try:
        if held is not None:
            fcntl.flock(held, fcntl.LOCK_EX)
        for name in extras:
            try:
                carry(os.path.join(out, name), os.path.join(new, name))
            except OSError as e:
                raise Refusal(f'{os.path.join(out, name)}: cannot carry it into the new set ({e.strerror}); '
                              'nothing was changed')
        if not os.listdir(out):
            os.rmdir(out)  # a new set: nothing to exchange with
            os.rename(new, out)
            return
        libc = ctypes.CDLL(None, use_errno=True)
        AT_FDCWD, RENAME_EXCHANGE = -100, 2
        if libc.renameat2(AT_FDCWD, os.fsencode(new), AT_FDCWD, os.fsencode(out), RENAME_EXCHANGE) != 0:
            raise Refusal(f'cannot swap the new set into {out}: {os.strerror(ctypes.get_errno())}; '
                          'nothing was changed')
    finally:
        if held is not None:
            os.close(held)
    unknown = [name for name in extras if name not in KNOWN]
    if unknown:
        print(f'kept in {out}, not made by class-set: {", ".join(unknown)}')


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


def place(out):
    """Where the set is: a link (a set kept on a USB stick) is followed, so
    that the set changes where it lies."""
    out = os.path.realpath(out)
    if os.path.exists(out) and not os.path.isdir(out):
        raise Refusal(f'{out}: not a folder')
    return out


def build(roster, out, jobs, encoding=None):
    people = read_roster(roster, encoding)
    check_folders(people, lambda number: f'{roster}:{number}')
    out = place(out)
    with locked(out):
        rows = read_set(out)
        known = {r['name'] for r in rows}
        newcomers = [name for _, name in people if name not in known]
        check_folders([(r['name'], r['name']) for r in rows] + [(n, n) for n in newcomers],
                      lambda name: f'{roster}, "{name}"' if name in newcomers else f'{out}/answers.csv, "{name}"')
        line = {name: number for number, name in people}
        check_newcomers(rows, newcomers, lambda name: f'{roster}:{line[name]}')
        absent = sorted(known - {name for _, name in people})
        if absent:
            print(f'kept, though not in the roster: {", ".join(absent)}')
        start = time.monotonic()
        if newcomers:
            rows += add(out, rows, draw(rows, newcomers), jobs)
        elif rows:
            with_keys(out, rows)  # a set made before people had keys
    print(f'{len(rows)} programs in {out}/handout: {len(newcomers)} new, '
          f'{len(rows) - len(newcomers)} kept, {time.monotonic() - start:.1f} s')
    return rows


def write_programs(work, added, jobs):
    """The newcomers' programs, written from templates: per code shape three
    reference programs are built with the release preset (and scanned), and
    every program is checked for its own password before it is kept."""
    from .template import shape_of
    templates = load_templates(work, {shape_of(r['password'], int(r['mask'])) for r in added}, jobs)
    folder = os.path.join(work, 'programs')
    os.mkdir(folder)
    progress, written = Progress('written', len(added)), []
    for i, row in enumerate(added):
        template = templates[shape_of(row['password'], int(row['mask']))]
        data = template.write(row['password'], int(row['mask']))
        where = template.holds(data, row['password'])
        if where:
            raise Refusal(f'the program for "{row["name"]}" would hold its password {where}; nothing was changed')
        path = os.path.join(folder, f'{i}.exe')
        with open(path, 'wb') as f:
            f.write(data)
        row['sha256'] = hashlib.sha256(data).hexdigest()
        written.append(path)
        progress.step()
    return written


def load_templates(work, shapes, jobs):
    """{shape: Template}, building (in `work`) the reference programs of the
    shapes that this checkout and toolchain have none of yet."""
    from .template import Template, find_objdump, fingerprint, references
    shapes = sorted(shapes)
    # Reference programs are kept for the next build of the same sources and toolchain.
    cache = os.path.join(WORK, 'templates', fingerprint(ROOT))
    folder_of = {shape: os.path.join(cache, f'{shape[0]}-{"zero" if shape[1] else "any"}') for shape in shapes}
    missing = [shape for shape in shapes if not os.path.isdir(folder_of[shape])]
    if missing:
        built = build_programs(work, [{'password': p, 'mask': str(m)} for shape in missing
                                      for p, m in references(shape)], jobs)
        os.makedirs(cache, exist_ok=True)
        for k, shape in enumerate(missing):
            staged = tempfile.mkdtemp(prefix='.new-', dir=cache)
            for i, path in enumerate(built[3 * k:3 * k + 3]):
                shutil.copyfile(path, os.path.join(staged, f'{i}.exe'))
                shutil.copyfile(os.path.splitext(path)[0] + '.map', os.path.join(staged, f'{i}.map'))
            with contextlib.suppress(OSError):  # another build may have kept the same
                os.rename(staged, folder_of[shape])
            shutil.rmtree(staged, ignore_errors=True)
    objdump = find_objdump()
    templates = {}
    for shape in shapes:
        paths = [os.path.join(folder_of[shape], f'{i}.exe') for i in range(3)]
        programs = []
        for path in paths:
            with open(path, 'rb') as f:
                programs.append(f.read())
        templates[shape] = Template(shape, programs, [os.path.splitext(p)[0] + '.map' for p in paths], objdump)
    return templates


def add(out, rows, added, jobs, files=None):
    """Builds the newcomers' programs and swaps in the set with them, and
    with `files` ({name: text}) beside the records."""
    parent, name = os.path.split(out)
    for stale in leftovers(parent, f'.{name}.new-') + leftovers(parent, f'.{name}.old-'):
        shutil.rmtree(stale, ignore_errors=True)  # left by an interrupted build
    # Beside OUT, so that the swap is a rename; private, as it holds passwords.
    new = tempfile.mkdtemp(prefix=f'.{name}.new-', dir=parent)
    work, lock = work_folder()
    try:
        built = write_programs(work, added, jobs)
        programs = {r['folder']: os.path.join(out, 'handout', r['folder'], 'PassWord.exe') for r in rows}
        for row, program in zip(added, built):
            programs[row['folder']] = program
        write_set(new, rows + added, programs)
        keys = read_keys(out, rows)
        write_keys(new, {r['name']: keys.get(r['name']) or new_key() for r in rows + added})
        for file_name, text in (files or {}).items():
            with open(os.path.join(new, file_name), 'w', encoding='utf-8', newline='') as f:
                f.write(text)
        os.chmod(new, 0o755)
        swap_in(new, out)
        # The old set, now at `new`: removed in the background, as a folder
        # per person takes long to remove in a large set.
        if os.path.exists(new):
            old = os.path.join(parent, f'.{name}.old-{os.path.basename(new).rpartition("-")[2]}')
            os.rename(new, old)
            subprocess.Popen(['rm', '-rf', '--', old], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, start_new_session=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
        shutil.rmtree(new, ignore_errors=True)  # what was laid out, where the swap did not happen
        lock.close()
    return added
