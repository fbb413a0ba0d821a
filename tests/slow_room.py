"""A room under a slow attack, for the tests and the benchmarks: students
who load their pages and hand in answers, each from an address of their
own, while other connections trickle their requests a byte a second and
connect again when the server closes them."""
import contextlib
import http.client
import multiprocessing
import resource
import selectors
import socket
import time
import urllib.parse

from stand_in_set import together

HEAD = b'POST / HTTP/1.1\r\nHost: room\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: 20\r\n'
# 17 and 200 connections from one address, then 1,200 from as many.
ATTACKS = [('17 from one address', ['127.0.6.2'] * 17), ('200 from one address', ['127.0.6.3'] * 200),
           ('1,200 from as many', [f'127.1.{i // 250}.{i % 250 + 2}' for i in range(1200)])]


def trickle(port, addresses, stop):
    """A connection a given address (one given n times: n of them) that
    sends a request a byte a second and never finishes it, connecting
    again when the server closes it; until `stop` is set."""
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
            with contextlib.suppress(OSError):
                if key.fileobj.recv(4096):
                    continue
            chooser.unregister(key.fileobj)
            key.fileobj.close()
            del sent[key.fileobj]
            connect(key.data)
        for s in list(sent):
            with contextlib.suppress(OSError):
                s.send(HEAD[sent[s] % len(HEAD):][:1])
                sent[s] += 1
        time.sleep(max(0.0, 1 - (time.monotonic() - tick)))
    for s in sent:
        s.close()


def students(port, links, seconds):
    """Each student, from an address of their own, loads their page and
    hands in an answer, again and again for `seconds`: the seconds each
    request took (None where it failed or was refused)."""
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
    together(len(links), student)
    return waits


def attacked(port, links, addresses, seconds, settle=5):
    """students() for `seconds` while trickle() runs from `addresses`, after
    `settle` seconds for the slow connections to come in."""
    stop = multiprocessing.Event()
    attack = multiprocessing.Process(target=trickle, args=(port, addresses, stop))
    attack.start()
    try:
        time.sleep(settle)
        return students(port, links, seconds)
    finally:
        stop.set()
        attack.join()
