"""The answers handed in through `serve`, kept in OUT/checkins.sqlite: the
time, the name as typed, the person it matched, the client's address, the
word and whether it was right. The board's key is kept there too.

A build of the set carries the file into the set it swaps in, holding an
exclusive flock on it meanwhile; every write here holds a shared one, and
follows the file to where it now is."""
import contextlib
import dataclasses
import enum
import errno
import fcntl
import os
import secrets
import shutil
import sqlite3
import threading
import urllib.parse
from typing import NamedTuple

from .. import times
from ..errors import Failure, Refusal
from . import clock
from .files import CHECKINS, same_file


SCHEMA = '''
CREATE TABLE IF NOT EXISTS answers (
    id INTEGER PRIMARY KEY,
    time REAL NOT NULL,
    typed TEXT NOT NULL,
    person TEXT,
    client TEXT NOT NULL,
    word TEXT NOT NULL,
    correct INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS settings (name TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS downloads (person TEXT PRIMARY KEY, time REAL NOT NULL);
CREATE TABLE IF NOT EXISTS spent (kind TEXT NOT NULL, who TEXT NOT NULL, time REAL NOT NULL);
CREATE TABLE IF NOT EXISTS enrolments (time REAL NOT NULL, client TEXT NOT NULL, name TEXT NOT NULL,
                                       folder TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS spent_by ON spent (kind, who, time);
CREATE TABLE IF NOT EXISTS extra_time (folder TEXT PRIMARY KEY, minutes INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS turned_away (id INTEGER PRIMARY KEY, time REAL NOT NULL, typed TEXT NOT NULL,
                                        client TEXT NOT NULL);
'''
TABLES = {'answers', 'settings', 'downloads', 'spent', 'enrolments', 'spent_by', 'answers_of_a_person', 'extra_time',
          'turned_away'}
# After the columns that stores made before them lack are added.
INDEX = 'CREATE INDEX IF NOT EXISTS answers_of_a_person ON answers (folder, via, time)'


class Via(enum.Enum):
    """How an answer came: by name on the form, or through a personal link."""
    NAME = 'name'
    LINK = 'link'


class Answer(NamedTuple):
    """An answer handed in: `typed` is the name as typed, `person` the
    name of the set it matched and `folder` whose it is (None for a name
    on nobody's list, and for answers kept before folders were); whether
    it was that person's password then. A tuple: a board reads them all."""
    id: int
    time: float
    typed: str
    person: str | None
    word: str
    correct: bool
    via: Via
    folder: str | None = None
    client: str = ''
    late: bool = False


VIAS = {via.value: via for via in Via}


# Columns that stores made before them lack: answers kept before there were
# personal links came by name; before namesakes, the name told whose.
ADDED = {'via': "ALTER TABLE answers ADD COLUMN via TEXT NOT NULL DEFAULT 'name'",
         'folder': 'ALTER TABLE answers ADD COLUMN folder TEXT',
         'late': 'ALTER TABLE answers ADD COLUMN late INTEGER NOT NULL DEFAULT 0'}


class Kept(NamedTuple):
    """What became of an answer kept: right or not, and late or in time."""
    correct: bool
    late: bool


class Closed(Exception):
    """The room refuses answers after its closing: it closed for this person at `at`."""

    def __init__(self, at):
        super().__init__(at)
        self.at = at


class TooMany(Exception):
    """A budget spent: `wait` seconds until one more may be."""

    def __init__(self, wait):
        super().__init__(wait)
        self.wait = wait


class Spending(enum.Enum):
    """What a budget counts: answers through a person's link or by their
    name, downloads of their program; an address's answers under names on
    nobody's list, and its enrolments."""
    LINK = 'link'
    NAME = 'name'
    DOWNLOAD = 'download'
    STRANGER = 'stranger'
    ENROL = 'enrol'


@dataclasses.dataclass(frozen=True)
class Budget:
    """At most `rate` of `kind` for `who` (a person's folder, an address)
    in any 60 seconds: a moving window, so no burst slips through at a
    minute's turn. Counted in the store, so that every process serving the
    set spends the same one."""
    kind: Spending
    who: str
    rate: int


BUSY_WAIT = 30  # seconds a write waits for another program that holds the store; ours hold it briefly


