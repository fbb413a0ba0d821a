"""The page behind its real servers on loopback, with small limits: one
process (waitress) serving a room behind one address while one of its
students attacks it; gunicorn's workers, one killed; and a proxy in front.
Addresses 127.0.0.N stand for the room's machines."""
import contextlib
import csv
import http.client
import http.server
import io
import os
import re
import socket
import sqlite3
import subprocess
import sys
import threading
import time
import urllib.parse

import pytest

from conftest import TOOLS, organiser, page_app, served_in_thread
from stand_in_set import free_port, numbered, together

FORM = {'Content-Type': 'application/x-www-form-urlencoded'}
LIMITS = {'connections': 100, 'deadline': 2, 'slow': 10, 'idle_timeout': 15}


@pytest.fixture
def room(make_set):
    """A class of 30 served in one process: (port, {name: (link path, password)}, app)."""
    people = numbered(30)
    app = page_app({'OUT': make_set(people), 'CLIENT_RATE': 20, 'NAME_RATE': 10, 'RATE': 10})
    keys = {row.name: key for key, row in app.extensions['room'].people().by_key.items()}
    with served_in_thread(app, LIMITS) as port:
        yield port, {name: (f'/p/{keys[name]}', password) for name, password in people}, app


def post(connection, path, fields, headers=FORM):
    connection.request('POST', path, urllib.parse.urlencode(fields), headers)
    response = connection.getresponse()
    return response.status, response.read().decode()


def connect(port, address, timeout=30):
    return http.client.HTTPConnection('127.0.0.1', port, timeout=timeout, source_address=(address, 0))


def slow(port, address, head=b'POST / HTTP/1.1\r\nHost: x\r\n'):
    """A connection that sent part of a request and waits."""
    s = socket.create_connection(('127.0.0.1', port), source_address=(address, 0))
    s.sendall(head)
    return s


def closed(s, wait=10):
    """Whether the server closed this connection (within `wait` seconds)."""
    s.settimeout(wait)
    try:
        return s.recv(1) == b''
    except ConnectionResetError:
        return True
    except socket.timeout:
        return False


# One process

def test_a_room_behind_one_address_is_served_while_one_of_it_attacks(room):
    port, people, _ = room
    names = list(people)
    attacker, others = names[0], names[1:]
    clients = {name: connect(port, '127.0.0.2') for name in names}  # one kept-alive connection each
    for name in names:
        assert post(clients[name], '/', {'name': name, 'word': 'first try'})[0] == 200
    stop, held, junk = threading.Event(), [], []

    def attack():
        link = people[attacker][0]
        while not stop.is_set():
            junk.append(post(clients[attacker], link, {'word': 'junk'})[0])
            junk.append(post(clients[attacker], '/', {'name': f'Nobody {len(junk)}', 'word': 'junk'})[0])
            junk.append(post(clients[attacker], '/', {'name': attacker, 'word': 'junk'})[0])
            if len(held) < 20:
                held.append(slow(port, '127.0.0.2'))
    thread = threading.Thread(target=attack)
    thread.start()
    try:
        while len(junk) < 90 or len(held) < 20:
            time.sleep(0.01)
        answered = {}
        together(len(others), lambda i: answered.__setitem__(
            others[i], post(clients[others[i]], people[others[i]][0], {'word': people[others[i]][1]})))
        by_name = {}
        together(len(others), lambda i: by_name.__setitem__(
            others[i], post(clients[others[i]], '/', {'name': others[i], 'word': 'guess'})[0]))
    finally:
        stop.set()
        thread.join()
    assert 429 in junk, 'the attacker spent their own budgets'
    assert {name: status for name, (status, _) in answered.items()} == dict.fromkeys(others, 200)
    assert all('Right' in page for _, page in answered.values())
    assert by_name == dict.fromkeys(others, 200), 'names on the list spend their own budgets'
    for s in held:
        s.close()


def test_a_trickled_request_is_closed_at_its_deadline(room):
    port = room[0]
    trickle = socket.create_connection(('127.0.0.1', port), source_address=('127.0.0.3', 0))
    request = b'POST / HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n'
    sent = 0
    with contextlib.suppress(OSError):
        while sent < len(request) and not closed(trickle, wait=1):
            trickle.send(request[sent:sent + 1])  # a byte a second: never idle, never whole
            sent += 1
    assert sent < len(request), 'a request that never arrived whole was served'
    trickle.close()
    # Meanwhile the room was served, and a browser's kept-alive connection stays.
    kept = connect(port, '127.0.0.3')
    assert post(kept, '/', {'name': 'Person 2', 'word': 'x'})[0] == 200
    time.sleep(LIMITS['deadline'] + 1)
    assert post(kept, '/', {'name': 'Person 2', 'word': 'x'})[0] == 200


