"""Files that people hand the tool (rosters, exported answers) and files it
writes for them (reports, links): how they are read and where they may go."""
import codecs
import contextlib
import os
import stat
import sys
import tempfile

from .errors import Refusal

WAYS_OUT = ('save it as UTF-8 (or as "Unicode text"), or name its encoding with --encoding, '
            'for instance --encoding cp1251')


def read_text(path, encoding, what):
    """The text of a file: in `encoding` where one is given, else UTF-16
    with a byte order mark (a spreadsheet's "Unicode text"), else UTF-8
    with or without one. A code page is never guessed."""
    try:
        with open(path, 'rb') as f:
            data = f.read()
    except OSError as e:
        raise Refusal(f'{path}: cannot read the {what} ({e.strerror})')
    if encoding:
        try:
            codecs.lookup(encoding)
        except LookupError:
            raise Refusal(f'--encoding {encoding}: no such encoding')
    elif data.startswith((codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE)):
        encoding = 'utf-16'
    else:
        encoding = 'utf-8-sig'
    try:
        return data.decode(encoding)
    except UnicodeDecodeError as e:
        line = data[:e.start].decode(encoding, 'replace').count('\n') + 1
        if encoding == 'utf-8-sig':
            raise Refusal(f'{path}:{line}: not UTF-8 text; {WAYS_OUT}')
        raise Refusal(f'{path}:{line}: not {encoding} text')


# What a spreadsheet takes for the start of a formula (OWASP: CSV injection).
FORMULA = ('=', '+', '-', '@', '\t', '\r')


def as_text(row):
    """A row of a CSV for people to open: each cell that a spreadsheet would
    take for a formula is written so that it shows as text."""
    return {k: "'" + v if isinstance(v, str) and v.startswith(FORMULA) else v for k, v in row.items()}


def leftovers(parent, prefix):
    """The entries of `parent` whose names start with `prefix`, taken
    literally (a name may hold [, ], * or ?)."""
    return [os.path.join(parent, name) for name in os.listdir(parent) if name.startswith(prefix)]


def inside(path, out):
    """Whether `path` is the set `out` or anything in it, links followed."""
    path, out = os.path.realpath(path), os.path.realpath(out)
    return path == out or path.startswith(out.rstrip(os.sep) + os.sep)


@contextlib.contextmanager
def whole_file(output, out):
    """A text file to write to: standard output for -, else a new regular
    file beside `output` that replaces it only once written whole. Never in
    the set `out`, and never over anything but a regular file."""
    if output == '-':
        yield sys.stdout
        return
    if inside(output, out):
        raise Refusal(f'{output}: inside the set {out}; write it somewhere else')
    try:
        mode = os.stat(output).st_mode
    except FileNotFoundError:
        mode = None
    target = os.path.realpath(output)
    if mode is not None and not stat.S_ISREG(mode):
        raise Refusal(f'{output}: not a regular file; name a new file, or - for standard output')
    folder = os.path.dirname(target)
    if not os.path.isdir(folder):
        raise Refusal(f'{output}: no folder {folder}')
    fd, temporary = tempfile.mkstemp(prefix='.class-set-', dir=folder)
    try:
        with open(fd, 'w', encoding='utf-8', newline='') as f:
            yield f
        if mode is not None:
            os.chmod(temporary, stat.S_IMODE(mode))
        os.replace(temporary, target)
    except BaseException:
        os.unlink(temporary)
        raise
