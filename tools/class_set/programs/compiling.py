"""Programs compiled with the release preset, in work folders of their own."""
import fcntl
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from scan_password import C_LOCALE

from .. import ROOT
from ..errors import Refusal
from ..progress import Progress
from ..set.files import leftovers


WORK = os.path.join(ROOT, 'build', 'class-set')


def work_place():
    """Return where programs are written before they join a set (made if missing)."""
    os.makedirs(WORK, exist_ok=True)
    return WORK


def work_folder():
    """Return a work folder of this build's own, locked while it lives, so that
    two builds from one checkout never share one; folders whose build is gone
    are removed."""
    os.makedirs(WORK, exist_ok=True)
    for stale in leftovers(WORK, 'work-'):
        try:
            with open(os.path.join(stale, 'lock'), 'rb') as f:
                fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            continue  # another build's
        except OSError:
            if time.time() - os.path.getmtime(stale) < 60:
                continue  # another build's, not yet locked
        shutil.rmtree(stale, ignore_errors=True)
    work = tempfile.mkdtemp(prefix='work-', dir=WORK)
    lock = open(os.path.join(work, 'lock'), 'wb')
    fcntl.flock(lock, fcntl.LOCK_EX)
    return work, lock


def folder_size(top):
    """Return bytes that the files under `top` take on disk."""
    return sum(os.lstat(os.path.join(root, name)).st_blocks * 512
               for root, _, names in os.walk(top) for name in names)


def configure(work, people):
    """Return the release preset configured in `work` for [(password, mask)]."""
    with open(os.path.join(work, 'people.txt'), 'w') as f:
        for i, (password, mask) in enumerate(people):
            f.write(f'p{i} {password} {mask}\n')
    build = os.path.join(work, 'build')
    configured = subprocess.run(['cmake', '--preset', 'release', '-B', build, f'-DPASSWORD_SET={work}/people.txt'],
                                cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                errors='replace', env=C_LOCALE)
    if configured.returncode:
        sys.stderr.write(configured.stdout[-4000:])
        raise Refusal('configuring the build failed; nothing was changed')
    return build


def build_programs(work, people, jobs):
    """Build one program per (password, mask) with the release preset in
    `work` (the judge compiled for each, the rest once), then scans them
    all, each for its own password; returns the path of each."""
    build = configure(work, people)
    progress, log = Progress('built', len(people)), []
    tool = subprocess.Popen(['cmake', '--build', build, '-j', str(jobs), '--target', 'class_set'],
                            cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors='replace',
                            env=C_LOCALE)
    for line in tool.stdout:
        log.append(line)
        if re.search(r'Linking CXX executable set/p\d+/PassWord\.exe', line):
            progress.step()
    if tool.wait():
        sys.stderr.write(''.join(log[-40:]))
        raise Refusal('the build or its password scan failed; nothing was changed')
    print(f'build folder: {folder_size(work) / 2**20:.0f} MiB, removed', file=sys.stderr)
    return [os.path.join(build, 'set', f'p{i}', 'PassWord.exe') for i in range(len(people))]
