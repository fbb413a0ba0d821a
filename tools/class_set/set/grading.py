"""Grading the answers a group handed in: who found their own password, who
handed in nothing, and whose password was passed around, for the people of
the set and those removed from it, each judged against the password they
had when they answered."""
import collections
import dataclasses
import enum
from typing import NamedTuple

from .. import times
from ..names import CONTROL, name_key
from .details import told_apart
from .store import Via



class Nobody(enum.Enum):
    """Why an answer is for no one person."""
    AMBIGUOUS = 'ambiguous'
    NOT_LISTED = 'not on the list'


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
        return Via.LINK if self.folder else Via.NAME


class Member(NamedTuple):
    """Someone answers can be for: a person of the set, or one removed
    (`removed`: when, as removed.csv says it; `until`: the same as a time).
    A tuple: a big room makes one for everyone on every recount."""
    name: str
    folder: str
    password: str
    removed: str = ''
    until: float | None = None


def removal_time(text):
    """Seconds since the epoch of a removal's time in removed.csv; None where it says none."""
    found = times.read(text)
    return found and found.timestamp()


@dataclasses.dataclass
class Lookup:
    """The people as answers are matched to them: the set's rows by name as
    people type it (`by_key`) and those removed (`gone_by_key`), everyone by
    folder, whose password each word is (`owners`) and was until when
    (`owned`), and by id (made where first asked for)."""
    members: list
    by_key: dict
    gone_by_key: dict
    by_folder: dict
    owners: dict
    owned: dict
    ids: dict
    removed: list
    made_by_id: dict = None

    @property
    def by_id(self):
        if self.made_by_id is None:
            self.made_by_id = {i: self.by_folder[f] for f, i in self.ids.items() if i and f in self.by_folder}
            self.made_by_id.update((r.id, self.by_folder[r.folder]) for r in self.removed
                                   if r.id and r.folder in self.by_folder and self.by_folder[r.folder].removed)
        return self.made_by_id


def lookup(rows, ids, removed, people=None):
    """The set's rows, and those removed and not back. `people`: the rows
    by name_key, where the caller has them already."""
    here = [Member(r.name, r.folder, r.password) for r in rows]
    by_folder = {m.folder: m for m in here}
    gone = {}
    for r in removed:  # the last removal of a folder says most
        if r.folder not in by_folder:
            gone[r.folder] = Member(r.name, r.folder, r.password, r.time or '?', removal_time(r.time))
    if people is None:
        people = {}
        for row in rows:
            people.setdefault(name_key(row.name), []).append(row)
    gone_by_key, owned = {}, {}
    for m in gone.values():
        gone_by_key.setdefault(name_key(m.name), []).append(m)
        if m.password:
            owned.setdefault(m.password, []).append(m)
    for r in removed:  # a password someone had before being removed and brought back with another
        if r.folder in by_folder and r.password and r.password != by_folder[r.folder].password:
            owned.setdefault(r.password, []).append(Member(r.name, r.folder, r.password, r.time,
                                                           removal_time(r.time)))
    owners = {m.password: m for m in here}
    by_folder.update(gone)
    return Lookup(here + list(gone.values()), people, gone_by_key, by_folder, owners, owned, ids, list(removed))


def whose(answer, found):
    """The Member an answer is for, or the Nobody why there is none."""
    if answer.folder:  # through a personal link: sure
        return found.by_folder.get(answer.folder, Nobody.NOT_LISTED)
    if answer.id and answer.id in found.by_id:
        return found.by_id[answer.id]
    key = name_key(answer.name)
    # The set's before those removed; .get: a walk-in may join the rows before they are counted afresh.
    matched = [found.by_folder[r.folder] for r in found.by_key.get(key, ()) if r.folder in found.by_folder] \
        or found.gone_by_key.get(key, [])
    if len(matched) == 1:
        return matched[0]
    return Nobody.AMBIGUOUS if matched else Nobody.NOT_LISTED


