"""`build`: one program per newcomer of the roster, added to the set in
one swap."""
import collections
import os
import shutil
import time

from .. import times
from ..errors import OK, Failure, Refusal, argument
from ..names import check_folders, check_newcomers, name_key
from ..programs.compiling import work_place
from ..programs.placing import add_people
from ..programs.verifying import verify_command
from ..set import groups, removals, walkins
from ..set.details import merged, read_details, write_details
from ..set.folder import is_new, locked, read_set, resolve
from ..set.keys import with_keys
from ..set.records import new_rows
from ..set.store import Checkins
from ..sheets.roster import read_roster
from ..sheets.tables import rows_about
from .options import file_options, out_argument, positive


NAME = 'build'
SUMMARY = 'build one program per person of ROSTER into OUT'
DESCRIPTION = ('Builds OUT/handout/<folder>/PassWord.exe for every name of ROSTER (one name a line; blank lines and '
               'lines starting with # are skipped), OUT/handout/SHA256SUMS and OUT/answers.csv. On an existing set it '
               'adds only the newcomers.')


def options(parser):
    """build's options."""
    out_argument(parser, first='ROSTER')
    parser.add_argument('--verify', action='store_true',
                        help='then run every program under Wine (exit code 3 where 32-bit programs cannot run)')
    parser.add_argument('--jobs', type=positive, default=os.cpu_count() or 2, metavar='N',
                        help='programs built at once (default: the cores, %(default)s)')
    parser.add_argument('--name-column', metavar='TEXT',
                        help='ROSTER is a table (CSV, TSV or .xlsx) with a header row, and TEXT is the column of the '
                             'name, or columns joined with spaces: "Фамилия,Имя,Отчество"; every other column is '
                             'kept with its person and shown in the reports')
    file_options(parser, 'ROSTER', 'the column that tells people apart (a student number, an e-mail): two rows of '
                                   'one name and different ids are two people')
    parser.add_argument('--extra-time-column', metavar='TEXT',
                        help="the roster's column of each person's extra minutes beyond the room's closing (empty: "
                             'none); kept through rekey, remove, restore and a later build')
    parser.add_argument('--group-column', metavar='TEXT',
                        help="the roster's column of groups, for the board and for grade's and links' --group "
                             '(default: one headed Группа, Group or Class)')


def run(args):
    """Build the set, then verify it where asked."""
    rows = build_command(args.roster, args.out, jobs=args.jobs, encoding=args.encoding, name_column=args.name_column,
                         id_column=args.id_column, extra_column=args.extra_time_column, group_column=args.group_column)
    if not args.verify:
        return OK
    return verify_command(os.path.abspath(args.out), rows)


def walk_ins_listed(roster, out, people, rows, found, walk_ins):
    """Return {folder: (WalkIn, Listed)} of the walk-ins that the roster now
    lists (`found` matched them to their rows, by name): each is that person of
    the roster from now on. One that more than one of the roster could be is
    refused, with the way on."""
    enrolled = {name_key(w.name): w for w in walk_ins}
    named = collections.Counter(name_key(p.name) for p in people)
    listed = {}
    for i, row in found.items():
        w = enrolled.get(name_key(row.name))
        if w is None:
            continue
        if named[name_key(w.name)] > 1:
            lines = ', '.join(p.where for p in people if name_key(p.name) == name_key(w.name))
            raise Refusal(f'{roster}: lines {lines} all have the name of "{w.name}", who enrolled at the page '
                          f'{times.said(w.time) or "before"}, and only one can be them. Remove the walk-in (class-set remove '
                          f'{out} {argument(w.name)}) and build again: those of the roster are then added')
        listed[row.folder] = (w, people[i])
    return listed


def match(people, rows, ids):
    """Return {roster index: row} of the people the set has already: by name,
    and by id where the set keeps ids; each row one person's."""
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


def advice(command, out, folders, most=10):
    """Return a command to copy that names people by their folders: the first `most` of them."""
    named = ' '.join(argument(folder) for folder in folders[:most])
    return f'class-set {command} {out} --by folder {named}{" ..." if len(folders) > most else ""}'


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
              f'({advice("remove", out, sorted(r.folder for r in absent))} removes them)')
    return newcomers, found


def removed_earlier(people, rows, removed):
    """Return {person: their line of removed.csv} of the roster's `people` who
    were removed from the set and are not back: the same id where both have one,
    else the same name; a walk-in, who had no id, is none of the roster's people
    with ids."""
    here = {r.folder for r in rows}
    gone = [r for r in removed if r.folder not in here]
    by_name = collections.defaultdict(list)
    for r in gone:
        by_name[name_key(r.name)].append(r)
    by_id = {r.id: r for r in gone if r.id}
    kept_out = {}
    for p in people:
        same = [r for r in by_name.get(name_key(p.name), ()) if not (p.id and (r.id or r.enrolled))]
        if p.id in by_id or same:
            kept_out[p] = by_id.get(p.id) or same[-1]
    return kept_out


