"""The store of answers (checkins.sqlite): one from before brought up to
date when it is opened, what it kept read as it was meant; and the truth
told of it: a store another program holds is waited for, a full disk is
said as one (and everything goes on once there is room), and only a file
that is no store, or a damaged one, is called that, with what to keep."""
import contextlib
import os
import sqlite3
import subprocess
import threading

import pytest

from class_set.set import store as store_module
from class_set.set.store import Checkins, Via
from conftest import organiser, page_app, read_csv

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


def damaged(path):
    """A store whose pages were written over in the middle."""
    with contextlib.closing(sqlite3.connect(path)) as db:
        db.execute('CREATE TABLE t (a, b)')
        db.executemany('INSERT INTO t VALUES (?, ?)', [(i, 'x' * 50) for i in range(2000)])
        db.commit()
    with open(path, 'r+b') as f:
        f.seek(4096 * 5 + 100)
        f.write(b'\xab' * 200)


@pytest.mark.parametrize('spoil', [
    lambda path: open(path, 'wb').write(b'not a database, and not to be lost'),
    damaged,
], ids=['no database', 'damaged'])
def test_only_a_file_that_is_no_store_is_called_so_and_it_is_kept(make_set, class_set, spoil):
    out = make_set()
    path = os.path.join(out, 'checkins.sqlite')
    spoil(path)
    with open(path, 'rb') as f:
        before = f.read()
    status, _, said = class_set('grade', out, '--from-checkins')
    assert status == 2 and 'not a store of answers' in said, said
    assert f'Keep a copy of it first (cp "{path}"' in said, 'what to keep comes before moving it away'
    with open(path, 'rb') as f:
        assert f.read() == before


@contextlib.contextmanager
def held(out, seconds):
    """Another program holding the store for writing, for `seconds`."""
    db = sqlite3.connect(os.path.join(out, 'checkins.sqlite'), isolation_level=None, check_same_thread=False)
    db.execute('BEGIN IMMEDIATE')
    timer = threading.Timer(seconds, lambda: db.execute('COMMIT'))
    timer.start()
    try:
        yield
    finally:
        timer.join()
        db.close()


def test_a_store_another_program_holds_is_waited_for(app, class_set):
    out, client = app.config['OUT'], organiser(app)
    with held(out, 1):
        status, _, said = class_set('grade', out, '--from-checkins')
        assert status == 0, said
        assert client.post('/', data={'name': 'Bob', 'word': 'Fg4Hj'}).status_code == 200
        status, _, said = class_set('board-key', out)
        assert status == 0, said
    assert [a.word for a in Checkins(out).answers()] == ['Fg4Hj']


def test_a_page_that_reads_waits_for_no_answer_being_kept(app):
    store, read = app.extensions['room'].store, []
    with store.writing():
        store.db.execute("INSERT INTO settings VALUES ('opens', '2026-12-08T09:00:00+00:00')")
        reader = threading.Thread(target=lambda: read.append(store.clock()))
        reader.start()
        reader.join(timeout=10)
        assert read, 'a read waited for the writing under way'
        assert read[0].opens is None, 'and saw only what was kept'
    store.close()  # as before a fork: every thread's connection closed, and opened again when next used
    assert store.clock().opens is not None and app.test_client().get('/').status_code == 200


def test_a_store_held_too_long_is_called_busy_not_broken(app, class_set, monkeypatch):
    out = app.config['OUT']
    monkeypatch.setattr(store_module, 'BUSY_WAIT', 0.2)
    app.extensions['room'].store.writer.execute('PRAGMA busy_timeout = 200')
    with held(out, 0.8):
        status, _, said = class_set('board-key', out)
        response = app.test_client().post('/', data={'name': 'Bob', 'word': 'x'})
    assert status == 1 and 'busy: another program has held it' in said and 'not a store' not in said, said
    assert response.status_code == 503 and response.headers['Retry-After'] == '60'
    assert 'Try again in a minute' in response.text
    assert app.test_client().post('/', data={'name': 'Bob', 'word': 'x'}).status_code == 200, 'and it goes on'


def answer(client, word, language='en'):
    return client.post('/', data={'name': 'Bob', 'word': word}, headers={'Accept-Language': language})


def test_a_full_store_is_said_so_and_nothing_is_lost_once_there_is_room(make_set):
    app = page_app({'OUT': make_set(), 'NAME_RATE': 1000})
    store, client = app.extensions['room'].store, organiser(app)
    pages, = store.writer.execute('PRAGMA page_count').fetchone()
    store.writer.execute(f'PRAGMA max_page_count = {pages}')  # as SQLite answers on a full disk
    answers = [answer(client, f'word {i}', 'ru') for i in range(200)]
    statuses = [a.status_code for a in answers]
    full = statuses.index(503)
    assert set(statuses[full:]) == {503} and set(statuses[:full]) <= {200}, 'what fitted in its pages was kept'
    assert answers[full].headers['Retry-After'] == '60' and 'места на диске' in answers[full].text
    assert 'Something went wrong' not in answers[full].text
    assert 'The disk is full' in client.get('/board').text
    store.writer.execute(f'PRAGMA max_page_count = {pages * 100}')  # room again
    assert answer(client, 'after').status_code == 200
    assert [a.word for a in store.answers()] == [f'word {i}' for i in range(full)] + ['after']
    assert 'The disk is full' not in client.get('/board').text


@pytest.fixture
def small_disk(tmp_path):
    """A file system of 4 MiB of its own (tmpfs), for a disk that really fills up."""
    folder = tmp_path / 'disk'
    folder.mkdir()
    if os.geteuid() != 0 or subprocess.run(['mount', '-t', 'tmpfs', '-o', 'size=4m', 'tmpfs', str(folder)],
                                           capture_output=True).returncode:
        pytest.skip('a file system of its own needs root and mount')
    yield str(folder)
    subprocess.run(['umount', '--lazy', str(folder)], check=True)  # a store may still be open


def fill(folder):
    """Fill the disk of `folder`; the file that did it."""
    filler = os.path.join(folder, 'filler')
    with open(filler, 'wb') as f:
        with contextlib.suppress(OSError):
            while True:
                f.write(b'\0' * 65536)
                f.flush()
    return filler


def test_a_really_full_disk(small_disk, class_set):
    from stand_in_set import lay_out
    out = os.path.join(small_disk, 'set')
    lay_out(out, [('Bob', 'Fg4Hj')], size=256)
    app = page_app({'OUT': out, 'NAME_RATE': 1000})
    client = organiser(app)
    filler = fill(small_disk)
    statuses = [answer(client, f'word {i}').status_code for i in range(200)]
    assert 503 in statuses and set(statuses) <= {200, 503}, 'the log had room for some: they are kept'
    assert 'The disk is full' in client.get('/board').text
    status, _, said = class_set('board-key', out)
    assert status == 1 and said.count('\n') == 1 and 'the disk is full' in said, said
    os.unlink(filler)
    assert answer(client, 'after').status_code == 200
    kept = [a.word for a in Checkins(out).answers()]
    assert kept == [f'word {i}' for i, s in enumerate(statuses) if s == 200] + ['after']


def test_little_room_is_said_at_the_start_and_on_the_board(make_set, class_set, monkeypatch, serve_at_once):
    monkeypatch.setattr(store_module, 'free_space', lambda path: 5 * 2**20)  # less than an hour of answers takes
    out = make_set()
    status, printed, _ = class_set('serve', out)
    assert status == 0 and f'Little room left on the disk of {out}: 5 MiB' in printed
    board = organiser(page_app({'OUT': out})).get('/board').text
    assert 'Little room left on the disk: 5.0 MiB' in board