def test_a_full_room_closes_its_longest_idle_connection(make_set):
    # Idle for longer than the test: only making place lets anyone else in.
    with served_in_thread(page_app({'OUT': make_set()}), dict(LIMITS, connections=8, idle_timeout=600)) as port:
        idle = [socket.create_connection(('127.0.0.1', port), source_address=('127.0.0.5', 0)) for _ in range(8)]
        time.sleep(0.5)
        assert post(connect(port, '127.0.0.6', timeout=60), '/', {'name': 'Bob', 'word': 'x'})[0] == 200
        assert closed(idle[0]), 'the longest idle gave way'


def test_a_room_full_of_crawling_requests_makes_place_for_the_students(make_set):
    from class_set.web.serving import GRACE
    with served_in_thread(page_app({'OUT': make_set(numbered(5))}), dict(LIMITS, connections=20, deadline=60)) as port:
        crawling = [slow(port, f'127.0.7.{i + 2}') for i in range(20)]  # each from an address of its own
        time.sleep(GRACE + 0.5)
        statuses = [post(connect(port, f'127.0.8.{i + 2}'), '/', {'name': 'Person 1', 'word': 'x'})[0]
                    for i in range(10)]
        assert statuses == [200] * 10
        assert 0 < sum(closed(s, wait=0.1) for s in crawling) <= 10, 'crawling requests gave way, at most one each'


@pytest.mark.parametrize('size, status', [(4096, 200), (4097, 413)])
def test_a_body_of_4_kib_is_taken_and_more_refused(room, size, status):
    body = 'name=Person+2&word=' + 'x' * (size - len('name=Person+2&word='))
    connection = connect(room[0], '127.0.0.4')
    connection.request('POST', '/', body, FORM)
    assert connection.getresponse().status == status


def test_the_servers_refusals_speak_the_rooms_language(room):
    refused = raw(room[0], b'POST / HTTP/1.1\r\nHost: x\r\nAccept-Language: ru\r\nContent-Length: 100000\r\n\r\n')
    assert refused.startswith('HTTP/1.1 413') and 'Эта форма столько не отправляет' in refused
    assert 'waitress' not in refused and "default-src 'self'" in refused


def raw(port, request):
    """What the server answers a request sent as these bytes: its head and body."""
    with socket.create_connection(('127.0.0.1', port)) as s:
        s.sendall(request)
        s.settimeout(10)
        answer = b''
        while b'\r\n\r\n' not in answer:
            answer += s.recv(65536)
        head, _, body = answer.partition(b'\r\n\r\n')
        length = int(re.search(rb'(?i)content-length: *(\d+)', head).group(1))
        while len(body) < length:
            body += s.recv(65536)
    return (head + b'\r\n\r\n' + body).decode('utf-8', 'replace')


# Past one process: gunicorn

@pytest.fixture
def workers(make_set):
    """serve --workers 2 on a set: (port, links by name, OUT, serve's process)."""
    import psutil
    port, out = free_port(), make_set(numbered(5))
    serve = subprocess.Popen([sys.executable, '-m', 'class_set', 'serve', out, '--port', str(port), '--workers', '2',
                              '--trusted-proxy', '127.0.0.1',
                              '--rate', '3', '--client-rate', '100000'], stdout=subprocess.PIPE, text=True,
                             env=dict(os.environ, PYTHONPATH=TOOLS))
    try:
        printed = ''
        while 'Ctrl+C' not in printed:
            printed += serve.stdout.readline() or pytest.fail('serve ended: ' + printed)
        board = [w for w in printed.split() if '/board?key=' in w][0]
        assert wait_for(lambda: len(psutil.Process(serve.pid).children()) == 2)
        with contextlib.closing(connect(port, '127.0.0.1')) as connection:
            connection.request('GET', urllib.parse.urlsplit(board).path + '?' + urllib.parse.urlsplit(board).query)
            response = connection.getresponse()
            response.read()
            cookie = response.getheader('Set-Cookie').split(';')[0]
            connection.request('GET', '/board/links.csv', headers={'Cookie': cookie})
            response = connection.getresponse()
            links = {r['name']: urllib.parse.urlsplit(r['link']).path
                     for r in csv.DictReader(io.StringIO(response.read().decode()))}
        yield port, links, out, psutil.Process(serve.pid)
    finally:  # stopped, workers and all, however the test went
        serve.terminate()
        status = serve.wait(30)
        serve.stdout.close()
    assert status == 0


def wait_for(done, limit=30):
    deadline = time.monotonic() + limit
    while not done():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


def kept(out):
    """The answers in the store, as grade reads them: in a process of its own."""
    with contextlib.closing(sqlite3.connect(os.path.join(out, 'checkins.sqlite'))) as db:
        return db.execute('SELECT COUNT(*) FROM answers').fetchone()[0]


