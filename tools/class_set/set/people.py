"""The one model of a set's people, which every command, the page, the
board and the reports read: a Person each, of the set or taken out of it,
with what every file of the set says of them; and People, an index of
them that finds someone by name, id or folder, one way everywhere.

People is never changed: a change of the set makes a new one (changed),
so that the page's threads share one without a lock."""
import collections
import copy
import difflib
import os
from typing import NamedTuple

from .. import times
from ..errors import Refusal
from ..names import name_key
from . import removals, walkins
from .details import read_details
from .files import HANDOUT, RECORDS
from .keys import read_keys
from .records import Row, folded, named_so, row_of


class Person(NamedTuple):
    """Someone of the set, or taken out of it: their record, the roster's
    id and other columns, the key of their link, when and where they
    enrolled for a walk-in, and when they were removed (`removed` as
    removed.csv says it, `until` the same in seconds since the epoch; ''
    and None while they are in the set). A tuple: a big room has 100,000."""
    name: str
    folder: str
    password: str = ''
    mask: int = 0
    sha256: str = ''
    id: str = ''
    columns: tuple = ()  # ((column, value), ...) in the roster's order
    key: str = ''
    walk_in: walkins.WalkIn | None = None
    removed: str = ''
    until: float | None = None

    @property
    def row(self):
        """Their line of answers.csv."""
        return Row(self.name, self.folder, self.password, self.mask, self.sha256)

    def value(self, column):
        """Return their value in a column of the roster; '' where they have none."""
        return dict(self.columns).get(column, '')


def removal_time(text):
    """Return seconds since the epoch of a removal's time in removed.csv; None where it says none."""
    found = times.read(text)
    return found and found.timestamp()


def person(row, details=None, key='', walk_in=None):
    """Return the Person of a row of answers.csv, with the roster's columns of `details`."""
    return Person(row.name, row.folder, row.password, row.mask, row.sha256,
                  details.ids.get(row.folder, '') if details else '',
                  tuple(details.of(row.folder).items()) if details and details.columns else (), key, walk_in)


def gone(record, details=None):
    """Return the Person of a line of removed.csv: as they were when they went."""
    walk_in = walkins.WalkIn(record.name, record.enrolled, record.address) if record.enrolled else None
    return Person(record.name, record.folder, record.password, int(record.mask) if record.mask.isdigit() else 0,
                  record.sha256, record.id or (details.ids.get(record.folder, '') if details else ''),
                  tuple(details.of(record.folder).items()) if details and details.columns else (), '', walk_in,
                  record.time or '?', removal_time(record.time))


