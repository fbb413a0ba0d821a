"""`remove`: people out of a set, in place, all or nothing. Their program,
folder, key and place go; what they handed in stays in checkins.sqlite,
their roster columns in details.csv, and OUT/removed.csv keeps who they
were and their password, so that grade reports their record as it was
and a later build keeps them out. `restore` brings them back."""
import dataclasses
import os
import time

from .details import found_as, one_person, read_details, the_one
from .errors import OK, Refusal, argument
from .in_place import remove_people
from .keys import end_keys
from .names import check_newcomers, name_key
from .rows import Row, new_rows, row_line, rows_text
from .set_files import HANDOUT, RECORDS, REMOVED, SUMS, WALK_INS, Removed, WalkIn, csv_text, header_of, read_removed, \
    read_walk_ins, sums_line, sums_text
from .set_folder import locked, read_records
from .enrolment import place
from .links import links_advice


def remove_command(out, wanted, by=None):
    with locked(out):
        details = read_details(out)
        gone = {}
        for text in wanted:
            row = one_person(out, details, text, by)
            gone[row.folder] = row
        remove_people(out, removal_texts(out, details, gone), list(gone), end_keys(gone.values()))
    for row in gone.values():
        print(f'removed {row.name} ({row.folder}): their link no longer works; what they handed in stays, '
              f'and grade reports it as removed. class-set restore {out} --by folder {argument(row.folder)} brings '
              'them back.')
    return OK


def restore_command(out, wanted, jobs, by=None):
    """Bring removed people back: their row as it was (the same password
    and program), their roster columns, and a new key."""
    with locked(out):
        rows, details = read_records(out), read_details(out)
        gone = {r.folder: r for r in read_removed(out) if r.folder not in {row.folder for row in rows}}
        back = [removed_named(list(gone.values()), details, text, by) for text in wanted]
        check_newcomers([(r.name, details.ids.get(r.folder, '')) for r in rows],
                        [(r.folder, r.name, r.id) for r in back], lambda folder: f'{out}/removed.csv, {folder}')
        for person in back:
            if os.path.exists(os.path.join(out, HANDOUT, person.folder)):
                raise Refusal(f'"{person.name}": their folder {person.folder} is someone else\'s now; nothing was '
                              'changed')
        for person in back:
            kept = row_of(person)
            row = kept or new_rows(rows, [(person.name, person.folder)])[0]
            place(out, row, jobs, (person.enrolled, person.address) if person.enrolled else None)
            rows.append(row)
            said = 'their own password' if kept else 'a new password (removed.csv did not keep theirs)'
            print(f'{person.name} ({person.folder}) is back, with {said} and a new key: '
                  f'{links_advice(out, person.folder)} prints their slip')
    return OK


def row_of(person):
    """A removed person's row of answers.csv as it was; None where removed.csv did not keep it."""
    return Row(person.name, person.folder, person.password, int(person.mask), person.sha256) if person.password \
        else None


def removed_named(gone, details, wanted, by):
    """The one of those removed that `wanted` names, as person_named does."""
    found = found_as(gone, details, wanted)
    found['id'] += [r for r in gone if r.id and r.id == wanted.strip() and r not in found['id']]
    try:
        return the_one(found if by is None else {by: found[by]}, wanted, details)
    except Refusal as why:
        raise Refusal(f'{why} of those removed (removed.csv)')


def removal_texts(out, details, gone):
    """The set's files as they are without the people `gone` ({folder: row}),
    in the order they are put in place, answers.csv last. The records lose
    their lines, the rest of them as it was: what a page that reads the set
    knows of the others stays true."""
    stamp = time.strftime('%Y-%m-%d %H:%M:%S')
    walk_ins = read_walk_ins(out)
    enrolled = {name_key(w.name): w for w in walk_ins}
    removed = [dataclasses.astuple(r) for r in read_removed(out)]
    removed += [dataclasses.astuple(Removed(r.name, r.folder, details.ids.get(r.folder, ''), stamp, r.password,
                                            str(r.mask), r.sha256, *walk_in_of(enrolled.get(name_key(r.name)))))
                for r in gone.values()]
    leaving = {name_key(r.name) for r in gone.values()}
    texts = {}
    if os.path.exists(os.path.join(out, WALK_INS)):
        texts[WALK_INS] = csv_text(header_of(WalkIn), [dataclasses.astuple(w) for w in walk_ins
                                                      if name_key(w.name) not in leaving])

    def kept():  # read only where a file is not as build writes it
        return [r for r in read_records(out) if r.folder not in gone]
    texts[SUMS] = without(out, SUMS, [sums_line(r.sha256, r.folder) for r in gone.values()]) or sums_text(kept())
    texts[REMOVED] = csv_text(header_of(Removed), removed)
    texts[RECORDS] = without(out, RECORDS, [row_line(r) for r in gone.values()]) or rows_text(kept())
    return texts


def walk_in_of(walk_in):
    """(when, from where) a walk-in enrolled; ('', '') for someone of the roster."""
    return (walk_in.time or '?', walk_in.address) if walk_in else ('', '')


def without(out, name, lines):
    """The text of a file of OUT less `lines`, each of which it holds once,
    as a line of its own; None where it does not."""
    try:
        with open(os.path.join(out, name), encoding='utf-8', newline='') as f:
            text = f.read()
    except FileNotFoundError:
        return None
    for cut in lines:
        at = text.find('\n' + cut) + 1
        if at == 0 or text.find('\n' + cut, at) != -1:
            return None
        text = text[:at] + text[at + len(cut):]
    return text