class Busy(Failure):
    """Another program has held the store for longer than a write waits."""


class DiskFull(Failure):
    """The disk under the store is full: nothing more can be kept."""


def store_problem(path, error):
    """Return what a failed read or write of the store at `path` means, said
    truly: only a file that is no SQLite store, or fails its integrity check, is
    called that, and then with what to keep before anything is moved."""
    name = getattr(error, 'sqlite_errorname', '')
    if name.startswith(('SQLITE_BUSY', 'SQLITE_LOCKED')):
        return Busy(f'{path}: busy: another program has held it for over {BUSY_WAIT} s, and nothing was changed; '
                    'try again once it is done')
    if name == 'SQLITE_FULL' or getattr(error, 'errno', None) == errno.ENOSPC:
        return DiskFull(f'{path}: the disk is full ({free_space(path) // 1024} KiB free), and nothing more can be '
                        'kept; free some space there, then try again: nothing kept so far is lost')
    if name in ('SQLITE_NOTADB', 'SQLITE_CORRUPT') or isinstance(error, Damaged):
        return Refusal(f'{path}: not a store of answers ({error}). Keep a copy of it first (cp "{path}" '
                       f'"{path}.kept"), then move it away: serve starts a new one')
    return Failure(f'{path}: {error}')


class Damaged(Exception):
    """A store whose integrity check failed."""


def check(path):
    """Refuse a store that fails its integrity check, before anything of it is changed."""
    try:
        with contextlib.closing(sqlite3.connect(f'file:{urllib.parse.quote(path)}?mode=ro', uri=True,
                                                timeout=BUSY_WAIT)) as db:
            checked = db.execute('PRAGMA quick_check').fetchone()[0]
    except sqlite3.DatabaseError as e:
        raise store_problem(path, e)
    if checked != 'ok':
        said = '; '.join(line for line in checked.splitlines() if not line.startswith('***'))
        raise store_problem(path, Damaged(f'its integrity check says: {said[:200]}'))


def free_space(path):
    """Return bytes free for us on the file system of `path`."""
    try:
        return shutil.disk_usage(os.path.dirname(path)).free
    except OSError:
        return 0


