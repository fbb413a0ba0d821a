"""`restore`: people removed brought back into the set."""
import argparse
import os

from ..errors import OK, Refusal
from ..names import check_newcomers
from ..programs.placing import place
from ..set import people, removals
from ..set.files import HANDOUT
from ..set.folder import locked, read_records
from ..set.records import new_rows, rewrite_rows
from .links import links_advice
from .options import by_option, out_argument, positive


NAME = 'restore'
SUMMARY = 'bring removed people back into the set'
DESCRIPTION = ("Brings each NAME, removed from the set OUT, back: their own password and program, their roster's "
               "columns, and a new key (their old link stays dead: run links --only NAME for the new one). Everything "
               "they handed in counts as before.")


def options(parser):
    """restore's options."""
    out_argument(parser)
    parser.add_argument('names', metavar='NAME', nargs='+',
                        help='a name as people type it, an id or a folder, of someone removed')
    by_option(parser)
    parser.add_argument('--jobs', type=positive, default=os.cpu_count() or 2, metavar='N', help=argparse.SUPPRESS)


def run(args):
    """Bring removed people back."""
    return restore_command(os.path.realpath(args.out), wanted=args.names, jobs=args.jobs, by=args.by)


def restore_command(out, wanted, jobs, by=None):
    """Bring removed people back: their row as it was (the same password
    and program), their roster columns, and a new key."""
    with locked(out):
        rows = read_records(out)
        everyone = people.read(out, rows)
        back = [removed_named(everyone, text, by) for text in wanted]
        check_newcomers([(p.name, p.id) for p in everyone.here],
                        [(p.folder, p.name, p.id) for p in back], lambda folder: f'{out}/removed.csv, {folder}')
        for person in back:
            if os.path.exists(os.path.join(out, HANDOUT, person.folder)):
                raise Refusal(f'"{person.name}": their folder {person.folder} is someone else\'s now; nothing was '
                              'changed')
        removed, order = removals.read(out), [r.folder for r in rows]
        for person in back:
            kept = person.row if person.password else None  # removed.csv kept their record
            row = kept or new_rows(rows, [(person.name, person.folder)])[0]
            place(out, row, jobs, (person.walk_in.time, person.walk_in.address) if person.walk_in else None)
            rows.append(row)
            put_back(order, row.folder, removals.place(removed, row.folder, set(order)))
            said = 'their own password' if kept else 'a new password (removed.csv did not keep theirs)'
            print(f'{person.name} ({person.folder}) is back, with {said} and a new key: '
                  f'{links_advice(out, person.folder)} prints their slip')
        if order != [r.folder for r in rows]:  # each back where they were, in a second step: at the end till then
            at = {folder: i for i, folder in enumerate(order)}
            rewrite_rows(out, sorted(rows, key=lambda r: at[r.folder]))
    return OK


def put_back(order, folder, after):
    """`folder` into the set's `order` of folders: after the folder `after`, first for TOP, last for None."""
    order.insert(0 if after == removals.TOP else order.index(after) + 1 if after is not None else len(order), folder)


def removed_named(everyone, wanted, by):
    """Return the one of those removed and not back whom `wanted` names, as People.find finds them."""
    try:
        return everyone.find(wanted, by, among=list(everyone.gone_by_folder.values()))
    except Refusal as why:
        raise Refusal(f'{why} of those removed (removed.csv)')
