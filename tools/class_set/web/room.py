"""What the page and the board share: the set as it is now (a build may
grow it, a key may be replaced, while serve runs), the answers, the limits."""
import collections
import dataclasses
import os
import threading
from typing import NamedTuple

from ..errors import Refusal
from ..names import name_key
from ..set import removals, walkins
from ..set.details import read_details, told_apart
from ..set.files import KEYS, RECORDS, REMOVED, WALK_INS
from ..set.folder import program_path, read_served
from ..set.journal import size_of
from ..set.keys import keys_after, read_keys
from ..set.records import Row, read_rows_after, row_line
from ..set.store import Budget, Checkins, Spending


LIMIT = 4096  # bytes of a request body; the form sends far less


class Unavailable(Exception):
    """The set could not be read just now: a build is swapping it."""


class Stamp(NamedTuple):
    """What tells that a file changed: its inode (another file put in its
    place), when it was last written, and its size."""
    inode: int
    written: int
    size: int

    def grew_from(self, old):
        """Whether the file grew in place since `old`: the same file, longer."""
        return old is not None and old.inode == self.inode and self.size > old.size


class Stamps(NamedTuple):
    """The stamps of the files the page follows, None where one is missing."""
    records: Stamp | None
    keys: Stamp | None
    walk_ins: Stamp | None


@dataclasses.dataclass(frozen=True)
class People:
    """The set as the page sees it: its rows, the rows under each name as
    people type it, the row of each personal key, and the walk-ins; and
    which version of the rows it is. A walk-in or a new key is added to
    these in place, so whoever goes through all of a dict here takes a
    list of it first."""
    rows: list[Row]
    by_name: dict[str, list[Row]]
    by_key: dict[str, Row]
    walk_ins: list[str]
    version: int = 0
    ids: frozenset = frozenset()  # the roster's ids, as name_key has them


