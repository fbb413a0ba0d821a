"""People's programs written and put into a set."""


import shutil

from ..errors import Refusal
from ..set.details import write_details
from ..set.folder import program_path, write_set
from ..set.in_place import add_person
from ..set.keys import new_key, read_keys, write_keys
from ..set.swap import replacing
from ..set.walkins import WalkIn
from .compiling import work_folder
from .template import write_programs


def add_people(out, rows, added, jobs, details=None):
    """Write the programs of `added` (rows without a sha256 yet), and swap
    in the set with them and, where given, these Details; return the
    added rows, complete."""
    work, lock = work_folder()
    try:
        added, written = write_programs(work, added, jobs)
        programs = {r.folder: program_path(out, r) for r in rows}
        programs.update((row.folder, path) for row, path in zip(added, written))
        with replacing(out) as new:
            write_set(new, rows + added, programs)
            keys = read_keys(out, rows)
            write_keys(new, rows + added, {r.folder: keys.get(r.folder) or new_key() for r in rows + added})
            if details is not None:
                write_details(new, details, new=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
        lock.close()
    return added


def place(out, row, jobs, walk_in=None):
    """Return (row, key): someone's program written and added in place, at the
    cost of one person however large the set, with a new key; `walk_in`: when
    and from where they enrolled, for a walk-in. Call with the set locked."""
    work, lock = work_folder()
    try:
        [written], [program] = write_programs(work, [row], jobs)
        if row.sha256 and written.sha256 != row.sha256:
            raise Refusal(f'the program written for "{row.name}" is not the one they had (its sha256 differs); '
                          'nothing was changed')
        key = new_key()
        add_person(out, written, program, key, WalkIn(written.name, *walk_in) if walk_in else None)
        return written, key
    finally:
        shutil.rmtree(work, ignore_errors=True)
        lock.close()
