"""`remove`: people out of a set, in its one-step swap. Their program,
folder, key and place go; what they handed in stays in checkins.sqlite,
and OUT/removed.csv keeps who they were, so that grade reports them as
removed rather than dropping their answers."""
import dataclasses
import os
import time

from .details import DETAILS, person_named, read_details
from .errors import OK
from .files import records_of, table_text, write_new
from .keys import new_key, read_keys, write_keys
from .set_folder import locked, program_path, read_set, write_set
from .swap import replacing
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
        rows, details = read_set(out, new_ok=False), read_details(out)
        gone = {}
        for text in wanted:
            row = person_named(rows, details, text)
            gone[row.folder] = row
        kept = [r for r in rows if r.folder not in gone]
        keys = read_keys(out, rows)
        stamp = time.strftime('%Y-%m-%d %H:%M:%S')
        removed = [dataclasses.astuple(r) for r in read_removed(out)]
        removed += [(r.name, r.folder, details.ids.get(r.folder, ''), stamp) for r in gone.values()]
        names = {r.name for r in gone.values()}
        files = {REMOVED: table_text(['name', 'folder', 'id', 'time'], removed)}
        if os.path.exists(os.path.join(out, WALKINS)):
            files[WALKINS] = walk_ins_text([w for w in read_walk_ins(out) if w.name not in names])
        for folder in gone:
            details.ids.pop(folder, None)
            details.values.pop(folder, None)
        if details.ids or details.columns:
            files[DETAILS] = details.text()
        with replacing(out) as new:
            write_set(new, kept, {r.folder: program_path(out, r) for r in kept})
            write_keys(new, kept, {r.folder: keys.get(r.folder) or new_key() for r in kept})
            for name, text in files.items():
                write_new(os.path.join(new, name), text)
    for row in gone.values():
        print(f'removed {row.name} ({row.folder}): their link no longer works; what they handed in stays, '
              'and grade reports it as removed')
    return OK
