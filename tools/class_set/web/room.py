"""What the page and the board share: the set as it is now (a build may
grow it, a key may be replaced, while serve runs), the answers, the limits."""


import os
import threading
from typing import NamedTuple

from ..errors import Refusal
from ..names import name_key
from ..set import people, removals, walkins
from ..set.people import People
from ..set.details import read_details
from ..set.files import KEYS, RECORDS, REMOVED, WALK_INS
from ..set.folder import program_path, read_served
from ..set.groups import kept_column
from ..set.journal import size_of
from ..set.keys import keys_after, read_keys
from ..set.records import read_rows_after, row_line
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
        """Return whether the file grew in place since `old`: the same file, longer."""
        return old is not None and old.inode == self.inode and self.size > old.size


class Stamps(NamedTuple):
    """The stamps of the files the page follows, None where one is missing."""
    records: Stamp | None
    keys: Stamp | None
    walk_ins: Stamp | None


class Room:
    """The set as the page sees it, the store, and the budgets. Answers
    through a person's own link spend that person's budget alone; answers
    by name, the name's. An address has budgets only for what no person's
    covers (names on nobody's list, enrolments), so that a room behind one
    address is never locked out by one of its own.

    What the page's threads read is People, never changed: each change of
    the set makes a new one, which people() puts in place whole."""

    def __init__(self, out, config):
        self.out, self.store, self.places = out, Checkins(out), config['PLACES']
        self.config, self.per_address = config, config['ENROL_PER_ADDRESS']
        self.stamp, self.lock, self.current = None, threading.Lock(), People(())
        # Where the files were read up to, and what was read of them; under the lock.
        self.records_at, self.keys_at, self.removed_at, self.removed = 0, 0, 0, None
        self.details, self.walk_ins, self.groups_in = None, [], None
        self.tails = {}  # the bytes just before where each file was read up to
        self.pending = {}  # keys.csv's latest key of each folder not here yet (a walk-in's comes before its row)

    def budget(self, kind, who):
        """Return the Budget of a Spending for `who`: a person's folder or an address."""
        return Budget(kind, who, self.config[RATES[kind]])

    def stamp_of(self, name):
        """Return the Stamp of a file of the set; None where it is missing; Unavailable where it cannot be looked at."""
        try:
            here = os.stat(os.path.join(self.out, name))
        except FileNotFoundError:
            return None
        except OSError:
            raise Unavailable()
        return Stamp(here.st_ino, here.st_mtime_ns, here.st_size)

    def people(self):
        """Return the set's People as they are now: each part read again only where
        its file changed, and only what was appended where it grew in place (a
        walk-in, a new key), or what removed.csv gained where answers.csv was
        written anew by a removal: a change of one person reads one person, not the
        set."""
        stamp = Stamps(*(self.stamp_of(name) for name in (RECORDS, KEYS, WALK_INS)))
        with self.lock:
            if stamp == self.stamp:
                return self.current
            old = self.stamp or Stamps(None, None, None)
            try:
                self.current = self.follow(old, stamp)
            except (Refusal, OSError, ValueError) as why:
                self.stamp = None  # read it all again next time
                raise Unavailable() from why
            self.stamp = stamp
            self.tails = {name: tail(self.out, name, at) for name, at in ((RECORDS, self.records_at),
                                                                          (KEYS, self.keys_at))}
            return self.current

    def grew(self, name, old, new, at):
        """Return whether a file grew in place from stamp `old` to `new`: the
        same inode, longer, and still what was read up to `at` (a file
        written anew may be given the inode of one since removed)."""
        return grew(old, new) and self.tails.get(name) == tail(self.out, name, at)

    def group_column(self):
        """Return the roster's column of groups as the set is now (build may
        name another); None where it has none."""
        self.people()
        return self.groups_in

    def follow(self, old, stamp):
        """Return the People that the files say now, from those of `old`'s stamps."""
        now = self.people_now(old, stamp)
        if stamp.walk_ins != old.walk_ins:
            now = now.changed(walk_ins=self.walk_ins)
        return now

    def people_now(self, old, stamp):
        """People with who is here and their keys as the files say now."""
        if stamp.walk_ins != old.walk_ins:
            self.walk_ins = walkins.read(self.out)
        now = self.current
        rows_again = stamp.records != old.records and not self.grew(RECORDS, old.records, stamp.records,
                                                                    self.records_at)
        # A removal in place only appends to keys.csv; a build writes it anew.
        if rows_again and self.stamp and stamp.records and (stamp.keys == old.keys or grew(old.keys, stamp.keys)):
            taken = self.take_removals(stamp.records.size)
            if taken is not None:  # followed as the removal went
                now, rows_again = taken, False
        if rows_again:
            return self.read_all()
        whole = not self.keys_appended(old, stamp)
        if stamp.records != old.records:  # after a removal: those added that this process had not read
            now = self.add_rows(now)
        if whole:
            keys = read_keys(self.out, now.here)
            return now.changed(keys={p.folder: keys.get(p.folder, '') for p in now.here})
        changes = {folder: self.pending.pop(folder) for folder in list(self.pending) if folder in now.by_folder}
        return now.changed(keys=changes) if changes else now

    # Where a file is read whole, what it held before is where its appended
    # lines start: a line appended meanwhile is then read twice, and taken once.

    def read_all(self):
        """People read whole from the set, and where each file was read up to."""
        self.removed = self.stamp_of(REMOVED)
        self.removed_at = size_of(os.path.join(self.out, REMOVED)) or 0
        self.records_at = os.path.getsize(os.path.join(self.out, RECORDS))
        self.keys_at = size_of(os.path.join(self.out, KEYS)) or 0
        rows = read_served(self.out)  # build checked every program
        self.details = read_details(self.out)
        self.groups_in = kept_column(self.details.columns, self.store.setting('group_column'))
        self.pending = {}
        return people.read(self.out, rows, read_keys(self.out, rows), self.details, self.current.version + 1)

    def add_rows(self, now):
        """People with the rows appended to answers.csv since (walk-ins, people restored)."""
        added, self.records_at = read_rows_after(os.path.join(self.out, RECORDS), self.records_at)
        added = [row for row in added if row.folder not in now.by_folder]
        enrolled = {name_key(w.name): w for w in self.walk_ins}
        for row in added:
            if not os.path.isfile(program_path(self.out, row)):
                raise Refusal(f'{program_path(self.out, row)} is missing')
        if not added:
            return now
        return now.changed(added=[people.person(row, self.details, self.pending.pop(row.folder, ''),
                                                enrolled.get(name_key(row.name))) for row in added])

    def take_removals(self, size):
        """Return where answers.csv was written anew by a removal: People without
        those it added to removed.csv, if what is left of what this process read
        fits in answers.csv as it is now (`size` bytes); what follows that is
        walk-ins it had not read yet. None where it was another change."""
        removed = self.stamp_of(REMOVED)
        if removed == self.removed:
            return None
        taken, end = removals.read_after(self.out, self.removed_at)
        gone = {r.folder for r in taken}
        now = self.current
        leaving = [now.by_folder[f] for f in gone if f in now.by_folder]
        left = self.records_at - sum(len(row_line(p.row).encode()) for p in leaving)
        if not gone or left > size:  # those gone that it had not read (walk-ins) were after `left`
            return None
        if tail(self.out, RECORDS, left) != self.tails.get(RECORDS):  # not what it read, less them: read it all
            return None
        self.records_at, self.removed_at, self.removed = left, end, removed
        last = {p.folder: p for p in now.gone} | {r.folder: people.gone(r, self.details) for r in taken}
        return now.changed(left=gone, gone=list(last.values()))

    def keys_appended(self, old, stamp):
        """Take into `pending` the lines that keys.csv gained; return False where
        it was written anew instead, to be read whole."""
        if stamp.keys == old.keys:
            return True
        if not self.grew(KEYS, old.keys, stamp.keys, self.keys_at):
            self.keys_at, self.pending = size_of(os.path.join(self.out, KEYS)) or 0, {}
            return False
        added, self.keys_at = keys_after(self.out, self.keys_at)
        self.pending.update((line.folder, line.key) for line in added)
        return True


TAIL = 64  # bytes: enough to tell a line from any other


def tail(out, name, end):
    """Return the bytes of a file of the set OUT just before `end`; None where it cannot be read."""
    try:
        with open(os.path.join(out, name), 'rb') as f:
            f.seek(max(0, end - TAIL))
            return f.read(min(end, TAIL))
    except OSError:
        return None


def grew(old, new):
    """Return whether a file grew in place from stamp `old` to `new`."""
    return new is not None and new.grew_from(old)


RATES = {Spending.LINK: 'RATE', Spending.NAME: 'NAME_RATE', Spending.STRANGER: 'CLIENT_RATE',
         Spending.ENROL: 'ENROL_RATE', Spending.DOWNLOAD: 'DOWNLOAD_RATE'}
