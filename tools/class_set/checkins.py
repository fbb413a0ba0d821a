"""The answers handed in through `serve`, kept in OUT/checkins.sqlite: the
time, the name as typed, the person it matched, the client's address, the
word and whether it was right. The board's key is kept there too."""
import os
import secrets
import sqlite3
import threading
import time

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
'''


class Checkins:
    """One connection, shared by the server's threads under a lock."""

    def __init__(self, out, create=True):
        self.path = os.path.join(out, 'checkins.sqlite')
        if create:
            # Private from the start: it holds the words people typed.
            os.close(os.open(self.path, os.O_WRONLY | os.O_CREAT, 0o600))
        elif not os.path.isfile(self.path):
            raise FileNotFoundError(self.path)
        self.db = sqlite3.connect(self.path, check_same_thread=False)
        self.lock = threading.Lock()
        with self.lock, self.db:
            self.db.executescript(SCHEMA)

    def key(self):
        """The board's key: drawn once, the same after a restart."""
        with self.lock, self.db:
            self.db.execute('INSERT OR IGNORE INTO settings VALUES (?, ?)', ('board_key', secrets.token_urlsafe(18)))
            return self.db.execute("SELECT value FROM settings WHERE name = 'board_key'").fetchone()[0]

    def add(self, typed, person, client, word, correct):
        with self.lock, self.db:
            self.db.execute('INSERT INTO answers (time, typed, person, client, word, correct) VALUES (?, ?, ?, ?, ?, ?)',
                            (time.time(), typed, person, client, word, int(correct)))

    def answers(self):
        """[(id, time, typed, person, word, correct)] in the order given."""
        with self.lock:
            return self.db.execute('SELECT id, time, typed, person, word, correct FROM answers ORDER BY id').fetchall()
