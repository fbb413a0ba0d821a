"""Grading the answers a group handed in: who found their own password, who
handed in nothing, and whose password was passed around."""
import csv
import io
import os
import sys
from typing import NamedTuple

from .checkins import Checkins
from .errors import OK, Refusal
from .files import as_text, inside, read_text, whole_file
from .names import CONTROL, name_key
from .set_folder import read_set



class Handed(NamedTuple):
    """An answer to grade: where it came from (a file's line, a check-in),
    the name given and the word."""
    where: str
    name: str
    word: str


REPORT = ['name', 'folder', 'result', 'answers', 'handed_in_others', 'others_handed_in_theirs']


def read_answers(path, name_column, word_column, encoding=None):
    """[Handed] from a CSV file as forms and spreadsheets export
    it: UTF-8 with or without a byte order mark, UTF-16 with one, or the
    encoding given; comma, semicolon or tab separated, with a header row."""
    text = read_text(path, encoding, 'answers')
    if not text.strip():
        raise Refusal(f'{path}:1: empty, not even a header row')
    first = text.splitlines()[0]
    delimiter = max(',;\t', key=lambda d: len(next(csv.reader([first], delimiter=d))))
    reader = csv.reader(io.StringIO(text, newline=''), delimiter=delimiter)
    try:
        header = [h.strip().casefold() for h in next(reader)]
        columns = []
        for wanted in (name_column, word_column):
            if wanted.strip().casefold() not in header:
                raise Refusal(f'{path}:1: no column "{wanted}"; the header has: '
                              + ', '.join(f'"{h}"' for h in next(csv.reader([first], delimiter=delimiter))))
            columns.append(header.index(wanted.strip().casefold()))
        answers, line = [], reader.line_num + 1
        for record in reader:
            if any(field.strip() for field in record):
                fields = record + [''] * (len(header) - len(record))
                answers.append(Handed(f'{path}:{line}', fields[columns[0]], fields[columns[1]]))
            line = reader.line_num + 1
    except csv.Error as e:
        raise Refusal(f'{path}:{reader.line_num}: not CSV ({e})')
    return answers


def grade(rows, answers):
    """For [Handed] against the set's rows: the
    report's rows, and for the summary the counts of each result, each
    password passed around, and the answers that matched nobody or more
    than one person."""
    people = {}
    for row in rows:
        people.setdefault(name_key(row.name), []).append(row)
    owner = {row.password: row for row in rows}
    counts = {row.name: 0 for row in rows}
    solved, handed_in, strangers = set(), {}, []
    for where, name, word in answers:
        matched = people.get(name_key(name), [])
        if len(matched) != 1:
            # Typed by anyone: no escape sequence reaches the organiser's terminal.
            shown = CONTROL.sub(lambda c: f'\\x{ord(c.group()):02x}', name.strip())
            strangers.append(f'{where}: "{shown}" '
                             + ('matches more than one person' if matched else 'matches nobody in the set'))
            continue
        person = matched[0].name
        counts[person] += 1
        theirs = owner.get(word.strip())
        if theirs is None:
            continue
        if theirs.name == person:
            solved.add(person)
        else:
            handed_in.setdefault(person, set()).add(theirs.name)
    order = {row.name: i for i, row in enumerate(rows)}
    report = []
    for row in rows:
        name = row.name
        result = 'solved' if name in solved else 'wrong' if counts[name] else 'none'
        theirs = sorted(handed_in.get(name, ()), key=order.get)
        by_others = sorted((p for p, names in handed_in.items() if name in names), key=order.get)
        report.append({'name': name, 'folder': row.folder, 'result': result, 'answers': counts[name],
                       'handed_in_others': '; '.join(theirs), 'others_handed_in_theirs': '; '.join(by_others)})
    counts = ', '.join(f'{sum(r["result"] == result for r in report)} {result}' for result in ('solved', 'wrong', 'none'))
    passed = [f"{a} handed in {b}'s password"
              for a in sorted(handed_in, key=order.get) for b in sorted(handed_in[a], key=order.get)]
    return report, counts, passed, strangers


def write_report(report, output, out):
    """To standard output, or whole to `output`."""
    with whole_file(output or '-', out) as f:
        writer = csv.DictWriter(f, REPORT, lineterminator='\r\n' if f is not sys.stdout else '\n')
        writer.writeheader()
        writer.writerows(as_text(row) for row in report)


def checked_in(out):
    """[Handed] through serve, from OUT/checkins.sqlite."""
    try:
        store = Checkins(out, create=False)
    except FileNotFoundError:
        raise Refusal(f'{out}: no check-ins yet (checkins.sqlite is made by serve)')
    return [Handed(f'check-in {a.id}', a.typed, a.word) for a in store.answers()]


def grade_command(out, answers_path, name_column, word_column, output, from_checkins=False, encoding=None):
    rows = read_set(out, new_ok=False)
    if from_checkins:
        answers = checked_in(out)
    else:
        if inside(answers_path, out):
            raise Refusal(f'{answers_path}: a file of the set itself, not the answers handed in')
        answers = read_answers(answers_path, name_column, word_column, encoding)
    if output is not None and os.path.realpath(output) == os.path.realpath(answers_path or os.devnull):
        raise Refusal(f'{output}: that is the answers file itself')
    report, counts, passed, strangers = grade(rows, answers)
    write_report(report, output, out)
    print('\n'.join([counts, *passed, *strangers]), file=sys.stderr)
    return OK
