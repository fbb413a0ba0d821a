"""The roster as the organiser has it: one name a line, or a table (CSV,
TSV or an .xlsx workbook) with a header row, the name in one or more
columns, maybe a column that tells namesakes apart, and whatever else
the teacher keeps with each person (a group, an e-mail)."""
import csv
import dataclasses
import itertools

from ..errors import Refusal, argument
from ..names import INVISIBLE, clean_name, folder_for, name_key
from ..progress import Reading
from .tables import column, delimiter_of, table_lines, text_lines


# What a column of whole names is called in the exports people have.
NAME_HEADERS = {'фио', 'ф.и.о.', 'фамилия имя отчество', 'имя', 'name', 'full name', 'student', 'ученик',
                'студент', 'участник', 'учащийся'}
PARTS = ('Фамилия', 'Имя', 'Отчество')


def table_hint(path, header):
    """Return the refusal of a table given as a list of names, with the option
    that reads it: the column of whole names where the header has one, the parts
    of the name joined where it has those, else its first."""
    fields = [h.strip() for h in header if h.strip()]
    keys = {name_key(h): h for h in fields}
    parts = [keys[name_key(p)] for p in PARTS if name_key(p) in keys]
    named = next((h for h in fields if name_key(h) in {name_key(n) for n in NAME_HEADERS}), None)
    wanted = ','.join(parts) if len(parts) > 1 else named or (fields[0] if fields else 'ФИО')
    return Refusal(f'{path}: it looks like a table (a spreadsheet export): name the column that holds the name, '
                   f'--name-column {argument(wanted)} (the header has: {", ".join(argument(h) for h in fields)}; '
                   'columns to join are named together, --name-column "Фамилия,Имя,Отчество")')


@dataclasses.dataclass(frozen=True, slots=True)  # a roster may list millions
class Listed:
    """A person of the roster: where they stand in it, their name, the
    value that tells namesakes apart, and the other columns' values."""
    where: str
    name: str
    id: str = ''
    details: tuple = ()  # ((column, value), ...)

    def folder(self, shared):
        """Return their folder; a name that others share takes the id along."""
        return folder_for(f'{self.name} ({self.id})' if shared else self.name)


@dataclasses.dataclass(frozen=True)
class Roster:
    """The roster's people (Listed), and its other columns in order."""
    people: list
    columns: list  # the other columns, in the roster's order


def looks_like_a_table(lines):
    """Return every line split alike by semicolons or tabs, or by two commas or more."""
    if len(lines) < 2:
        return False
    return any(len({line.count(d) for line in lines}) == 1 and lines[0].count(d) >= least
               for d, least in ((';', 1), ('\t', 1), (',', 2)))


def read_list(path, encoding):
    """Return [Listed] of a roster of one name a line; blank lines and # comments skipped."""
    lines = ((number, line) for number, line in text_lines(path, encoding, 'roster')
             if line.strip() and not INVISIBLE.sub('', line).strip().startswith('#'))
    first = list(itertools.islice(lines, 100))
    if looks_like_a_table([line.strip() for _, line in first]):
        header = first[0][1].strip()
        raise table_hint(path, next(csv.reader([header], delimiter=delimiter_of(header))))
    people, reading = [], Reading(path)
    for number, line in itertools.chain(first, lines):
        reading.step()
        try:
            name = clean_name(line)
        except Refusal as why:
            raise Refusal(f'{path}:{number}: {why}')
        if name:
            people.append(Listed(str(number), name))
    return Roster(people, [])


def read_sheet(path, encoding, name_column, id_column):
    """Return [Listed] of a table: the name from one column, or several joined with spaces."""
    table = table_lines(path, encoding, 'roster')
    line, header = next(table)
    header = [h.strip() for h in header]
    twice(header, f'{path}:{line}')
    wanted = [name_column] if name_key(name_column) in {name_key(h) for h in header} else name_column.split(',')
    name_at = [column(header, w, f'{path}:{line}') for w in wanted]
    id_at = column(header, id_column, f'{path}:{line}') if id_column else None
    others = [i for i in range(len(header)) if i not in name_at and header[i]]
    people, reading = [], Reading(path)
    for line, fields in table:
        reading.step()
        try:
            name = clean_name(' '.join(fields[i].strip() for i in name_at if fields[i].strip()))
        except Refusal as why:
            raise Refusal(f'{path}:{line}: {why}')
        if not name:
            raise Refusal(f'{path}:{line}: no name in the column {name_column!r}')
        person_id = fields[id_at].strip() if id_at is not None else ''
        people.append(Listed(str(line), name, person_id, tuple((header[i], fields[i].strip()) for i in others)))
    return Roster(people, [header[i] for i in others])


def twice(header, where):
    """A column named twice, as names compare, is refused: one would lose its values."""
    seen = {}
    for number, name in enumerate(header, 1):
        if name and name_key(name) in seen:
            raise Refusal(f'{where}: the column "{name}" is there twice (columns {seen[name_key(name)]} and '
                          f'{number}); rename one')
        seen.setdefault(name_key(name), number)


def apart(person, other, people):
    """Return how to tell two rows of one name apart: a column whose values
    differ between them, one that is everyone's own (a student number) first."""
    theirs = dict(other.details)
    differ = [c for c, v in person.details if v and theirs.get(c) and v != theirs[c]]
    own = [c for c in differ if len({dict(p.details).get(c) or p.where for p in people}) == len(people)]
    if differ:
        return f'name a column that tells them apart with --id-column {argument((own or differ)[0])}'
    return 'give the roster a column that tells them apart (a student number), and name it with --id-column'


def check_namesakes(path, people, id_column):
    """Two rows of one name are two people only where their ids differ."""
    seen = {}
    for person in people:
        key = name_key(person.name)
        other = seen.get(key)
        if other is not None:
            if not id_column:
                raise Refusal(f'{path}:{person.where}: "{person.name}" is already on line {other.where}; if they '
                              f'are two people, {apart(person, other, people)}')
            if not person.id or person.id == other.id:
                raise Refusal(f'{path}:{person.where}: "{person.name}" is already on line {other.where}, with the '
                              f'same {id_column} ("{person.id}"); give each their own')
        seen[key] = person


def read_roster(path, encoding=None, name_column=None, id_column=None):
    """Return the Roster, or a Refusal that names the line."""
    if (id_column or path.lower().endswith(('.xlsx', '.ods', '.xls'))) and not name_column:
        raise table_hint(path, next(table_lines(path, encoding, 'roster'))[1])
    roster = read_sheet(path, encoding, name_column, id_column) if name_column else read_list(path, encoding)
    if not roster.people:
        raise Refusal(f'{path}: no names in the roster')
    check_namesakes(path, roster.people, id_column)
    return roster