# What a person takes on disk: a program of about 17 KB in 4 KiB blocks,
# a folder, and their lines in the set's files.
PERSON_BYTES = 20 * 1024 + 4096 + 512
PROGRAM_BYTES = 20 * 1024


def free_space(path):
    """Return bytes free for us where `path` is or would be made."""
    return shutil.disk_usage(nearest(path)).free


def check_room(roster, out, people, about=''):
    """Refuse, before anything is written, a roster whose `people` new to
    the set would not fit on the disk of OUT (nor, where the programs are
    written first on another, on that one)."""
    need, free = people * PERSON_BYTES, free_space(out)
    work = work_place()
    if os.stat(work).st_dev != os.stat(nearest(out)).st_dev:
        need_there, free_there = people * PROGRAM_BYTES, free_space(work)
        if need_there > free_there:
            need, free, out = need_there, free_there, work
    if need > free:
        raise Failure(f'{roster}: {about}{people:,} {"person" if people == 1 else "people"} new to the set, whose '
                      f'programs would need {gib(need)} in {out}, which has {gib(free)} free; nothing was written. '
                      'Build it on a disk with more room, or from a shorter roster')


def nearest(path):
    """`path`, or the folder nearest it that is there."""
    while not os.path.exists(path):
        path = os.path.dirname(path)
    return path


def gib(size):
    """Return a size as a message says it: GiB, or MiB under one."""
    return f'{size / 2**30:.1f} GiB' if size >= 2**30 else f'{size / 2**20:.0f} MiB'


def extra_minutes(roster_path, roster, column):
    """{roster line: minutes} of the roster's column of extra time; empty
    cells are none; a Refusal naming the line of one that is no whole
    number of minutes from 0 up."""
    names = [c for c in roster.columns if name_key(c) == name_key(column)]
    if not names:
        raise Refusal(f'--extra-time-column {column}: no such column; the roster has: '
                      + ', '.join(f'"{c}"' for c in roster.columns))
    found = {}
    for person in roster.people:
        value = dict(person.details).get(names[0], '').strip()
        if value and not (value.isdigit() or value.endswith('.0') and value[:-2].isdigit()):
            raise Refusal(f'{roster_path}:{person.where}: extra time "{value}" is not whole minutes from 0 up')
        found[person.where] = int(float(value)) if value else 0
    return found


def build_command(roster_path, out, jobs, encoding=None, name_column=None, id_column=None, extra_column=None,
                  group_column=None):
    """Build the set from ROSTER; return its rows of the set as built."""
    out = resolve(out)
    rows_there = rows_about(roster_path)
    if rows_there:  # a roster far too large is refused before it is read whole
        check_room(roster_path, out, int(rows_there * 0.8), 'about ')
    roster = read_roster(roster_path, encoding, name_column, id_column)
    extra = extra_minutes(roster_path, roster, extra_column) if extra_column else None
    group_column = group_column and groups.column_of(roster.columns, group_column)
    with locked(out):
        rows, details = [] if is_new(out) else read_set(out), read_details(out)
        found = match(roster.people, rows, details.ids)
        out_of_it = removed_earlier([p for i, p in enumerate(roster.people) if i not in found], rows, removals.read(out))
        people = [p for p in roster.people if p not in out_of_it]
        newcomers, found = newcomers_of(roster_path, people, rows, details.ids, out)
        walk_ins = walkins.read(out)
        listed = walk_ins_listed(roster_path, out, people, rows, found, walk_ins)
        check_room(roster_path, out, len(newcomers))
        folder_of = {p.where: f for p, f in newcomers} | {people[i].where: r.folder for i, r in found.items()}
        details = merged(details, people, lambda person: folder_of[person.where])
        start = time.monotonic()
        if newcomers:
            added = new_rows(rows, [(p.name, folder) for p, folder in newcomers])
            rows += add_people(out, rows, added, jobs, details if details.ids or details.columns else None)
        elif rows:
            with_keys(out, rows)  # a set made before people had keys
            if details.ids or details.columns:
                write_details(out, details)
        if listed:  # after the swap, where there was one: no longer walk-ins
            walkins.write(out, [w for w in walk_ins if name_key(w.name) not in
                                {name_key(walk_in.name) for walk_in, _ in listed.values()}])
        if extra is not None:
            Checkins(out).give_extra({folder_of[p.where]: extra[p.where] for p in people})
        if group_column:
            Checkins(out).remember('group_column', group_column)
    for walk_in, person in listed.values():
        print(f'{walk_in.name}, who enrolled at the page {times.said(walk_in.time) or "before"}, is "{person.name}" of the '
              f'roster ({roster_path}:{person.where}) from now on: the same folder, program, password, link and '
              'answers, with the roster\'s columns')
    if out_of_it:
        print(f'kept out, removed earlier: {", ".join(p.name for p in out_of_it)} '
              f'({advice("restore", out, [r.folder for r in out_of_it.values()])} brings them back)')
    print(f'{len(rows)} programs in {out}/handout: {len(newcomers)} new, '
          f'{len(rows) - len(newcomers)} kept, {time.monotonic() - start:.1f} s')
    return rows
