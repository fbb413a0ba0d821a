"""`remove`: people out of a set, in place, all or nothing. Their program,
folder, key and place go; what they handed in stays in checkins.sqlite,
their roster columns in details.csv, and OUT/removed.csv keeps who they
were and their password, so that grade reports their record as it was
and a later build keeps them out. `restore` brings them back."""
import os

from ..errors import OK, argument
from ..set import people, removing
from ..set.folder import locked, read_records
from ..set.in_place import remove_people
from ..set.keys import end_keys
from .options import by_option, out_argument


NAME = 'remove'
SUMMARY = 'take people out of the set'
DESCRIPTION = ("Takes each NAME out of the set OUT: their program, folder, key and place. Their link stops working at "
               "once, also on a running serve; what they handed in stays, and grade reports it as removed. A later "
               "build keeps them out; restore brings them back.")


def options(parser):
    """remove's options."""
    out_argument(parser)
    parser.add_argument('names', metavar='NAME', nargs='+', help='a name as people type it, an id or a folder')
    by_option(parser)


def run(args):
    """Take people out of the set."""
    return remove_command(os.path.realpath(args.out), wanted=args.names, by=args.by)


def remove_command(out, wanted, by=None):
    """Take the people `wanted` names out of the set OUT, in place, all or nothing."""
    with locked(out):
        gone = {}
        for text in wanted:
            person = people.find_one(out, text, by, lambda: people.read(out, read_records(out)))
            gone[person.folder] = person
        remove_people(out, removing.removal_texts(out, gone), list(gone), end_keys(gone.values()))
    for row in gone.values():
        print(f'removed {row.name} ({row.folder}): their link no longer works; what they handed in stays, '
              f'and grade reports it as removed. class-set restore {out} --by folder {argument(row.folder)} brings '
              'them back.')
    return OK


