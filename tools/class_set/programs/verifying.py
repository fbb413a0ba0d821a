"""Running every program of a set under Wine, the way a person would."""
import fcntl
import os
import shutil
import subprocess

from .. import ROOT
from ..errors import CANNOT_VERIFY, FAILED, OK
from ..progress import Progress
from ..set.folder import program_path
from .compiling import WORK, work_folder



def verify_command(out, rows):
    """Each program under Wine: its own password must win, the next
    person's must fail, and it must end with exit code 0. Exit code 3 where
    this machine's Wine cannot start 32-bit programs."""
    # A work folder and a session of its own, so that two verifies at once
    # keep apart, unless a session is up already (WINE_SESSION: a folder
    # given to scripts/wine-session start).
    work, lock = work_folder()
    session = os.environ.get('WINE_SESSION') or os.path.join(work, 'wine')
    wine_session = ['bash', os.path.join(ROOT, 'scripts', 'wine-session')]
    own = 'WINE_SESSION' not in os.environ
    try:
        if own:
            subprocess.run(wine_session + ['start', session], check=True, stdout=subprocess.DEVNULL)
        unable = os.path.join(session, 'unable')
        if os.path.exists(unable):
            with open(unable, encoding='utf-8', errors='replace') as f:
                print(f'verify: cannot verify here, the set is built but untested: {f.read().strip()}')
            return CANNOT_VERIFY
        return verify_in(session, work, out, rows)
    finally:
        if own:
            subprocess.run(wine_session + ['stop', session])
        shutil.rmtree(work, ignore_errors=True)
        lock.close()


def verify_in(session, work, out, rows):
    """The verifier built and run over the set in a session that can start its programs."""
    listing = list_programs(work, out, rows)
    failures, progress = 0, Progress('verified', len(rows))
    driver = subprocess.Popen([os.path.join(ROOT, 'cmake', 'wine-run'), session, verifier(work), listing],
                              stdout=subprocess.PIPE, text=True, errors='replace',
                              env=dict(os.environ, LC_ALL='ru_RU.UTF-8'))
    for line in driver.stdout:
        index, _, verdict = line.strip().partition(' ')
        if not index.isdigit():
            continue
        progress.step()
        if verdict != 'ok':
            failures += 1
            print(f'FAIL {rows[int(index)].folder}: {verdict}')
    driver.wait()
    if progress.done != len(rows):
        failures += len(rows) - progress.done
        print(f'the verifier stopped after {progress.done} of {len(rows)} programs')
    print(f'verify: {len(rows) - failures} passed, {failures} failed')
    return FAILED if failures else OK


def verifier(work):
    """verify_set.exe in `work`. One build of it serves every verify; one at a time builds it."""
    build = os.path.join(WORK, 'verify')
    with open(os.path.join(WORK, 'verify.lock'), 'wb') as held:
        fcntl.flock(held, fcntl.LOCK_EX)
        subprocess.run(['cmake', '--preset', 'release', '-B', build], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
        subprocess.run(['cmake', '--build', build, '--target', 'verify_set'], cwd=ROOT, check=True,
                       stdout=subprocess.DEVNULL)
        path = os.path.join(work, 'verify_set.exe')
        shutil.copyfile(os.path.join(build, 'bin', 'verify_set.exe'), path)
    return path


def list_programs(work, out, rows):
    """Return the verifier's list: each program copied under an ASCII name (Wine
    starts them through the ANSI code page), its password, and the next
    person's, which must fail."""
    programs = os.path.join(work, 'programs')
    os.makedirs(programs)
    listing = os.path.join(programs, 'list.txt')
    with open(listing, 'w', encoding='utf-8') as f:
        for i, row in enumerate(rows):
            path = os.path.join(programs, f'{i}.exe')
            shutil.copyfile(program_path(out, row), path)
            other = rows[(i + 1) % len(rows)].password if len(rows) > 1 else 'wrong'
            f.write(f'{i}\tZ:{path.replace("/", chr(92))}\t{row.password}\t{other}\n')
    return listing
