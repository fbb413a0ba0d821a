"""A set's rows: whose password is whose, as OUT/answers.csv keeps them."""
import csv
import dataclasses
import io
import os
import secrets

from ..errors import Refusal
from ..names import MAX_NAME, folder_for
from .files import RECORDS, append_synced, csv_line, csv_text, replace_private, whole_records, write_private


# Room for the longest name that build takes, in any of the fields.
csv.field_size_limit(16 * MAX_NAME)

HEADER = ['name', 'folder', 'password', 'mask', 'sha256']
# Letters and digits that no keyboard layout or font confuses.
ALPHABET = '23456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnpqrstuvwxyz'
LETTERS = frozenset(ALPHABET)


@dataclasses.dataclass(frozen=True)
class Row:
    """A person of the set: their program's folder, its password and mask,
    and the program's sha256 (empty until it is written)."""
    name: str
    folder: str
    password: str
    mask: int
    sha256: str = ''

    def fields(self):
        """Return the fields of its line of answers.csv."""
        return [self.name, self.folder, self.password, str(self.mask), self.sha256]


def folder_fits(folder, name):
    """Return the folder build gives the name: the name's own, or for a namesake the name with what tells them apart."""
    plain = folder_for(name)
    return folder == plain or bool(plain and folder_for(folder) == folder and folder.startswith(plain + ' ('))


def read_rows(path, underway=False, checked=True):
    """Return the rows of answers.csv, each checked on its own (unless not
    `checked`: for a change of the records alone); a Refusal names the line that
    is not as build writes it. `underway`: a change is being made, and a last
    line not yet whole is not there yet."""
    try:
        with open(path, newline='', encoding='utf-8') as f:
            text = f.read()
        if underway and not text.endswith('\n'):
            text = text[:text.rfind('\n') + 1]
        table = list(csv.reader(io.StringIO(text, newline='')))
    except (OSError, UnicodeDecodeError) as e:
        raise Refusal(f'{path}: cannot read it ({e})')
    if not table or table[0] != HEADER:
        raise Refusal(f'{path}:1: not a set made by class-set (header is not {",".join(HEADER)})')
    return rows_of(table[1:], path, 2, checked)


def read_rows_after(path, offset):
    """Return (rows, offset): the rows whole after byte `offset` of answers.csv,
    appended since (a walk-in), and where they end."""
    try:
        table, end = whole_records(path, offset)
    except (OSError, UnicodeDecodeError) as e:
        raise Refusal(f'{path}: cannot read it ({e})')
    return rows_of(table, f'{path}, after byte {offset}', 1), end


def row_of(path, folder):
    """Return the row of one folder of answers.csv, found without reading
    everyone's: its field looked for in the text, and the lines that hold it
    read; None where that is not exactly one row."""
    with open(path, newline='', encoding='utf-8') as f:
        text = f.read()
    field = io.StringIO()
    csv.writer(field, lineterminator='').writerow([folder])  # quoted as build writes it, where it must be
    wanted, found, at = f',{field.getvalue()},', [], 0
    while (at := text.find(wanted, at) + 1) > 0:
        start, end = text.rfind('\n', 0, at) + 1, text.find('\n', at)
        fields = next(csv.reader([text[start:end + 1 if end >= 0 else len(text)]]), [])
        if len(fields) == len(HEADER) and fields[1] == folder and fields not in found:
            found.append(fields)
    return rows_of(found, path, 0)[0] if len(found) == 1 else None


def rows_of(table, path, first, checked=True):
    """Return [Row] of answers.csv's records, each checked on its own where `checked`."""
    if not checked and all(len(fields) == len(HEADER) for fields in table):
        return [Row(name, folder, password, int(mask) if mask.isdigit() else 0, digest)
                for name, folder, password, mask, digest in table]
    rows = []
    for number, fields in enumerate(table, first):
        where = f'{path}:{number}'
        if len(fields) != len(HEADER):
            raise Refusal(f'{where}: expected {len(HEADER)} fields, got {len(fields)}')
        name, folder, password, mask, digest = fields
        if not folder_fits(folder, name):
            raise Refusal(f'{where}: folder "{folder}" is not the one for "{name}"')
        if len(password) != 5 or not set(password) <= LETTERS or not mask.isdigit() \
                or not 1 <= int(mask) <= 255:
            raise Refusal(f'{where}: not a password and mask of this command')
        rows.append(Row(name, folder, password, int(mask), digest))
    return rows


def rows_text(rows):
    """answers.csv's text."""
    return csv_text(HEADER, [row.fields() for row in rows])


def row_line(row):
    """Return a row's line of answers.csv."""
    return csv_line(row.fields())


def write_rows(root, rows):
    """answers.csv of a set laid out anew in `root`."""
    write_private(os.path.join(root, RECORDS), rows_text(rows))


def rewrite_rows(out, rows):
    """answers.csv of the set OUT anew, whole in one rename: people put back in their places."""
    replace_private(os.path.join(out, RECORDS), rows_text(rows))


def append_row(out, row):
    """A newcomer's line at the end of answers.csv, on disk when this returns."""
    append_synced(os.path.join(out, RECORDS), row_line(row))


def new_rows(rows, named):
    """Rows for [(name, folder)]: a password no one else in the set has, and a mask."""
    taken = {r.password for r in rows}
    added = []
    for name, folder in named:
        password = None
        while password is None or password in taken:
            password = ''.join(secrets.choice(ALPHABET) for _ in range(5))
        taken.add(password)
        added.append(Row(name, folder, password, 1 + secrets.randbelow(255)))
    return added


def folded(text):
    """Return a text in any case and spacing, ё as е: as names are typed into answers.csv."""
    return ' '.join(text.split()).casefold().replace('ё', 'е')


def named_so(out, wanted):
    """Return how many lines of answers.csv hold `wanted` as the name (in any
    case, ё as е): where none does, it is nobody's name but one written with
    look-alike letters, which enrolment refuses."""
    with open(os.path.join(out, RECORDS), encoding='utf-8') as f:
        text = f.read().casefold().replace('ё', 'е')
    typed = folded(wanted)
    return text.count(f'\n{typed},') + text.count(f'\n"{typed}",')