class Room:
    """The set as the page sees it, the store, and the budgets. Answers
    through a person's own link spend that person's budget alone; answers
    by name, the name's. An address has budgets only for what no person's
    covers (names on nobody's list, enrolments), so that a room behind one
    address is never locked out by one of its own."""

    def __init__(self, out, config):
        self.out, self.store, self.places = out, Checkins(out), config['PLACES']
        self.config, self.per_address = config, config['ENROL_PER_ADDRESS']
        self.stamp, self.lock, self.current, self.version = None, threading.Lock(), None, 0
        self.rows, self.by_folder, self.by_name, self.by_key, self.key_of, self.walk_ins = [], {}, {}, {}, {}, []
        self.ids = frozenset()

    def budget(self, kind, who):
        """The Budget of a Spending for `who`: a person's folder or an address."""
        return Budget(kind, who, self.config[RATES[kind]])

    def shown(self, row):
        """How the page shows a person: their name, namesakes told apart."""
        same = self.people().by_name.get(name_key(row.name), [])
        return told_apart(same, read_details(self.out))[row.folder] if len(same) > 1 else row.name

    def stamp_of(self, name):
        try:
            here = os.stat(os.path.join(self.out, name))
        except FileNotFoundError:
            return None
        except OSError:
            raise Unavailable()
        return Stamp(here.st_ino, here.st_mtime_ns, here.st_size)

    def people(self):
        """People, each part read again only where its file changed, and
        only what was appended where it grew in place (a walk-in, a new
        key), or what removed.csv gained where answers.csv was written anew
        by a removal: a change of one person costs one person, not the set."""
        stamp = Stamps(*(self.stamp_of(name) for name in (RECORDS, KEYS, WALK_INS)))
        with self.lock:
            if stamp == self.stamp:
                return self.current
            old = self.stamp or Stamps(None, None, None)
            try:
                rows_again, added = stamp.records != old.records and not grew(old.records, stamp.records), []
                if rows_again and self.stamp and stamp.records and self.take_removals(stamp.records.size):
                    rows_again = False  # followed as the removal went
                if rows_again:
                    self.read_rows()
                elif stamp.records != old.records:
                    added = self.add_rows()  # after a removal: those added that this process had not read
                if grew(old.keys, stamp.keys) and not rows_again:
                    self.add_keys()
                elif stamp.keys != old.keys or rows_again:
                    self.read_keys()
                if any(r.folder not in self.key_of for r in added):
                    self.read_keys()  # someone's key was read while their row was still to come
                if stamp.walk_ins != old.walk_ins:
                    self.walk_ins = [w.name for w in walkins.read(self.out)]
            except (Refusal, OSError, ValueError) as why:
                self.stamp = None  # read it all again next time
                raise Unavailable() from why
            self.stamp = stamp
            self.current = People(self.rows, self.by_name, self.by_key, self.walk_ins, self.version, self.ids)
            return self.current

    # Where a file is read whole, what it held before is where its appended
    # lines start: a line appended meanwhile is then read twice, and taken once.

    def read_rows(self):
        self.removed = self.stamp_of(REMOVED)
        self.removed_at = size_of(os.path.join(self.out, REMOVED)) or 0
        self.records_at = os.path.getsize(os.path.join(self.out, RECORDS))
        self.rows = read_served(self.out)  # build checked every program
        self.ids = frozenset(name_key(i) for i in read_details(self.out).ids.values())
        self.version += 1
        self.by_folder = {r.folder: r for r in self.rows}
        self.by_name = collections.defaultdict(list)
        for row in self.rows:
            self.by_name[name_key(row.name)].append(row)

    def add_rows(self):
        added, self.records_at = read_rows_after(os.path.join(self.out, RECORDS), self.records_at)
        added = [row for row in added if row.folder not in self.by_folder]
        for row in added:
            if not os.path.isfile(program_path(self.out, row)):
                raise Refusal(f'{program_path(self.out, row)} is missing')
            self.by_folder[row.folder] = row
            self.by_name[name_key(row.name)].append(row)
        self.rows.extend(added)
        self.version += bool(added)
        return added

    def take_removals(self, size):
        """Where answers.csv was written anew by a removal: only the people
        it added to removed.csv go, if what is left of what this process
        read fits in answers.csv as it is now (`size` bytes); what follows
        that is walk-ins it had not read yet. False where it was another change."""
        removed = self.stamp_of(REMOVED)
        if removed == self.removed:
            return False
        taken, end = removals.read_after(self.out, self.removed_at)
        gone = {r.folder for r in taken}
        rows = [self.by_folder[f] for f in gone if f in self.by_folder]
        left = self.records_at - sum(len(row_line(r).encode()) for r in rows)
        if not gone or left > size:  # those gone that it had not read (walk-ins) were after `left`
            return False
        for row in rows:
            del self.by_folder[row.folder]
            self.by_key.pop(self.key_of.pop(row.folder, None), None)
            self.by_name[name_key(row.name)].remove(row)
            if not self.by_name[name_key(row.name)]:
                del self.by_name[name_key(row.name)]
        self.rows = [r for r in self.rows if r.folder not in gone]
        self.version += 1
        self.records_at, self.removed_at, self.removed = left, end, removed
        return True

    def read_keys(self):
        self.keys_at = size_of(os.path.join(self.out, KEYS)) or 0
        keys = read_keys(self.out, self.rows)
        self.key_of = dict(keys)
        self.by_key = {keys[r.folder]: r for r in self.rows if r.folder in keys}

    def add_keys(self):
        added, self.keys_at = keys_after(self.out, self.keys_at)
        for line in added:
            if line.ends:  # a removal ended it
                self.by_key.pop(self.key_of.pop(line.folder, None), None)
            elif line.folder in self.by_folder and self.key_of.get(line.folder) != line.key:
                self.by_key.pop(self.key_of.get(line.folder), None)
                self.key_of[line.folder], self.by_key[line.key] = line.key, self.by_folder[line.folder]


def grew(old, new):
    return new is not None and new.grew_from(old)


RATES = {Spending.LINK: 'RATE', Spending.NAME: 'NAME_RATE', Spending.STRANGER: 'CLIENT_RATE',
         Spending.ENROL: 'ENROL_RATE', Spending.DOWNLOAD: 'DOWNLOAD_RATE'}
