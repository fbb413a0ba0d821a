"""Walk-ins: people not on the roster who enrol at the check-in page of a
set its organiser opened (`serve --open N`). A walk-in's program, row,
SHA256SUMS line, key and walkins.csv line are added to the set in place
(see appending), whole or not at all, at the cost of one person."""
import os
import shutil
import time

from .appending import append_person
from .building import add_people
from .compiling import work_folder
from .errors import Refusal
from .keys import new_key
from .language import N_
from .names import clean_name, folder_for, name_key
from .rows import new_rows
from .set_folder import locked, read_set
from .template import load_templates, write_programs


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


def enrol(out, typed, places, jobs, address, people):
    """(row, key) of a new walk-in named `typed`, or a Refusal that says why
    not. `people`: serve's function that gives the set's People as they are
    now, so that an enrolment reads no more of the set than was added since."""
    try:
        name = clean_name(typed)
    except Refusal as why:
        raise Refusal(N_('That name cannot be taken: %(why)s.'), why=why)
    if not name:
        raise Refusal(N_('Type your name.'))
    with locked(out):
        now = people()
        rows, walked_in, taken = now.rows, now.walk_ins, now.by_name
        if len(walked_in) >= places:
            raise Refusal(N_('The list is full: no places are left.'))
        folder = folder_for(name)
        if folder is None:
            raise Refusal(N_('"%(name)s" gives no folder that computers take (a device name such as CON, or '
                             'only dots); write it another way.'), name=name)
        if name_key(name) in taken or folder.casefold() in {r.folder.casefold() for r in rows}:
            raise Refusal(N_('"%(name)s" is taken: someone on the list has that name, or one too like it. '
                             'Write it another way.'), name=name)
        return add_walk_in(out, new_rows(rows, [(name, folder)])[0], jobs, address)


def add_walk_in(out, row, jobs, address):
    """(row, key): the walk-in's program written and added in place, at the
    cost of one person however large the set; call with the set locked."""
    work, lock = work_folder()
    try:
        [row], [program] = write_programs(work, [row], jobs)
        key = new_key()
        append_person(out, row, program, key, [row.name, time.strftime('%Y-%m-%d %H:%M:%S'), address])
        return row, key
    finally:
        shutil.rmtree(work, ignore_errors=True)
        lock.close()
