"""`who`: whose password a word is."""
from .. import times
from ..errors import FAILED, OK
from ..names import name_key
from ..set import removals, walkins
from ..set.details import read_details, told_apart
from ..set.folder import read_set, steady
from .options import out_argument


NAME = 'who'
SUMMARY = 'say whose password WORD is'
DESCRIPTION = "Prints whose password WORD is in the set OUT; exits 1 when it is nobody's."


def options(parser):
    out_argument(parser)
    parser.add_argument('word', metavar='WORD')


def run(args):
    return who_command(args.out, word=args.word)


def who_command(out, word):
    with steady(out):
        return whose_password(out, read_set(out), word)


def whose_password(out, rows, word):
    """Say whose password `word` is, in the set's `rows` or of those removed."""
    for row in rows:
        if row.password == word:
            walked_in = name_key(row.name) in {name_key(w.name) for w in walkins.read(out)}
            shown = told_apart(rows, read_details(out))[row.folder]
            print(f'{shown} (walk-in)' if walked_in else shown)
            return OK
    for gone in removals.read(out):
        if gone.password == word:
            print(f'{gone.name} ({gone.folder}), removed {times.said(gone.time)}')
            return OK
    print(f'"{word}" is nobody\'s password in {out}')
    return FAILED
