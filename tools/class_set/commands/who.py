"""`who`: whose password a word is."""
from .. import times
from ..errors import FAILED, OK
from ..names import name_key
from ..set import people, removals
from ..set.people import MOST_NEAR
from ..set.folder import read_set, steady
from .options import out_argument


NAME = 'who'
SUMMARY = 'say whose password WORD is'
DESCRIPTION = "Prints whose password WORD is in the set OUT; exits 1 when it is nobody's."


def options(parser):
    """who's options."""
    out_argument(parser)
    parser.add_argument('word', metavar='WORD')


def run(args):
    """Say whose password the word is."""
    return who_command(args.out, word=args.word)


def who_command(out, word):
    """Say whose password `word` is in the set OUT, read as one state; FAILED where it is
    nobody's."""
    with steady(out):
        return whose_password(out, people.read(out, read_set(out), keys={}), word)


def whose_password(out, everyone, word):
    """Say whose password `word` is, of the set's People or of those removed."""
    for person in everyone.here:
        if person.password == word:
            shown = everyone.shown(person)
            print(f'{shown} (walk-in)' if person.walk_in else shown)
            return OK
    for gone in removals.read(out):
        if gone.password == word:
            print(f'{gone.name} ({gone.folder}), removed {times.said(gone.time)}')
            return OK
    near = ' or '.join(f'{p.password} ({everyone.shown(p)})' for p in near_passwords(everyone.here, word))
    print(f'"{word}" is nobody\'s password in {out}' + (f'; did you mean {near}?' if near else ''))
    return FAILED


def near_passwords(people, word, most=MOST_NEAR):
    """Return up to `most` people whose passwords `word` may have been meant
    for: the same but for case or look-alike letters (0 and O, Cyrillic
    and Latin), then one letter off."""
    key, typed = name_key(word), word.strip()
    alike = [p for p in people if name_key(p.password) == key]
    off = [p for p in people if len(p.password) == len(typed) and p not in alike
           and sum(a != b for a, b in zip(p.password, typed)) == 1]
    return (alike + off)[:most]
