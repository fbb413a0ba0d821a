"""Walk-ins: people not on the roster who enrol at the check-in page of a
set its organiser opened (`serve --open N`). A walk-in's program, row,
SHA256SUMS line and key go into the set in one swap, as a build's do, with
the list of walk-ins (OUT/walkins.csv) beside them."""
import csv
import io
import os
import shutil

from .building import add_people
from .compiling import work_folder
from .errors import Refusal
from .keys import read_keys
from .names import check_folders, check_newcomers, clean_name, folder_for
from .rows import new_rows
from .set_folder import locked, read_set
from .template import load_templates

WALKINS = 'walkins.csv'


def walk_ins(out):
    """The names of the set's walk-ins, in the order they came."""
    try:
        with open(os.path.join(out, WALKINS), newline='', encoding='utf-8') as f:
            return [row[0] for row in list(csv.reader(f))[1:] if row]
    except FileNotFoundError:
        return []


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


def enrol(out, typed, places, jobs):
    """(row, key) of a new walk-in named `typed`, or a Refusal that says why not."""
    try:
        name = clean_name(typed)
    except Refusal as why:
        raise Refusal(f'That name cannot be taken: {why}.')
    if not name:
        raise Refusal('Type your name.')
    with locked(out):
        rows, walked_in = read_set(out, new_ok=False), walk_ins(out)
        if len(walked_in) >= places:
            raise Refusal('The list is full: no places are left.')
        if folder_for(name) is None:
            raise Refusal(f'"{name}" gives no folder that computers take (a device name such as CON, or only '
                          'dots); write it another way.')
        try:
            check_newcomers(rows, [name], lambda n: 'the list')
            check_folders([(r.name, r.name) for r in rows] + [(name, name)], lambda n: 'the list')
        except Refusal:
            raise Refusal(f'"{name}" is taken: someone on the list has that name, or one too like it. '
                          'Write it another way.')
        listed = io.StringIO()
        csv.writer(listed, lineterminator='\r\n').writerows([['name'], *([w] for w in walked_in + [name])])
        added = add_people(out, rows, new_rows(rows, [name]), jobs, {WALKINS: listed.getvalue()})
        return added[0], read_keys(out, rows + added)[name]
