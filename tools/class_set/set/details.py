"""OUT/details.csv: what the roster keeps with each person besides the
name (a group, an e-mail, a student number), by folder, and the value
that tells namesakes apart. The report, the links and the board's CSVs
show it; the board's page does not."""
import collections
import csv
import dataclasses
import os

from ..errors import Refusal
from ..names import name_key
from .files import DETAILS, HANDOUT, RECORDS, csv_text
from .folder import read_records
from .records import row_of



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
        return csv_text(['folder', 'id', *self.columns], [[folder, self.ids.get(folder, ''), *self.of(folder).values()]
                                                         for folder in sorted(set(self.ids) | set(self.values))])


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


def one_person(out, details, wanted, by=None):
    """The row that `wanted` names in the set OUT, as person_named finds
    it; where that is an id or a folder of one person, and nobody else's
    name is that text, found without reading everyone's row: a change of
    one person in a big set."""
    by_id = [f for f, i in details.ids.items() if wanted.strip() and i == wanted.strip()]
    folder = by_id[0] if len(by_id) == 1 and by in (None, 'id') else wanted if by in (None, 'folder') else None
    if folder and folder not in ('.', '..') and os.sep not in folder \
            and os.path.isdir(os.path.join(out, HANDOUT, folder)):
        row = row_of(os.path.join(out, RECORDS), folder)
        named = 0 if row is None or by else named_so(out, wanted)
        if row is not None and (named == 0 or named == 1 and folded(row.name) == folded(wanted)):
            return row
    return person_named(read_records(out), details, wanted, by)


def folded(text):
    return ' '.join(text.split()).casefold().replace('ё', 'е')


def named_so(out, wanted):
    """How many lines of answers.csv hold `wanted` as the name (in any case,
    ё as е): where none does, it is nobody's name but one written with
    look-alike letters, which enrolment refuses."""
    with open(os.path.join(out, RECORDS), encoding='utf-8') as f:
        text = f.read().casefold().replace('ё', 'е')
    typed = folded(wanted)
    return text.count(f'\n{typed},') + text.count(f'\n"{typed}",')


def found_as(people, details, wanted):
    """{way: [those of `people` that `wanted` names that way]}: their id,
    their folder, their name as people type it."""
    key, typed = name_key(wanted), wanted.strip()
    return {'id': [p for p in people if typed and details.ids.get(p.folder) == typed],
            'folder': [p for p in people if p.folder == wanted],
            'name': [p for p in people if name_key(p.name) == key]}


def person_named(rows, details, wanted, by=None):
    """The one row that `wanted` names (its id, its folder, or its name as
    people type it; only one of them where `by` says which); a Refusal
    where that is nobody, or more than one, or an id of one and the name
    of another."""
    found = found_as(rows, details, wanted)
    return the_one(found if by is None else {by: found[by]}, wanted, details)


def the_one(found, wanted, details):
    """The one person of found_as's, or a Refusal that says how to choose."""
    ways = {}  # folder: (person, the ways they were found)
    for way in ('id', 'name', 'folder'):
        for person in found.get(way, ()):
            ways.setdefault(person.folder, (person, []))[1].append(way)
    if len(ways) == 1:
        return next(iter(ways.values()))[0]
    if not ways:
        raise Refusal(f'"{wanted}" matches nobody in the set')
    first = [(found_ways[0], person) for person, found_ways in ways.values()]
    if len({way for way, _ in first}) == len(first):
        said = ' and '.join(f'the {way} of "{person.name}"' for way, person in first)
        raise Refusal(f'"{wanted}" is {said}; say which: ' + ' or '.join(f'--by {way}' for way, _ in first))
    raise Refusal(f'"{wanted}" matches more than one person; name one by its id or folder: '
                  + ', '.join(details.ids.get(f) or f for f in ways))


def told_apart(rows, details):
    """{folder: how a person is shown}: their name, and for those whose
    names look the same, what tells them apart: the roster's id column,
    or else its first column whose values differ between them."""
    shared = collections.defaultdict(list)
    for row in rows:
        shared[name_key(row.name)].append(row)
    shown = {row.folder: row.name for row in rows}
    for same in shared.values():
        if len(same) > 1:
            shown.update({row.folder: f'{row.name} ({apart})' for row, apart in zip(same, apart_by(same, details))})
    return shown


def apart_by(same, details):
    """What tells each of `same` apart: 'column: value', or their folder."""
    values = [details.of(row.folder) for row in same]
    ids = [details.ids.get(row.folder, '') for row in same]
    columns = [c for c in details.columns if all(v[c] == i for v, i in zip(values, ids))] if all(ids) else []
    if not columns:
        columns = [c for c in details.columns if len({v[c] for v in values}) == len(same)]
    if columns:
        return [f'{columns[0]}: {v[columns[0]]}' for v in values]
    if all(ids) and len(set(ids)) == len(same):
        return [f'id: {i}' for i in ids]
    return [row.folder for row in same]
