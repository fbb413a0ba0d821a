"""A set laid out by hand for the benchmarks and the tests: records and
stand-in programs that agree, so that no build is needed. Run with tools/
on the path (bash scripts/python)."""
import csv
import hashlib
import os
import socket
import threading

from class_set.judge_code import stand_in
from class_set.names import folder_for
from class_set.rows import ALPHABET


def numbered(size):
    """[(name, password)] for `size` people named "Person N"."""
    return [(f'Person {i}', ''.join(ALPHABET[i // len(ALPHABET) ** k % len(ALPHABET)] for k in range(5)))
            for i in range(1, size + 1)]


def lay_out(out, people, mask=7, size=17408):
    """OUT for [(name, password)], or for that many numbered people; returns
    [(name, password)]."""
    people = numbered(people) if isinstance(people, int) else people
    os.makedirs(os.path.join(out, 'handout'))
    sums = []
    with open(os.path.join(out, 'answers.csv'), 'w', newline='', encoding='utf-8') as f:
        writer = csv.writer(f)
        writer.writerow(['name', 'folder', 'password', 'mask', 'sha256'])
        for name, password in people:
            data, folder = stand_in(name, password, mask, size), folder_for(name)
            os.mkdir(os.path.join(out, 'handout', folder))
            with open(os.path.join(out, 'handout', folder, 'PassWord.exe'), 'wb') as p:
                p.write(data)
            writer.writerow([name, folder, password, mask, hashlib.sha256(data).hexdigest()])
            sums.append(f'{hashlib.sha256(data).hexdigest()}  {folder}/PassWord.exe\n')
    with open(os.path.join(out, 'handout', 'SHA256SUMS'), 'w', encoding='utf-8') as f:
        f.writelines(sorted(sums, key=lambda s: s.split('  ', 1)[1]))
    return people


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def together(count, work):
    """Runs work(i) on `count` threads released at the same moment."""
    gate = threading.Barrier(count)
    threads = [threading.Thread(target=lambda i=i: (gate.wait(), work(i))) for i in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
