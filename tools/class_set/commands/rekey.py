"""`rekey`: a new key for one person, whose old link stops working."""
import os

from ..errors import OK
from ..set import people
from ..set.files import KEYS
from ..set.folder import locked, read_records
from ..set.keys import append_key, new_key, with_keys
from .links import links_advice
from .options import by_option, out_argument


NAME = 'rekey'
SUMMARY = 'a new key for one person, whose old link stops working'
DESCRIPTION = ('Gives NAME a new key: their old link stops working at once, also on a running serve. Run links again '
               'for the new one.')


def options(parser):
    """rekey's options."""
    out_argument(parser)
    parser.add_argument('name', metavar='NAME', help='a name as people type it, an id or a folder')
    by_option(parser)


def run(args):
    """Give one person a new key."""
    return rekey_command(os.path.realpath(args.out), name=args.name, by=args.by)


def rekey_command(out, name, by=None):
    """A new key for one person: their old link stops working at once."""
    with locked(out):
        # A key changes, and nothing in handout/: one person read where that will do.
        person = people.find_one(out, name, by, lambda: people.read(out, read_records(out)))
        if not os.path.exists(os.path.join(out, KEYS)):
            # A set made before keys: everyone's, before one is replaced.
            with_keys(out, read_records(out))
        append_key(out, person, new_key())
    print(f'{person.name} has a new key; the old link no longer works. {links_advice(out, person.folder)} '
          'prints their new link and slip.')
    return OK
