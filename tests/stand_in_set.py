"""Sets laid out by hand for the tests and the benchmarks: records and
stand-in programs that agree, so that no build is needed."""
import hashlib
import os
import socket
import threading

from class_set.names import folder_for
from class_set.set.records import ALPHABET, Row, rows_text
from class_set.set import sums
from class_set.set.files import HANDOUT, RECORDS, write_private


def stand_in(name, password, mask, size=17408):
    """A stand-in PassWord.exe, as big as a real one by default: the name,
    and the judge's masked words and mask in the bytes the release build
    gives them (an xor mask: not 0x80 or 0xFF), as judge_code reads them."""
    slots = range(8, 28, 4)
    stores = b''.join(b'\xc7\x44\x24' + bytes([slot, ord(c) ^ mask]) + b'\0\0\0' for slot, c in zip(slots, password))
    unmask = b''.join(b'\x8b\x44\x24' + bytes([slot]) + b'\x83\xf0' + bytes([mask]) for slot in slots)
    return (name.encode() + b'\0' + stores + unmask).ljust(size, b'\0')


def numbered(size):
    """[(name, password)] for `size` people named "Person N"."""
    return [(f'Person {i}', ''.join(ALPHABET[i // len(ALPHABET) ** k % len(ALPHABET)] for k in range(5)))
            for i in range(1, size + 1)]


def lay_out(out, people, mask=7, size=17408):
    """OUT for [(name, password)], or for that many numbered people; returns
    [(name, password)]."""
    people = numbered(people) if isinstance(people, int) else people
    os.makedirs(os.path.join(out, HANDOUT))
    rows = []
    for name, password in people:
        data, folder = stand_in(name, password, mask, size), folder_for(name)
        os.mkdir(os.path.join(out, HANDOUT, folder))
        with open(os.path.join(out, HANDOUT, folder, 'PassWord.exe'), 'wb') as p:
            p.write(data)
        rows.append(Row(name, folder, password, mask, hashlib.sha256(data).hexdigest()))
    write_private(os.path.join(out, RECORDS), rows_text(rows))
    sums.write(out, rows)
    return people


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def together(count, work):
    """Run work(i) on `count` threads released at the same moment."""
    gate = threading.Barrier(count)
    threads = [threading.Thread(target=lambda i=i: (gate.wait(), work(i))) for i in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
