"""The board's view of the room, kept up as the answers come: each answer
is counted once, when it is new, instead of every answer of everyone on
every refresh; counted again from the start only where the set's people,
ids or removals changed. A page of the board then costs its own people."""
import collections
import threading
import time

from .. import grading
from ..details import read_details, told_apart
from ..names import name_key
from ..set_files import DETAILS, REMOVED, read_removed

PAGE = 200  # people a page: a big room's board stays small
TRIED = 50  # names on nobody's list shown, the latest; the board's CSV has them all
TRIED_LENGTH = 80  # characters of each shown


def clock(at):
    return time.strftime('%H:%M:%S', time.localtime(at)) if at else ''


def cut(text, most=TRIED_LENGTH):
    return text if len(text) <= most else text[:most - 1] + '…'


class Labels:
    """How each person is shown, as told_apart says, worked out for those
    shown only: a page of the board shows 200 of a room of 100,000."""

    def __init__(self, found, details):
        self.found, self.details, self.made = found, details, {}

    def __getitem__(self, folder):
        if folder not in self.made:
            member = self.found.by_folder[folder]
            key = name_key(member.name)
            same = [self.found.by_folder[r.folder] for r in self.found.by_key.get(key, ())
                    if r.folder in self.found.by_folder] + self.found.gone_by_key.get(key, [])
            self.made.update(told_apart(same, self.details) if len(same) > 1 else {folder: member.name})
        return self.made[folder]


class Standing:
    """What the answers so far say of each person, for the board."""

    def __init__(self, room):
        self.room, self.lock = room, threading.Lock()
        self.people, self.base = None, None

    def start(self, people, base):
        """Everything counted afresh, for these people and this base."""
        self.people, self.base, self.details = people, base, read_details(self.room.out)
        self.found = grading.lookup(people.rows, self.details.ids, read_removed(self.room.out), people.by_name)
        self.result, self.last = grading.Tally(), 0
        self.tried, self.tries = collections.deque(maxlen=TRIED), 0
        # Made where first needed: most refreshes of a big room need none of them.
        self.made = {}

    def made_once(self, what):
        """The people's order, how each is shown, name keys by folder, or
        the roster's other columns as people type them."""
        if what not in self.made:
            members, details = self.found.members, self.details
            make = {'order': lambda: {m.folder: i for i, m in enumerate(members)},
                    'label': lambda: Labels(self.found, details),
                    'keys': lambda: {row.folder: key for key, found in list(self.people.by_name.items())
                                     for row in found},
                    'columns': lambda: {f: [name_key(v) for v in values.values() if v]
                                        for f, values in details.values.items()}}
            self.made[what] = make[what]()
        return self.made[what]

    def follow(self):
        """Count what was handed in since last time; the people as they are now."""
        people = self.room.people()
        base = (self.room.stamp_of(DETAILS), self.room.stamp_of(REMOVED))
        if self.people is None or people.version != self.people.version or base != self.base:
            self.start(people, base)
        for answer in self.room.store.answers(after=self.last):
            grading.count(self.result, self.found, grading.from_store([answer])[0])
            if answer.person is None:
                self.tries += 1
                self.tried.append((cut(answer.typed), clock(answer.time), answer.client))
            self.last = answer.id
        return people

    def board(self, query, page):
        """What the board's page shows: the counts, the passwords passed
        around, the latest names tried that nobody has, and the report's
        rows of page `page` of those that `query` finds (all where it is
        empty), with how many pages there are and which this is."""
        with self.lock:
            people = self.follow()
            found = self.search(people.rows, query)
            pages = max(1, -(-len(found) // PAGE))
            page = min(max(1, page), pages)
            walked_in = {name_key(name) for name in people.walk_ins}
            order, label = self.made_once('order'), self.made_once('label')
            members = self.found.by_folder
            shown = [grading.report_row(members[row.folder], self.result, label, order, walked_in)
                     for row in found[(page - 1) * PAGE:page * PAGE] if row.folder in members]
            passed = grading.passed_around(self.result, label, order)
            counts = self.counts(people)
            tried, tries = list(reversed(self.tried)), self.tries
        downloads = self.room.store.downloads([r['folder'] for r in shown] + [r['name'] for r in shown])
        for row in shown:
            f = row['folder']
            row.update(solved_at=clock(row['solved_at']), downloaded=clock(downloads.get(f) or downloads.get(row['name'])))
        return {'report': shown, 'pages': pages, 'page': page, 'counts': counts, 'passed': passed, 'tried': tried,
                'tries': tries}

    def wall(self):
        """What the wall shows: the counts, and when each person of the set
        first solved, in order; no names, nothing typed."""
        with self.lock:
            people = self.follow()
            members = self.found.by_folder
            times = sorted(at for f, at in self.result.solved.items() if at and not members[f].removed)
            return self.counts(people), times

    def counts(self, people):
        """solved, wrong and none among the people of the set, and their answers in all."""
        members = self.found.by_folder
        answered = {f: n for f, n in self.result.counts.items() if not members[f].removed}
        solved = sum(1 for f in self.result.solved if not members[f].removed)
        wrong = sum(1 for f in answered if f not in self.result.solved)
        return {'solved': solved, 'wrong': wrong, 'none': len(people.rows) - solved - wrong,
                'people': len(people.rows), 'answers': sum(answered.values())}

    def search(self, rows, query):
        """The rows whose name, or one of the roster's other columns (a
        group), holds `query` as people type it."""
        if not query:
            return rows
        wanted, keys, columns = name_key(query), self.made_once('keys'), self.made_once('columns')
        # .get: a walk-in may join the rows while they are searched, before they are counted afresh.
        return [row for row in rows if wanted in keys.get(row.folder, '')
                or any(wanted in value for value in columns.get(row.folder, ()))]
