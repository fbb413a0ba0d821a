"""The answers handed in through `serve`, kept in OUT/checkins.sqlite: the
time, the name as typed, the person it matched, the client's address, the
word and whether it was right. The board's key is kept there too.

A build of the set carries the file into the set it swaps in, holding an
exclusive flock on it meanwhile; every write here holds a shared one, and
follows the file to where it now is."""
import contextlib
import dataclasses
import enum
import fcntl
import os
import secrets
import sqlite3
import threading
import time

from .errors import OK, Refusal
from .set_files import CHECKINS, same_file
from .set_folder import records_path

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
'''
# After the columns that stores made before them lack are added.
INDEX = 'CREATE INDEX IF NOT EXISTS answers_of_a_person ON answers (folder, via, time)'


class Via(enum.Enum):
    """How an answer came: by name on the form, or through a personal link."""
    NAME = 'name'
    LINK = 'link'


@dataclasses.dataclass(frozen=True)
class Answer:
    """An answer handed in: `typed` is the name as typed, `person` the
    name of the set it matched and `folder` whose it is (None for a name
    on nobody's list, and for answers kept before folders were); whether
    it was that person's password then."""
    id: int
    time: float
    typed: str
    person: str | None
    word: str
    correct: bool
    via: Via
    folder: str | None = None
    client: str = ''


# Columns that stores made before them lack: answers kept before there were
# personal links came by name; before namesakes, the name told whose.
ADDED = {'via': "ALTER TABLE answers ADD COLUMN via TEXT NOT NULL DEFAULT 'name'",
         'folder': 'ALTER TABLE answers ADD COLUMN folder TEXT'}


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


class Checkins:
    """One connection, shared by the server's threads under a lock."""

    def __init__(self, out, create=True):
        self.path = os.path.join(out, CHECKINS)
        if create:
            # Private from the start: it holds the words people typed.
            os.close(os.open(self.path, os.O_WRONLY | os.O_CREAT, 0o600))
        elif not os.path.isfile(self.path):
            raise FileNotFoundError(self.path)
        self.db, self.fd = None, None
        self.lock = threading.Lock()
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
            return
        self.disconnect()
        fd = os.open(self.path, os.O_RDONLY)
        db = sqlite3.connect(self.path, check_same_thread=False)
        try:
            # A commit is then an append, on disk when the system writes it out:
            # a killed serve loses nothing; a power cut, the last moment's.
            db.execute('PRAGMA journal_mode=WAL')
            db.execute('PRAGMA synchronous=NORMAL')
        except BaseException:
            db.close()
            os.close(fd)
            raise
        self.db, self.fd = db, fd

    def disconnect(self):
        if self.db is not None:
            self.db.close()  # before the descriptor, as above
        if self.fd is not None:
            os.close(self.fd)
        self.db, self.fd = None, None

    def close(self):
        """Before a fork: a connection is never shared with another process."""
        with self.lock:
            self.disconnect()

    @contextlib.contextmanager
    def writing(self):
        """A transaction that no build of the set swaps away under it."""
        with self.lock:
            while True:
                try:
                    if self.db is None:
                        self.connect()
                    fcntl.flock(self.fd, fcntl.LOCK_SH)
                    try:
                        if same_file(self.path, self.fd):
                            with self.db:
                                # Every process that serves the set waits here for the others.
                                self.db.execute('BEGIN IMMEDIATE')
                                yield
                            return
                    finally:
                        fcntl.flock(self.fd, fcntl.LOCK_UN)
                    self.connect()  # a build put a copy of it there: that one, next time round
                except sqlite3.DatabaseError as e:
                    raise Refusal(f'{self.path}: not a store of answers ({e}); move it away to start afresh')

    def key(self):
        """The board's key: drawn once, the same after a restart."""
        with self.writing():
            self.db.execute('INSERT OR IGNORE INTO settings VALUES (?, ?)', ('board_key', secrets.token_urlsafe(18)))
            return self.db.execute("SELECT value FROM settings WHERE name = 'board_key'").fetchone()[0]

    def new_key(self):
        """A new key for the board: the old one stops working at once, also
        on a running serve, which reads it on every visit of the board."""
        with self.writing():
            self.db.execute('INSERT OR REPLACE INTO settings VALUES (?, ?)', ('board_key', secrets.token_urlsafe(18)))
        return self.key()

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
            self.spend(budget, time.time() if now is None else now)

    def add(self, typed, row, client, word, via=Via.NAME, budget=None):
        """An answer, handed in by name on the form or through the person's
        link; `row` None for a name that is on nobody's list. Whether it was
        right; or TooMany where `budget` is spent, and then it is not kept."""
        correct = row is not None and word.strip() == row.password
        now = time.time()
        with self.writing():
            if budget is not None:
                self.spend(budget, now)
            self.db.execute('INSERT INTO answers (time, typed, person, client, word, correct, via, folder) '
                            'VALUES (?, ?, ?, ?, ?, ?, ?, ?)',
                            (now, typed, row and row.name, client, word, int(correct), via.value,
                             row and row.folder))
        return correct

    def downloaded(self, folder, budget=None):
        """Note the first time a person downloaded their program; or
        TooMany where `budget` is spent. The column is called person:
        stores before namesakes kept names in it."""
        with self.writing():
            if budget is not None:
                self.spend(budget, time.time())
            self.db.execute('INSERT OR IGNORE INTO downloads VALUES (?, ?)', (folder, time.time()))

    def downloads(self, people=None):
        """{folder (or, kept before namesakes, name): when they first
        downloaded their program}, of everyone or of `people` (folders and names)."""
        with self.lock:
            self.connect()
            if people is None:
                return dict(self.db.execute('SELECT person, time FROM downloads').fetchall())
            people = list(people)
            found = {}
            for at in range(0, len(people), 500):  # within SQLite's limit of parameters
                part = people[at:at + 500]
                found.update(self.db.execute(f'SELECT person, time FROM downloads WHERE person IN '
                                             f'({", ".join("?" * len(part))})', part).fetchall())
            return found

    def answers(self, after=0):
        """[Answer] in the order given; those after the answer with id `after`."""
        with self.lock:
            self.connect()
            found = self.db.execute('SELECT id, time, typed, person, word, correct, via, folder, client '
                                    'FROM answers WHERE id > ? ORDER BY id', (after,))
            return [Answer(id=i, time=at, typed=typed, person=person, word=word, correct=bool(correct), via=Via(via),
                           folder=folder, client=client)
                    for i, at, typed, person, word, correct, via, folder, client in found.fetchall()]

    def enrolled(self, client, name, folder):
        """Note a walk-in's enrolment, which no removal takes back."""
        with self.writing():
            self.db.execute('INSERT INTO enrolments VALUES (?, ?, ?, ?)', (time.time(), client, name, folder))

    def enrolments(self, client):
        """How many walk-ins ever enrolled from `client`."""
        with self.lock:
            self.connect()
            return self.db.execute('SELECT COUNT(*) FROM enrolments WHERE client = ?', (client,)).fetchone()[0]


def board_key_command(out):
    """A new key for the board of the set OUT, at once, also on a running serve."""
    records_path(out)  # a set: no store is made where there is none
    key = Checkins(out).new_key()
    print(f'The board has a new key; the old one no longer works. Open it again at\n'
          f'  http://ADDRESS:PORT/board?key={key}\nwith the address and port serve printed.')
    return OK
