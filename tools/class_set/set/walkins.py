"""OUT/walkins.csv: those who enrolled at the page, when and from which
address; its one writer, its reader and its finder."""
import dataclasses
import os

from ..names import name_key
from .files import WALK_INS, append_synced, csv_line, csv_text, header_of, records_of, replace_private, \
    write_private


@dataclasses.dataclass(frozen=True)
class WalkIn:
    """Someone who enrolled at the page (walkins.csv): when, and from which
    address. A set from before it kept only the names."""
    name: str
    time: str = ''
    address: str = ''


def read(out):
    """Return [WalkIn] of the set OUT; [] where nobody enrolled."""
    return records_of(os.path.join(out, WALK_INS), WalkIn)


def text(walk_ins):
    """walkins.csv whole."""
    return csv_text(header_of(WalkIn), [dataclasses.astuple(w) for w in walk_ins])


def write(out, walk_ins):
    """walkins.csv anew, whole in one rename."""
    replace_private(os.path.join(out, WALK_INS), text(walk_ins))


def append(out, walk_in):
    """One more walk-in at the end of walkins.csv, its header first where it is new."""
    path = os.path.join(out, WALK_INS)
    if not os.path.exists(path):
        write_private(path, csv_line(header_of(WalkIn)))
    append_synced(path, csv_line(dataclasses.astuple(walk_in)))


def find(walk_ins, name):
    """Return the walk-in of `name` as people type it; None where none enrolled so."""
    wanted = name_key(name)
    return next((w for w in walk_ins if name_key(w.name) == wanted), None)
