"""The store of answers (checkins.sqlite) from before: brought up to date
when it is opened, what it kept read as it was meant, and a file that is
no store refused."""
import contextlib
import os
import sqlite3

import pytest

from class_set.checkins import Checkins, Via
from class_set.errors import Refusal
from conftest import read_csv

# The store as serve kept it before personal links and namesakes: no via, no folder.
FIRST = '''
CREATE TABLE answers (id INTEGER PRIMARY KEY, time REAL NOT NULL, typed TEXT NOT NULL, person TEXT,
                      client TEXT NOT NULL, word TEXT NOT NULL, correct INTEGER NOT NULL);
CREATE TABLE settings (name TEXT PRIMARY KEY, value TEXT NOT NULL);
INSERT INTO settings VALUES ('board_key', 'kept-from-before');
INSERT INTO answers (time, typed, person, client, word, correct) VALUES (1.0, 'bob', 'Bob', '127.0.0.1', 'Fg4Hj', 1);
INSERT INTO answers (time, typed, person, client, word, correct) VALUES (2.0, 'Zed', NULL, '127.0.0.1', 'x', 0);
'''


def tables(path):
    with contextlib.closing(sqlite3.connect(path)) as db:
        return {name: [c[1] for c in db.execute(f'PRAGMA table_info({name})')]
                for name, in db.execute("SELECT name FROM sqlite_master WHERE type = 'table'")}


def test_a_store_from_before_is_brought_up_to_date(make_set, class_set):
    out = make_set()
    path = os.path.join(out, 'checkins.sqlite')
    with contextlib.closing(sqlite3.connect(path)) as db:
        db.executescript(FIRST)
    store = Checkins(out)
    assert {'via', 'folder'} <= set(tables(path)['answers'])
    assert {'downloads', 'spent', 'enrolments'} <= set(tables(path))
    first, stranger = store.answers()
    assert (first.via, first.folder, first.person, first.correct) == (Via.NAME, None, 'Bob', True)
    assert (stranger.person, stranger.correct) == (None, False)
    assert store.key() == 'kept-from-before', 'the board keeps its key'
    status, report, _ = class_set('grade', out, '--from-checkins')
    graded = {r['name']: (r['result'], r['answers']) for r in read_csv(report)}
    assert graded['Bob'] == ('solved', '1') and graded['Zed'] == ('not on the list', '1')
    Checkins(out)  # and again: nothing left to bring up to date
    assert len(store.answers()) == 2


def test_a_file_that_is_no_store_is_refused(make_set):
    out = make_set()
    with open(os.path.join(out, 'checkins.sqlite'), 'wb') as f:
        f.write(b'not a database, and not to be lost')
    with pytest.raises(Refusal, match='not a store of answers'):
        Checkins(out)
    with open(os.path.join(out, 'checkins.sqlite'), 'rb') as f:
        assert f.read() == b'not a database, and not to be lost'
