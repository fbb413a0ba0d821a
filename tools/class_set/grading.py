"""Grading the answers a group handed in: who found their own password, who
handed in nothing, and whose password was passed around."""
import collections
import csv
import dataclasses
import os
import sys
from typing import NamedTuple

from .checkins import Checkins
from .details import read_details
from .errors import OK, Refusal
from .files import as_text, column, inside, is_workbook, read_table, whole_file, workbook
from .language import N_, translations
from .names import CONTROL, name_key
from .removal import read_removed
from .set_folder import read_set
from .walkin_list import read_walk_ins



class Handed(NamedTuple):
    """An answer to grade: where it came from (a file's line, a check-in),
    the name given and the word; whose it is where that is known for sure
    (the folder of a personal link's owner) or claimed by an id column."""
    where: str
    name: str
    word: str
    folder: str = ''
    id: str = ''


REPORT = ['name', 'folder', 'result', 'answers', 'answered_by', 'handed_in_others', 'others_handed_in_theirs',
          'claimed_by_name', 'walk_in']
NOT_LISTED, REMOVED = 'not on the list', 'removed'


# The report's words for people (its spreadsheet, the board); its CSV keeps them as they are, for programs.
WORDS = {'solved': N_('solved'), 'wrong': N_('wrong'), 'none': N_('none'), NOT_LISTED: N_('not on the list'),
         REMOVED: N_('removed'), 'link': N_('link'), 'name': N_('name'), 'yes': N_('yes')}
HEADERS = {'name': N_('Name'), 'folder': N_('Folder'), 'result': N_('Result'), 'answers': N_('Answers'),
           'answered_by': N_('Answered by'), 'handed_in_others': N_("Handed in others'"),
           'others_handed_in_theirs': N_('Others handed in theirs'), 'claimed_by_name': N_('Claimed by name'),
           'walk_in': N_('Walk-in'), 'solved_at': N_('Solved at'), 'downloaded': N_('Downloaded')}


def words(gettext):
    return {key: gettext(word) for key, word in WORDS.items()}


def report_workbook(report, columns, gettext):
    """The report as a spreadsheet for people: headers and words in their
    language, counts as numbers, times as times."""
    said = words(gettext)
    header = [gettext(HEADERS[c]) if c in HEADERS else c for c in columns]
    rows = [[', '.join(said.get(w, w) for w in row.get(c, '').split(', ')) if c in ('result', 'answered_by', 'walk_in')
             and isinstance(row.get(c), str) else row.get(c, '') for c in columns] for row in report]
    return workbook(gettext('Report'), header, rows)


def read_answers(path, name_column, word_column, encoding=None, id_column=None):
    """[Handed] from a table as forms and spreadsheets export it (see
    files.read_table), with a header row."""
    table = read_table(path, encoding, 'answers')
    header = table[0][1]
    name_at, word_at = (column(header, wanted, f'{path}:1') for wanted in (name_column, word_column))
    id_at = column(header, id_column, f'{path}:1') if id_column else None
    return [Handed(f'{path}:{line}', fields[name_at], fields[word_at], id=fields[id_at].strip() if id_column else '')
            for line, fields in table[1:]]


@dataclasses.dataclass
class Tally:
    """What the answers said of each person (by folder) and of the names
    nobody on the list has."""
    counts: collections.Counter = dataclasses.field(default_factory=collections.Counter)
    solved: set = dataclasses.field(default_factory=set)
    handed_in: dict = dataclasses.field(default_factory=dict)  # folder: {folders of others' passwords}
    claimed: dict = dataclasses.field(default_factory=dict)  # the same, by name only: unconfirmed
    ways: dict = dataclasses.field(default_factory=dict)  # folder: {'link', 'name'}
    others: collections.Counter = dataclasses.field(default_factory=collections.Counter)  # (result, name): answers
    strangers: list = dataclasses.field(default_factory=list)


def shown(name):
    """Typed by anyone: no escape sequence reaches the organiser's terminal."""
    return CONTROL.sub(lambda c: f'\\x{ord(c.group()):02x}', name.strip())


@dataclasses.dataclass
class Lookup:
    """The set as answers are matched to it: its rows under each name as
    people type it, by folder, by password and by id; who was removed."""
    people: dict
    by_folder: dict
    owner: dict
    by_id: dict
    gone: set


def lookup(rows, ids, removed, people=None):
    """`people`: the rows by name_key where the caller has them already."""
    if people is None:
        people = {}
        for row in rows:
            people.setdefault(name_key(row.name), []).append(row)
    by_folder = {row.folder: row for row in rows}
    return Lookup(people, by_folder, {row.password: row for row in rows},
                  {ids[f]: row for f, row in by_folder.items() if ids.get(f)} if ids else {},
                  {r.folder for r in removed} | {name_key(r.name) for r in removed})


def whose(answer, found):
    """The row an answer is for, or why there is none: 'ambiguous', REMOVED, NOT_LISTED."""
    if answer.folder:  # through a personal link: sure
        return found.by_folder.get(answer.folder) or (REMOVED if answer.folder in found.gone else NOT_LISTED)
    if answer.id and answer.id in found.by_id:
        return found.by_id[answer.id]
    matched = found.people.get(name_key(answer.name), [])
    if len(matched) == 1:
        return matched[0]
    if matched:
        return 'ambiguous'
    return REMOVED if name_key(answer.name) in found.gone else NOT_LISTED


