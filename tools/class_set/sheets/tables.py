"""Files that people hand the tool (rosters, exported answers) and files it
writes for them (reports, links): how they are read and where they may go."""
import codecs
import contextlib
import csv
import datetime
import fcntl
import io
import itertools
import os
import re
import stat
import sys
import tempfile
import time

from .. import times
from ..errors import Refusal
from ..names import name_key
from ..set.files import leftovers


WAYS_OUT = ('save it as UTF-8 (or as "Unicode text"), or name its encoding with --encoding, '
            'for instance --encoding cp1251')


def text_lines(path, encoding, what):
    """Yield (line number, text) of each line of a text file, one at a time: in
    `encoding` where one is given, else UTF-16 with a byte order mark (a
    spreadsheet's "Unicode text"), else UTF-8 with or without one. A code page
    is never guessed."""
    try:
        f = open(path, 'rb')
    except OSError as e:
        raise Refusal(f'{path}: cannot read the {what} ({e.strerror})')
    with f:
        if encoding:
            try:
                codecs.lookup(encoding)
            except LookupError:
                raise Refusal(f'--encoding {encoding}: no such encoding')
        elif f.read(2) in (codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE):
            encoding = 'utf-16'
        else:
            encoding = 'utf-8-sig'
        f.seek(0)
        number = 1  # the line being read
        try:
            if codecs.lookup(encoding).name.startswith(('utf-16', 'utf-32')):  # a line feed is more than a byte
                for line in io.TextIOWrapper(f, encoding, newline=''):
                    yield number, line
                    number += 1
                return
            decoder = codecs.getincrementaldecoder(encoding)()
            for raw in f:
                yield number, decoder.decode(raw)
                number += 1
            decoder.decode(b'', final=True)
        except UnicodeDecodeError:
            said = f'not UTF-8 text; {WAYS_OUT}' if encoding == 'utf-8-sig' else f'not {encoding} text'
            raise Refusal(f'{path}:{number}: {said}')


def read_text(path, encoding, what):
    """Return the whole text of a file, as text_lines reads it."""
    return ''.join(line for _, line in text_lines(path, encoding, what))


def delimiter_of(line):
    """Comma, semicolon or tab: the one that splits a header line into the most fields."""
    return max(',;\t', key=lambda d: len(next(csv.reader([line], delimiter=d))))


def cell_text(value):
    """Return a workbook's cell as the text a person sees in it."""
    if value is None:
        return ''
    if isinstance(value, float) and value.is_integer():
        return str(int(value))
    if isinstance(value, (datetime.date, datetime.time)):
        return value.isoformat()
    return str(value)


def read_workbook(path, what):
    """Yield (row number, [cell text]) of each row of the first sheet of an .xlsx workbook, one at a time."""
    import openpyxl
    try:
        book = openpyxl.load_workbook(path, read_only=True, data_only=True)
    except (OSError, KeyError, ValueError, Exception) as e:  # openpyxl raises what its zip and XML readers do
        raise Refusal(f'{path}: cannot read the {what} as an .xlsx workbook ({e})')
    try:
        for number, row in enumerate(book.worksheets[0].iter_rows(values_only=True), 1):
            yield number, [cell_text(v) for v in row]
    finally:
        book.close()


MOST_COLUMNS = 1024


