"""A set on disk: OUT/answers.csv (the rows), OUT/keys.csv and
OUT/handout/<folder>/PassWord.exe with SHA256SUMS; how it is read and
checked, laid out, and locked against two changes at once."""
import contextlib
import fcntl
import hashlib
import os
import shutil
import sys

from .appending import in_flight, recover
from .errors import Refusal
from .files import write_new
from .judge_code import held
from .names import check_folders
from .rows import read_rows, write_rows

# What build writes in OUT; anything else there is kept as it is.
WRITTEN = {'handout', 'answers.csv', 'keys.csv'}
# What Finder and Explorer leave in a folder that someone opened.
SYSTEM_FILES = {'.ds_store', 'thumbs.db', 'ehthumbs.db', 'desktop.ini'}


def resolve(out):
    """Where the set is: a link (a set kept on a USB stick) is followed, so
    that the set changes where it lies."""
    out = os.path.realpath(out)
    if os.path.exists(out) and not os.path.isdir(out):
        raise Refusal(f'{out}: not a folder')
    return out


def program_path(out, row):
    return os.path.join(out, 'handout', row.folder, 'PassWord.exe')


def check_program(out, row, where, trusted=False):
    """The row's program is there, is the one its sha256 names, and holds
    the row's password and mask; where `trusted` (a set that build checked,
    read again by serve), only that it is there."""
    path = program_path(out, row)
    if trusted:
        if not os.path.isfile(path):
            raise Refusal(f'{where}: {path} is missing')
        return
    try:
        with open(path, 'rb') as f:
            data = f.read()
    except OSError:
        data = None
    if data is None or hashlib.sha256(data).hexdigest() != row.sha256:
        raise Refusal(f'{where}: {path} is missing or does not match its sha256')
    if held(data) != (row.password, row.mask):
        raise Refusal(f'{where}: the password or mask is not the one that {path} holds')


def read_set(out, new_ok=True, trusted=False, records_only=False):
    """The rows of an existing set, after checking that answers.csv and
    handout/ agree (every program's bytes, unless `trusted`; nothing of
    handout/ nor each record on its own for `records_only`, where only a key changes). [] for a
    new set where new_ok."""
    answers, handout = os.path.join(out, 'answers.csv'), os.path.join(out, 'handout')
    if new_ok and (not os.path.exists(out) or (os.path.isdir(out) and not os.listdir(out))):
        return []
    if not (os.path.isfile(answers) and os.path.isdir(handout)):
        raise Refusal(f'{out}: not a set made by class-set (no answers.csv and handout/)')
    rows = read_rows(answers, underway=bool(in_flight(out)), checked=not records_only)
    if records_only:
        return rows
    for number, row in enumerate(rows, 2):
        check_program(out, row, f'{answers}:{number}', trusted)
    check_folders([(r.folder, r.name, r.folder) for r in rows], lambda folder: f'{answers}, folder {folder}')
    extra = {name for name in os.listdir(handout) if name.casefold() not in SYSTEM_FILES} \
        - {r.folder for r in rows} - {'SHA256SUMS'} - in_flight(out)
    if extra:
        raise Refusal(f'{handout}: {", ".join(sorted(extra))} not in answers.csv')
    if len({r.password for r in rows}) != len(rows):
        raise Refusal(f'{answers}: two people share a password')
    return rows


def sums_text(rows):
    """handout/SHA256SUMS's text."""
    return ''.join(f'{row.sha256}  {row.folder}/PassWord.exe\n' for row in sorted(rows, key=lambda r: r.folder))


def write_set(root, rows, programs):
    """Lays out a complete set in `root`: programs linked (or copied) from
    `programs` (folder -> path), SHA256SUMS and answers.csv."""
    handout = os.path.join(root, 'handout')
    os.mkdir(handout, 0o700)
    for row in rows:
        os.mkdir(os.path.join(handout, row.folder), 0o700)
        target = program_path(root, row)
        try:
            os.link(programs[row.folder], target)
        except OSError:
            shutil.copyfile(programs[row.folder], target)
        # The password can be read back out of a program: the organiser's alone.
        os.chmod(target, 0o600)
    write_new(os.path.join(handout, 'SHA256SUMS'), sums_text(rows))
    write_rows(os.path.join(root, 'answers.csv'), rows)


@contextlib.contextmanager
def locked(out):
    """OUT, made if missing, locked against every other change of the set
    (a build, an enrolment) until the block ends. A swap gives OUT another
    directory, so the lock is taken again until it holds the one at OUT."""
    made = not os.path.exists(out)
    while True:
        os.makedirs(out, exist_ok=True)  # again, where a failed first build removed it
        fd = os.open(out, os.O_RDONLY | os.O_DIRECTORY)
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            print(f'waiting for another change of {out} to end', file=sys.stderr, flush=True)
            fcntl.flock(fd, fcntl.LOCK_EX)
        holding = os.fstat(fd)
        with contextlib.suppress(FileNotFoundError):
            here = os.stat(out)
            if (here.st_dev, here.st_ino) == (holding.st_dev, holding.st_ino):
                break
        os.close(fd)
    try:
        if os.path.isdir(os.path.join(out, 'handout')):
            recover(out)
        yield
    finally:
        if made:
            with contextlib.suppress(OSError):
                os.rmdir(out)  # still empty: nothing was built
        os.close(fd)
