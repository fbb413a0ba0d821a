#!/usr/bin/env python3
"""The board of a big room after a change of its people: serve (one
process) on a set of PEOPLE (10,000) with ANSWERS (300,000) already in its
store, a third of them by name; it times the board's first view, then a
`remove` until the board shows the person removed, while 20 clients hand
in answers lightly (one every half second each), and says how long the
slowest of them waited meanwhile.
Run: bash bench/board.sh"""
import contextlib
import http.client
import http.cookiejar
import os
import random
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import urllib.request

import stand_in_set
from class_set.set.store import Checkins
from class_set.set.keys import with_keys
from class_set.set.folder import read_records

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COMMAND = ['bash', os.path.join(ROOT, 'scripts', 'class-set')]
PEOPLE, ANSWERS = int(os.environ.get('PEOPLE', 10000)), int(os.environ.get('ANSWERS', 300000))


def fill(out, people):
    """ANSWERS answers in the store: through links, by name, and under names on nobody's list."""
    Checkins(out).close()
    rows = read_records(out)
    start = time.time() - 3600
    with contextlib.closing(sqlite3.connect(os.path.join(out, 'checkins.sqlite'))) as db:
        db.executemany('INSERT INTO answers (time, typed, person, client, word, correct, via, folder) '
                       'VALUES (?, ?, ?, ?, ?, ?, ?, ?)', (answer(i, rows, start) for i in range(ANSWERS)))
        db.commit()


def answer(i, rows, start):
    row = rows[i % len(rows)]
    right = i % 7 == 0
    word = row.password if right else rows[(i * 31) % len(rows)].password if i % 11 == 0 else f'guess{i}'
    if i % 3 == 0:
        return start + i / 100, row.name.upper(), row.name, f'127.0.{i % 250}.{i % 200 + 2}', word, int(right), \
            'name', row.folder
    if i % 97 == 0:
        return start + i / 100, f'Stranger {i}', None, '127.0.9.9', word, 0, 'name', None
    return start + i / 100, row.name, row.name, f'127.0.{i % 250}.{i % 200 + 2}', word, int(right), 'link', \
        row.folder


def serve(out, port):
    server = subprocess.Popen(COMMAND + ['serve', out, '--port', str(port), '--name-rate', '100000',
                                         '--client-rate', '100000'], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True)
    printed = ''
    while 'Ctrl+C' not in printed:
        printed += server.stdout.readline() or sys.exit('serve ended: ' + printed)
    board = [w for w in printed.split() if '/board?key=' in w][0]
    return server, f'http://127.0.0.1:{port}' + board.split(str(port), 1)[1]


class LightRoom:
    """20 clients, each handing in an answer by name every half second; the waits."""

    def __init__(self, port, names):
        self.port, self.names, self.waits, self.stop = port, names, [], threading.Event()
        self.threads = [threading.Thread(target=self.client, args=(i,)) for i in range(20)]

    def client(self, i):
        connection = http.client.HTTPConnection('127.0.0.1', self.port, timeout=60, source_address=(f'127.0.4.{i + 2}', 0))
        while not self.stop.is_set():
            start = time.monotonic()
            connection.request('POST', '/', urllib.parse.urlencode({'name': random.choice(self.names), 'word': 'x'}),
                               {'Content-Type': 'application/x-www-form-urlencoded'})
            connection.getresponse().read()
            self.waits.append(time.monotonic() - start)
            time.sleep(0.5)

    def __enter__(self):
        for thread in self.threads:
            thread.start()
        return self

    def __exit__(self, *_):
        self.stop.set()
        for thread in self.threads:
            thread.join()


def main():
    print(f'date: {time.strftime("%Y-%m-%d")}; {os.cpu_count()} cores; {PEOPLE} people, {ANSWERS} answers')
    with tempfile.TemporaryDirectory(dir=os.path.join(ROOT, 'build')) as top:
        out = os.path.join(top, 'set')
        people = stand_in_set.lay_out(out, PEOPLE, size=4096)
        with_keys(out, read_records(out))
        fill(out, people)
        port = stand_in_set.free_port()
        server, board = serve(out, port)
        try:
            organiser = urllib.request.build_opener(urllib.request.HTTPCookieProcessor(http.cookiejar.CookieJar()))
            gone = people[len(people) // 2][0]
            with LightRoom(port, [name for name, _ in people[:100]]) as room:
                start = time.monotonic()
                organiser.open(board).close()
                first = time.monotonic() - start
                during_first = room.waits[:]
                time.sleep(2)
                before = len(room.waits)
                start = time.monotonic()
                subprocess.run(COMMAND + ['remove', out, gone], check=True, capture_output=True)
                removed = time.monotonic()
                while True:
                    with organiser.open(f'http://127.0.0.1:{port}/board?q={urllib.parse.quote(gone)}') as response:
                        if f'<td>{gone}</td>'.encode() not in response.read():
                            break
                seen, removing = time.monotonic() - removed, removed - start
                time.sleep(2)
                during = room.waits[before:]
        finally:
            server.terminate()
            server.wait()
    print(f'board: first view {first:.2f} s after serve started, while 20 light clients waited at most '
          f'{max(during_first):.2f} s; `remove` took {removing:.2f} s, and the board showed it {seen:.2f} s after; '
          f'meanwhile they waited at most {max(during):.2f} s (median {sorted(during)[len(during) // 2] * 1000:.0f} ms of {len(during)})')


if __name__ == '__main__':
    main()
