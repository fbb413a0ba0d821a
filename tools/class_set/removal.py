"""`remove`: people out of a set, in place, all or nothing. Their program,
folder, key and place go; what they handed in stays in checkins.sqlite,
and OUT/removed.csv keeps who they were, so that grade reports them as
removed rather than dropping their answers."""
import dataclasses
import os
import time

from .appending import remove_people
from .details import DETAILS, person_named, read_details
from .errors import OK
from .files import records_of, table_text
from .keys import keys_text, new_key, read_keys
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
        rows, details = read_set(out, new_ok=False, records_only=True), read_details(out)
        gone = {}
        for text in wanted:
            row = person_named(rows, details, text)
            gone[row.folder] = row
        kept = [r for r in rows if r.folder not in gone]
        keys = read_keys(out, rows)
        remove_people(out, removal_texts(out, kept, keys, details, gone), list(gone))
    for row in gone.values():
        print(f'removed {row.name} ({row.folder}): their link no longer works; what they handed in stays, '
              'and grade reports it as removed')
    return OK


def removal_texts(out, kept, keys, details, gone):
    """The set's files as they are without the people `gone` ({folder: row}),
    in the order they are put in place: the keys first, so that a reader
    in between meets nobody's key whose row is gone; answers.csv last."""
    stamp = time.strftime('%Y-%m-%d %H:%M:%S')
    removed = [dataclasses.astuple(r) for r in read_removed(out)]
    removed += [(r.name, r.folder, details.ids.get(r.folder, ''), stamp) for r in gone.values()]
    names = {r.name for r in gone.values()}
    texts = {'keys.csv': keys_text(kept, {r.folder: keys.get(r.folder) or new_key() for r in kept})}
    if os.path.exists(os.path.join(out, WALKINS)):
        texts[WALKINS] = walk_ins_text([w for w in read_walk_ins(out) if w.name not in names])
    for folder in gone:
        details.ids.pop(folder, None)
        details.values.pop(folder, None)
    if details.ids or details.columns:
        texts[DETAILS] = details.text()
    texts[os.path.join('handout', 'SHA256SUMS')] = sums_text(kept)
    texts[REMOVED] = table_text(['name', 'folder', 'id', 'time'], removed)
    texts['answers.csv'] = rows_text(kept)
    return texts
