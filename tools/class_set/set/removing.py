"""A removal's new texts of the set's files, which in_place puts in place
under its journal."""
import csv
import os

from .. import times
from ..names import name_key
from . import records, removals, sums, walkins
from .files import RECORDS, REMOVED, SUMS, WALK_INS
from .folder import read_records


def removal_texts(out, gone):
    """Return the set's files as they are without the people `gone` ({folder:
    Person}), in the order they are put in place, answers.csv last. The records
    lose their lines, the rest of them as it was: what a page that reads the set
    knows of the others stays true."""
    stamp = times.stamp()
    walk_ins = walkins.read(out)
    before = places(out, gone)
    removed = removals.read(out) + [
        removals.Removed(r.name, r.folder, r.id, stamp, r.password, str(r.mask), r.sha256,
                         *walk_in_of(walkins.find(walk_ins, r.name)), before.get(r.folder, '')) for r in gone.values()]
    leaving = {name_key(r.name) for r in gone.values()}
    texts = {}
    if os.path.exists(os.path.join(out, WALK_INS)):
        texts[WALK_INS] = walkins.text([w for w in walk_ins if name_key(w.name) not in leaving])

    def kept():  # read only where a file is not as build writes it
        return [r for r in read_records(out) if r.folder not in gone]
    texts[SUMS] = without(out, SUMS, [sums.line(r) for r in gone.values()]) or sums.text(kept())
    texts[REMOVED] = removals.text(removed)
    texts[RECORDS] = without(out, RECORDS, [records.row_line(p.row) for p in gone.values()]) or records.rows_text(kept())
    return texts


def places(out, gone):
    """Return {folder: the folder whose line comes before theirs in answers.csv, or TOP} of those `gone`."""
    with open(os.path.join(out, RECORDS), encoding='utf-8', newline='') as f:
        text = f.read()
    found = {}
    for person in gone.values():
        at = text.find('\n' + records.row_line(person.row))
        if at != -1:
            start = text.rfind('\n', 0, at) + 1
            line = next(csv.reader([text[start:at]]), [])
            found[person.folder] = removals.TOP if start == 0 else line[1] if len(line) > 1 else ''
    return found


def walk_in_of(walk_in):
    """Return (when, from where) a walk-in enrolled; ('', '') for someone of the roster."""
    return (walk_in.time or '?', walk_in.address) if walk_in else ('', '')


def without(out, name, lines):
    """Return the text of a file of OUT less `lines`, each of which it holds
    once, as a line of its own; None where it does not."""
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
