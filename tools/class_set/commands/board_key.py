"""`board-key`: a new key for the board."""
import os

from ..errors import OK
from ..set.folder import records_path
from ..set.store import Checkins, remembered
from .options import out_argument


NAME = 'board-key'
SUMMARY = 'a new key for the board; the old one stops working'
DESCRIPTION = ('Gives the board of the set OUT a new key, at once, also on a running serve; the answers stay. Open '
               'the board again with the address printed.')


def options(parser):
    """board-key's options."""
    out_argument(parser)


def run(args):
    """Give the board a new key."""
    return board_key_command(os.path.realpath(args.out))


def board_key_command(out):
    """A new key for the board of the set OUT, at once, also on a running serve."""
    records_path(out)  # a set: no store is made where there is none
    key = Checkins(out).new_key()
    base = remembered(out, 'base')
    where = f'  {base}board?key={key}' if base else f'  http://ADDRESS:PORT/board?key={key}\nwith the address and ' \
                                                  'port serve printed.'
    print(f'The board has a new key; the old one no longer works. Open it again at\n{where}')
    return OK
