"""`who`: whose password a word is."""
from .errors import FAILED, OK
from .set_folder import read_set
from .walkin_list import read_walk_ins


def who_command(out, word):
    for row in read_set(out, new_ok=False):
        if row.password == word:
            walked_in = row.name in {w.name for w in read_walk_ins(out)}
            print(f'{row.name} (walk-in)' if walked_in else row.name)
            return OK
    print(f'"{word}" is nobody\'s password in {out}')
    return FAILED