class Checkins:
    """One connection to write with, shared by the server's threads under a
    lock; one to read with for each thread, which waits for no writer (WAL):
    a reader held up behind the lock would hold every page up with it."""

    def __init__(self, out, create=True):
        self.path = os.path.join(out, CHECKINS)
        if create:
            try:
                # Private from the start: it holds the words people typed.
                os.close(os.open(self.path, os.O_WRONLY | os.O_CREAT, 0o600))
            except OSError as e:
                raise store_problem(self.path, e)
        elif not os.path.isfile(self.path):
            raise FileNotFoundError(self.path)
        self.writer, self.fd = None, None
        self.lock = threading.Lock()
        self.local = threading.local()  # the connection in use in this thread, and its reader
        self.readers, self.generation = [], 0  # every thread's reader, closed together before a fork
        self.readers_lock = threading.Lock()  # not the writer's: a reader waits for no writing
        self.full_since = None  # when a write last found the disk full, until one succeeds
        check(self.path)
        with self.reading():
            tables = {name for name, in self.db.execute("SELECT name FROM sqlite_master")}
            columns = [c[1] for c in self.db.execute('PRAGMA table_info(answers)')]
        # A store as it should be is only read: a reader never waits for a writer.
        if TABLES - tables or any(column not in columns for column in ADDED):
            with self.writing():
                self.db.executescript(SCHEMA)
                columns = [c[1] for c in self.db.execute('PRAGMA table_info(answers)')]
                for column, alter in ADDED.items():
                    if column not in columns:
                        self.db.execute(alter)
                self.db.execute(INDEX)

    def connect(self):
        """The connection to the file now at the path (a build may have put a
        copy of it there), and a descriptor of that file for the flock. The
        descriptor stays open as long as the connection: closing any
        descriptor of the file would drop SQLite's own locks in this
        process, and another process would then take it for gone."""
        if self.fd is not None and same_file(self.path, self.fd):
            return self.writer
        self.disconnect()
        fd = os.open(self.path, os.O_RDONLY)
        db = sqlite3.connect(self.path, check_same_thread=False, timeout=BUSY_WAIT)
        try:
            # A commit is then an append, on disk when the system writes it out:
            # a killed serve loses nothing; a power cut, the last moment's.
            db.execute('PRAGMA journal_mode=WAL')
            db.execute('PRAGMA synchronous=NORMAL')
        except BaseException:
            db.close()
            os.close(fd)
            raise
        self.writer, self.fd = db, fd
        return db

    def disconnect(self):
        """Close the connection, and then its descriptor."""
        if self.writer is not None:
            self.writer.close()  # before the descriptor, as above
        if self.fd is not None:
            os.close(self.fd)
        self.writer, self.fd = None, None

    def close(self):
        """Before a fork: a connection is never shared with another process."""
        with self.lock:
            self.disconnect()
        with self.readers_lock:
            for db in self.readers:
                db.close()
            self.readers, self.generation = [], self.generation + 1

    @property
    def db(self):
        """The connection of the reading or the writing under way in this thread."""
        return getattr(self.local, 'db', None)

    def reader(self):
        """This thread's connection to read with, to the file now at the path (a
        build may have put a copy of it there). SQLite keeps its locks of a file
        whose connection closes while another holds them."""
        found = os.stat(self.path)
        now = (found.st_dev, found.st_ino, self.generation)
        held = getattr(self.local, 'reader', None)
        if held is not None and held[1] == now:
            return held[0]
        db = sqlite3.connect(self.path, check_same_thread=False, timeout=BUSY_WAIT)
        with self.readers_lock:
            if held is not None and held[1][2] == self.generation:
                self.readers.remove(held[0])
                held[0].close()
            self.readers.append(db)
        self.local.reader = db, now
        return db

    @contextlib.contextmanager
    def reading(self):
        """This thread's connection to read with: WAL readers wait for no writer."""
        try:
            self.local.db = self.reader()
            yield
        except sqlite3.DatabaseError as e:
            raise store_problem(self.path, e)
        finally:
            self.local.db = None

    @contextlib.contextmanager
    def writing(self):
        """A transaction that no build of the set swaps away under it; one
        that another program holds is waited for, up to BUSY_WAIT."""
        with self.lock:
            try:
                while True:
                    self.local.db = self.writer or self.connect()
                    fcntl.flock(self.fd, fcntl.LOCK_SH)
                    try:
                        if same_file(self.path, self.fd):
                            with self.db:
                                # Every process that serves the set waits here for the others.
                                self.db.execute('BEGIN IMMEDIATE')
                                yield
                            self.full_since = None
                            return
                    finally:
                        fcntl.flock(self.fd, fcntl.LOCK_UN)
                    self.connect()  # a build put a copy of it there: that one, next time round
            except (sqlite3.DatabaseError, OSError) as e:
                problem = store_problem(self.path, e)
                if isinstance(problem, DiskFull) and self.full_since is None:
                    self.full_since = times.seconds()
                raise problem
            finally:
                self.local.db = None

    def key(self):
        """Return the board's key: drawn once, the same after a restart; read
        without a write where it is there (the board opens on a full disk)."""
        with self.reading():
            found = self.db.execute("SELECT value FROM settings WHERE name = 'board_key'").fetchone()
        if found:
            return found[0]
        with self.writing():
            self.db.execute('INSERT OR IGNORE INTO settings VALUES (?, ?)', ('board_key', secrets.token_urlsafe(18)))
            return self.db.execute("SELECT value FROM settings WHERE name = 'board_key'").fetchone()[0]

    def new_key(self):
        """Return a new key for the board: the old one stops working at once, also
        on a running serve, which reads it on every visit of the board."""
        with self.writing():
            self.db.execute('INSERT OR REPLACE INTO settings VALUES (?, ?)', ('board_key', secrets.token_urlsafe(18)))
        return self.key()

    def remember(self, name, value):
        """Keep a setting of the set: the room's address that links or serve was
        given, for advice that names it; the roster's column of groups."""
        with self.writing():
            self.db.execute('INSERT OR REPLACE INTO settings VALUES (?, ?)', (name, value))

    def setting(self, name):
        """Return a setting kept by remember; None where there is none."""
        with self.reading():
            found = self.db.execute('SELECT value FROM settings WHERE name = ?', (name,)).fetchone()
        return found and found[0]

    def spend(self, budget, now):
        """One of `budget`, inside a write; TooMany where it is spent."""
        taken = self.db.execute('INSERT INTO spent SELECT ?, ?, ? WHERE (SELECT COUNT(*) FROM spent WHERE kind = ? '
                                'AND who = ? AND time > ?) < ?', (budget.kind.value, budget.who, now, budget.kind.value,
                                                                 budget.who, now - 60, budget.rate))
        if taken.rowcount == 1:
            if taken.lastrowid % 1000 == 0:
                self.db.execute('DELETE FROM spent WHERE time <= ?', (now - 60,))
            return
        first, = self.db.execute('SELECT MIN(time) FROM spent WHERE kind = ? AND who = ? AND time > ?',
                                 (budget.kind.value, budget.who, now - 60)).fetchone()
        raise TooMany(int(60 - (now - first)) + 1)

    def spent(self, budget, now=None):
        """One of `budget` spent, or TooMany."""
        with self.writing():
            self.spend(budget, times.seconds() if now is None else now)

    def add(self, typed, row, client, word, via=Via.NAME, budget=None):
        """Keep an answer, handed in by name on the form or through the
        person's link (`row` None for a name on nobody's list), and return
        its Kept: whether it was right, and whether late by the clock as it
        is then. TooMany where `budget` is spent, Closed where the room
        refuses late answers: then it is not kept."""
        correct = row is not None and word.strip() == row.password
        now = times.seconds()
        with self.writing():
            clock, extra = self.clock_now(), self.extra_of(row.folder) if row is not None else 0
            late = clock.late(now, extra)
            if late and clock.refuse_late:
                raise Closed(clock.closing(extra))
            if budget is not None:
                self.spend(budget, now)
            self.db.execute('INSERT INTO answers (time, typed, person, client, word, correct, via, folder, late) '
                            'VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)',
                            (now, typed, row and row.name, client, word, int(correct), via.value,
                             row and row.folder, int(late)))
        return Kept(correct, late)

    def clock_now(self):
        """The room's Clock as the store holds it; inside reading or writing."""
        return clock.of(dict(self.db.execute("SELECT name, value FROM settings WHERE name IN "
                                             "('opens', 'closes', 'after_close')").fetchall()))

    def extra_of(self, folder):
        """Minutes of extra time of a person, by folder; inside reading or writing."""
        found = self.db.execute('SELECT minutes FROM extra_time WHERE folder = ?', (folder,)).fetchone()
        return found[0] if found else 0

    def clock(self):
        """The room's Clock, read now: every process serving the set sees a change at its next request."""
        with self.reading():
            return self.clock_now()

    def set_clock(self, changed):
        """Keep the room's Clock `changed`."""
        with self.writing():
            for name, value in changed.settings().items():
                if value is None:
                    self.db.execute('DELETE FROM settings WHERE name = ?', (name,))
                else:
                    self.db.execute('INSERT OR REPLACE INTO settings VALUES (?, ?)', (name, value))

    def extra(self, folder):
        """Return minutes of extra time of a person, by folder (0: none)."""
        with self.reading():
            return self.extra_of(folder)

    def clock_for(self, folder=None):
        """Return (the room's Clock, a person's minutes of extra time), read at once."""
        with self.reading():
            return self.clock_now(), self.extra_of(folder) if folder else 0

    def extras(self):
        """{folder: minutes} of everyone with extra time."""
        with self.reading():
            return dict(self.db.execute('SELECT folder, minutes FROM extra_time WHERE minutes > 0').fetchall())

    def give_extra(self, minutes):
        """Give extra time: {folder: minutes}, 0 taking it away."""
        with self.writing():
            self.db.executemany('INSERT OR REPLACE INTO extra_time VALUES (?, ?)', list(minutes.items()))

    def downloaded(self, folder, budget=None):
        """Note the first time a person downloaded their program; or
        TooMany where `budget` is spent. The column is called person:
        stores before namesakes kept names in it."""
        with self.writing():
            if budget is not None:
                self.spend(budget, times.seconds())
            self.db.execute('INSERT OR IGNORE INTO downloads VALUES (?, ?)', (folder, times.seconds()))

    def downloads(self, people=None):
        """Return {folder (or, kept before namesakes, name): when they first
        downloaded their program}, of everyone or of `people` (folders and
        names)."""
        with self.reading():
            if people is None:
                return dict(self.db.execute('SELECT person, time FROM downloads').fetchall())
            people = list(people)
            found = {}
            for at in range(0, len(people), 500):  # within SQLite's limit of parameters
                part = people[at:at + 500]
                found.update(self.db.execute(f'SELECT person, time FROM downloads WHERE person IN '
                                             f'({", ".join("?" * len(part))})', part).fetchall())
            return found

    def answers(self, after=0, most=-1):
        """Return [Answer] in the order given; those after the answer with id `after`, at most `most` of them."""
        with self.reading():
            found = self.db.execute('SELECT id, time, typed, person, word, correct, via, folder, client, late '
                                    'FROM answers WHERE id > ? ORDER BY id LIMIT ?', (after, most))
            return [Answer(i, at, typed, person, word, bool(correct), VIAS[via], folder, client, bool(late))
                    for i, at, typed, person, word, correct, via, folder, client, late in found.fetchall()]

    def turn_away(self, typed, client, budget=None):
        """Note an answer by a name that more than one person has: told to use
        their link, credited to no one, the word not kept. TooMany where
        `budget` is spent."""
        now = times.seconds()
        with self.writing():
            if budget is not None:
                self.spend(budget, now)
            self.db.execute('INSERT INTO turned_away (time, typed, client) VALUES (?, ?, ?)', (now, typed, client))

    def turned_away(self, most=-1):
        """Return (how many answers were turned away, [(time, name typed, client)] of the latest `most`)."""
        with self.reading():
            count = self.db.execute('SELECT COUNT(*) FROM turned_away').fetchone()[0]
            return count, self.db.execute('SELECT time, typed, client FROM turned_away ORDER BY id DESC LIMIT ?',
                                          (most,)).fetchall()

    def enrolled(self, client, name, folder):
        """Note a walk-in's enrolment, which no removal takes back."""
        with self.writing():
            self.db.execute('INSERT INTO enrolments VALUES (?, ?, ?, ?)', (times.seconds(), client, name, folder))

    def enrolments(self, client):
        """Return how many walk-ins ever enrolled from `client`."""
        with self.reading():
            return self.db.execute('SELECT COUNT(*) FROM enrolments WHERE client = ?', (client,)).fetchone()[0]


