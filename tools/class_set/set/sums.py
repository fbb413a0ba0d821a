"""OUT/handout/SHA256SUMS: each program's sha256, as sha256sum -c reads
it; its one writer, its reader and its finder."""
import os

from .files import PROGRAM, SUMS, append_synced, write_private


def line(row):
    """Return a program's line."""
    return f'{row.sha256}  {row.folder}/{PROGRAM}\n'


def text(rows):
    """SHA256SUMS whole, in the order of the folders."""
    return ''.join(line(row) for row in sorted(rows, key=lambda r: r.folder))


def write(root, rows):
    """SHA256SUMS of a set laid out anew in `root`."""
    write_private(os.path.join(root, SUMS), text(rows))


def append(out, row):
    """A newcomer's line at its end."""
    append_synced(os.path.join(out, SUMS), line(row))


def read(out):
    """Return {folder: sha256} of the set OUT."""
    with open(os.path.join(out, SUMS), encoding='utf-8') as f:
        return {rest.rsplit('/', 1)[0]: digest for digest, _, rest in (entry.rstrip('\n').partition('  ')
                                                                      for entry in f if entry.strip())}


def find(out, folder):
    """Return a folder's sha256 as SHA256SUMS says it; None where it has no line."""
    return read(out).get(folder)
