"""OUT/removed.csv: those taken out of the set, each as they were; its
one writer, its reader and its finder. A person restored is back in
answers.csv; their lines here stay, as what was."""
import dataclasses
import os

from .files import REMOVED, csv_text, header_of, records_of, whole_records

TOP = '.'  # the place of the first line of answers.csv: no folder is named so


@dataclasses.dataclass(frozen=True)
class Removed:
    """Someone taken out of the set (removed.csv): their record as it was,
    when, for a walk-in when and from where they enrolled, and the folder
    whose line came before theirs in answers.csv (TOP for the first): their
    place, where they are restored. Files from before passwords were kept
    here have only the first four fields; from before places, no place."""
    name: str
    folder: str
    id: str = ''
    time: str = ''
    password: str = ''
    mask: str = ''
    sha256: str = ''
    enrolled: str = ''
    address: str = ''
    after: str = ''


def read(out):
    """Return [Removed] of the set OUT, in the order they went; [] where nobody went."""
    return records_of(os.path.join(out, REMOVED), Removed)


def read_after(out, offset):
    """Return ([Removed], end): those removed.csv gained after byte `offset`."""
    table, end = whole_records(os.path.join(out, REMOVED), offset)
    return [Removed(*fields[:len(header_of(Removed))]) for fields in table
            if len(fields) > 1 and fields[:2] != header_of(Removed)[:2]], end


def text(removed):
    """removed.csv whole: its staged text in a removal's journal."""
    return csv_text(header_of(Removed), [dataclasses.astuple(r) for r in removed])


def find(removed, folder):
    """Return the last line of a folder in removed.csv (a removal of one
    restored and removed again says most); None where it has none."""
    return next((r for r in reversed(removed) if r.folder == folder), None)


def place(removed, folder, here):
    """Return where a removed `folder` goes back among the folders `here`:
    after the one before it when it went, or, where that one went too,
    where that one would go; TOP for the first line; None where no place
    was kept (the end)."""
    last, seen = find(removed, folder), {folder}
    while last is not None and last.after not in here and last.after not in ('', TOP, *seen):
        seen.add(last.after)
        last = find(removed, last.after)
    if last is None or last.after in ('', *seen):
        return None
    return last.after
