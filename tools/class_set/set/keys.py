"""OUT/keys.csv: each person's secret key, for their own link; readable by
the set's owner only, as each key is a person's. By folder, as namesakes
share a name; a set from before namesakes had name,key only."""
import dataclasses
import os
import secrets

from ..errors import Refusal
from .files import KEYS, append_synced, csv_line, csv_text, replace_private, whole_records
from .journal import in_flight



# Crockford's base32: no I, L, O or U, so that a key typed from a slip
# cannot be mistyped for a look-alike; read in any case, I and L as 1, O as 0.
CROCKFORD = '0123456789ABCDEFGHJKMNPQRSTVWXYZ'
TYPED = str.maketrans('ILO', '110', '- ')


def new_key():
    """Return a person's secret: 128 random bits, in 26 characters of Crockford's base32."""
    number = secrets.randbits(128)
    return ''.join(CROCKFORD[number >> (5 * i) & 31] for i in reversed(range(26)))


def as_typed(key):
    """Return a key as people type it: any case, with or without dashes and
    spaces, look-alikes for what they look like. Keys from before (URL-safe
    base64, 22 characters) stay exactly as they are: their case counts."""
    plain = key.upper().translate(TYPED)
    return plain if len(plain) == 26 and all(c in CROCKFORD for c in plain) else key


def grouped(key):
    """Return a key in groups of four, dashes between: easy to read out and type."""
    if len(key) != 26:
        return key
    return '-'.join(key[i:i + 4] for i in range(0, 26, 4))


@dataclasses.dataclass(frozen=True)
class KeyLine:
    """A line of keys.csv: a person's key by their folder. A later line
    for a folder is its new key; one with no key ends it (a removal)."""
    name: str
    key: str
    folder: str

    @property
    def ends(self):
        """Whether it ends the folder's key (a removal)."""
        return self.key == ''


HEADER = ['name', 'key', 'folder']
OLD_HEADER = ['name', 'key']  # a set from before namesakes: names were one a person


def read_keys(out, rows):
    """Return {folder: key} of OUT/keys.csv; {} where the set has none yet."""
    path = os.path.join(out, KEYS)
    try:
        table, _ = whole_records(path)  # a new key is appended: one killed half-way is not there yet
    except FileNotFoundError:
        return {}
    except (OSError, UnicodeDecodeError) as e:
        raise Refusal(f'{path}: cannot read it ({e})')
    if not table or table[0] not in (HEADER, OLD_HEADER):
        raise Refusal(f'{path}:1: not a set made by class-set (header is not name,key,folder)')
    folder_of = {r.name: r.folder for r in rows}
    lines = [KeyLine(fields[0], fields[1], fields[2] if len(fields) == 3 else folder_of.get(fields[0]))
             if len(fields) in (2, 3) else None for fields in table[1:]]
    folders, underway = {r.folder for r in rows}, in_flight(out)
    ended = {line.folder for line in lines if line and line.ends}
    keys, whose = {}, {}
    for number, line in enumerate(lines, 2):
        if line and (line.folder in underway or line.folder in ended) and line.folder not in folders:
            continue  # someone being added, whose answers.csv line is still to come, or one removed
        if line and line.ends:
            whose.pop(keys.pop(line.folder, None), None)
            continue
        if not line or line.folder not in folders or len(line.key) < 22 \
                or whose.get(line.key, line.folder) != line.folder:
            raise Refusal(f'{path}:{number}: not a key of someone in the set')
        whose.pop(keys.get(line.folder), None)  # a later line for a folder is its new key
        keys[line.folder], whose[line.key] = line.key, line.folder
    return keys


def write_keys(root, rows, keys):
    """OUT/keys.csv whole, in one rename: each row's key, by folder."""
    replace_private(os.path.join(root, KEYS), csv_text(HEADER, [[r.name, keys[r.folder], r.folder] for r in rows]))


def keys_after(out, offset):
    """Return ([KeyLine], offset): the lines whole after byte `offset` of
    keys.csv, appended since (someone added, a new key, a key ended), and where
    they end."""
    table, end = whole_records(os.path.join(out, KEYS), offset)
    return [KeyLine(*fields) for fields in table if len(fields) == 3 and fields != HEADER], end


def end_keys(rows):
    """Return the lines of keys.csv that end the keys of `rows`."""
    return ''.join(csv_line([r.name, '', r.folder]) for r in rows)


def append_key(out, row, key):
    """A new key for one person, at the end of keys.csv (its header first
    where it is new): a later line for a folder is its key, so this costs
    one line however large the set."""
    path = os.path.join(out, KEYS)
    append_synced(path, ('' if os.path.exists(path) else csv_line(HEADER)) + csv_line([row.name, key, row.folder]))


def with_keys(out, rows):
    """Return everyone's key, giving one to whoever has none yet (a set made before keys); call with the set locked."""
    keys = read_keys(out, rows)
    if any(r.folder not in keys for r in rows):
        keys = {r.folder: keys.get(r.folder) or new_key() for r in rows}
        write_keys(out, rows, keys)
    return keys
