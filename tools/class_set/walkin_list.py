"""OUT/walkins.csv: who enrolled at the page (serve --open), when and from
which address, in the order they came. A set from before it kept only
the names."""
import dataclasses
import os

from .files import records_of, table_text

WALKINS = 'walkins.csv'


@dataclasses.dataclass(frozen=True)
class WalkIn:
    name: str
    time: str = ''
    address: str = ''


def read_walk_ins(out):
    return records_of(os.path.join(out, WALKINS), WalkIn)


def walk_ins_text(walk_ins):
    return table_text(['name', 'time', 'address'], [dataclasses.astuple(w) for w in walk_ins])
