"""Walk-ins: people not on the roster who enrol at the check-in page of a
set its organiser opened (`serve --open N`). A walk-in's program, row,
SHA256SUMS line, key and walkins.csv line are added to the set in place
(see in_place), whole or not at all, at the cost of one person."""
import collections
import shutil

from .. import times
from ..errors import Refusal
from ..language import N_
from ..names import clean_name, folder_for, looks_like, mixes_scripts, name_key
from ..programs.compiling import work_folder
from ..programs.placing import add_people, place
from ..programs.template import load_templates
from ..set import removals, walkins
from ..set.folder import is_new, locked, records_path
from ..set.records import new_rows



def open_set(out, jobs):
    """A set to enrol into: OUT as it is, or an empty set where there is none;
    with the templates of every shape ready, so no walk-in waits for them."""
    with locked(out):
        if is_new(out):
            add_people(out, [], [], jobs)
        records_path(out)  # refuses a folder that holds anything else
    work, lock = work_folder()
    try:
        load_templates(work, {(kind, False) for kind in ('xor', 'add', 'not')} | {('xor', True)}, jobs)
    finally:
        shutil.rmtree(work, ignore_errors=True)
        lock.close()


def enrol(out, typed, jobs, address, room):
    """Return (row, key) of a new walk-in named `typed`, or a Refusal that says
    why not. `room`: serve's, whose people() gives the set's People as they are
    now (so that an enrolment reads no more of the set than was added since),
    whose store counts every enrolment ever made, and its limits."""
    name = enrolled_name(typed)
    with locked(out):
        now = room.people()
        if len(now.walk_ins) >= room.places:
            raise Refusal(N_('The list is full: no places are left.'))
        enrolled_here = max(room.store.enrolments(address), sum(w.address == address for w in walkins.read(out)))
        if enrolled_here >= room.per_address:
            raise Refusal(N_('Enough people have enrolled from this computer. Ask the organiser.'))
        folder = folder_for(name)
        if folder is None:
            raise Refusal(N_('"%(name)s" gives no folder that computers take (a device name such as CON, or '
                             'only dots); write it another way.'), name=name)
        if name_key(name) in now.ids:
            raise Refusal(N_('"%(name)s" is the number of someone on the list, not a name. Type your name.'),
                          name=name)
        gone = removals.read(out)  # a removal stays: nobody takes a removed person's name or folder at the door
        taken = now.named_here.keys() | {name_key(r.name) for r in gone}
        folders = {p.folder.casefold() for p in now.here} | {r.folder.casefold() for r in gone}
        if looks_like(name) & taken or folder.casefold() in folders:
            raise Refusal(N_('"%(name)s" is taken: someone on the list has that name, or one that looks the '
                             'same. Write it another way.'), name=name)
        if part_of_a_name(name, now.named_here):
            raise Refusal(N_('"%(name)s" looks like the name of someone on the list with parts of it left out. '
                             'If that is you, ask the organiser for your slip.'), name=name)
        row, key = place(out, new_rows(now.here, [(name, folder)])[0], jobs,
                         (times.stamp(), address))
        room.store.enrolled(address, row.name, row.folder)
        return row, key


def enrolled_name(typed):
    """Return the name a walk-in typed, as the set would keep it; or a Refusal."""
    try:
        name = clean_name(typed)
    except Refusal as why:
        raise Refusal(N_('That name cannot be taken: %(why)s.'), why=why)
    if not name:
        raise Refusal(N_('Type your name.'))
    if name.replace(' ', '').isdigit():
        raise Refusal(N_('"%(name)s" is a number, not a name. Type your name.'), name=name)
    if mixes_scripts(name):
        raise Refusal(N_('"%(name)s" mixes the letters of different alphabets, as no name does. Type it in one.'),
                      name=name)
    return name


def part_of_a_name(name, by_name):
    """Return whether `name`, two words or more, is a name of the set with parts
    left out (Белова Анна for Белова Анна Игоревна), in any order."""
    words = collections.Counter(name_key(name).split(' '))
    if sum(words.values()) < 2:
        return False
    longest = max(words, key=len)
    for key in [key for key in by_name if longest in key]:  # most names fail here, quickly
        if all(word in key for word in words):
            theirs = collections.Counter(key.split(' '))
            if words != theirs and all(theirs[w] >= n for w, n in words.items()):
                return True
    return False


