#!/usr/bin/env python3
"""One PassWord.exe per person of a group, each with a password of its own.

    class-set build ROSTER OUT [--verify]
    class-set who OUT WORD

build: OUT/handout/<folder>/PassWord.exe for every name of ROSTER (UTF-8,
one name a line; blank lines and lines starting with # are skipped),
OUT/handout/SHA256SUMS, and OUT/answers.csv (name, folder, password, mask,
sha256; readable by its owner only). On an existing set it adds only the
newcomers. Every program is built with the release build's options and
scanned for its password before it is handed out. --verify then runs each
program under Wine: its own password must win, another's must fail.

who: the name whose password WORD is.

OUT changes in one step: the new set is made beside it and swapped in, so
an interrupted build leaves the previous set as it was.
"""
import csv
import ctypes
import glob
import hashlib
import io
import os
import re
import secrets
import shutil
import subprocess
import sys
import tempfile
import time
import unicodedata

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

HEADER = ['name', 'folder', 'password', 'mask', 'sha256']
# Letters and digits that no keyboard layout or font confuses.
ALPHABET = '23456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnpqrstuvwxyz'
# Device names, with or without an extension; Windows counts ¹²³ as digits.
RESERVED = {'CON', 'PRN', 'AUX', 'NUL'} | {p + n for p in ('COM', 'LPT') for n in '0123456789¹²³'}
UNSAFE = re.compile(r'[/\\:*?"<>|\x00-\x1f\x7f-\x9f]')
MAX_FOLDER = 64


class Refusal(Exception):
    """Bad input: said in one line, and nothing is written."""


def folder_for(name):
    """A folder name that Windows, macOS, Linux and zip all take as it is."""
    folder = UNSAFE.sub('_', unicodedata.normalize('NFC', name))
    folder = folder[:MAX_FOLDER].strip(' .')
    if not folder or folder.split('.')[0].rstrip(' ').upper() in RESERVED:
        return None
    return folder


def read_roster(path):
    """[(line number, name)] of the roster, or a Refusal that names the line."""
    try:
        with open(path, 'rb') as f:
            data = f.read()
    except OSError as e:
        raise Refusal(f'{path}: cannot read the roster ({e.strerror})')
    if data.startswith(b'\xef\xbb\xbf'):
        data = data[3:]
    people, seen = [], {}
    for number, raw in enumerate(data.split(b'\n'), 1):
        try:
            line = raw.decode('utf-8').strip()
        except UnicodeDecodeError:
            raise Refusal(f'{path}:{number}: not UTF-8 text')
        if not line or line.startswith('#'):
            continue
        name = unicodedata.normalize('NFC', line)
        if name in seen:
            raise Refusal(f'{path}:{number}: "{name}" is already on line {seen[name]}')
        seen[name] = number
        people.append((number, name))
    if not people:
        raise Refusal(f'{path}: no names in the roster')
    return people


def check_folders(named, where):
    """named: [(place, name)]. Every name gets a folder of its own, also
    where case does not count."""
    taken = {}
    for place, name in named:
        folder = folder_for(name)
        if folder is None:
            raise Refusal(f'{where(place)}: "{name}" gives no safe folder name; write it another way')
        key = folder.casefold()
        if key in taken:
            other, other_name = taken[key]
            raise Refusal(f'{where(place)}: "{name}" and "{other_name}" ({where(other)}) '
                          f'would share the folder "{folder}"')
        taken[key] = (place, name)


def sha256(path):
    with open(path, 'rb') as f:
        return hashlib.sha256(f.read()).hexdigest()


def read_set(out):
    """The rows of an existing set, after checking that answers.csv and
    handout/ agree. [] for a new set."""
    answers, handout = os.path.join(out, 'answers.csv'), os.path.join(out, 'handout')
    if not os.path.exists(out) or (os.path.isdir(out) and not os.listdir(out)):
        return []
    if not (os.path.isfile(answers) and os.path.isdir(handout)):
        raise Refusal(f'{out}: exists but is not a set made by class-set (no answers.csv and handout/)')
    with open(answers, newline='', encoding='utf-8') as f:
        table = list(csv.reader(f))
    if not table or table[0] != HEADER:
        raise Refusal(f'{answers}: not a set made by class-set (header is not {",".join(HEADER)})')
    rows = []
    for number, row in enumerate(table[1:], 2):
        where = f'{answers}:{number}'
        if len(row) != len(HEADER):
            raise Refusal(f'{where}: expected {len(HEADER)} fields, got {len(row)}')
        name, folder, password, mask, digest = row
        program = os.path.join(handout, folder, 'PassWord.exe')
        if folder != folder_for(name):
            raise Refusal(f'{where}: folder "{folder}" is not the one for "{name}"')
        if not os.path.isfile(program) or sha256(program) != digest:
            raise Refusal(f'{where}: {program} is missing or does not match its sha256')
        if len(password) != 5 or any(c not in ALPHABET for c in password) or not mask.isdigit() \
                or not 1 <= int(mask) <= 255:
            raise Refusal(f'{where}: not a password and mask of this command')
        rows.append(dict(zip(HEADER, row)))
    check_folders([(r['folder'], r['name']) for r in rows], lambda folder: f'{answers}, folder {folder}')
    extra = set(os.listdir(handout)) - {r['folder'] for r in rows} - {'SHA256SUMS'}
    if extra:
        raise Refusal(f'{handout}: {", ".join(sorted(extra))} not in answers.csv')
    if len({r['password'] for r in rows}) != len(rows):
        raise Refusal(f'{answers}: two people share a password')
    return rows