class People:
    """Everyone of a set (`here`, in the set's order) and those removed and
    not back (`gone`: as their last removal says), indexed by folder, by
    name as people type it, by the key of their link and by id; `ids`: the
    roster's ids as names compare; `walk_ins`: walkins.csv's. `version`
    counts the changes of who is here."""

    def __init__(self, here, gone=(), ids=None, version=0, named=None, walk_ins=()):
        self.here, self.gone, self.version, self.walk_ins = tuple(here), tuple(gone), version, tuple(walk_ins)
        self.by_folder = {p.folder: p for p in self.here}
        self.gone_by_folder = {p.folder: p for p in self.gone if p.folder not in self.by_folder}
        self.by_key = {p.key: p for p in self.here if p.key}
        self.by_id = {p.id: p for p in self.gone if p.id} | {p.id: p for p in self.here if p.id}
        self.ids = frozenset(name_key(p.id) for p in self.here if p.id) if ids is None else ids
        self.named_here = named if named is not None else index(self.here)
        self.named_gone = index(self.gone_by_folder.values())

    def changed(self, added=(), left=(), keys=None, gone=None, walk_ins=None):
        """Return a new People: `added` here (at the end), the folders `left` gone
        from here, `keys` {folder: key} given anew, and `gone` (those removed) or
        `walk_ins` anew where they changed."""
        keys, left = keys or {}, set(left)
        if not left and gone is None and keys.keys().isdisjoint(self.by_folder):
            return self.grown([p._replace(key=keys.get(p.folder, p.key)) for p in added],
                              self.walk_ins if walk_ins is None else walk_ins)
        here = [p._replace(key=keys[p.folder]) if p.folder in keys else p for p in self.here if p.folder not in left]
        fresh = [p._replace(key=keys.get(p.folder, p.key)) for p in added]
        named = dict(self.named_here)  # each change costs its names' entries, not everyone's
        for p in filter(None, map(self.by_folder.get, left)):
            key = name_key(p.name)
            named[key] = tuple(q for q in named[key] if q.folder != p.folder)
            if not named[key]:
                del named[key]
        for p in fresh:
            named[name_key(p.name)] = named.get(name_key(p.name), ()) + (p,)
        for key in {name_key(p.name) for p in map(self.by_folder.get, keys) if p and p.folder not in left}:
            named[key] = tuple(q._replace(key=keys[q.folder]) if q.folder in keys else q for q in named[key])
        return People(here + fresh, self.gone if gone is None else gone, self.ids,
                      self.version + bool(added or left), named, self.walk_ins if walk_ins is None else walk_ins)

    def grown(self, added, walk_ins):
        """Return a new People with `added` at the end and `walk_ins`: the indexes
        copied and added to, not built again (a walk-in costs no pass over everyone)."""
        grown = copy.copy(self)
        grown.here, grown.walk_ins, grown.version = self.here + tuple(added), tuple(walk_ins), self.version + bool(added)
        grown.by_folder = self.by_folder | {p.folder: p for p in added}
        grown.by_key = self.by_key | {p.key: p for p in added if p.key}
        grown.by_id = self.by_id | {p.id: p for p in added if p.id}
        if any(p.folder in self.gone_by_folder for p in added):
            grown.gone_by_folder = {f: p for f, p in self.gone_by_folder.items() if f not in grown.by_folder}
            grown.named_gone = index(grown.gone_by_folder.values())
        grown.named_here = dict(self.named_here)
        for p in added:
            grown.named_here[name_key(p.name)] = grown.named_here.get(name_key(p.name), ()) + (p,)
        return grown

    def folder(self, folder):
        """Return the Person of a folder, here or gone; None where nobody has it."""
        return self.by_folder.get(folder) or self.gone_by_folder.get(folder)

    def named(self, text):
        """Return those whose name `text` is, as people type it: of the set, else those removed."""
        key = name_key(text)
        return self.named_here.get(key, ()) or self.named_gone.get(key, ())

    def find(self, wanted, by=None, among=None):
        """Return the one person `wanted` names: their id, their folder, or their
        name as people type it (only one of these where `by` says which), of the set
        (or of `among`, those removed); a Refusal that says how to choose where that
        is nobody, more than one, or an id of one and the name of another."""
        people, typed = self.here if among is None else among, wanted.strip()
        key = name_key(wanted)
        found = {'id': [p for p in people if typed and p.id == typed],
                 'folder': [p for p in people if p.folder == wanted],
                 'name': [p for p in people if name_key(p.name) == key]}
        try:
            return the_one(found if by is None else {by: found[by]}, wanted)
        except NoMatch as nobody:
            raise Refusal(str(nobody) + did_you_mean(people, wanted)) from None

    def shown(self, person):
        """Return how a person is shown: their name, namesakes told apart."""
        same = self.named_here.get(name_key(person.name), ())
        return labels(same)[person.folder] if len(same) > 1 else person.name


def index(people):
    """Return {name as people type it: (those of that name, in order)}."""
    found = collections.defaultdict(tuple)
    for p in people:
        found[name_key(p.name)] += (p,)
    return dict(found)


def the_one(found, wanted):
    """Return the one person of {way: [people found that way]}, or a Refusal that says how to choose."""
    ways = {}  # folder: (person, the ways they were found)
    for way in ('id', 'name', 'folder'):
        for p in found.get(way, ()):
            ways.setdefault(p.folder, (p, []))[1].append(way)
    if len(ways) == 1:
        return next(iter(ways.values()))[0]
    if not ways:
        raise NoMatch(f'"{wanted}" matches nobody in the set')
    first = [(found_ways[0], p) for p, found_ways in ways.values()]
    if len({way for way, _ in first}) == len(first):
        said = ' and '.join(f'the {way} of "{p.name}"' for way, p in first)
        raise Refusal(f'"{wanted}" is {said}; say which: ' + ' or '.join(f'--by {way}' for way, _ in first))
    raise Refusal(f'"{wanted}" matches more than one person; name one by its id or folder: '
                  + ', '.join(p.id or p.folder for p, _ in ways.values()))


class NoMatch(Refusal):
    """A name, id or folder that matches nobody."""


NEAR = 0.75  # how alike two names are, at least, to be offered (difflib's ratio)
MOST_NEAR = 3


