"""The board's view of the room, kept up as the answers come: each answer
is counted once, when it is new, instead of every answer of everyone on
every refresh; where the set's people change, only what the change
touches is counted again. A page of the board then costs its own people."""
import collections
import contextlib
import threading
from typing import NamedTuple

from .. import times
from ..names import name_key
from ..set import grading
from ..set import removals
from ..set.groups import each_group, group_key, group_of, groups, in_order
from ..set.files import DETAILS, REMOVED
from ..set.people import Person, labels
from ..set.store import Via


PAGE = 200  # people a page: a big room's board stays small
TRIED = 50  # names on nobody's list shown, the latest; the board's CSV has them all
TRIED_LENGTH = 80  # characters of each shown
BATCH = 5000  # answers read from the store at once
PASSED = 50  # passwords passed around shown, the first; the report has them all


def same_person(one, other):
    """Return whether two Persons (or None) are one to the board: what grading
    reads of them is alike; a new key is no change of the people."""
    return one is other or one == other or (one and one._replace(key='')) == (other and other._replace(key=''))


def clock(at):
    """Return the time of day of the store's seconds since the epoch."""
    return times.clock(times.at(at))


def cut(text, most=TRIED_LENGTH):
    """Return a text cut to `most` characters, an ellipsis ending a cut one."""
    return text if len(text) <= most else text[:most - 1] + '…'


class Line(NamedTuple):
    """A line of the board's table: a report Row, with when they solved it
    and first downloaded their program as the board says a time, whether
    their solution came after their own closing, their minutes of extra
    time and until when that is."""
    row: grading.Row
    solved_at: str
    downloaded: str
    late: bool = False
    extra: int = 0
    until: str = ''
    group: str = ''


class NoSuchGroup(LookupError):
    """A group the roster does not have, as asked for; `groups`: those it has."""

    def __init__(self, wanted, groups):
        super().__init__(wanted)
        self.wanted, self.groups = wanted, groups


class Labels:
    """How each person is shown, as people.labels says, worked out for
    those shown only: a page of the board shows 200 of a room of 100,000."""

    def __init__(self, people):
        self.people, self.made = people, {}

    def __getitem__(self, folder):
        if folder not in self.made:
            person = self.people.folder(folder)
            key = name_key(person.name)
            same = self.people.named_here.get(key, ()) + self.people.named_gone.get(key, ())
            self.made.update(labels(same) if len(same) > 1 else {folder: person.name})
        return self.made[folder]


