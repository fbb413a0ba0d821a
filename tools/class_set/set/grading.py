"""Grading the answers a group handed in: who found their own password, who
handed in nothing, and whose password was passed around, for the people of
the set and those removed from it, each judged against the password they
had when they answered."""
import collections
import dataclasses
import enum
from typing import NamedTuple

from .. import times
from ..names import CONTROL
from .people import People, Person, gone, labels
from .store import Via



class Nobody(enum.Enum):
    """Why an answer is for no one person."""
    AMBIGUOUS = 'ambiguous'
    NOT_LISTED = 'not on the list'


class Result(enum.Enum):
    """What a person's answers came to; a name on nobody's list has its own."""
    SOLVED = 'solved'
    WRONG = 'wrong'
    NONE = 'none'
    NOT_LISTED = 'not on the list'


@dataclasses.dataclass(frozen=True)
class Row:
    """The report's row of a person, or of a name on nobody's list that
    answered (`folder` ''): how they are shown, what their answers came
    to, how many and how they came (`ways`: Via), whose passwords they
    handed in and who handed in theirs (by their labels), whether a
    walk-in, when removed (an instant, '?' where not kept, None while in
    the set), and when they first solved it (seconds since the epoch)."""
    name: str
    label: str
    folder: str
    result: Result
    answers: int
    ways: tuple = ()
    handed_in_others: str = ''
    others_handed_in_theirs: str = ''
    claimed_by_name: str = ''
    walk_in: bool = False
    removed: object = None
    solved_at: float | None = None

    @property
    def answered_by(self):
        """How their answers came, in words: link, name."""
        return ', '.join(way.value for way in self.ways)


class Handed(NamedTuple):
    """An answer to grade: where it came from (a file's line, a check-in),
    the name given and the word; whose it is where that is known for sure
    (the folder of a personal link's owner) or claimed by an id column;
    for a check-in, when, the person it was for then and whether it was
    theirs then. A tuple: the board keeps one for every answer."""
    where: str
    name: str
    word: str
    folder: str = ''
    id: str = ''
    time: float | None = None
    matched: str | None = None
    correct: bool | None = None

    @property
    def via(self):
        """How the answer came: through a link where the folder is known, else by name."""
        return Via.LINK if self.folder else Via.NAME


@dataclasses.dataclass
class Lookup:
    """The people as answers are matched to them (People: the set's, and
    those removed and not back), whose password each word is (`owners`)
    and was until when (`owned`: Persons as they were when they went)."""
    people: People
    owners: dict[str, Person]
    owned: dict[str, list[Person]]

    @property
    def members(self):
        """Everyone answers can be for: the set's people in its order, then those removed."""
        return list(self.people.here) + list(self.people.gone_by_folder.values())


def lookup(people, removed=()):
    """Return the Lookup of People; `removed`: removed.csv's lines, for the
    passwords that people restored with another one had before."""
    owned = {}
    for p in people.gone_by_folder.values():
        if p.password:
            owned.setdefault(p.password, []).append(p)
    for r in removed:
        here = people.by_folder.get(r.folder)
        if here is not None and r.password and r.password != here.password:
            owned.setdefault(r.password, []).append(gone(r))
    return Lookup(people, {p.password: p for p in people.here}, owned)


def whose(answer, found):
    """Return the Person an answer is for, or the Nobody why there is none."""
    if answer.folder:  # through a personal link: sure
        return found.people.folder(answer.folder) or Nobody.NOT_LISTED
    if answer.id and answer.id in found.people.by_id:
        return found.people.by_id[answer.id]
    matched = found.people.named(answer.name)  # the set's, else those removed
    if len(matched) == 1:
        return matched[0]
    return Nobody.AMBIGUOUS if matched else Nobody.NOT_LISTED


def owner(found, word, at):
    """Return the Person whose password `word` is, or was at time `at` (any time
    where not known); a removal is stamped to the second."""
    word = word.strip()
    if word in found.owners:
        return found.owners[word]
    for m in found.owned.get(word, ()):
        if at is None or at < m.until + 1:
            return m
    return None


@dataclasses.dataclass
class Tally:
    """What the answers said of each person (by folder) and of the names
    nobody on the list has: each person's answers, when they first solved
    it (None where not known), the folders of others' passwords they
    handed in through their link (`handed_in`) or that came by their name
    (`claimed`: unconfirmed), how their answers came, the answers under
    each name on nobody's list, and a line for each answer that matched
    nobody or more than one person."""
    counts: collections.Counter[str] = dataclasses.field(default_factory=collections.Counter)
    solved: dict[str, float | None] = dataclasses.field(default_factory=dict)
    handed_in: dict[str, set[str]] = dataclasses.field(default_factory=dict)
    claimed: dict[str, set[str]] = dataclasses.field(default_factory=dict)
    ways: dict[str, set[Via]] = dataclasses.field(default_factory=dict)
    others: collections.Counter[str] = dataclasses.field(default_factory=collections.Counter)
    strangers: list[str] = dataclasses.field(default_factory=list)


def for_terminal(name):
    """Typed by anyone: no escape sequence reaches the organiser's terminal."""
    return CONTROL.sub(lambda c: f'\\x{ord(c.group()):02x}', name.strip())


def count(result, found, answer, trust_names=False):
    """One answer (Handed) into the Tally."""
    member = whose(answer, found)
    if member is Nobody.AMBIGUOUS:
        result.strangers.append(f'{answer.where}: "{for_terminal(answer.name)}" matches more than one person')
        return
    if member is Nobody.NOT_LISTED:
        result.strangers.append(f'{answer.where}: "{for_terminal(answer.name)}" matches nobody in the set')
        result.others[answer.name.strip()] += 1
        return
    credit(result, found, answer, member, trust_names)


