"""`restore`: people removed brought back into the set."""
import argparse
import os

from ..errors import OK, Refusal
from ..names import check_newcomers
from ..programs.placing import place
from ..set import removals
from ..set.details import found_as, read_details, the_one
from ..set.files import HANDOUT
from ..set.folder import locked, read_records
from ..set.records import new_rows
from .links import links_advice
from .options import by_option, out_argument, positive


NAME = 'restore'
SUMMARY = 'bring removed people back into the set'
DESCRIPTION = ("Brings each NAME, removed from the set OUT, back: their own password and program, their roster's "
               "columns, and a new key (their old link stays dead: run links --only NAME for the new one). Everything "
               "they handed in counts as before.")


def options(parser):
    out_argument(parser)
    parser.add_argument('names', metavar='NAME', nargs='+',
                        help='a name as people type it, an id or a folder, of someone removed')
    by_option(parser)
    parser.add_argument('--jobs', type=positive, default=os.cpu_count() or 2, metavar='N', help=argparse.SUPPRESS)


def run(args):
    return restore_command(os.path.realpath(args.out), wanted=args.names, jobs=args.jobs, by=args.by)


def restore_command(out, wanted, jobs, by=None):
    """Bring removed people back: their row as it was (the same password
    and program), their roster columns, and a new key."""
    with locked(out):
        rows, details = read_records(out), read_details(out)
        gone = {r.folder: r for r in removals.read(out) if r.folder not in {row.folder for row in rows}}
        back = [removed_named(list(gone.values()), details, text, by) for text in wanted]
        check_newcomers([(r.name, details.ids.get(r.folder, '')) for r in rows],
                        [(r.folder, r.name, r.id) for r in back], lambda folder: f'{out}/removed.csv, {folder}')
        for person in back:
            if os.path.exists(os.path.join(out, HANDOUT, person.folder)):
                raise Refusal(f'"{person.name}": their folder {person.folder} is someone else\'s now; nothing was '
                              'changed')
        for person in back:
            kept = removals.kept_row(person)
            row = kept or new_rows(rows, [(person.name, person.folder)])[0]
            place(out, row, jobs, (person.enrolled, person.address) if person.enrolled else None)
            rows.append(row)
            said = 'their own password' if kept else 'a new password (removed.csv did not keep theirs)'
            print(f'{person.name} ({person.folder}) is back, with {said} and a new key: '
                  f'{links_advice(out, person.folder)} prints their slip')
    return OK


def removed_named(gone, details, wanted, by):
    """The one of those removed that `wanted` names, as person_named does."""
    found = found_as(gone, details, wanted)
    found['id'] += [r for r in gone if r.id and r.id == wanted.strip() and r not in found['id']]
    try:
        return the_one(found if by is None else {by: found[by]}, wanted, details)
    except Refusal as why:
        raise Refusal(f'{why} of those removed (removed.csv)')
