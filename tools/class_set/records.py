"""A set on disk: OUT/answers.csv (whose password is whose, readable by its
owner only), OUT/keys.csv (each person's secret key, for their own link,
as private) and OUT/handout/<folder>/PassWord.exe with SHA256SUMS."""
import contextlib
import csv
import fcntl
import hashlib
import io
import os
import re
import secrets
import shutil
import sys
import tempfile

from .roster import MAX_NAME, Refusal, check_folders, folder_for

# Room for the longest name that build takes, in any of the fields.
csv.field_size_limit(16 * MAX_NAME)

HEADER = ['name', 'folder', 'password', 'mask', 'sha256']
# What build writes in OUT; anything else there is kept as it is.
WRITTEN = {'handout', 'answers.csv', 'keys.csv'}
# What Finder and Explorer leave in a folder that someone opened.
SYSTEM_FILES = {'.ds_store', 'thumbs.db', 'ehthumbs.db', 'desktop.ini'}
# Letters and digits that no keyboard layout or font confuses.
ALPHABET = '23456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnpqrstuvwxyz'


# The judge as the release build compiles it: each masked word stored on the
# stack (movl $WORD, D(%esp)), and later loaded (mov D(%esp), %eax) and
# unmasked (xor $MASK, %eax; for 0x80 add $0x80, for 0xFF not %eax) for its
# comparison, in the password's order.
STORE = re.compile(rb'\xc7\x44\x24(.)(.)\x00\x00\x00', re.S)
UNMASK = re.compile(rb'\x8b\x44\x24(.)(?:\x31\xd2)?(?:\x83\xf0(.)|\x83\xc0(\x80)|\xf7\xd0)', re.S)


def held(program):
    """(password, mask) that a program's judge holds, or None where the
    judge is not found in it."""
    unmask = list(UNMASK.finditer(program))
    masks = {(m.group(2) or m.group(3) or b'\xff')[0] for m in unmask}
    if len(unmask) != 5 or len(masks) != 1:
        return None
    mask = masks.pop()
    # The stores come first, within the same routine.
    stored = dict(STORE.findall(program, max(0, unmask[0].start() - 256), unmask[0].start()))
    if any(m.group(1) not in stored for m in unmask):
        return None
    return bytes(stored[m.group(1)][0] ^ mask for m in unmask).decode('latin-1'), mask


def read_set(out, new_ok=True):
    """The rows of an existing set, after checking that answers.csv and
    handout/ agree. [] for a new set where new_ok."""
    answers, handout = os.path.join(out, 'answers.csv'), os.path.join(out, 'handout')
    if new_ok and (not os.path.exists(out) or (os.path.isdir(out) and not os.listdir(out))):
        return []
    if not (os.path.isfile(answers) and os.path.isdir(handout)):
        raise Refusal(f'{out}: not a set made by class-set (no answers.csv and handout/)')
    try:
        with open(answers, newline='', encoding='utf-8') as f:
            table = list(csv.reader(f))
    except (OSError, UnicodeDecodeError) as e:
        raise Refusal(f'{answers}: cannot read it ({e})')
    if not table or table[0] != HEADER:
        raise Refusal(f'{answers}:1: not a set made by class-set (header is not {",".join(HEADER)})')
    rows = []
    for number, row in enumerate(table[1:], 2):
        where = f'{answers}:{number}'
        if len(row) != len(HEADER):
            raise Refusal(f'{where}: expected {len(HEADER)} fields, got {len(row)}')
        name, folder, password, mask, digest = row
        program = os.path.join(handout, folder, 'PassWord.exe')
        if folder != folder_for(name):
            raise Refusal(f'{where}: folder "{folder}" is not the one for "{name}"')
        if len(password) != 5 or any(c not in ALPHABET for c in password) or not mask.isdigit() \
                or not 1 <= int(mask) <= 255:
            raise Refusal(f'{where}: not a password and mask of this command')
        try:
            with open(program, 'rb') as f:
                data = f.read()
        except OSError:
            data = None
        if data is None or hashlib.sha256(data).hexdigest() != digest:
            raise Refusal(f'{where}: {program} is missing or does not match its sha256')
        if held(data) != (password, int(mask)):
            raise Refusal(f'{where}: the password or mask is not the one that {program} holds')
        rows.append(dict(zip(HEADER, row)))
    check_folders([(r['folder'], r['name']) for r in rows], lambda folder: f'{answers}, folder {folder}')
    extra = {name for name in os.listdir(handout) if name.casefold() not in SYSTEM_FILES} \
        - {r['folder'] for r in rows} - {'SHA256SUMS'}
    if extra:
        raise Refusal(f'{handout}: {", ".join(sorted(extra))} not in answers.csv')
    if len({r['password'] for r in rows}) != len(rows):
        raise Refusal(f'{answers}: two people share a password')
    return rows


def write_set(root, rows, programs):
    """Lays out a complete set in `root`: programs linked (or copied) from
    `programs` (folder -> path), SHA256SUMS and answers.csv."""
    handout = os.path.join(root, 'handout')
    os.makedirs(handout)
    sums = io.StringIO()
    for row in sorted(rows, key=lambda r: r['folder']):
        os.mkdir(os.path.join(handout, row['folder']))
        target = os.path.join(handout, row['folder'], 'PassWord.exe')
        try:
            os.link(programs[row['folder']], target)
        except OSError:
            shutil.copyfile(programs[row['folder']], target)
        sums.write(f'{row["sha256"]}  {row["folder"]}/PassWord.exe\n')
    with open(os.path.join(handout, 'SHA256SUMS'), 'w', encoding='utf-8', newline='\n') as f:
        f.write(sums.getvalue())
    fd = os.open(os.path.join(root, 'answers.csv'), os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    with open(fd, 'w', encoding='utf-8', newline='') as f:
        writer = csv.writer(f, lineterminator='\r\n')
        writer.writerow(HEADER)
        writer.writerows([row[k] for k in HEADER] for row in rows)
        f.flush()
        os.fsync(f.fileno())


@contextlib.contextmanager
def locked(out):
    """OUT, made if missing, locked against every other change of the set
    (a build, an enrolment) until the block ends. A swap gives OUT another
    directory, so the lock is taken again until it holds the one at OUT."""
    made = not os.path.exists(out)
    while True:
        os.makedirs(out, exist_ok=True)  # again, where a failed first build removed it
        fd = os.open(out, os.O_RDONLY | os.O_DIRECTORY)
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            print(f'waiting for another change of {out} to end', file=sys.stderr, flush=True)
            fcntl.flock(fd, fcntl.LOCK_EX)
        held = os.fstat(fd)
        with contextlib.suppress(FileNotFoundError):
            here = os.stat(out)
            if (here.st_dev, here.st_ino) == (held.st_dev, held.st_ino):
                break
        os.close(fd)
    try:
        yield
    finally:
        if made:
            with contextlib.suppress(OSError):
                os.rmdir(out)  # still empty: nothing was built
        os.close(fd)


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
    names = {r['name'] for r in rows}
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
    """OUT/keys.csv whole, in one rename; private, as each key is a person's."""
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
    if any(r['name'] not in keys for r in rows):
        keys = {r['name']: keys.get(r['name']) or new_key() for r in rows}
        write_keys(out, keys)
    return keys


def who(out, word):
    for row in read_set(out, new_ok=False):
        if row['password'] == word:
            print(row['name'])
            return 0
    print(f'"{word}" is nobody\'s password in {out}')
    return 1
