"""`who`: whose password a word is."""
from .errors import FAILED, OK
from .set_folder import read_set


def who_command(out, word):
    for row in read_set(out, new_ok=False):
        if row.password == word:
            print(row.name)
            return OK
    print(f'"{word}" is nobody\'s password in {out}')
    return FAILED
