"""`board-key`: a new key for the board."""

from ..errors import OK
from ..set.folder import records_path
from ..set.store import Checkins, remembered_base


def board_key_command(out):
    """A new key for the board of the set OUT, at once, also on a running serve."""
    records_path(out)  # a set: no store is made where there is none
    key = Checkins(out).new_key()
    base = remembered_base(out)
    where = f'  {base}board?key={key}' if base else f'  http://ADDRESS:PORT/board?key={key}\nwith the address and ' \
                                                  'port serve printed.'
    print(f'The board has a new key; the old one no longer works. Open it again at\n{where}')
    return OK
