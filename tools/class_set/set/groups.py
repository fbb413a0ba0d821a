"""The roster's groups (ИБ-21, 9Б): which of its columns holds them, who
is of which, and the one file per group that grade and links write."""
import functools
import os
import re

import icu

from ..errors import Refusal
from ..names import name_key
from .details import read_details
from .store import remembered

# What a roster calls its column of groups, where build was not told which.
HEADERS = ('группа', 'group', 'class', 'класс', 'section', 'учебная группа')
# Sorts as people do: numbers by their value, case aside (ICU's root order).
COLLATOR = icu.Collator.createInstance(icu.Locale.getRoot())
COLLATOR.setStrength(icu.Collator.SECONDARY)
COLLATOR.setAttribute(icu.UCollAttribute.NUMERIC_COLLATION, icu.UCollAttributeValue.ON)
NONE = 'no-group'  # the file of those the roster gives no group
# What a file's name cannot hold on Windows or here, and what no one types.
UNSAFE = re.compile(r'[\x00-\x1f<>:"/\\|?*]+')


def column_of(columns, named=None):
    """Return the roster's column of groups among `columns`: the one `named`
    (as names compare), else the first whose header says group (Группа,
    Group, Class); None where there is none. A Refusal where the named
    one is not there."""
    keys = {name_key(c): c for c in columns}
    if named:
        if name_key(named) not in keys:
            raise Refusal(f'--group-column {named}: no such column; the roster has: '
                          + (', '.join(f'"{c}"' for c in columns) or 'none besides the names'))
        return keys[name_key(named)]
    return next((keys[name_key(h)] for h in HEADERS if name_key(h) in keys), None)


def set_column(out, named=None):
    """Return the set OUT's column of groups: `named`, else the one build
    was told, else one found by its header; None where there is none."""
    columns = read_details(out).columns
    return column_of(columns, named) if named else kept_column(columns, remembered(out, 'group_column'))


def kept_column(columns, kept):
    """Return the column of groups among `columns`: the one build was told
    (`kept`) while the roster has it, else one found by its header."""
    return column_of(columns, kept if kept and name_key(kept) in map(name_key, columns) else None)


def group_of(person, column):
    """Return a person's group as the roster writes it; '' where none."""
    return person.value(column).strip() if column else ''


@functools.lru_cache(maxsize=4096)  # a room of 100,000 has a few dozen groups
def group_key(group):
    """Return a group as groups compare: as names do (ИБ-21 and иб-21 are one)."""
    return name_key(group)


@functools.lru_cache(maxsize=4096)
def in_order(group):
    """Return a group's place among groups: as people sort them (9Б before
    10А, ИБ-21 before ИБ-22, Latin and Cyrillic each in their alphabet's
    order), the ungrouped last."""
    return (not group, COLLATOR.getSortKey(group))


def each_group(people, column):
    """Yield the group of each of `people` in turn: group_of, fast where
    their columns come in one order, as the roster's do (100,000 of them
    after each change of a big room)."""
    at = None
    for p in people:
        columns = p.columns
        if at is None or at >= len(columns) or columns[at][0] != column:
            at = next((i for i, (c, _) in enumerate(columns) if c == column), None)
            if at is None:
                yield ''
                continue
        yield columns[at][1].strip()


def of_group(person, column, group):
    """Return whether a person is of `group` (as the roster writes it, or '' for none), as names compare."""
    return group_key(group_of(person, column)) == group_key(group)


def groups(people, column):
    """Return the groups of `people` as each is first written (ИБ-21 and иб-21
    are one), in the order they first come, the ungrouped last as ''."""
    found = {}
    for group in each_group(people, column):
        found.setdefault(group_key(group), group)
    return [g for g in found.values() if g] + ([''] if '' in found else [])


def chosen(people, column, group):
    """Return the one of the roster's groups that `group` names, as names
    compare; a Refusal that lists them where it names none."""
    if not column:
        raise Refusal(f'--group {group}: the roster has no column of groups; name it with --group-column')
    named = {name_key(g): g for g in groups(people, column) if g}
    if name_key(group) not in named:
        raise Refusal(f'--group {group}: no such group in "{column}"; the groups are: '
                      + ', '.join(named.values()))
    return named[name_key(group)]


def beside(path, group):
    """Return the file of one group beside `path`: report.xlsx → report-ИБ-21.xlsx."""
    stem, ext = os.path.splitext(path)
    safe = UNSAFE.sub('_', group).strip('. ')
    return f'{stem}-{safe or NONE}{ext}'


def parts(people, column, group=None, per_group=False):
    """Return [(group, [Person])]: those of `group` alone, or of each group
    of `column` (the ungrouped as ''), or everyone under None."""
    people = list(people)
    if group is not None and per_group:
        raise Refusal('--group and --per-group: give one of the two')
    if group is not None:
        named = chosen(people, column, group)
        return [(named, [p for p in people if of_group(p, column, named)])]
    if not per_group:
        return [(None, people)]
    if not column:
        raise Refusal('--per-group: the roster has no column of groups; name it with --group-column')
    return [(g, [p for p in people if of_group(p, column, g)]) for g in groups(people, column)]