def count(result, found, answer, trust_names=False):
    """One answer [Handed] into the Tally."""
    row = whose(answer, found)
    if isinstance(row, str):
        if row == 'ambiguous':
            result.strangers.append(f'{answer.where}: "{shown(answer.name)}" matches more than one person')
            return
        if row == NOT_LISTED:
            result.strangers.append(f'{answer.where}: "{shown(answer.name)}" matches nobody in the set')
        result.others[(row, answer.name.strip())] += 1
        return
    result.counts[row.folder] += 1
    result.ways.setdefault(row.folder, set()).add('link' if answer.folder else 'name')
    theirs = found.owner.get(answer.word.strip())
    if theirs is not None and theirs.folder == row.folder:
        result.solved.add(row.folder)
    elif theirs is not None:
        # Anyone can type anyone's name: only a link says who handed it in.
        proof = result.handed_in if answer.folder or trust_names else result.claimed
        proof.setdefault(row.folder, set()).add(theirs.folder)


def labels(rows):
    """{folder: how the report names the person}: the name, or for a
    namesake the folder, which tells them apart."""
    named = collections.Counter(row.name for row in rows)
    return {row.folder: row.name if named[row.name] == 1 else row.folder for row in rows}


def report_row(row, result, label, order, walked_in):
    """The report's row of one person."""
    f = row.folder
    outcome = 'solved' if f in result.solved else 'wrong' if result.counts[f] else 'none'
    theirs = sorted(result.handed_in.get(f, ()), key=order.get)
    by_others = sorted((p for p, folders in result.handed_in.items() if f in folders), key=order.get)
    return {'name': row.name, 'folder': f, 'result': outcome, 'answers': result.counts[f],
            'answered_by': ', '.join(sorted(result.ways.get(f, ()))),
            'handed_in_others': '; '.join(label[p] for p in theirs),
            'others_handed_in_theirs': '; '.join(label[p] for p in by_others),
            'claimed_by_name': '; '.join(label[p] for p in sorted(result.claimed.get(f, ()), key=order.get)),
            'walk_in': 'yes' if row.name in walked_in else ''}


def passed_around(result, label, order):
    """[(who, whose, proven through a link)] of each password passed around."""
    return [(label[a], label[b], proven) for proven, pairs in ((True, result.handed_in), (False, result.claimed))
            for a in sorted(pairs, key=order.get) for b in sorted(pairs[a], key=order.get)]


def grade(rows, answers, ids=None, removed=(), walk_ins=(), trust_names=False):
    """For [Handed] against the set's rows: the report's rows (the people,
    then the removed and the names on nobody's list that answered), and for
    the summary the counts of each result, each password passed around
    (who, whose, proven through a link), and the answers that matched
    nobody or more than one person."""
    found, result = lookup(rows, ids or {}, removed), Tally()
    for answer in answers:
        count(result, found, answer, trust_names)
    order, label, walked_in = {row.folder: i for i, row in enumerate(rows)}, labels(rows), set(walk_ins)
    report = [report_row(row, result, label, order, walked_in) for row in rows]
    report += [dict.fromkeys(REPORT, '') | {'name': shown(name), 'result': outcome, 'answers': n}
               for (outcome, name), n in result.others.items()]
    counts = ', '.join(f'{sum(r["result"] == outcome for r in report)} {outcome}' for outcome in ('solved', 'wrong', 'none'))
    return report, counts, passed_around(result, label, order), result.strangers


def passed_line(by, whose, proven):
    """A password passed around, as the summary says it."""
    if proven:
        return f"{by} handed in {whose}'s password"
    return f"unconfirmed, by name: {by}'s name came with {whose}'s password"


def write_report(report, output, out, columns=(), language='en'):
    """To standard output, or whole to `output`: an .xlsx workbook where its
    name ends so, else CSV."""
    if is_workbook(output):
        with whole_file(output, out, binary=True) as f:
            f.write(report_workbook(report, REPORT + list(columns), translations(language).gettext))
        return
    with whole_file(output or '-', out) as f:
        writer = csv.DictWriter(f, REPORT + list(columns), lineterminator='\r\n' if f is not sys.stdout else '\n')
        writer.writeheader()
        writer.writerows(as_text(row) for row in report)


def from_store(answers):
    """[Handed] of answers kept by serve: by name as typed, or for sure
    through a personal link."""
    return [Handed(f'check-in {a.id}', a.typed, a.word, (a.folder or '') if a.via == 'link' else '')
            for a in answers]


def checked_in(out):
    """[Handed] through serve, from OUT/checkins.sqlite."""
    try:
        store = Checkins(out, create=False)
    except FileNotFoundError:
        raise Refusal(f'{out}: no check-ins yet (checkins.sqlite is made by serve)')
    return from_store(store.answers())


def graded(out, rows, answers, trust_names=False):
    """grade's report with the roster's other columns, for the set OUT."""
    details, removed = read_details(out), read_removed(out)
    report, counts, passed, strangers = grade(rows, answers, details.ids, removed,
                                              [w.name for w in read_walk_ins(out)], trust_names)
    for row in report:
        row.update(details.of(row['folder']))
    return report, counts, passed, strangers, details.columns


def grade_command(out, answers_path, name_column, word_column, output, from_checkins=False, encoding=None,
                  id_column=None, trust_names=False, language='en'):
    rows = read_set(out, new_ok=False)
    if from_checkins:
        answers = checked_in(out)
    else:
        if inside(answers_path, out):
            raise Refusal(f'{answers_path}: a file of the set itself, not the answers handed in')
        answers = read_answers(answers_path, name_column, word_column, encoding, id_column)
    if output is not None and os.path.realpath(output) == os.path.realpath(answers_path or os.devnull):
        raise Refusal(f'{output}: that is the answers file itself')
    report, counts, passed, strangers, columns = graded(out, rows, answers, trust_names)
    write_report(report, output, out, columns, language)
    print('\n'.join([counts, *(passed_line(*p) for p in passed), *strangers]), file=sys.stderr)
    return OK