def near(people, wanted, most=MOST_NEAR):
    """Return up to `most` of `people` whose names are closest to `wanted`,
    as the set compares names (case, ё and е, look-alike letters): a word
    left out or one too many first, then a slip of a letter or two."""
    key = name_key(wanted)
    words, scored = set(key.split()), []
    for place, p in enumerate(people):
        theirs = name_key(p.name)
        if words and len(words ^ set(theirs.split())) == 1:  # a word left out, or one too many
            scored.append((-1.0, place, p))
            continue
        alike = difflib.SequenceMatcher(None, key, theirs)
        if alike.real_quick_ratio() >= NEAR and alike.quick_ratio() >= NEAR and alike.ratio() >= NEAR:
            scored.append((-alike.ratio(), place, p))
    return [p for _, _, p in sorted(scored)[:most]]


def did_you_mean(people, wanted):
    """Return '; did you mean' and the names closest to `wanted`, each with
    what tells them from their namesakes; '' where none is close."""
    found = near(people, wanted)
    if not found:
        return ''
    keys = {name_key(p.name) for p in found}
    shown = labels([p for p in people if name_key(p.name) in keys])
    said = []
    for p in found:
        apart = shown[p.folder][len(p.name):].strip(' ()')
        if apart and p.id and p.id not in apart:
            apart += f', id {p.id}'
        said.append(f'"{p.name}"' + (f' ({apart})' if apart else ''))
    return '; did you mean ' + ' or '.join(said) + '?' + (' Name a namesake by their id or folder.'
                                                            if any('(' in s for s in said) else '')


def labels(people):
    """Return {folder: how a person is shown}: their name, and for those whose
    names look the same, what tells them apart: the roster's id column, or else
    its first column whose values differ between them."""
    shared = collections.defaultdict(list)
    for p in people:
        shared[name_key(p.name)].append(p)
    shown = {p.folder: p.name for p in people}
    for same in shared.values():
        if len(same) > 1:
            shown.update({p.folder: f'{p.name} ({apart})' for p, apart in zip(same, apart_by(same))})
    return shown


def apart_by(same):
    """Return what tells each of `same` apart: 'column: value', or their folder."""
    values = [dict(p.columns) for p in same]
    names = [c for c, _ in same[0].columns]
    ids = [p.id for p in same]
    columns = [c for c in names if all(v.get(c, '') == i for v, i in zip(values, ids))] if all(ids) else []
    if not columns:
        columns = [c for c in names if len({v.get(c, '') for v in values}) == len(same)]
    if columns:
        return [f'{columns[0]}: {v.get(columns[0], "")}' for v in values]
    if all(ids) and len(set(ids)) == len(same):
        return [f'id: {i}' for i in ids]
    return [p.folder for p in same]


def read(out, rows, keys=None, details=None, version=0):
    """People of the set OUT from its `rows` (as read, checked or not), with
    every other file's word of them: details, keys (`keys`, where already
    read), walk-ins, removals."""
    details = details or read_details(out)
    keys = read_keys(out, rows) if keys is None else keys
    walk_ins = walkins.read(out)
    enrolled = {name_key(w.name): w for w in walk_ins}
    here = [person(r, details, keys.get(r.folder, ''), enrolled.get(name_key(r.name))) for r in rows]
    folders = {r.folder for r in rows}
    last = {}
    for record in removals.read(out):  # the last removal of a folder says most
        if record.folder not in folders:
            last[record.folder] = record
    return People(here, [gone(r, details) for r in last.values()],
                  frozenset(name_key(i) for i in details.ids.values()), version, walk_ins=walk_ins)


def find_one(out, wanted, by=None, everyone=None):
    """Return the Person of the set OUT whom `wanted` names, as People.find
    finds them; where that is an id or a folder of one person, and nobody else's
    name is that text, found without reading everyone's row (a change of one
    person in a big set). `everyone`: a function that reads them all."""
    details = read_details(out)
    by_id = [f for f, i in details.ids.items() if wanted.strip() and i == wanted.strip()]
    folder = by_id[0] if len(by_id) == 1 and by in (None, 'id') else wanted if by in (None, 'folder') else None
    if folder and folder not in ('.', '..') and os.sep not in folder \
            and os.path.isdir(os.path.join(out, HANDOUT, folder)):
        row = row_of(os.path.join(out, RECORDS), folder)
        named = 0 if row is None or by else named_so(out, wanted)
        if row is not None and (named == 0 or named == 1 and folded(row.name) == folded(wanted)):
            return person(row, details)
    return everyone().find(wanted, by)


