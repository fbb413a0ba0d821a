"""`remove`: people out of a set, in place, all or nothing. Their program,
folder, key and place go; what they handed in stays in checkins.sqlite,
and OUT/removed.csv keeps who they were, so that grade reports them as
removed rather than dropping their answers."""
import dataclasses
import os
import time

from .appending import line, remove_people
from .details import DETAILS, one_person, read_details
from .errors import OK
from .files import records_of, table_text
from .rows import rows_text
from .set_folder import locked, read_set, sums_text
from .walkin_list import WALKINS, read_walk_ins, walk_ins_text

REMOVED = 'removed.csv'


@dataclasses.dataclass(frozen=True)
class Removed:
    name: str
    folder: str
    id: str = ''
    time: str = ''


def read_removed(out):
    return records_of(os.path.join(out, REMOVED), Removed)


def remove_command(out, wanted):
    with locked(out):
        details = read_details(out)
        gone = {}
        for text in wanted:
            row = one_person(out, details, text)
            gone[row.folder] = row
        unkeyed = ''.join(line([r.name, '', r.folder]) for r in gone.values())
        remove_people(out, removal_texts(out, details, gone), list(gone), unkeyed)
    for row in gone.values():
        print(f'removed {row.name} ({row.folder}): their link no longer works; what they handed in stays, '
              'and grade reports it as removed')
    return OK


def removal_texts(out, details, gone):
    """The set's files as they are without the people `gone` ({folder: row}),
    in the order they are put in place, answers.csv last. The records lose
    their lines, the rest of them as it was: what a page that reads the set
    knows of the others stays true."""
    stamp = time.strftime('%Y-%m-%d %H:%M:%S')
    removed = [dataclasses.astuple(r) for r in read_removed(out)]
    removed += [(r.name, r.folder, details.ids.get(r.folder, ''), stamp) for r in gone.values()]
    names = {r.name for r in gone.values()}
    texts = {}
    if os.path.exists(os.path.join(out, WALKINS)):
        texts[WALKINS] = walk_ins_text([w for w in read_walk_ins(out) if w.name not in names])
    for folder in gone:
        details.ids.pop(folder, None)
        details.values.pop(folder, None)
    if details.ids or details.columns:
        texts[DETAILS] = details.text()
    def kept():  # read only where a file is not as build writes it
        return [r for r in read_set(out, new_ok=False, records_only=True) if r.folder not in gone]
    sums = os.path.join('handout', 'SHA256SUMS')
    texts[sums] = without(out, sums, [f'{r.sha256}  {r.folder}/PassWord.exe\n' for r in gone.values()]) \
        or sums_text(kept())
    texts[REMOVED] = table_text(['name', 'folder', 'id', 'time'], removed)
    texts['answers.csv'] = without(out, 'answers.csv', [line(r.fields()) for r in gone.values()]) or rows_text(kept())
    return texts


def without(out, name, lines):
    """The text of a file of OUT less `lines`, each of which it holds once,
    as a line of its own; None where it does not."""
    try:
        with open(os.path.join(out, name), encoding='utf-8', newline='') as f:
            text = f.read()
    except FileNotFoundError:
        return None
    for cut in lines:
        at = text.find('\n' + cut) + 1
        if at == 0 or text.find('\n' + cut, at) != -1:
            return None
        text = text[:at] + text[at + len(cut):]
    return text
