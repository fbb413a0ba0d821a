"""The page behind the real server (waitress) on loopback, with small
limits: a body over the limit refused before anything is stored, idle
connections closed, and one address holding its cap of slow connections
while another is served at once."""
import http.client
import socket
import threading
import time

import pytest


from stand_in_set import free_port

LIMITS = {'connections': 12, 'connections_per_address': 4, 'idle_timeout': 2}


@pytest.fixture
def server(make_set):
    from class_set.web import create_app
    from class_set.web.serving import listen
    app = create_app({'OUT': make_set()})
    port = free_port()
    running = listen(app, '127.0.0.1', port, LIMITS)
    thread = threading.Thread(target=running.run, daemon=True)
    thread.start()
    yield port
    running.close()


def answer_from(port, address):
    connection = http.client.HTTPConnection('127.0.0.1', port, timeout=10, source_address=(address, 0))
    try:
        connection.request('POST', '/', 'name=Bob&word=guess', {'Content-Type': 'application/x-www-form-urlencoded'})
        return connection.getresponse().status
    finally:
        connection.close()


def slow(port, address, head=b'POST / HTTP/1.1\r\nHost: x\r\n'):
    """A connection that sent part of a request and waits."""
    s = socket.create_connection(('127.0.0.1', port), source_address=(address, 0))
    s.sendall(head)
    return s


def closed(s):
    """Whether the server closed this connection (within a few seconds)."""
    s.settimeout(5)
    try:
        return s.recv(1) == b''
    except ConnectionResetError:
        return True
    except socket.timeout:
        return False


def test_one_address_cannot_take_the_room(server, monkeypatch):
    import tempfile
    spilled = []
    monkeypatch.setattr(tempfile, 'TemporaryFile', lambda *a, **k: spilled.append(a) or pytest.fail('spilled'))
    cap = LIMITS['connections_per_address']
    held = [slow(server, '127.0.0.2') for _ in range(cap - 1)]
    huge = slow(server, '127.0.0.2', b'POST / HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded'
                                     b'\r\nContent-Length: 104857600\r\n\r\n' + b'x' * 65536)
    more = [slow(server, '127.0.0.2') for _ in range(3)]
    start = time.monotonic()
    assert answer_from(server, '127.0.0.3') == 200
    assert time.monotonic() - start < 1, 'another address is served at once'
    huge.settimeout(5)
    assert huge.recv(100).startswith(b'HTTP/1.1 413'), 'refused before the body is stored'
    assert all(closed(s) for s in more), 'connections over the cap are closed'
    assert spilled == [], 'no request made a temporary file'
    for s in held + more + [huge]:
        s.close()


def test_idle_connections_close(server):
    idle = slow(server, '127.0.0.4')
    start = time.monotonic()
    assert closed(idle) or closed(idle)
    assert time.monotonic() - start < 10
    idle.close()


@pytest.fixture
def serving(make_set):
    """serve in two processes on a set, with small budgets: (port, the
    board's address); stopped at the end, workers and all."""
    import subprocess
    import sys
    import psutil
    port = free_port()
    out = make_set()
    serve = subprocess.Popen([sys.executable, '-m', 'class_set', 'serve', out, '--port', str(port), '--workers',
                              '2', '--rate', '3', '--client-rate', '4'], stdout=subprocess.PIPE, text=True)
    printed = ''
    while 'Ctrl+C' not in printed:
        printed += serve.stdout.readline() or pytest.fail('serve ended: ' + printed)
    workers = psutil.Process(serve.pid).children()
    yield port, [w for w in printed.split() if '/board?key=' in w][0], out
    serve.terminate()
    serve.wait(10)
    serve.stdout.close()
    assert len(workers) == 1 and psutil.wait_procs(workers, timeout=10)[1] == [], 'a worker outlived serve'


def test_the_workers_share_each_budget(serving):
    import csv
    import http.cookiejar
    import io
    import urllib.parse
    import urllib.request
    import contextlib
    import os
    import sqlite3
    port, board, out = serving
    organiser = urllib.request.build_opener(urllib.request.HTTPCookieProcessor(http.cookiejar.CookieJar()))
    organiser.open(board).close()
    with organiser.open(f'http://127.0.0.1:{port}/board/links.csv') as response:
        link = {r['name']: urllib.parse.urlsplit(r['link']).path for r in csv.DictReader(io.StringIO(response.read().decode()))}

    def post(path, body, address):
        connection = http.client.HTTPConnection('127.0.0.1', port, timeout=10, source_address=(address, 0))
        try:
            connection.request('POST', path, body, {'Content-Type': 'application/x-www-form-urlencoded'})
            return connection.getresponse().status
        finally:
            connection.close()
    # Two addresses, so two processes: Bob's budget is one.
    assert [post(link['Bob'], 'word=x', f'127.0.4.{2 + i % 2}') for i in range(4)] == [200, 200, 200, 429]
    # An address comes to one process, however many connections it opens: its budget is whole there.
    assert [post('/', 'name=Nobody&word=x', '127.0.5.2') for _ in range(5)] == [200] * 4 + [429]

    def kept():  # as grade reads them, in a process of its own
        with contextlib.closing(sqlite3.connect(os.path.join(out, 'checkins.sqlite'))) as db:
            return db.execute('SELECT COUNT(*) FROM answers').fetchone()[0]
    assert kept() == 7
    assert [post(link['Анна Петрова'], 'word=x', f'127.0.4.{2 + i}') for i in range(2)] == [200, 200]
    assert kept() == 9, 'answers handed in after another program read them were lost'