def owner(found, word, at):
    """The Member whose password `word` is, or was at time `at` (any time
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
    nobody on the list has."""
    counts: collections.Counter = dataclasses.field(default_factory=collections.Counter)
    solved: dict = dataclasses.field(default_factory=dict)  # folder: when first (None: not known)
    handed_in: dict = dataclasses.field(default_factory=dict)  # folder: {folders of others' passwords}
    claimed: dict = dataclasses.field(default_factory=dict)  # the same, by name only: unconfirmed
    ways: dict = dataclasses.field(default_factory=dict)  # folder: {Via}
    others: collections.Counter = dataclasses.field(default_factory=collections.Counter)  # name: answers
    strangers: list = dataclasses.field(default_factory=list)


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
    """One answer (Handed) of `member` into the Tally."""
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
    return 'solved' if folder in result.solved else 'wrong' if result.counts[folder] else 'none'


def passed_to(result):
    """{folder: the folders of those who handed in their password}."""
    found = {}
    for by, folders in result.handed_in.items():
        for folder in folders:
            found.setdefault(folder, set()).add(by)
    return found


def report_row(member, result, label, order, walked_in, received):
    """The report's row of one person (a Member): a dict by the report's
    columns, and 'label'; `received`: passed_to's."""
    f = member.folder
    theirs = sorted(result.handed_in.get(f, ()), key=order.get)
    by_others = sorted(received.get(f, ()), key=order.get)
    ways = sorted(w.value for w in result.ways.get(f, ()))
    return {'name': member.name, 'label': label[f], 'folder': f, 'result': outcome(result, f),
            'answers': result.counts[f], 'ways': ways, 'answered_by': ', '.join(ways),
            'handed_in_others': '; '.join(label[p] for p in theirs),
            'others_handed_in_theirs': '; '.join(label[p] for p in by_others),
            'claimed_by_name': '; '.join(label[p] for p in sorted(result.claimed.get(f, ()), key=order.get)),
            'walk_in': 'yes' if name_key(member.name) in walked_in else '', 'removed': times.kept(member.removed),
            'solved_at': result.solved.get(f)}


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


def passed_around(result, label, order, most=None):
    """[Passed] of each password passed around (the first `most`), in the
    set's order: proven first, then claimed."""
    pairs = [(proven, a, b) for proven, passed in ((True, result.handed_in), (False, result.claimed))
             for a in sorted(passed, key=order.get) for b in sorted(passed[a], key=order.get)]
    return [Passed(label[a], label[b], proven) for proven, a, b in pairs[:most]]


def passed_count(result):
    """How many passwords were passed around, proven or claimed."""
    return sum(len(folders) for passed in (result.handed_in, result.claimed) for folders in passed.values())


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
        """Each result among the people of the set, and how many people,
        removed, answers, and names on nobody's list that answered."""
        here = [r for r in self.rows if r['folder'] and not r['removed']]
        found = {outcome: sum(r['result'] == outcome for r in here) for outcome in ('solved', 'wrong', 'none')}
        return found | {'removed': sum(1 for r in self.rows if r['removed']), 'people': len(here),
                        'answers': sum(r['answers'] for r in self.rows),
                        'not on the list': sum(1 for r in self.rows if not r['folder'])}

    def summary(self):
        """solved, wrong and none among the people of the set (and how many removed)."""
        counts = self.counts()
        said = ', '.join(f'{counts[outcome]} {outcome}' for outcome in ('solved', 'wrong', 'none'))
        return said + (f', {counts["removed"]} removed' if counts['removed'] else '')


def grade(rows, answers, details, removed=(), walk_ins=(), trust_names=False):
    """A Grade of [Handed] against the set's rows and those removed."""
    found, result = lookup(rows, details.ids, removed), Tally()
    for answer in answers:
        count(result, found, answer, trust_names)
    members = found.members
    order, label = {m.folder: i for i, m in enumerate(members)}, told_apart(members, details)
    walked_in = {name_key(name) for name in walk_ins}
    received = passed_to(result)
    report = [report_row(m, result, label, order, walked_in, received) for m in members]
    report += [{'name': for_terminal(name), 'label': for_terminal(name), 'folder': '', 'result': Nobody.NOT_LISTED.value,
                'answers': n, 'removed': ''} for name, n in result.others.items()]
    return Grade(report, passed_around(result, label, order), result.strangers)


def from_store(answers):
    """[Handed] of answers kept by serve: by name as typed, or for sure
    through a personal link; judged then against the person they matched."""
    return [Handed(f'check-in {a.id}', a.typed, a.word, (a.folder or '') if a.via is Via.LINK else '', time=a.time,
                   matched=a.folder, correct=a.correct) for a in answers]