class Standing:
    """What the answers so far say of each person, for the board. Each
    answer is counted once, as it comes; where the set's people change, only
    the answers and people that the change touches are counted again: those
    under the names of the people who came or went, theirs, and those that
    hold their passwords."""

    def __init__(self, room):
        self.room, self.lock = room, threading.Lock()
        self.people, self.base = None, None

    def start(self, people, base):
        """Everything counted afresh, for these people and this base."""
        self.people, self.base = people, base
        self.found = grading.lookup(people, removals.read(self.room.out))
        self.result, self.last = grading.Tally(), 0
        self.answers, self.given = [], []  # each answer (Handed), and whose it was found to be
        self.by_key, self.by_folder, self.by_word = (collections.defaultdict(list) for _ in range(3))
        self.tried, self.tries = collections.deque(maxlen=TRIED), 0
        # Made where first needed: most refreshes of a big room need none of them.
        self.made = {}

    def take(self, answer):
        """A new answer (the store's) counted, and indexed for a change of the people."""
        handed = grading.Handed('', answer.typed, answer.word, (answer.folder or '') if answer.via is Via.LINK else '',
                                time=answer.time, matched=answer.folder, correct=answer.correct)
        at, member = len(self.answers), grading.whose(handed, self.found)
        self.answers.append(handed)
        self.given.append(member)
        if not handed.folder:
            self.by_key[name_key(handed.name)].append(at)
        if isinstance(member, Person):
            self.by_folder[member.folder].append(at)
        if len(handed.word.strip()) == 5:  # could be someone's password
            self.by_word[handed.word.strip()].append(at)
        self.credit(handed, member)

    def credit(self, handed, member):
        """One answer (Handed) of `member` counted, or under a name on nobody's list."""
        if member is grading.Nobody.NOT_LISTED:
            self.result.others[handed.name.strip()] += 1
        elif isinstance(member, Person):
            grading.credit(self.result, self.found, handed, member)

    def update(self, people, base):
        """The people changed (someone came, went or came back): whose each
        answer is, and what it says, worked out again for those it touches."""
        found = grading.lookup(people, removals.read(self.room.out))
        old = self.found.people
        before, after = old.gone_by_folder | old.by_folder, people.gone_by_folder | people.by_folder
        changed = [p for f in before.keys() | after.keys() if not same_person(before.get(f), after.get(f))
                   for p in (before.get(f), after.get(f)) if p is not None]
        touched = set()
        for member in changed:
            touched.update(self.by_key.get(name_key(member.name), ()), self.by_folder.get(member.folder, ()),
                           self.by_word.get(member.password, ()))
        self.people, self.base, self.found, self.made = people, base, found, {}
        again = {m.folder for m in changed}
        for at in touched:
            before, now = self.given[at], grading.whose(self.answers[at], found)
            for member, step in ((before, -1), (now, 1)):
                if member is grading.Nobody.NOT_LISTED:
                    self.result.others[self.answers[at].name.strip()] += step
                elif isinstance(member, Person):
                    again.add(member.folder)
            if before != now:
                if isinstance(before, Person):
                    self.by_folder[before.folder].remove(at)
                if isinstance(now, Person):
                    self.by_folder[now.folder].append(at)
                self.given[at] = now
        self.result.others = +self.result.others  # names no longer on nobody's list
        for folder in again:
            for what in (self.result.counts, self.result.solved, self.result.handed_in, self.result.claimed,
                         self.result.ways):
                what.pop(folder, None)
            for at in sorted(self.by_folder.get(folder, ())):
                self.credit(self.answers[at], self.given[at])

    def warm(self):
        """Count what the store holds, in a thread of its own as serve
        starts, so that the board's first view finds it counted."""
        def count():
            with self.lock:
                with contextlib.suppress(Exception):  # the board's first view says what is wrong
                    self.follow()
        threading.Thread(target=count, daemon=True, name='board-warm').start()

    def made_once(self, what):
        """Return the people's order, how each is shown, name keys by folder, or the
        roster's other columns as people type them."""
        if what not in self.made:
            people = self.found.people
            make = {'order': lambda: {m.folder: i for i, m in enumerate(self.found.members)},
                    'label': lambda: Labels(people),
                    'keys': lambda: {p.folder: key for key, same in people.named_here.items() for p in same},
                    'columns': lambda: {p.folder: [name_key(v) for _, v in p.columns if v] for p in people.here}}
            self.made[what] = make[what]()
        return self.made[what]

    def cached(self, key, make):
        """Return what `make` makes, made once for these people."""
        if key not in self.made:
            self.made[key] = make()
        return self.made[key]

    def members(self, people, column, group):
        """Return the people of the set that the board lists: sorted by group
        where the roster has a `column` of groups, and of `group` alone where
        one is asked for; made once for these people."""
        if not column:
            return people.here
        # Each person's group read once; their places sorted, not tuples of them (which the collector would scan).
        here = people.here
        written = self.cached(('groups of', column), lambda: list(each_group(here, column)))
        order = self.cached(('by group', column), lambda: sorted(range(len(here)), key=lambda i: in_order(written[i])))
        if not group:
            return self.cached(('listed', column), lambda: [here[i] for i in order])
        wanted = group_key(group)
        return self.cached(('group', column, group),
                           lambda: [here[i] for i in order if group_key(written[i]) == wanted])

    def groups(self, people, column):
        """Return the roster's groups, in order; none without a `column` of them."""
        return self.cached(('groups', column), lambda: sorted(groups(people.here, column), key=in_order)) \
            if column else []

    def group_named(self, people, column, wanted):
        """Return the roster's group that `wanted` names, as names compare;
        '' where none is wanted; NoSuchGroup where the roster has none such."""
        if not wanted:
            return ''
        found = {name_key(g): g for g in self.groups(people, column) if g}
        if name_key(wanted) not in found:
            raise NoSuchGroup(wanted, list(found.values()))
        return found[name_key(wanted)]

    def group(self, column, wanted):
        """Return the roster's group that `wanted` names, as group_named finds it, for the people as they are now."""
        with self.lock:
            return self.group_named(self.follow(), column, wanted)

    def among(self, people, column, group):
        """Return the folders of `group`; None (everyone) where none is asked for."""
        if not group:
            return None
        return self.cached(('folders', column, group),
                           lambda: frozenset(p.folder for p in self.members(people, column, group)))

    def follow(self):
        """Count what was handed in since last time; the people as they are now."""
        people = self.room.people()
        base = (self.room.stamp_of(DETAILS), self.room.stamp_of(REMOVED))
        if self.people is None:
            self.start(people, base)
        elif people.version != self.people.version or base != self.base:
            self.update(people, base)
        while True:
            # A batch at a time: the store's reader holds Python's lock while it reads.
            batch = self.room.store.answers(after=self.last, most=BATCH)
            for answer in batch:
                self.take(answer)
                if answer.person is None:
                    self.tries += 1
                    self.tried.append((cut(answer.typed), clock(answer.time), answer.client))
                self.last = answer.id
            if len(batch) < BATCH:
                break
        return people

    def board(self, query, page, column=None, group=None):
        """Return what the board's page shows: the counts, the passwords passed
        around, the latest names tried that nobody has, and the report's rows of
        page `page` of those that `query` finds (all where it is empty), with how
        many pages there are and which this is; sorted by the roster's `column`
        of groups where it has one, of `group` alone where one is asked for."""
        with self.lock:
            people = self.follow()
            group = self.group_named(people, column, group)
            among = self.among(people, column, group)
            found = self.search(self.members(people, column, group), query)
            pages = max(1, -(-len(found) // PAGE))
            page = min(max(1, page), pages)
            order, label = self.made_once('order'), self.made_once('label')
            received = grading.passed_to(self.result)
            listed = found[(page - 1) * PAGE:page * PAGE]
            shown = [grading.report_row(p, self.result, label, order, received) for p in listed]
            passed = grading.passed_around(self.result, label, order, PASSED, among)
            passes = grading.passed_count(self.result, among)
            counts = self.counts(people, among)
            tried, tries = list(reversed(self.tried)), self.tries
            all_groups = self.groups(people, column)
        downloads = self.room.store.downloads([r.folder for r in shown] + [r.name for r in shown])
        room_clock, extras = self.room.store.clock(), self.room.store.extras()
        lines = []
        for row, person in zip(shown, listed):
            extra = extras.get(row.folder, 0)
            lines.append(Line(row, clock(row.solved_at), clock(downloads.get(row.folder) or downloads.get(row.name)),
                              row.solved_at is not None and room_clock.late(row.solved_at, extra), extra,
                              times.clock(room_clock.closing(extra), seconds=False) if extra else '',
                              group_of(person, column)))
        return {'report': lines, 'pages': pages, 'page': page, 'counts': counts, 'passed': passed, 'passes': passes,
                'tried': tried, 'tries': tries, 'groups': all_groups, 'group': group}

    def wall(self, column=None, group=None):
        """Return what the wall shows: the counts, when each person of the set
        (of `group` alone, where asked) first solved, in order, and the group
        as the roster writes it; no names, nothing typed."""
        with self.lock:
            people = self.follow()
            group = self.group_named(people, column, group)
            among = self.among(people, column, group)
            members = self.found.people
            solved = sorted(at for f, at in self.result.solved.items()
                            if at and (among is None or f in among) and not members.folder(f).removed)
            return self.counts(people, among), solved, group

    def counts(self, people, among=None):
        """solved, wrong and none among the people of the set (those of the
        folders `among`, where given), and their answers in all."""
        members = self.found.people

        def counted(folder):
            return (among is None or folder in among) and not members.folder(folder).removed
        answered = {f: n for f, n in self.result.counts.items() if counted(f)}
        solved = sum(1 for f in self.result.solved if counted(f))
        wrong = sum(1 for f in answered if f not in self.result.solved)
        size = len(people.here) if among is None else len(among)
        return {'solved': solved, 'wrong': wrong, 'none': size - solved - wrong, 'people': size,
                'answers': sum(answered.values())}

    def search(self, people, query):
        """Return those of `people` whose name, or one of the roster's other columns
        (a group), holds `query` as people type it."""
        if not query:
            return list(people)
        wanted, keys, columns = name_key(query), self.made_once('keys'), self.made_once('columns')
        return [p for p in people if wanted in keys.get(p.folder, '')
                or any(wanted in value for value in columns.get(p.folder, ()))]
