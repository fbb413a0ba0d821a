"""The answers handed in through `serve`, kept in OUT/checkins.sqlite: the
time, the name as typed, the person it matched, the client's address, the
word and whether it was right. The board's key is kept there too.

A build of the set carries the file into the set it swaps in, holding an
exclusive flock on it meanwhile; every write here holds a shared one, and
follows the file to where it now is."""
import contextlib
import dataclasses
import fcntl
import os
import secrets
import sqlite3
import threading
import time

from .errors import Refusal

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
'''


@dataclasses.dataclass(frozen=True)
class Answer:
    """An answer handed in: `typed` is the name as typed, `person` the
    name of the set it matched and `folder` whose it is (None for a name
    on nobody's list, and for answers kept before folders were); `via`
    is 'name' (the form) or 'link'."""
    id: int
    time: float
    typed: str
    person: str | None
    word: str
    correct: bool
    via: str
    folder: str | None = None
    client: str = ''


# Columns that stores made before them lack: answers kept before there were
# personal links came by name; before namesakes, the name told whose.
ADDED = {'via': "ALTER TABLE answers ADD COLUMN via TEXT NOT NULL DEFAULT 'name'",
         'folder': 'ALTER TABLE answers ADD COLUMN folder TEXT'}


class Checkins:
    """One connection, shared by the server's threads under a lock."""

    def __init__(self, out, create=True):
        self.path = os.path.join(out, 'checkins.sqlite')
        if create:
            # Private from the start: it holds the words people typed.
            os.close(os.open(self.path, os.O_WRONLY | os.O_CREAT, 0o600))
        elif not os.path.isfile(self.path):
            raise FileNotFoundError(self.path)
        self.db, self.inode = None, None
        self.lock = threading.Lock()
        with self.writing():
            self.db.executescript(SCHEMA)
            columns = [c[1] for c in self.db.execute('PRAGMA table_info(answers)')]
            for column, alter in ADDED.items():
                if column not in columns:
                    self.db.execute(alter)

    def connect(self):
        """The connection to the file now at the path: a build may have put a
        copy of it there."""
        here = os.stat(self.path)
        if (here.st_dev, here.st_ino) != self.inode:
            if self.db is not None:
                self.db.close()
            self.db, self.inode = sqlite3.connect(self.path, check_same_thread=False), (here.st_dev, here.st_ino)

    @contextlib.contextmanager
    def writing(self):
        """A transaction that no build of the set swaps away under it."""
        with self.lock:
            while True:
                fd = os.open(self.path, os.O_RDONLY)
                try:
                    fcntl.flock(fd, fcntl.LOCK_SH)
                    held, here = os.fstat(fd), os.stat(self.path)
                    if (held.st_dev, held.st_ino) == (here.st_dev, here.st_ino):
                        self.connect()
                        try:
                            with self.db:
                                yield
                        except sqlite3.DatabaseError as e:
                            raise Refusal(f'{self.path}: not a store of answers ({e}); move it away to start afresh')
                        return
                finally:
                    os.close(fd)

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

    def add(self, typed, row, client, word, via='name'):
        """An answer, handed in by name on the form or through the person's
        link; `row` None for a name that is on nobody's list."""
        correct = row is not None and word.strip() == row.password
        with self.writing():
            self.db.execute('INSERT INTO answers (time, typed, person, client, word, correct, via, folder) '
                            'VALUES (?, ?, ?, ?, ?, ?, ?, ?)',
                            (time.time(), typed, row and row.name, client, word, int(correct), via, row and row.folder))
        return correct

    def downloaded(self, folder):
        """Notes the first time a person downloaded their program. The
        column is called person: stores before namesakes kept names in it."""
        with self.writing():
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
            return [Answer(*fields[:5], bool(fields[5]), *fields[6:]) for fields in found.fetchall()]
