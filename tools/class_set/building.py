"""`build`: one program per newcomer of the roster, added to the set in
one swap; and the same for anyone else who joins a set (walk-ins)."""
import os
import shutil
import time

from .compiling import work_folder
from .keys import new_key, read_keys, with_keys, write_keys
from .names import check_folders, check_newcomers
from .roster import read_roster
from .rows import new_rows
from .set_folder import locked, program_path, read_set, resolve, write_set
from .swap import replacing
from .template import write_programs


def add_people(out, rows, added, jobs, files=None):
    """Writes the programs of `added` (rows without a sha256 yet) and swaps
    in the set with them, and with `files` ({name: text}) beside the
    records. Returns the added rows, complete."""
    work, lock = work_folder()
    try:
        added, written = write_programs(work, added, jobs)
        programs = {r.folder: program_path(out, r) for r in rows}
        programs.update((row.folder, path) for row, path in zip(added, written))
        with replacing(out) as new:
            write_set(new, rows + added, programs)
            keys = read_keys(out, rows)
            write_keys(new, {r.name: keys.get(r.name) or new_key() for r in rows + added})
            for file_name, text in (files or {}).items():
                with open(os.path.join(new, file_name), 'w', encoding='utf-8', newline='') as f:
                    f.write(text)
    finally:
        shutil.rmtree(work, ignore_errors=True)
        lock.close()
    return added


def newcomers_of(roster, people, rows, out):
    """The roster's names that the set lacks, after checking that none
    would share a folder or be taken for someone else."""
    known = {r.name for r in rows}
    newcomers = [p.name for p in people if p.name not in known]
    check_folders([(r.name, r.name) for r in rows] + [(n, n) for n in newcomers],
                  lambda name: f'{roster}, "{name}"' if name in newcomers else f'{out}/answers.csv, "{name}"')
    line = {p.name: p.line for p in people}
    check_newcomers(rows, newcomers, lambda name: f'{roster}:{line[name]}')
    absent = sorted(known - {p.name for p in people})
    if absent:
        print(f'kept, though not in the roster: {", ".join(absent)}')
    return newcomers


def build_command(roster, out, jobs, encoding=None):
    """Returns the rows of the set as built."""
    people = read_roster(roster, encoding)
    check_folders([(p.line, p.name) for p in people], lambda number: f'{roster}:{number}')
    out = resolve(out)
    with locked(out):
        rows = read_set(out)
        newcomers = newcomers_of(roster, people, rows, out)
        start = time.monotonic()
        if newcomers:
            rows += add_people(out, rows, new_rows(rows, newcomers), jobs)
        elif rows:
            with_keys(out, rows)  # a set made before people had keys
    print(f'{len(rows)} programs in {out}/handout: {len(newcomers)} new, '
          f'{len(rows) - len(newcomers)} kept, {time.monotonic() - start:.1f} s')
    return rows
