"""The set's own files in OUT: their names, how their CSV text is written
(UTF-8, lines ending in CR LF, a header first), how each is written for
the organiser's eyes only and is on disk when the write returns, and the
lock on a file that a change of the set may swap away. Each file has a
module of its own that writes, reads and searches it: records
(answers.csv), keys, details, walk_ins, removed, sums (SHA256SUMS); the
store (checkins.sqlite). The names on disk stay as they were, for sets
already made: answers.csv holds the set's records, whose password is whose."""
import contextlib
import csv
import dataclasses
import fcntl
import io
import os
import tempfile

from ..errors import Refusal


RECORDS = 'answers.csv'
KEYS = 'keys.csv'
WALK_INS = 'walkins.csv'
DETAILS = 'details.csv'
REMOVED = 'removed.csv'
CHECKINS = 'checkins.sqlite'
HANDOUT = 'handout'
SUMS = os.path.join(HANDOUT, 'SHA256SUMS')
JOURNAL = '.change'  # a change of one person under way (in_place)
PROGRAM = 'PassWord.exe'


def csv_line(fields):
    """Return one line of a set's CSV file."""
    text = io.StringIO()
    csv.writer(text, lineterminator='\r\n').writerow(fields)
    return text.getvalue()


def csv_text(header, rows):
    """Return a set's CSV file whole: the header, then a line a row."""
    return csv_line(header) + ''.join(csv_line(row) for row in rows)


def write_private(path, text):
    """A new file, readable by its owner only (what a set holds is private),
    on disk when this returns."""
    with open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600), 'w', encoding='utf-8', newline='') as f:
        f.write(text)
        f.flush()
        os.fsync(f.fileno())


def replace_private(path, text):
    """A file of the set written anew: whole in one rename, readable by its
    owner only, on disk when this returns."""
    fd, temporary = tempfile.mkstemp(prefix='.new-', dir=os.path.dirname(path))
    try:
        with open(fd, 'w', encoding='utf-8', newline='') as f:
            f.write(text)
            f.flush()
            os.fsync(f.fileno())
        os.replace(temporary, path)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise


def append_synced(path, text):
    """Append `text` to a file of the set; on disk when this returns."""
    with open(path, 'a', encoding='utf-8', newline='') as f:
        f.write(text)
        f.flush()
        os.fsync(f.fileno())


def whole_records(path, offset=0):
    """Return (records, end): the CSV records of a file of the set from byte
    `offset` on, and the byte where they end. Lines are appended whole or not at
    all: a last one still being written is not there yet."""
    with open(path, 'rb') as f:
        f.seek(offset)
        data = f.read()
    whole = data[:data.rfind(b'\n') + 1]
    return list(csv.reader(io.StringIO(whole.decode('utf-8'), newline=''))), offset + len(whole)


def records_of(path, kind):
    """Return [kind] of a CSV file of the set, a row each after the header; []
    where there is none. Fields a row lacks (a file from before them) are left
    to kind's defaults."""
    try:
        with open(path, newline='', encoding='utf-8') as f:
            table = list(csv.reader(f))
    except FileNotFoundError:
        return []
    except (OSError, UnicodeDecodeError) as e:
        raise Refusal(f'{path}: cannot read it ({e})')
    return [kind(*row[:len(dataclasses.fields(kind))]) for row in table[1:] if row]


def header_of(kind):
    """Return the header of a file whose rows are `kind` (a dataclass): its fields."""
    return [field.name for field in dataclasses.fields(kind)]


def same_file(path, fd):
    """Return whether `path` still names the file open at `fd` (another change may have put a new one in its place)."""
    try:
        here = os.stat(path)
    except FileNotFoundError:
        return False
    held = os.fstat(fd)
    return (here.st_dev, here.st_ino) == (held.st_dev, held.st_ino)


@contextlib.contextmanager
def locked_where(path, flags, wait=lambda: None, before=lambda: None, mode=fcntl.LOCK_EX):
    """A flock (exclusive, or `mode`) on what `path` names when the lock is
    held, opened with `flags`: taken again where another change put a new
    one in its place meanwhile. `wait` is called where someone else holds
    it, and `before` before each try."""
    while True:
        before()
        fd = os.open(path, flags)
        try:
            fcntl.flock(fd, mode | fcntl.LOCK_NB)
        except BlockingIOError:
            wait()
            fcntl.flock(fd, mode)
        if same_file(path, fd):
            break
        os.close(fd)
    try:
        yield fd
    finally:
        os.close(fd)


def leftovers(parent, prefix):
    """Return the entries of `parent` whose names start with `prefix`, taken
    literally (a name may hold [, ], * or ?)."""
    return [os.path.join(parent, name) for name in os.listdir(parent) if name.startswith(prefix)]