def read_spreadsheet(path, what):
    """Return [(row number, [cell text])] of the first sheet of an OpenDocument
    spreadsheet (.ods, LibreOffice's own)."""
    from odf.namespaces import OFFICENS, TABLENS
    from odf.opendocument import load
    from odf.table import Table, TableCell, TableRow
    from odf.teletype import extractText
    try:
        sheet = load(path).spreadsheet.getElementsByType(Table)[0]
    except Exception as e:  # odf raises what its zip and XML readers do
        raise Refusal(f'{path}: cannot read the {what} as an .ods spreadsheet ({e})')
    rows, number = [], 0
    for row in sheet.getElementsByType(TableRow):
        cells = []
        for cell in row.getElementsByType(TableCell):
            value = cell.attributes.get((OFFICENS, 'value'))
            text = cell_text(float(value)) if value is not None else extractText(cell)
            # A run of cells alike is one cell repeated: the sheet's empty rest is one run.
            cells += [text] * min(int(cell.attributes.get((TABLENS, 'number-columns-repeated'), 1)), MOST_COLUMNS)
        while cells and not cells[-1].strip():
            cells.pop()
        repeated = int(row.attributes.get((TABLENS, 'number-rows-repeated'), 1))
        for _ in range(repeated if cells else 0):
            rows.append((number + 1, cells))
            number += 1
        number += 0 if cells else repeated
    return rows


SAMPLE = 2**20


def rows_about(path):
    """Return about how many rows a roster has, read from its size and its first
    mebibyte, or from a workbook's own dimension; None where neither tells."""
    try:
        if path.lower().endswith('.xlsx'):
            import openpyxl
            book = openpyxl.load_workbook(path, read_only=True)
            try:
                return book.worksheets[0].max_row
            finally:
                book.close()
        with open(path, 'rb') as f:
            sample = f.read(SAMPLE)
            size = os.fstat(f.fileno()).st_size
    except Exception:  # what cannot be read is said when it is read
        return None
    if not sample or path.lower().endswith('.ods'):
        return None
    return int((sample.count(b'\n') or 1) * size / len(sample))


def table_lines(path, encoding, what):
    """Yield (line, fields) of each row of a table, one at a time, the header
    first: the first sheet of an .xlsx workbook or an .ods spreadsheet, or a CSV
    file, comma, semicolon or tab separated, in the encodings text_lines takes.
    Blank rows are left out, and every row has the header's width at least. An
    old .xls is refused: nothing reads it here."""
    if path.lower().endswith('.xls'):
        raise Refusal(f'{path}: an old Excel workbook (.xls), which cannot be read here: save it as .xlsx or CSV')
    if path.lower().endswith('.xlsx'):
        rows = read_workbook(path, what)
    elif path.lower().endswith('.ods'):
        rows = iter(read_spreadsheet(path, what))
    else:
        rows = csv_lines(path, encoding, what)
    width = None
    for line, fields in rows:
        if any(field.strip() for field in fields):
            width = len(fields) if width is None else width
            yield line, fields + [''] * (width - len(fields))
    if width is None:
        raise Refusal(f'{path}:1: empty, not even a header row')


def csv_lines(path, encoding, what):
    """Yield (line, fields) of each record of a CSV file, its separator the one
    that splits its first line into the most fields."""
    lines = text_lines(path, encoding, what)
    first = next(lines, None)
    if first is None:
        return
    separated = itertools.chain([first[1]], (line for _, line in lines))
    reader = csv.reader(separated, delimiter=delimiter_of(first[1].rstrip('\r\n')))
    line = 1
    try:
        for record in reader:
            yield line, record
            line = reader.line_num + 1
    except csv.Error as e:
        raise Refusal(f'{path}:{reader.line_num}: not CSV ({e})')


def read_table(path, encoding, what):
    """Return [(line, fields)] of a table, as table_lines reads it: for the small ones (answers handed in)."""
    return list(table_lines(path, encoding, what))


def column(header, wanted, where):
    """Return the index of the column named `wanted`, compared as names are (in any case and spacing, ё as е)."""
    names = [name_key(h) for h in header]
    if name_key(wanted) not in names:
        raise Refusal(f'{where}: no column "{wanted}"; the header has: ' + ', '.join(f'"{h}"' for h in header))
    found = [i for i, name in enumerate(names) if name == name_key(wanted)]
    if len(found) > 1:
        raise Refusal(f'{where}: the column "{wanted}" is there twice (columns {found[0] + 1} and {found[1] + 1}); '
                      'rename one')
    return found[0]


