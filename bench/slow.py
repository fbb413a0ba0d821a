#!/usr/bin/env python3
"""A room under a slow attack: 29 students load their pages and hand in
answers, each from an address of their own, while connections trickle
their requests a byte a second (and connect again when closed): 17 from
one address, then 200 from one, then 1,200 from as many. For serve in one
process, and (ENGINES) for serve --workers 2 behind nginx as the guide
sets it up. For each: how many of the students' requests were served, and
within 2 s.
Run: bash bench/slow.sh"""
import contextlib
import http.client
import multiprocessing
import os
import resource
import selectors
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

import stand_in_set
from class_set.keys import read_keys
from class_set.set_folder import read_records

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COMMAND = ['bash', os.path.join(ROOT, 'scripts', 'class-set')]
STUDENTS, SECONDS = 29, int(os.environ.get('SECONDS_EACH', 40))
HEAD = b'POST / HTTP/1.1\r\nHost: room\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: 20\r\n'


def trickle(port, addresses, stop):
    """Connections that send a request a byte a second and never finish it,
    one per address given (an address given n times: n of them), each
    connecting again when the server closes it."""
    resource.setrlimit(resource.RLIMIT_NOFILE, (8192, 8192))
    chooser, sent = selectors.DefaultSelector(), {}

    def connect(address):
        s = socket.socket()
        s.setblocking(False)
        s.bind((address, 0))
        with contextlib.suppress(BlockingIOError):
            s.connect(('127.0.0.1', port))
        chooser.register(s, selectors.EVENT_READ, address)
        sent[s] = 0
    for address in addresses:
        connect(address)
    while not stop.is_set():
        tick = time.monotonic()
        for key, _ in chooser.select(timeout=0):  # closed by the server: again
            s = key.fileobj
            with contextlib.suppress(OSError):
                if s.recv(4096):
                    continue
            chooser.unregister(s)
            s.close()
            del sent[s]
            connect(key.data)
        for s in list(sent):
            try:
                s.send(HEAD[sent[s] % len(HEAD):][:1])
                sent[s] += 1
            except (BlockingIOError, OSError):
                pass
        time.sleep(max(0.0, 1 - (time.monotonic() - tick)))


def students(port, links, seconds):
    """Each student, from an address of their own, loads their page and
    hands in an answer, again and again: the seconds each request took
    (None where it failed)."""
    waits = []

    def student(i):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            for method, body in (('GET', None), ('POST', urllib.parse.urlencode({'word': 'guess'}))):
                start = time.monotonic()
                try:
                    connection = http.client.HTTPConnection('127.0.0.1', port, timeout=15,
                                                            source_address=(f'127.0.5.{i + 2}', 0))
                    connection.request(method, links[i], body, {'Content-Type': 'application/x-www-form-urlencoded'})
                    status = connection.getresponse().status
                    connection.close()
                    waits.append(time.monotonic() - start if status == 200 else None)
                except (OSError, http.client.HTTPException):
                    waits.append(None)
            time.sleep(1)
    stand_in_set.together(len(links), student)
    return waits


def attacked(port, links, addresses):
    stop = multiprocessing.Event()
    attack = multiprocessing.Process(target=trickle, args=(port, addresses, stop))
    attack.start()
    try:
        time.sleep(5)  # the slow connections are in
        return students(port, links, SECONDS)
    finally:
        stop.set()
        attack.join()


def serve(out, port, *options):
    server = subprocess.Popen(COMMAND + ['serve', out, '--port', str(port), '--rate', '100000', *options],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    printed = ''
    while 'Ctrl+C' not in printed:
        printed += server.stdout.readline() or sys.exit('serve ended: ' + printed)
    return server


ATTACKS = [('17 from one address', ['127.0.6.2'] * 17), ('200 from one address', ['127.0.6.3'] * 200),
           ('1,200 from as many', [f'127.1.{i // 250}.{i % 250 + 2}' for i in range(1200)])]


def report(engine, attack, waits):
    served = [w for w in waits if w is not None]
    quick = sum(1 for w in served if w <= 2)
    print(f'{engine}, {attack}: {len(waits)} student requests, {len(served)} served, {quick} within 2 s '
          f'({100 * quick / len(waits):.0f}%), the slowest {max(served, default=0):.2f} s', flush=True)


def main():
    resource.setrlimit(resource.RLIMIT_NOFILE, (8192, 8192))
    print(f'date: {time.strftime("%Y-%m-%d")}; {os.cpu_count()} cores; {SECONDS} s of each attack')
    with tempfile.TemporaryDirectory(dir=os.path.join(ROOT, 'build')) as top:
        out = os.path.join(top, 'set')
        stand_in_set.lay_out(out, STUDENTS, size=4096)
        port = stand_in_set.free_port()
        server = serve(out, port)
        try:
            keys = read_keys(out, read_records(out))
            links = [f'/p/{key}' for key in keys.values()]
            for attack, addresses in ATTACKS:
                report('one process', attack, attacked(port, links, addresses))
        finally:
            server.terminate()
            server.wait()


if __name__ == '__main__':
    main()