BYTES_PER_ANSWER = 256  # measured: about 175, with the index and a budget's line
WAL_MARGIN = 8 * 2**20  # what the write-ahead log grows to between checkpoints, and more


@dataclasses.dataclass(frozen=True)
class Space:
    """Room on the store's disk: bytes free, and what an hour of answers
    at the room's rate takes; since when writes found the disk full."""
    free: int
    hour: int
    full_since: float | None

    @property
    def short(self):
        """Whether the disk is full, or holds less than an hour of answers."""
        return self.full_since is not None or self.free < self.hour


def space(store, people, now=None):
    """Return the Space of a store serving `people`: at the rate of its last
    thousand answers, or one answer a person every six minutes where that is
    more (a room that has only started)."""
    now = times.seconds() if now is None else now
    with store.reading():
        first, count = store.db.execute('SELECT MIN(time), COUNT(*) FROM (SELECT time FROM answers '
                                        'ORDER BY id DESC LIMIT 1000)').fetchone()
    seen = count / max(now - first, 60) * 3600 if count else 0
    hour = int(max(seen, people * 10) * BYTES_PER_ANSWER) + WAL_MARGIN
    return Space(free_space(store.path), hour, store.full_since)


def remembered(out, name):
    """Return a setting of the set OUT kept by Checkins.remember (the room's
    address that links or serve was last given), read without making or
    changing the store; None where there is none."""
    path = os.path.join(out, CHECKINS)
    if not os.path.isfile(path):
        return None
    try:
        with contextlib.closing(sqlite3.connect(f'file:{urllib.parse.quote(path)}?mode=ro', uri=True)) as db:
            found = db.execute('SELECT value FROM settings WHERE name = ?', (name,)).fetchone()
    except sqlite3.Error:
        return None
    return found and found[0]


