#!/usr/bin/env python3
"""Times class-set serve on sets of 1,000, 10,000 and 100,000 people laid
out by hand (SIZES to choose): in one process (waitress), until the first
page answers, one walk-in's enrolment and twenty at once, a rekey until
the old link is dead, a removal until the removed person's link answers
404, the board's first page; then for one process and for gunicorn with
2 and 4 workers (ENGINES to choose), answers a second through personal
links with 100 clients at once (none may be lost) beside the 404s a
second of the same clients (the floor: what the engine and the framework
cost alone), and serve's memory.
Run: bash bench/page.sh"""
import csv
import http.client
import http.cookiejar
import io
import multiprocessing
import os
import sqlite3
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request

import psutil
import stand_in_set
from class_set.set.keys import with_keys
from class_set.set.folder import read_records

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COMMAND = ['bash', os.path.join(ROOT, 'scripts', 'class-set')]
CLIENTS, EACH, PROCESSES = 100, 50, 4


def post(port, path, fields, client='127.0.0.1', connection=None):
    """(status, seconds) of one form posted."""
    own = connection is None
    connection = connection or http.client.HTTPConnection('127.0.0.1', port, timeout=300, source_address=(client, 0))
    start = time.monotonic()
    connection.request('POST', path, urllib.parse.urlencode(fields), {'Content-Type': 'application/x-www-form-urlencoded'})
    response = connection.getresponse()
    response.read()
    if own:
        connection.close()
    return response.status, time.monotonic() - start