# What a spreadsheet takes for the start of a formula (OWASP: CSV injection).
# A spreadsheet may split a field wherever a comma, semicolon or tab stands,
# whatever the quotes say (a Russian Windows splits on ;): what starts after
# one, spaces and quotes aside, may be taken for a formula too.
FORMULA = re.compile(r'(^|[,;\t\r\n])([ "]*)(?=[=+\-@\t\r])(?![-+]?\d+(?:[.,]\d+)?(?:$|[,;\t\r\n]))')


def as_text(row):
    """Return a row of a CSV for people to open: no cell that a spreadsheet
    would make of it, with any of the separators, starts a formula; a ' before
    it makes it text. Numbers stay numbers."""
    return {k: FORMULA.sub(r"\1\2'", v) if isinstance(v, str) else v for k, v in row.items()}


def write_csv(out_file, columns, rows, line_end='\r\n'):
    """A CSV for people (a report, links): a header of `columns`, then
    each row (a dict by column; missing cells empty), no cell that a
    spreadsheet would take for a formula."""
    writer = csv.DictWriter(out_file, columns, lineterminator=line_end, extrasaction='ignore', restval='')
    writer.writeheader()
    for row in rows:
        writer.writerow(as_text({k: '' if v is None else times.stamp(v) if isinstance(v, datetime.datetime) else v
                                 for k, v in row.items()}))


def inside(path, out):
    """Return whether `path` is the set `out` or anything in it, links followed."""
    path, out = os.path.realpath(path), os.path.realpath(out)
    return path == out or path.startswith(out.rstrip(os.sep) + os.sep)


UNFINISHED = '.class-set-'


def sweep_unfinished(folder):
    """Remove the files that a killed command left half-written in `folder`
    (none of them locked by a command still writing), and say so."""
    for path in leftovers(folder, UNFINISHED):
        try:
            with open(path, 'rb') as f:
                fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
                if time.time() - os.fstat(f.fileno()).st_mtime < 5:
                    continue  # just made: its writer may be about to lock it
                os.unlink(path)
        except (BlockingIOError, FileNotFoundError, IsADirectoryError):
            continue
        print(f'removed {path}, which a command left half-written when it was stopped', file=sys.stderr)


def writable(output, out):
    """The mode of the file `output` names (None where it is new), or a
    Refusal that says why nothing may be written there: inside the set
    `out`, a folder, a device or anything else that is no regular file,
    in a folder that is not there."""
    if inside(output, out):
        raise Refusal(f'{output}: inside the set {out}; write it somewhere else')
    try:
        mode = os.stat(output).st_mode
    except FileNotFoundError:
        mode = None
    if mode is not None and stat.S_ISDIR(mode):
        raise Refusal(f'{output}: a folder; name a file in it')
    if mode is not None and not stat.S_ISREG(mode):
        raise Refusal(f'{output}: not a regular file (a device, a pipe); name a new file, or - for standard output')
    folder = os.path.dirname(os.path.realpath(output))
    if not os.path.isdir(folder):
        raise Refusal(f'{output}: no folder {folder}')
    return mode


@contextlib.contextmanager
def whole_file(output, out, binary=False):
    """A text (or binary) file to write to: standard output for -, else a
    new regular file beside `output` that replaces it only once written
    whole. Never in the set `out`, and never over anything but a regular file."""
    if output == '-':
        yield sys.stdout.buffer if binary else sys.stdout
        return
    mode = writable(output, out)
    target = os.path.realpath(output)
    folder = os.path.dirname(target)
    sweep_unfinished(folder)
    fd, temporary = tempfile.mkstemp(prefix=UNFINISHED, dir=folder)
    fcntl.flock(fd, fcntl.LOCK_EX)  # ours while it is written: not another's leftover
    try:
        with (open(fd, 'wb') if binary else open(fd, 'w', encoding='utf-8', newline='')) as f:
            yield f
        if mode is not None:
            os.chmod(temporary, stat.S_IMODE(mode))
        os.replace(temporary, target)
    except BaseException:
        os.unlink(temporary)
        raise
