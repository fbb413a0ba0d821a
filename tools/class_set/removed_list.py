"""OUT/removed.csv: who was taken out of the set (remove), when, and what
they had: their row, their id, and for a walk-in when and from where
they enrolled. A person restored is back in answers.csv; their lines
here stay, as what was."""
import dataclasses
import os

from .files import records_of
from .rows import Row

REMOVED = 'removed.csv'


@dataclasses.dataclass(frozen=True)
class Removed:
    """A person taken out of the set: their row as it was, when, and where
    they were a walk-in, when and from where they enrolled. Files from
    before passwords were kept here have only the first four."""
    name: str
    folder: str
    id: str = ''
    time: str = ''
    password: str = ''
    mask: str = ''
    sha256: str = ''
    enrolled: str = ''
    address: str = ''

    def row(self):
        """Their row of answers.csv as it was; None where this file did not keep it."""
        if not self.password:
            return None
        return Row(self.name, self.folder, self.password, int(self.mask), self.sha256)


def read_removed(out):
    return records_of(os.path.join(out, REMOVED), Removed)
