"""OUT/details.csv: what the roster keeps with each person besides the
name (a group, an e-mail, a student number), by folder, and the value
that tells namesakes apart. The report, the links and the board's CSVs
show it; the board's page does not."""

import csv
import dataclasses
import os

from ..errors import Refusal
from .files import DETAILS, csv_text, replace_private, write_private


@dataclasses.dataclass
class Details:
    """details.csv: the roster's other columns in order, each person's id
    and each person's values, by folder."""
    columns: list[str]
    ids: dict[str, str]
    values: dict[str, dict[str, str]]

    def of(self, folder):
        """Return the columns' values of one person, '' where they have none."""
        return {c: self.values.get(folder, {}).get(c, '') for c in self.columns}

    def text(self):
        """details.csv as it is written."""
        return csv_text(['folder', 'id', *self.columns], [[folder, self.ids.get(folder, ''), *self.of(folder).values()]
                                                         for folder in sorted(set(self.ids) | set(self.values))])


def write_details(root, details, new=False):
    """details.csv anew: whole in one rename, or a new file of a set laid out anew."""
    path = os.path.join(root, DETAILS)
    (write_private if new else replace_private)(path, details.text())


def read_details(out):
    """Return the set's Details; none at all for a set built from a list of names."""
    path = os.path.join(out, DETAILS)
    try:
        with open(path, newline='', encoding='utf-8') as f:
            table = list(csv.reader(f))
    except FileNotFoundError:
        return Details([], {}, {})
    except (OSError, UnicodeDecodeError) as e:
        raise Refusal(f'{path}: cannot read it ({e})')
    if not table or table[0][:2] != ['folder', 'id']:
        raise Refusal(f'{path}:1: not a file made by class-set (header does not start with folder,id)')
    columns = table[0][2:]
    ids, values = {}, {}
    for fields in table[1:]:
        fields += [''] * (len(table[0]) - len(fields))
        if fields[1]:
            ids[fields[0]] = fields[1]
        values[fields[0]] = dict(zip(columns, fields[2:]))
    return Details(columns, ids, values)


def merged(details, people, folder_of):
    """Return the set's Details with the roster's people (Listed) in it: their
    values as the roster has them now, new columns after the old ones."""
    columns = list(details.columns)
    for person in people:
        columns += [c for c, _ in person.details if c not in columns]
    ids, values = dict(details.ids), {f: dict(v) for f, v in details.values.items()}
    for person in people:
        folder = folder_of(person)
        if person.id:
            ids[folder] = person.id
        if person.details:
            values[folder] = dict(person.details)
    return Details(columns, ids, values)


