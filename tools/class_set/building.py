"""`build`: one program per newcomer of the roster, added to the set in
one swap; and the same for anyone else who joins a set (walk-ins)."""
import collections
import os
import shutil
import time

from .compiling import work_folder
from .details import merged, read_details
from .errors import Refusal
from .keys import new_key, read_keys, with_keys, write_keys
from .names import check_folders, check_newcomers, name_key
from .roster import read_roster
from .rows import new_rows
from .set_folder import is_new, locked, program_path, read_set, resolve, write_set
from .swap import replacing
from .template import write_programs
from .set_files import DETAILS, read_removed, read_walk_ins, replace_private, write_private


def add_people(out, rows, added, jobs, files=None):
    """Write the programs of `added` (rows without a sha256 yet), and swap
    in the set with them and with `files` ({name: text}) beside the
    records; return the added rows, complete."""
    work, lock = work_folder()
    try:
        added, written = write_programs(work, added, jobs)
        programs = {r.folder: program_path(out, r) for r in rows}
        programs.update((row.folder, path) for row, path in zip(added, written))
        with replacing(out) as new:
            write_set(new, rows + added, programs)
            keys = read_keys(out, rows)
            write_keys(new, rows + added, {r.folder: keys.get(r.folder) or new_key() for r in rows + added})
            for file_name, text in (files or {}).items():
                write_private(os.path.join(new, file_name), text)
    finally:
        shutil.rmtree(work, ignore_errors=True)
        lock.close()
    return added


def walk_in_refused(roster, people, walk_ins):
    """A roster name that is a walk-in's: the organiser says which is which."""
    enrolled = {name_key(w.name): w for w in walk_ins}
    for person in people:
        w = enrolled.get(name_key(person.name))
        if w is not None:
            raise Refusal(f'{roster}:{person.where}: "{person.name}" is the name of a walk-in, "{w.name}", who '
                          f'enrolled at the page {w.time or "before"}{" from " + w.address if w.address else ""}. '
                          f'Remove the walk-in (class-set remove OUT "{w.name}") or write the name another way')


def match(people, rows, ids):
    """{roster index: row} of the people the set has already: by name, and
    by id where the set keeps ids; each row one person's."""
    by_name = {}
    for row in rows:
        by_name.setdefault(name_key(row.name), []).append(row)
    found, used = {}, set()
    for i, person in enumerate(people):
        candidates = [r for r in by_name.get(name_key(person.name), []) if r.folder not in used]
        if any(ids.get(r.folder) for r in candidates) or len(candidates) > 1:
            candidates = [r for r in candidates if ids.get(r.folder, '') == person.id]
        if candidates:
            found[i] = candidates[0]
            used.add(candidates[0].folder)
    return found


def newcomers_of(roster, people, rows, ids, out):
    """[(Listed, folder)] of the roster's people the set lacks, after
    checking that none would share a folder or be taken for someone else."""
    found = match(people, rows, ids)
    ids = ids | {row.folder: people[i].id for i, row in found.items() if people[i].id}
    kept = {r.folder for r in found.values()}
    absent = [r for r in rows if r.folder not in kept]
    count = collections.Counter(name_key(p.name) for p in people)
    count.update(name_key(r.name) for r in absent)
    newcomers = [(p, p.folder(count[name_key(p.name)] > 1)) for i, p in enumerate(people) if i not in found]
    where = {p.where: p for p, _ in newcomers}
    check_folders([(r.folder, r.name, r.folder) for r in rows] + [(p.where, p.name, f) for p, f in newcomers],
                  lambda place: f'{roster}:{place}' if place in where else f'{out}/answers.csv, folder {place}')
    check_newcomers([(r.name, ids.get(r.folder, '')) for r in rows], [(p.where, p.name, p.id) for p, _ in newcomers],
                    lambda place: f'{roster}:{place}')
    if absent:
        print(f'kept, though not in the roster: {", ".join(sorted(r.name for r in absent))} '
              f'(class-set remove OUT NAME removes someone)')
    return newcomers, found


def removed_earlier(people, rows, removed):
    """Those of the roster's `people` who were removed from the set and are
    not back: the same id where both have one, else the same name."""
    here = {r.folder for r in rows}
    gone = [r for r in removed if r.folder not in here]
    by_id = {r.id for r in gone if r.id}
    by_name = {name_key(r.name) for r in gone}
    return [p for p in people if ((p.id in by_id) if p.id and by_id else name_key(p.name) in by_name)]


def build_command(roster_path, out, jobs, encoding=None, name_column=None, id_column=None):
    """Build the set from ROSTER; return its rows of the set as built."""
    roster = read_roster(roster_path, encoding, name_column, id_column)
    out = resolve(out)
    with locked(out):
        rows, details = [] if is_new(out) else read_set(out), read_details(out)
        walk_in_refused(roster_path, roster.people, read_walk_ins(out))
        found = match(roster.people, rows, details.ids)
        out_of_it = removed_earlier([p for i, p in enumerate(roster.people) if i not in found], rows, read_removed(out))
        people = [p for p in roster.people if p not in out_of_it]
        newcomers, found = newcomers_of(roster_path, people, rows, details.ids, out)
        folder_of = {p.where: f for p, f in newcomers} | {people[i].where: r.folder for i, r in found.items()}
        details = merged(details, people, lambda person: folder_of[person.where])
        start = time.monotonic()
        if newcomers:
            added = new_rows(rows, [(p.name, folder) for p, folder in newcomers])
            rows += add_people(out, rows, added, jobs, {DETAILS: details.text()} if details.ids or details.columns
                               else None)
        elif rows:
            with_keys(out, rows)  # a set made before people had keys
            if details.ids or details.columns:
                replace_private(os.path.join(out, DETAILS), details.text())
    if out_of_it:
        print(f'kept out, removed earlier: {", ".join(p.name for p in out_of_it)} '
              f'(class-set restore {out} NAME brings one back)')
    print(f'{len(rows)} programs in {out}/handout: {len(newcomers)} new, '
          f'{len(rows) - len(newcomers)} kept, {time.monotonic() - start:.1f} s')
    return rows
