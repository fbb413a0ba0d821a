"""What a school's gradebook imports: one row per person of the roster,
the roster's column (or columns) that the gradebook knows them by (an
e-mail, a student number), their name and their points; no walk-ins,
nobody removed, no names on nobody's list. As a plain CSV in UTF-8 for an
import (no cell touched for a spreadsheet's sake), or .xlsx or .ods.

Two layouts: the plain one (the id columns as the roster names them,
Name, and the points under a title), which Moodle's CSV grade import maps
column by column; and Canvas's, whose import knows its columns by name
(Student, ID, SIS User ID, SIS Login ID, Section, then the assignment)."""
import csv
import dataclasses
import io
from typing import NamedTuple

from ..errors import Refusal
from ..names import name_key
from ..set.details import read_details
from .office import Table, kind_of, spreadsheet
from .tables import whole_file

LAYOUTS = ('plain', 'canvas')


class Gradebook(NamedTuple):
    """What grade --gradebook was asked for: the file ('-' for standard
    output), the roster's columns that the gradebook knows people by (none
    named: found), the layout, and the title of the points' column."""
    path: str
    ids: tuple = ()
    layout: str = 'plain'
    title: str = 'PassWord'

# What a roster calls a column of e-mail addresses.
MAIL_HEADERS = ('email', 'e-mail', 'email address', 'почта', 'электронная почта', 'e-mail адрес',
                'адрес электронной почты')


def id_columns(columns, named, ids_column):
    """The roster's columns that identify people in the gradebook: those
    `named` (as names compare), else the column build took ids from, else
    the first of e-mail addresses; a Refusal where there is none."""
    keys = {name_key(c): c for c in columns}
    if named:
        missing = [n for n in named if name_key(n) not in keys]
        if missing:
            raise Refusal(f'--gradebook-id {missing[0]}: no such column; the roster has: '
                          + ', '.join(f'"{c}"' for c in columns))
        return [keys[name_key(n)] for n in named]
    found = ids_column or next((keys[name_key(h)] for h in MAIL_HEADERS if name_key(h) in keys), None)
    if not found:
        raise Refusal('the gradebook knows people by a column the roster lacks (an e-mail, a student number): build '
                      'with --id-column, or name one with --gradebook-id')
    return [found]


def id_column_of(details):
    """The roster's column that build took ids from (its values are the ids); None where it took none."""
    if not details.ids:
        return None
    return next((c for c in details.columns if all(details.values.get(f, {}).get(c, '') == i
                                                    for f, i in details.ids.items())), None)


@dataclasses.dataclass(frozen=True)
class LeftOut:
    """Who a gradebook leaves out, counted: walk-ins the roster does not
    list, those removed, and names handed in that are on nobody's list."""
    walk_ins: int = 0
    removed: int = 0
    strangers: int = 0

    def __bool__(self):
        return bool(self.walk_ins or self.removed or self.strangers)

    def said(self):
        """Return them as a line says them."""
        counts = [(self.walk_ins, 'walk-in', 'walk-ins'), (self.removed, 'removed', 'removed'),
                  (self.strangers, "name on nobody's list", "names on nobody's list")]
        return ', '.join(f'{n} {one if n == 1 else many}' for n, one, many in counts if n)


def listed(person):
    """Whether the roster lists a person: an id or a value in its columns (a walk-in has none)."""
    return bool(person.id or any(v for _, v in person.columns))


def gradebook_rows(report, people, points=1, late_points=0):
    """Return ([(Person, points)] of the roster's people of the report, in
    its order, and LeftOut: who is not."""
    earned = {row['folder']: row['points'] for row in report.rows(points, late_points) if row['folder']}
    kept, walk_ins, removed, strangers = [], 0, 0, 0
    for row in report.grade.rows:
        person = people.folder(row.folder) if row.folder else None
        if person is None:
            strangers += 1
        elif person.removed:
            removed += 1
        elif not listed(person):
            walk_ins += 1
        else:
            kept.append((person, earned.get(row.folder) or 0))
    return kept, LeftOut(walk_ins, removed, strangers)


def gradebook_table(kept, columns, title, layout, group_column=None):
    """A Table of the gradebook: the plain layout or Canvas's."""
    if layout == 'canvas':
        header = ['Student', 'ID', 'SIS User ID', 'SIS Login ID', 'Section', title]
        mail = next((c for c in columns if name_key(c) in {name_key(h) for h in MAIL_HEADERS}), None)
        number = next((c for c in columns if c != mail), None)
        rows = [[p.name, '', p.value(number) if number else '', p.value(mail) if mail else '',
                 p.value(group_column) if group_column else '', points] for p, points in kept]
        return Table(title, header, rows)
    header = [*columns, 'Name', title]
    return Table(title, header, [[*(p.value(c) for c in columns), p.name, points] for p, points in kept])


def gradebook_csv(table):
    """The gradebook as CSV for an import: UTF-8, a comma, a header row,
    every cell as it is (an id keeps its zeros and its plus)."""
    text = io.StringIO()
    writer = csv.writer(text, lineterminator='\r\n')
    writer.writerow(table.header)
    writer.writerows(table.rows)
    return text.getvalue()


def resolved(out, wanted):
    """Return the Gradebook `wanted` with the roster's columns it knows
    people by found; a Refusal, before anything is written, where none is."""
    details = read_details(out)
    return wanted._replace(ids=tuple(id_columns(details.columns, wanted.ids, id_column_of(details))))


def write_gradebook(report, people, wanted, out, group_column=None, report_path=None, points=1, late_points=0):
    """Write the gradebook of a Report of the set OUT as `wanted` (resolved) says;
    return what to tell the organiser of it, in lines: how many, who is
    left out and where to find them, who lacks an id."""
    columns = wanted.ids
    kept, left_out = gradebook_rows(report, people, points, late_points)
    table = gradebook_table(kept, columns, wanted.title, wanted.layout, group_column)
    kind = kind_of(wanted.path, 'a gradebook') if wanted.path != '-' else '.csv'
    if kind == '.csv':
        with whole_file(wanted.path, out) as f:
            f.write(gradebook_csv(table))
    else:
        with whole_file(wanted.path, out, binary=True) as f:
            f.write(spreadsheet(kind, table))
    said = [f'{wanted.path}: {len(kept)} of the roster, by {", ".join(columns)}']
    if left_out:
        find = f'the report ({report_path}) has them' if report_path and report_path != '-' else \
            'the report has them: --output report.xlsx'
        said.append(f'{wanted.path}: left out {left_out.said()}; {find}')
    lacking = [p.name for p, _ in kept if not all(p.value(c).strip() for c in columns)]
    if lacking:
        said.append(f'{wanted.path}: no {" or ".join(columns)} for {len(lacking)}, which a gradebook cannot match: '
                    + ', '.join(lacking[:10]) + (' ...' if len(lacking) > 10 else ''))
    return said
