"""OUT/keys.csv: each person's secret key, for their own link; readable by
the set's owner only, as each key is a person's."""
import contextlib
import csv
import os
import secrets
import tempfile

from .errors import Refusal


def new_key():
    """A person's secret: 128 random bits, URL-safe."""
    return secrets.token_urlsafe(16)


def read_keys(out, rows):
    """{name: key} of OUT/keys.csv; {} where the set has none yet."""
    path = os.path.join(out, 'keys.csv')
    try:
        with open(path, newline='', encoding='utf-8') as f:
            table = list(csv.reader(f))
    except FileNotFoundError:
        return {}
    except (OSError, UnicodeDecodeError) as e:
        raise Refusal(f'{path}: cannot read it ({e})')
    names = {r.name for r in rows}
    if not table or table[0] != ['name', 'key']:
        raise Refusal(f'{path}:1: not a set made by class-set (header is not name,key)')
    keys, seen = {}, set()
    for number, row in enumerate(table[1:], 2):
        if len(row) != 2 or row[0] not in names or len(row[1]) < 22 or row[1] in seen:
            raise Refusal(f'{path}:{number}: not a key of someone in the set')
        keys[row[0]] = row[1]
        seen.add(row[1])
    return keys


def write_keys(root, keys):
    """OUT/keys.csv whole, in one rename."""
    fd, temporary = tempfile.mkstemp(prefix='.keys-', dir=root)
    try:
        with open(fd, 'w', encoding='utf-8', newline='') as f:
            writer = csv.writer(f, lineterminator='\r\n')
            writer.writerow(['name', 'key'])
            writer.writerows(keys.items())
            f.flush()
            os.fsync(f.fileno())
        os.replace(temporary, os.path.join(root, 'keys.csv'))
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise


def with_keys(out, rows):
    """Everyone's key, giving one to whoever has none yet (a set made before
    keys); call with the set locked."""
    keys = read_keys(out, rows)
    if any(r.name not in keys for r in rows):
        keys = {r.name: keys.get(r.name) or new_key() for r in rows}
        write_keys(out, keys)
    return keys