def credit(result, found, answer, member, trust_names=False):
    """One answer (Handed) of `member` (a Person) into the Tally."""
    result.counts[member.folder] += 1
    result.ways.setdefault(member.folder, set()).add(answer.via)
    theirs = owner(found, answer.word, answer.time)
    own = answer.correct if answer.correct is not None and answer.matched == member.folder else \
        theirs is not None and theirs.folder == member.folder
    if own:
        if member.folder not in result.solved or (answer.time or 0) < (result.solved[member.folder] or 0):
            result.solved[member.folder] = answer.time
    elif theirs is not None and theirs.folder != member.folder:
        # Anyone can type anyone's name: only a link says who handed it in.
        proof = result.handed_in if answer.folder or trust_names else result.claimed
        proof.setdefault(member.folder, set()).add(theirs.folder)


def outcome(result, folder):
    """Return the Result of a person's answers, by their folder."""
    return Result.SOLVED if folder in result.solved else Result.WRONG if result.counts[folder] else Result.NONE


def passed_to(result):
    """Return {folder: the folders of those who handed in their password}."""
    found = {}
    for by, folders in result.handed_in.items():
        for folder in folders:
            found.setdefault(folder, set()).add(by)
    return found


def report_row(member, result, label, order, received):
    """Return the report's Row of one person (a Person); `received`: passed_to's."""
    f = member.folder
    theirs = sorted(result.handed_in.get(f, ()), key=order.get)
    by_others = sorted(received.get(f, ()), key=order.get)
    return Row(member.name, label[f], f, outcome(result, f), result.counts[f],
               tuple(sorted(result.ways.get(f, ()), key=lambda way: way.value)),
               '; '.join(label[p] for p in theirs), '; '.join(label[p] for p in by_others),
               '; '.join(label[p] for p in sorted(result.claimed.get(f, ()), key=order.get)), bool(member.walk_in),
               times.kept(member.removed) or None, result.solved.get(f))


@dataclasses.dataclass(frozen=True)
class Passed:
    """A password passed around: `by` handed in `whose`, proven through a link or claimed by name."""
    by: str
    whose: str
    proven: bool

    def __str__(self):
        if self.proven:
            return f"{self.by} handed in {self.whose}'s password"
        return f"unconfirmed, by name: {self.by}'s name came with {self.whose}'s password"


def passed_around(result, label, order, most=None, among=None):
    """Return [Passed] of each password passed around (the first `most`), in the
    set's order: proven first, then claimed; only those with one end `among`
    these folders (a group) where given."""
    pairs = [(proven, a, b) for proven, passed in ((True, result.handed_in), (False, result.claimed))
             for a in sorted(passed, key=order.get) for b in sorted(passed[a], key=order.get)
             if among is None or a in among or b in among]
    return [Passed(label[a], label[b], proven) for proven, a, b in pairs[:most]]


def passed_count(result, among=None):
    """Return how many passwords were passed around, proven or claimed (with one end `among` these folders)."""
    return sum(1 for passed in (result.handed_in, result.claimed) for a, folders in passed.items() for b in folders
               if among is None or a in among or b in among)


HERE = (Result.SOLVED, Result.WRONG, Result.NONE)  # what a person of the set's answers come to


@dataclasses.dataclass
class Grade:
    """What the answers said: the report's rows (the people, then those
    removed, then the names on nobody's list that answered), each
    password passed around, and the answers that matched nobody or more
    than one person."""
    rows: list
    passed: list
    strangers: list

    def counts(self):
        """Return each result among the people of the set, and how many people,
        removed, answers, and names on nobody's list that answered."""
        here = [r for r in self.rows if r.folder and not r.removed]
        found = {result.value: sum(r.result is result for r in here) for result in HERE}
        return found | {'removed': sum(1 for r in self.rows if r.removed), 'people': len(here),
                        'answers': sum(r.answers for r in self.rows),
                        'not on the list': sum(1 for r in self.rows if not r.folder)}

    def cut(self, folders):
        """Return the Grade of those `folders` alone: their rows, and the
        passwords passed around by them or theirs."""
        rows = [r for r in self.rows if r.folder in folders]
        shown = {r.label for r in rows}
        return Grade(rows, [p for p in self.passed if p.by in shown or p.whose in shown], [])

    def summary(self):
        """solved, wrong and none among the people of the set (and how many removed)."""
        counts = self.counts()
        said = ', '.join(f'{counts[result.value]} {result.value}' for result in HERE)
        return said + (f', {counts["removed"]} removed' if counts['removed'] else '')


def grade(people, answers, removed=(), trust_names=False):
    """Return a Grade of [Handed] against People; `removed`: removed.csv's lines."""
    found, result = lookup(people, removed), Tally()
    for answer in answers:
        count(result, found, answer, trust_names)
    members = found.members
    order, label = {m.folder: i for i, m in enumerate(members)}, labels(members)
    received = passed_to(result)
    report = [report_row(m, result, label, order, received) for m in members]
    report += [Row(for_terminal(name), for_terminal(name), '', Result.NOT_LISTED, n) for name, n in result.others.items()]
    return Grade(report, passed_around(result, label, order), result.strangers)


def from_store(answers):
    """Return [Handed] of answers kept by serve: by name as typed, or for sure
    through a personal link; judged then against the person they matched."""
    return [Handed(f'check-in {a.id}', a.typed, a.word, (a.folder or '') if a.via is Via.LINK else '', time=a.time,
                   matched=a.folder, correct=a.correct) for a in answers]