def test_a_killed_worker_loses_nothing_and_is_replaced(workers):
    port, links, out, serve = workers
    before = {p.pid for p in serve.children()}
    stop, acknowledged, cut = threading.Event(), [], []

    def hand_in(i):
        while not stop.is_set():
            try:
                with contextlib.closing(connect(port, f'127.0.1.{i + 2}', timeout=10)) as connection:
                    if post(connection, '/', {'name': 'Nobody', 'word': 'x'})[0] == 200:
                        acknowledged.append(i)
            except (OSError, http.client.HTTPException):
                cut.append(i)  # the worker died under it: a browser tries again
    threads = [threading.Thread(target=hand_in, args=(i,)) for i in range(4)]
    for thread in threads:
        thread.start()
    try:
        time.sleep(0.5)
        os.kill(sorted(before)[0], 9)
        assert wait_for(lambda: len({p.pid for p in serve.children()} - before) == 1 and len(serve.children()) == 2)
        count = len(acknowledged)
        assert wait_for(lambda: len(acknowledged) > count + 10), 'answered again after the kill'
    finally:
        stop.set()
        for thread in threads:
            thread.join()
    # One cut off may have been kept before its worker died, unacknowledged.
    assert len(acknowledged) <= kept(out) <= len(acknowledged) + len(cut), 'an answer acknowledged was lost'


def test_gunicorns_refusals_are_the_pages_own(workers):
    refused = raw(workers[0], b'GET / HTTP/1.1\r\nHost: x\r\nNo colon here\r\n\r\n')
    assert refused.startswith('HTTP/1.1 400') and 'That request could not be read' in refused
    assert 'gunicorn' not in refused.lower()


def test_a_persons_budget_holds_across_workers(workers):
    port, links, out, _ = workers
    statuses = []
    for i in range(4):  # a new connection each, from two addresses: either worker may take it
        with contextlib.closing(connect(port, f'127.0.2.{2 + i % 2}')) as connection:
            statuses.append(post(connection, links['Person 1'], {'word': 'x'})[0])
    assert statuses == [200, 200, 200, 429]
    assert kept(out) == 3


# Behind a proxy

class StandInProxy(http.server.ThreadingHTTPServer):
    """A TLS proxy as the page sees it: every request from 127.0.0.1, the
    client's address in X-Forwarded-For and https in X-Forwarded-Proto."""

    def __init__(self, port, target):
        class Forward(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                body = self.rfile.read(int(self.headers['Content-Length']))
                headers = {k: v for k, v in self.headers.items() if k.lower() != 'connection'}
                headers.update({'X-Forwarded-For': self.client_address[0], 'X-Forwarded-Proto': 'https'})
                with contextlib.closing(http.client.HTTPConnection('127.0.0.1', target)) as upstream:
                    upstream.request('POST', self.path, body, headers)
                    answer = upstream.getresponse()
                    data = answer.read()
                self.send_response(answer.status)
                self.send_header('Content-Length', str(len(data)))
                self.end_headers()
                self.wfile.write(data)

            def log_message(self, *args):
                pass
        super().__init__(('127.0.0.1', port), Forward)


@pytest.fixture
def proxied(make_set):
    """The page behind a stand-in proxy: (the proxy's port, the page's app)."""
    def make(trusted):
        outside = free_port()
        app = page_app({'OUT': make_set(), 'CLIENT_RATE': 2, 'TRUSTED_PROXY': trusted,
                        'BASE': f'https://127.0.0.1:{outside}/'})
        port = stack.enter_context(served_in_thread(app, LIMITS))
        proxy = StandInProxy(outside, port)
        stack.callback(proxy.shutdown)
        threading.Thread(target=proxy.serve_forever, daemon=True).start()
        return outside, app
    with contextlib.ExitStack() as stack:
        yield make


def test_behind_a_trusted_proxy_each_client_is_told_apart(proxied):
    port, app = proxied(('127.0.0.1',))
    statuses = {address: [post(connect(port, address), '/', {'name': 'Nobody', 'word': 'x'})[0] for _ in range(3)]
                for address in ('127.0.0.2', '127.0.0.3')}
    assert statuses == {'127.0.0.2': [200, 200, 429], '127.0.0.3': [200, 200, 429]}
    tried = organiser(app).get('/board').text
    assert '127.0.0.2' in tried and '127.0.0.3' in tried


def test_behind_an_untrusted_proxy_what_it_says_is_ignored(proxied):
    port, _ = proxied(())
    assert [post(connect(port, f'127.0.0.{2 + i}'), '/', {'name': 'Nobody', 'word': 'x'})[0]
            for i in range(3)] == [200, 200, 429], 'one address: the proxy\'s'


def test_an_https_origin_behind_the_proxy_may_post(proxied):
    port, _ = proxied(('127.0.0.1',))
    for origin, status in [(f'https://127.0.0.1:{port}', 200), ('https://evil.example', 403)]:
        headers = dict(FORM, Origin=origin)
        assert post(connect(port, '127.0.0.2'), '/', {'name': 'Bob', 'word': 'x'}, headers)[0] == status, origin
