"""A set laid out by hand for the benchmarks of grade and serve: records
and stand-in programs (17 KB each, as big as the real ones) that agree, so
that no build is needed."""
import csv
import hashlib
import os


def program(name, password, mask, size=17408):
    """A stand-in PassWord.exe: the name, and the judge's masked words and
    mask in the bytes that the release build gives them."""
    slots = range(8, 28, 4)
    stores = b''.join(b'\xc7\x44\x24' + bytes([slot, ord(c) ^ mask]) + b'\0\0\0' for slot, c in zip(slots, password))
    unmask = b''.join(b'\x8b\x44\x24' + bytes([slot]) + b'\x83\xf0' + bytes([mask]) for slot in slots)
    return (name.encode() + b'\0' + stores + unmask).ljust(size, b'\0')


def lay_out(out, size):
    """OUT for `size` people named "Person N"; returns [(name, password)]."""
    letters = '23456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnpqrstuvwxyz'
    people = [(f'Person {i}', ''.join(letters[i // len(letters) ** k % len(letters)] for k in range(5)))
              for i in range(1, size + 1)]
    os.makedirs(os.path.join(out, 'handout'))
    with open(os.path.join(out, 'answers.csv'), 'w', newline='', encoding='utf-8') as f:
        writer = csv.writer(f)
        writer.writerow(['name', 'folder', 'password', 'mask', 'sha256'])
        for name, password in people:
            data = program(name, password, 7)
            os.mkdir(os.path.join(out, 'handout', name))
            with open(os.path.join(out, 'handout', name, 'PassWord.exe'), 'wb') as p:
                p.write(data)
            writer.writerow([name, name, password, 7, hashlib.sha256(data).hexdigest()])
    return people
