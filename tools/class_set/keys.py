"""OUT/keys.csv: each person's secret key, for their own link; readable by
the set's owner only, as each key is a person's. By folder, as namesakes
share a name; a set from before namesakes had name,key only."""
import csv
import io
import os
import secrets

from .appending import in_flight, line, synced
from .errors import Refusal
from .files import whole_records, write_whole


# Crockford's base32: no I, L, O or U, so that a key typed from a slip
# cannot be mistyped for a look-alike; read in any case, I and L as 1, O as 0.
CROCKFORD = '0123456789ABCDEFGHJKMNPQRSTVWXYZ'
TYPED = str.maketrans('ILO', '110', '- ')


def new_key():
    """A person's secret: 128 random bits, in 26 characters of Crockford's base32."""
    number = secrets.randbits(128)
    return ''.join(CROCKFORD[number >> (5 * i) & 31] for i in reversed(range(26)))


def as_typed(key):
    """A key as people type it: any case, with or without dashes and spaces,
    look-alikes for what they look like. Keys from before (URL-safe base64,
    22 characters) stay exactly as they are: their case counts."""
    plain = key.upper().translate(TYPED)
    return plain if len(plain) == 26 and all(c in CROCKFORD for c in plain) else key


def shown(key):
    """A key in groups of four, dashes between: easy to read out and type."""
    if len(key) != 26:
        return key
    return '-'.join(key[i:i + 4] for i in range(0, 26, 4))


def read_keys(out, rows):
    """{folder: key} of OUT/keys.csv; {} where the set has none yet."""
    path = os.path.join(out, 'keys.csv')
    try:
        table, _ = whole_records(path)  # a new key is appended: one killed half-way is not there yet
    except FileNotFoundError:
        return {}
    except (OSError, UnicodeDecodeError) as e:
        raise Refusal(f'{path}: cannot read it ({e})')
    if not table or table[0] not in (['name', 'key'], ['name', 'key', 'folder']):
        raise Refusal(f'{path}:1: not a set made by class-set (header is not name,key,folder)')
    folder_of = {r.name: r.folder for r in rows}  # for name,key: names were one a person
    folders, underway = {r.folder for r in rows}, in_flight(out)
    ended = {row[2] for row in table[1:] if len(row) == 3 and row[1] == ''}  # people removed
    keys, where = {}, {}
    for number, row in enumerate(table[1:], 2):
        folder = row[2] if len(row) == 3 else folder_of.get(row[0]) if len(row) == 2 else None
        if (folder in underway or folder in ended) and folder not in folders:
            continue  # a walk-in's, whose answers.csv line is still to come, or one removed
        if len(row) == 3 and row[1] == '':  # a removal ended the folder's key
            where.pop(keys.pop(folder, None), None)
            continue
        if folder not in folders or len(row[1]) < 22 or where.get(row[1], folder) != folder:
            raise Refusal(f'{path}:{number}: not a key of someone in the set')
        where.pop(keys.get(folder), None)  # a later line for a folder is its new key
        keys[folder], where[row[1]] = row[1], folder
    return keys


def write_keys(root, rows, keys):
    """OUT/keys.csv whole, in one rename: each row's key, by folder."""
    text = io.StringIO()
    writer = csv.writer(text, lineterminator='\r\n')
    writer.writerow(['name', 'key', 'folder'])
    writer.writerows([r.name, keys[r.folder], r.folder] for r in rows)
    write_whole(os.path.join(root, 'keys.csv'), text.getvalue())


def keys_after(out, offset):
    """([(name, key, folder)], offset): the keys whole after byte `offset`
    of keys.csv, appended since (a walk-in's, a new one), and where they end."""
    table, end = whole_records(os.path.join(out, 'keys.csv'), offset)
    return [row for row in table if len(row) == 3], end


def append_key(out, row, key):
    """A new key for one person, at the end of keys.csv: a later line for a
    folder is its key, so this costs one line however large the set."""
    synced(os.path.join(out, 'keys.csv'), line([row.name, key, row.folder]))


def with_keys(out, rows):
    """Everyone's key, giving one to whoever has none yet (a set made before
    keys); call with the set locked."""
    keys = read_keys(out, rows)
    if any(r.folder not in keys for r in rows):
        keys = {r.folder: keys.get(r.folder) or new_key() for r in rows}
        write_keys(out, rows, keys)
    return keys
