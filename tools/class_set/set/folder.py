"""A set on disk: OUT/answers.csv (the records), OUT/keys.csv and
OUT/handout/<folder>/PassWord.exe with SHA256SUMS; how it is read and
checked, laid out, and locked against two changes at once."""
import contextlib
import fcntl
import hashlib
import os
import shutil
import sys

from ..errors import Refusal
from ..judge_code import held
from ..names import check_folders
from . import sums
from .files import HANDOUT, KEYS, PROGRAM, RECORDS, SUMS, leftovers, locked_where
from .in_place import recover
from .journal import in_flight
from .records import read_rows, write_rows


# What build writes in OUT; anything else there is kept as it is.
WRITTEN = {HANDOUT, RECORDS, KEYS}
# What Finder and Explorer leave in a folder that someone opened.
SYSTEM_FILES = {'.ds_store', 'thumbs.db', 'ehthumbs.db', 'desktop.ini'}


def resolve(out):
    """Return where the set is: a link (a set kept on a USB stick) is followed,
    so that the set changes where it lies."""
    out = os.path.realpath(out)
    if os.path.exists(out) and not os.path.isdir(out):
        raise Refusal(f'{out}: not a folder')
    return out


def program_path(out, row):
    """Return the path of a row's program in the set OUT."""
    return os.path.join(out, HANDOUT, row.folder, PROGRAM)


def is_new(out):
    """Return whether OUT is a set still to be made: missing, or an empty folder."""
    return not os.path.exists(out) or (os.path.isdir(out) and not os.listdir(out))


def records_path(out):
    """Return the path of OUT's records; a Refusal where OUT is no set."""
    records = os.path.join(out, RECORDS)
    if not (os.path.isfile(records) and os.path.isdir(os.path.join(out, HANDOUT))):
        raise Refusal(f'{out}: not a set made by class-set (no {RECORDS} and {HANDOUT}/)')
    return records


def read_records(out):
    """Return the rows of answers.csv as build wrote them, and nothing of
    handout/ checked: for a change of the records, or a look at who is in the
    set."""
    return read_rows(records_path(out), underway=bool(in_flight(out)), checked=False)


def read_served(out):
    """Return the rows of a set that build checked, each program there: what
    serve reads, trusting build for their bytes."""
    rows = read_records(out)
    for number, row in enumerate(rows, 2):
        if not os.path.isfile(program_path(out, row)):
            raise Refusal(f'{os.path.join(out, RECORDS)}:{number}: {program_path(out, row)} is missing')
    return rows


def read_set(out):
    """Return the rows of a set, every one checked against handout/: each
    program is there, is the one its sha256 names and holds its row's password
    and mask; every folder is someone's, and no two share a password."""
    records, handout = records_path(out), os.path.join(out, HANDOUT)
    rows = read_rows(records, underway=bool(in_flight(out)))
    for number, row in enumerate(rows, 2):
        check_program(out, row, f'{records}:{number}')
    check_folders([(r.folder, r.name, r.folder) for r in rows], lambda folder: f'{records}, folder {folder}')
    extra = {name for name in os.listdir(handout) if name.casefold() not in SYSTEM_FILES} \
        - {r.folder for r in rows} - {os.path.basename(SUMS)} - in_flight(out)
    if extra:
        raise Refusal(f'{handout}: {", ".join(sorted(extra))} not in {RECORDS}')
    if len({r.password for r in rows}) != len(rows):
        raise Refusal(f'{records}: two people share a password')
    return rows


def check_program(out, row, where):
    """The row's program is there, is the one its sha256 names, and holds
    the row's password and mask."""
    path = program_path(out, row)
    try:
        with open(path, 'rb') as f:
            data = f.read()
    except OSError:
        data = None
    if data is None or hashlib.sha256(data).hexdigest() != row.sha256:
        raise Refusal(f'{where}: {path} is missing or does not match its sha256')
    if held(data) != (row.password, row.mask):
        raise Refusal(f'{where}: the password or mask is not the one that {path} holds')


def write_set(root, rows, programs):
    """Lay out a complete set in `root`: programs linked (or copied) from
    `programs` (folder -> path), SHA256SUMS and answers.csv."""
    handout = os.path.join(root, HANDOUT)
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
    sums.write(root, rows)
    write_rows(root, rows)


def sweep(out):
    """Remove a new set that a killed change left laid out beside OUT, and
    say so; an old set not yet removed goes quietly."""
    parent, name = os.path.split(os.path.abspath(out))  # OUT, or OUT/, as typed
    for path in leftovers(parent, f'.{name}.new-'):
        size = sum(os.lstat(os.path.join(top, entry)).st_blocks * 512 for top, _, entries in os.walk(path)
                   for entry in entries)
        shutil.rmtree(path, ignore_errors=True)
        print(f'removed {path} ({size / 2**20:.0f} MiB), which a change of {out} left when it was stopped',
              file=sys.stderr)
    for path in leftovers(parent, f'.{name}.old-'):  # being removed in the background, or left by a kill
        shutil.rmtree(path, ignore_errors=True)


@contextlib.contextmanager
def steady(out):
    """The set OUT as one state while the block reads it: a lock shared
    with other readers, which every change of the set waits for."""
    records_path(out)

    def waiting():
        print(f'waiting for a change of {out} to end', file=sys.stderr, flush=True)
    with locked_where(out, os.O_RDONLY | os.O_DIRECTORY, waiting, mode=fcntl.LOCK_SH):
        sweep(out)  # no change is under way: what is there was left
        yield


@contextlib.contextmanager
def locked(out):
    """OUT, made if missing, locked against every other change of the set
    (a build, an enrolment, a removal) until the block ends; a change
    interrupted before is finished or undone first. A swap gives OUT
    another directory, so the lock is taken again until it holds the one
    at OUT."""
    made = not os.path.exists(out)

    def waiting():
        print(f'waiting for another change of {out} to end', file=sys.stderr, flush=True)
    try:
        # Made again where a failed first build removed it.
        with locked_where(out, os.O_RDONLY | os.O_DIRECTORY, waiting, lambda: os.makedirs(out, exist_ok=True)):
            if os.path.isdir(os.path.join(out, HANDOUT)):
                recover(out)
            sweep(out)
            yield
    finally:
        if made:
            with contextlib.suppress(OSError):
                os.rmdir(out)  # still empty: nothing was built
