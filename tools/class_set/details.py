"""OUT/details.csv: what the roster keeps with each person besides the
name (a group, an e-mail, a student number), by folder, and the value
that tells namesakes apart. The report, the links and the board's CSVs
show it; the board's page does not."""
import csv
import dataclasses
import io
import os

from .errors import Refusal
from .names import name_key
from .rows import row_of
from .set_folder import read_set

DETAILS = 'details.csv'


@dataclasses.dataclass
class Details:
    columns: list  # the roster's other columns, in order
    ids: dict  # folder: id
    values: dict  # folder: {column: value}

    def of(self, folder):
        """The columns' values of one person, '' where they have none."""
        return {c: self.values.get(folder, {}).get(c, '') for c in self.columns}

    def text(self):
        """details.csv as it is written."""
        out = io.StringIO()
        writer = csv.writer(out, lineterminator='\r\n')
        writer.writerow(['folder', 'id', *self.columns])
        for folder in sorted(set(self.ids) | set(self.values)):
            writer.writerow([folder, self.ids.get(folder, ''), *self.of(folder).values()])
        return out.getvalue()


def read_details(out):
    """The set's Details; none at all for a set built from a list of names."""
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
    """The set's Details with the roster's people (Listed) in it: their
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


def one_person(out, details, wanted):
    """The row that `wanted` names in the set OUT, as person_named finds
    it; where that is an id or a folder of one person, found without
    reading everyone's row: a change of one person in a big set."""
    by_id = [f for f, i in details.ids.items() if wanted.strip() and i == wanted.strip()]
    folder = by_id[0] if len(by_id) == 1 else None if by_id else wanted
    if folder and folder not in ('.', '..') and os.sep not in folder \
            and os.path.isdir(os.path.join(out, 'handout', folder)):
        row = row_of(os.path.join(out, 'answers.csv'), folder)
        if row is not None:
            return row
    return person_named(read_set(out, new_ok=False, records_only=True), details, wanted)


def person_named(rows, details, wanted):
    """The one row that `wanted` names: its id, its folder, or its name as
    people type it; a Refusal where that is nobody, or more than one."""
    by_id, key = wanted.strip(), name_key(wanted)
    for matches in (lambda: [r for r in rows if by_id and details.ids.get(r.folder) == by_id],
                    lambda: [r for r in rows if r.folder == wanted],
                    lambda: [r for r in rows if name_key(r.name) == key]):
        matches = matches()  # each only where the one before found nobody
        if len(matches) == 1:
            return matches[0]
        if matches:
            raise Refusal(f'"{wanted}" matches more than one person; name one by its id or folder: '
                          + ', '.join(details.ids.get(r.folder) or r.folder for r in matches))
    raise Refusal(f'"{wanted}" matches nobody in the set')
