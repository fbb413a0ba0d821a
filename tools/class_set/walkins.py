"""Walk-ins: people not on the roster who enrol at the check-in page of a
set its organiser opened (`serve --open N`). A walk-in's program, row,
SHA256SUMS line and key go into the set in one swap, as a build's do, with
the list of walk-ins (OUT/walkins.csv) beside them."""
import os
import shutil

from .building import add_people
from .compiling import work_folder
from .errors import Refusal
from .keys import read_keys
from .language import N_
from .names import check_folders, check_newcomers, clean_name, folder_for
from .rows import new_rows
from .set_folder import locked, read_set
from .template import load_templates
from .walkin_list import WALKINS, read_walk_ins, with_walk_in


def open_set(out, jobs):
    """A set to enrol into: OUT as it is, or an empty set where there is none;
    with the templates of every shape ready, so no walk-in waits for them."""
    with locked(out):
        if not os.path.exists(os.path.join(out, 'answers.csv')):
            read_set(out)  # refuses a folder that holds anything else
            add_people(out, [], [], jobs)
    work, lock = work_folder()
    try:
        load_templates(work, {(kind, False) for kind in ('xor', 'add', 'not')} | {('xor', True)}, jobs)
    finally:
        shutil.rmtree(work, ignore_errors=True)
        lock.close()


def enrol(out, typed, places, jobs, address=''):
    """(row, key) of a new walk-in named `typed`, or a Refusal that says why not."""
    try:
        name = clean_name(typed)
    except Refusal as why:
        raise Refusal(N_('That name cannot be taken: %(why)s.'), why=why)
    if not name:
        raise Refusal(N_('Type your name.'))
    with locked(out):
        rows, walked_in = read_set(out, new_ok=False), read_walk_ins(out)
        if len(walked_in) >= places:
            raise Refusal(N_('The list is full: no places are left.'))
        folder = folder_for(name)
        if folder is None:
            raise Refusal(N_('"%(name)s" gives no folder that computers take (a device name such as CON, or '
                             'only dots); write it another way.'), name=name)
        try:
            check_newcomers([(r.name, '') for r in rows], [('the page', name, '')], str)
            check_folders([(r.folder, r.name, r.folder) for r in rows] + [('the page', name, folder)], str)
        except Refusal:
            raise Refusal(N_('"%(name)s" is taken: someone on the list has that name, or one too like it. '
                             'Write it another way.'), name=name)
        added = add_people(out, rows, new_rows(rows, [(name, folder)]), jobs,
                           {WALKINS: with_walk_in(walked_in, name, address)})
        return added[0], read_keys(out, rows + added)[added[0].folder]