def serve(out, port, workers=1):
    """serve --open 50 on OUT: the process and the seconds until its first page answers."""
    start = time.monotonic()
    server = subprocess.Popen(COMMAND + ['serve', out, '--port', str(port), '--open', '50', '--enrol-per-address',
                                         '100', '--enrol-rate', '100', '--rate', '100000', '--client-rate', '100000',
                                         *(['--workers', str(workers), '--trusted-proxy', '127.0.0.1']
                                           if workers > 1 else [])],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    printed = ''
    while 'Ctrl+C' not in printed:
        printed += server.stdout.readline() or sys.exit('serve ended: ' + printed)
    urllib.request.urlopen(f'http://127.0.0.1:{port}/').close()
    board = [w for w in printed.split() if '/board?key=' in w][0].replace(printed.split('//')[1].split(':')[0],
                                                                            '127.0.0.1', 1)
    return server, time.monotonic() - start, board


def measure(size, top):
    out = os.path.join(top, f'set-{size}')
    stand_in_set.lay_out(out, size, size=int(os.environ.get('PROGRAM_SIZE', 4096)))
    with_keys(out, read_records(out))  # as build gives them
    os.sync()  # a set is built before the day, not while serve starts
    port = stand_in_set.free_port()
    server, started, board = serve(out, port)
    try:
        organiser = urllib.request.build_opener(urllib.request.HTTPCookieProcessor(http.cookiejar.CookieJar()))
        organiser.open(board).close()
        with organiser.open(f'http://127.0.0.1:{port}/board/links.csv') as response:
            people = [(r['name'], urllib.parse.urlsplit(r['link']).path)
                      for r in csv.DictReader(io.StringIO(response.read().decode()))]
        links = [path for _, path in people[:-1]]
        one = post(port, '/enrol', {'name': 'Walk In'}, '127.0.1.2')
        waits = [None] * 20
        stand_in_set.together(20, lambda i: waits.__setitem__(i, post(port, '/enrol', {'name': f'Guest {i}'}, f'127.0.2.{i + 2}')))
        start = time.monotonic()
        subprocess.run(COMMAND + ['rekey', out, 'Person 1'], check=True, capture_output=True)
        while not _gone(port, links[0]):
            pass
        rekeyed = time.monotonic() - start
        start = time.monotonic()
        subprocess.run(COMMAND + ['remove', out, people[-1][0]], check=True, capture_output=True)
        while not _gone(port, people[-1][1]):
            pass
        removed = time.monotonic() - start
        start = time.monotonic()
        with organiser.open(f'http://127.0.0.1:{port}/board') as response:
            page = response.read()
        board_time = time.monotonic() - start
    finally:
        _stop(server)
    enrolled = [w for status, w in waits if status == 303]
    print(f'{size} people: first page {started:.1f} s after serve started; one enrolment {one[1]:.2f} s '
          f'(status {one[0]}); 20 at once: {len(enrolled)} enrolled, each within {max(enrolled):.2f} s; '
          f'rekey seen in {rekeyed:.2f} s; removal seen in {removed:.2f} s; board {len(page) / 1000:.0f} KB in '
          f'{board_time * 1000:.0f} ms', flush=True)
    for workers in map(int, os.environ.get('ENGINES', '1 2 4').split()):
        answers(out, links[1:], workers, size)


def answers(out, links, workers, size):
    """Answers a second through personal links, and 404s a second, from
    CLIENTS clients at once; serve's busy cores and memory."""
    port = stand_in_set.free_port()
    server, started, _ = serve(out, port, workers)
    process = psutil.Process(server.pid)
    try:
        floor = _room(port, ['/p/nobody'] * len(links), 'GET')
        before, cpu = _answers(out), _busy(process)
        start = time.monotonic()
        _room(port, links)
        spent = time.monotonic() - start
        kept, cpu = _answers(out) - before, _busy(process) - cpu
        memory = sum(p.memory_full_info().pss for p in [process] + process.children(recursive=True))
    finally:
        _stop(server)
    engine = 'one process (waitress)' if workers == 1 else f'gunicorn, {workers} workers'
    print(f'{size} people, {engine}: first page {started:.1f} s; {CLIENTS} clients, {CLIENTS * EACH} answers: '
          f'{kept / spent:.0f} a second, {kept} kept, serve busy {cpu / spent:.2f} cores; 404s: {floor:.0f} a '
          f'second; serve {memory / 2**20:.0f} MiB', flush=True)


def _stop(server):
    server.terminate()
    server.wait()
    server.stdout.close()


def _room(port, links, method='POST'):
    """CLIENTS clients at once, each from an address of its own, handing
    in EACH answers through personal links over one connection (or
    fetching them, GET); spread over processes, as a room's clients are,
    so that the clients' own Python does not set the pace. Requests a
    second."""
    def client(i):
        connection = http.client.HTTPConnection('127.0.0.1', port, timeout=300, source_address=(f'127.0.3.{i + 2}', 0))
        for k in range(EACH):
            link = links[(i * EACH + k) % len(links)]
            if method == 'GET':
                connection.request('GET', link)
                connection.getresponse().read()
            else:
                post(port, link, {'word': 'guess'}, connection=connection)
    gate = multiprocessing.Barrier(PROCESSES + 1)

    def clients(first):
        gate.wait()
        stand_in_set.together(CLIENTS // PROCESSES, lambda i: client(first + i))
    processes = [multiprocessing.Process(target=clients, args=(p * (CLIENTS // PROCESSES),)) for p in range(PROCESSES)]
    for p in processes:
        p.start()
    gate.wait()
    start = time.monotonic()
    for p in processes:
        p.join()
    return CLIENTS * EACH / (time.monotonic() - start)


def _busy(process):
    """CPU seconds of serve and its workers."""
    return sum(sum(p.cpu_times()[:2]) for p in [process] + process.children(recursive=True))


def _gone(port, path):
    try:
        urllib.request.urlopen(f'http://127.0.0.1:{port}{path}').close()
        return False
    except urllib.error.HTTPError as e:
        return e.code == 404


def _answers(out):
    with sqlite3.connect(os.path.join(out, 'checkins.sqlite')) as db:
        return db.execute('SELECT COUNT(*) FROM answers').fetchone()[0]


if __name__ == '__main__':
    print(f'date: {time.strftime("%Y-%m-%d")}; {os.cpu_count()} cores')
    with tempfile.TemporaryDirectory(dir=os.path.join(ROOT, 'build')) as top:
        for size in map(int, os.environ.get('SIZES', '1000 10000 100000').split()):
            measure(size, top)