class Progress:
    """done/total and the time taken, on standard error: in place on a
    terminal, else a line at every tenth."""

    def __init__(self, what, total):
        self.what, self.total, self.done, self.start = what, total, 0, time.monotonic()
        self.tty = sys.stderr.isatty()

    def step(self):
        self.done += 1
        if not self.tty and self.done != self.total and self.done % max(1, self.total // 10):
            return
        print(f'{self.what}: {self.done}/{self.total}, {time.monotonic() - self.start:.0f} s',
              end='\r' if self.tty and self.done != self.total else '\n', file=sys.stderr, flush=True)


def build_programs(work, newcomers):
    """Builds one program per newcomer in `work`, each scanned for its
    password as it is linked; returns the path of each."""
    with open(os.path.join(work, 'people.txt'), 'w') as f:
        for i, row in enumerate(newcomers):
            f.write(f'p{i} {row["password"]} {row["mask"]}\n')
    build = os.path.join(work, 'build')
    subprocess.run(['cmake', '--preset', 'release', '-B', build, f'-DPASSWORD_SET={work}/people.txt'],
                   cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    progress, log = Progress('built', len(newcomers)), []
    make = subprocess.Popen(['cmake', '--build', build, '-j', str(os.cpu_count() or 2), '--target', 'class_set'],
                            cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors='replace')
    for line in make.stdout:
        log.append(line)
        if re.search(r'Built target PassWord_p\d+$', line.strip()):
            progress.step()
    if make.wait():
        sys.stderr.write(''.join(log[-40:]))
        raise SystemExit('class-set: the build or its password scan failed; nothing was changed')
    return [os.path.join(build, 'set', f'p{i}', 'PassWord.exe') for i in range(len(newcomers))]


def write_set(root, rows, programs):
    """Lays out a complete set in `root`: programs linked (or copied) from
    `programs`, SHA256SUMS and answers.csv."""
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


def swap_in(new, out):
    """Puts the directory `new` in the place of `out` in one step where the
    system can (renameat2 with RENAME_EXCHANGE); the old set is removed."""
    if not os.path.exists(out):
        os.rename(new, out)
        return
    libc = ctypes.CDLL(None, use_errno=True)
    AT_FDCWD, RENAME_EXCHANGE = -100, 2
    if libc.renameat2(AT_FDCWD, os.fsencode(new), AT_FDCWD, os.fsencode(out), RENAME_EXCHANGE) != 0:
        raise SystemExit(f'class-set: cannot swap the new set into {out}: {os.strerror(ctypes.get_errno())}')
    shutil.rmtree(new)


def build(roster, out, verify):
    out = os.path.abspath(out)
    people = read_roster(roster)
    check_folders(people, lambda number: f'{roster}:{number}')
    rows = read_set(out)
    known = {r['name'] for r in rows}
    newcomers = [name for _, name in people if name not in known]
    check_folders([(r['name'], r['name']) for r in rows] + [(n, n) for n in newcomers],
                  lambda name: f'{roster}, "{name}"' if name in newcomers else f'{out}/answers.csv, "{name}"')
    absent = sorted(known - {name for _, name in people})
    if absent:
        print(f'kept, though not in the roster: {", ".join(absent)}')

    start = time.monotonic()
    if newcomers:
        taken = {r['password'] for r in rows}
        added = []
        for name in newcomers:
            password = None
            while password is None or password in taken:
                password = ''.join(secrets.choice(ALPHABET) for _ in range(5))
            taken.add(password)
            added.append({'name': name, 'folder': folder_for(name), 'password': password,
                          'mask': str(1 + secrets.randbelow(255))})
        parent = os.path.dirname(out)
        os.makedirs(parent, exist_ok=True)
        for stale in glob.glob(os.path.join(parent, f'.{os.path.basename(out)}.new-*')):
            shutil.rmtree(stale, ignore_errors=True)  # left by an interrupted build
        # Beside OUT, so that the swap is a rename; private, as it holds passwords.
        new = tempfile.mkdtemp(prefix=f'.{os.path.basename(out)}.new-', dir=parent)
        # One folder, emptied each time, so that an interrupted build leaves
        # nothing behind for long.
        work = os.path.join(ROOT, 'build', 'class-set', 'set')
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work, mode=0o700)
        try:
            built = build_programs(work, added)
            programs = {r['folder']: os.path.join(out, 'handout', r['folder'], 'PassWord.exe') for r in rows}
            for row, program in zip(added, built):
                row['sha256'] = sha256(program)
                programs[row['folder']] = program
            write_set(new, rows + added, programs)
            os.chmod(new, 0o755)
            swap_in(new, out)
        finally:
            shutil.rmtree(work, ignore_errors=True)
            shutil.rmtree(new, ignore_errors=True)
        rows += added
    print(f'{len(rows)} programs in {out}/handout: {len(newcomers)} new, '
          f'{len(rows) - len(newcomers)} kept, {time.monotonic() - start:.1f} s')
    return run_verify(out, rows) if verify else 0


def run_verify(out, rows):
    """Each program under Wine: its own password must win, the next
    person's must fail, and it must end with exit code 0. Exit code 3 where
    this machine's Wine cannot start 32-bit programs."""
    work = os.path.join(ROOT, 'build', 'class-set')
    os.makedirs(work, exist_ok=True)
    # A session of its own, unless one is up already (WINE_SESSION: a folder
    # given to scripts/wine-session start).
    session = os.environ.get('WINE_SESSION') or os.path.join(work, 'wine')
    wine_session = ['bash', os.path.join(ROOT, 'scripts', 'wine-session')]
    own = 'WINE_SESSION' not in os.environ
    if own:
        subprocess.run(wine_session + ['start', session], check=True, stdout=subprocess.DEVNULL)
    try:
        unable = os.path.join(session, 'unable')
        if os.path.exists(unable):
            with open(unable) as f:
                print(f'verify: cannot verify here, the set is built but untested: {f.read().strip()}')
            return 3
        return verify_in(session, work, out, rows)
    finally:
        if own:
            subprocess.run(wine_session + ['stop', session])


def verify_in(session, work, out, rows):
    build = os.path.join(work, 'verify')
    subprocess.run(['cmake', '--preset', 'release', '-B', build], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(['cmake', '--build', build, '--target', 'verify_set'], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    # ASCII names for the programs: Wine starts them through the ANSI code page.
    programs = os.path.join(build, 'programs')
    shutil.rmtree(programs, ignore_errors=True)
    os.makedirs(programs)
    with open(os.path.join(programs, 'list.txt'), 'w') as f:
        for i, row in enumerate(rows):
            path = os.path.join(programs, f'{i}.exe')
            shutil.copyfile(os.path.join(out, 'handout', row['folder'], 'PassWord.exe'), path)
            other = rows[(i + 1) % len(rows)]['password'] if len(rows) > 1 else 'wrong'
            f.write(f'{i}\tZ:{path.replace("/", chr(92))}\t{row["password"]}\t{other}\n')
    failures, progress = 0, Progress('verified', len(rows))
    driver = subprocess.Popen([os.path.join(ROOT, 'cmake', 'wine-run'), session,
                               os.path.join(build, 'bin', 'verify_set.exe'), os.path.join(programs, 'list.txt')],
                              stdout=subprocess.PIPE, text=True, errors='replace',
                              env=dict(os.environ, LANG='ru_RU.UTF-8'))
    for line in driver.stdout:
        index, _, verdict = line.strip().partition(' ')
        if not index.isdigit():
            continue
        progress.step()
        if verdict != 'ok':
            failures += 1
            print(f'FAIL {rows[int(index)]["folder"]}: {verdict}')
    driver.wait()
    if progress.done != len(rows):
        failures += len(rows) - progress.done
        print(f'the verifier stopped after {progress.done} of {len(rows)} programs')
    print(f'verify: {len(rows) - failures} passed, {failures} failed')
    return 1 if failures else 0


def who(out, word):
    for row in read_set(out):
        if row['password'] == word:
            print(row['name'])
            return 0
    print(f'"{word}" is nobody\'s password in {out}')
    return 1


def main(argv):
    try:
        if len(argv) in (3, 4) and argv[0] == 'build' and argv[3:] in ([], ['--verify']):
            return build(argv[1], argv[2], argv[3:] == ['--verify'])
        if len(argv) == 3 and argv[0] == 'who':
            return who(argv[1], argv[2])
    except Refusal as refusal:
        print(f'class-set: {refusal}', file=sys.stderr)
        return 2
    print(__doc__.split('\n\n')[1], file=sys.stderr)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
