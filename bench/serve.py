#!/usr/bin/env python3
"""Times class-set serve on loopback, on a set laid out by hand: 60 people
answering at the same moment (none may be lost), then 20 clients at once
handing in 2,000 answers: answers a second and the 95th percentile time of
an answer (the limits raised for it); then 20 walk-ins enrolling at once at
an open set that starts empty, and a kill while more enrol. Run:
PYTHONPATH=tests bash scripts/python bench/serve.py"""
import http.client
import os
import socket
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

import stand_in_set

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CLIENTS, EACH = 20, 100


def answer(connection, name, word):
    """Seconds one answer took, on a kept-alive connection."""
    start = time.monotonic()
    connection.request('POST', '/', urllib.parse.urlencode({'name': name, 'word': word}),
                       {'Content-Type': 'application/x-www-form-urlencoded'})
    response = connection.getresponse()
    response.read()
    if response.status != 200:
        raise SystemExit(f'status {response.status}')
    return time.monotonic() - start


with tempfile.TemporaryDirectory() as top:
    out = os.path.join(top, 'set')
    people = stand_in_set.lay_out(out, 60)
    port = stand_in_set.free_port()
    server = subprocess.Popen(['bash', os.path.join(ROOT, 'scripts', 'class-set'), 'serve', out, '--port', str(port),
                               '--rate', '1000000', '--client-rate', '1000000'], stdout=subprocess.DEVNULL)
    try:
        for _ in range(200):
            try:
                socket.create_connection(('127.0.0.1', port)).close()
                break
            except OSError:
                time.sleep(0.05)

        start = time.monotonic()
        stand_in_set.together(60, lambda i: answer(http.client.HTTPConnection('127.0.0.1', port), *people[i]))
        burst = time.monotonic() - start
        with sqlite3.connect(os.path.join(out, 'checkins.sqlite')) as db:
            kept = db.execute('SELECT COUNT(*) FROM answers WHERE correct = 1').fetchone()[0]
        if kept != 60:
            sys.exit(f'60 people answered at once, {kept} answers were kept')

        times = []
        def client(i):
            connection = http.client.HTTPConnection('127.0.0.1', port)
            mine = [answer(connection, *people[(i + k) % len(people)]) for k in range(EACH)]
            times.extend(mine)
        start = time.monotonic()
        stand_in_set.together(CLIENTS, client)
        spent = time.monotonic() - start
    finally:
        server.terminate()
        server.wait()
    times.sort()
    print(f'date: {time.strftime("%Y-%m-%d")}')
    print(f'60 people at the same moment: all 60 answers kept, in {burst:.2f} s')
    print(f'{CLIENTS} clients at once, {len(times)} answers: {len(times) / spent:.0f} answers a second, '
          f'95th percentile {times[int(len(times) * 0.95)] * 1000:.0f} ms, median {times[len(times) // 2] * 1000:.0f} ms')

# Walk-ins: 20 people enrolling at the same moment at an open set that
# starts empty, each from an address of their own; then serve killed while
# three more enrol, and the set read back whole.
with tempfile.TemporaryDirectory() as top:
    out = os.path.join(top, 'set')
    port = stand_in_set.free_port()
    command = ['bash', os.path.join(ROOT, 'scripts', 'class-set')]
    server = subprocess.Popen(command + ['serve', out, '--port', str(port), '--open', '30'],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    while 'Ctrl+C' not in server.stdout.readline():
        pass
    waits = [None] * 23

    def enrol(i):
        connection = http.client.HTTPConnection('127.0.0.1', port, timeout=120, source_address=(f'127.0.10.{i + 2}', 0))
        start = time.monotonic()
        connection.request('POST', '/enrol', urllib.parse.urlencode({'name': f'Walk-in {i}'}),
                           {'Content-Type': 'application/x-www-form-urlencoded'})
        status = connection.getresponse().status
        waits[i] = (status, time.monotonic() - start)

    stand_in_set.together(20, enrol)
    threads = [threading.Thread(target=lambda i=i: enrol(i)) for i in range(20, 23)]
    for thread in threads:
        thread.start()
    time.sleep(0.2)
    server.kill()
    server.wait()
    for thread in threads:
        thread.join()
    server.stdout.close()
    enrolled = [w for _, w in waits[:20] if _ == 303]
    check = subprocess.run(command + ['who', out, 'abcde'], capture_output=True, text=True)
    print(f'20 walk-ins at the same moment: {len(enrolled)} enrolled, each page within {max(enrolled):.2f} s '
          f'(median {sorted(enrolled)[10]:.2f} s); killed while 3 more enrolled: the set '
          + ('read back whole' if check.returncode == 1 else f'NOT WHOLE: {check.stderr.strip()}'))
