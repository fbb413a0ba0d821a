"""A set laid out by hand for the benchmarks of grade and serve: records
and stand-in programs (17 KB each, as big as the real ones) that agree, so
that no build is needed."""
import csv
import hashlib
import os


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
            program = name.encode().ljust(17408, b'\0')
            os.mkdir(os.path.join(out, 'handout', name))
            with open(os.path.join(out, 'handout', name, 'PassWord.exe'), 'wb') as p:
                p.write(program)
            writer.writerow([name, name, password, 7, hashlib.sha256(program).hexdigest()])
    return people
