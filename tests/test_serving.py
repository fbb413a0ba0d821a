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
