"""A new set laid out beside OUT and put in its place in one step, so that
an interrupted change leaves the previous set as it was. Whatever else the
set holds (the answers handed in through serve, files of the organiser's
own) is carried into the new one."""
import contextlib
import ctypes
import errno
import fcntl
import os
import shutil
import subprocess
import tempfile

from ..errors import Refusal
from .files import CHECKINS, DETAILS, REMOVED, WALK_INS
from .folder import WRITTEN


# What other commands keep in a set, and a swap carries across as it is.
KNOWN = {CHECKINS, f'{CHECKINS}-journal', f'{CHECKINS}-wal', f'{CHECKINS}-shm', WALK_INS, DETAILS, REMOVED}


def carry_over(source, target):
    """A file or folder of the old set into the new one: the same file
    (a hard link) where the file system allows, else a copy."""
    if os.path.isdir(source) and not os.path.islink(source):
        os.mkdir(target, os.stat(source).st_mode & 0o7777)
        for name in os.listdir(source):
            carry_over(os.path.join(source, name), os.path.join(target, name))
        return
    try:
        os.link(source, target, follow_symlinks=False)
    except OSError as e:
        if e.errno not in (errno.EPERM, errno.EXDEV, errno.EMLINK, errno.ENOTSUP):
            raise
        shutil.copy2(source, target, follow_symlinks=False)


def exchange(new, out):
    """renameat2 with RENAME_EXCHANGE: each takes the other's place."""
    libc = ctypes.CDLL(None, use_errno=True)
    AT_FDCWD, RENAME_EXCHANGE = -100, 2
    if libc.renameat2(AT_FDCWD, os.fsencode(new), AT_FDCWD, os.fsencode(out), RENAME_EXCHANGE) != 0:
        raise Refusal(f'cannot swap the new set into {out}: {os.strerror(ctypes.get_errno())}; '
                      'nothing was changed')


def swap_in(new, out):
    """Carry what else OUT holds into `new`, then put `new` in the place
    of OUT, leaving the old set at `new`. serve's writes of the answers
    wait while this runs."""
    extras = sorted(set(os.listdir(out)) - WRITTEN - set(os.listdir(new)))
    checkins = os.path.join(out, CHECKINS)
    holding = os.open(checkins, os.O_RDONLY) if os.path.exists(checkins) else None
    try:
        if holding is not None:
            fcntl.flock(holding, fcntl.LOCK_EX)
        for name in extras:
            try:
                carry_over(os.path.join(out, name), os.path.join(new, name))
            except OSError as e:
                raise Refusal(f'{os.path.join(out, name)}: cannot carry it into the new set ({e.strerror}); '
                              'nothing was changed')
        if not os.listdir(out):
            os.rmdir(out)  # a new set: nothing to exchange with
            os.rename(new, out)
        else:
            exchange(new, out)
    finally:
        if holding is not None:
            os.close(holding)
    unknown = [name for name in extras if name not in KNOWN]
    if unknown:
        print(f'kept in {out}, not made by class-set: {", ".join(unknown)}')


def remove_in_background(old):
    """Remove the old set without waiting: a folder per person takes long
    to remove in a large set."""
    subprocess.Popen(['rm', '-rf', '--', old], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL, start_new_session=True)


@contextlib.contextmanager
def replacing(out):
    """A private folder beside OUT to lay the new set out in; swapped in
    where the block ends without an error, removed whatever happens."""
    parent, name = os.path.split(out)
    # Beside OUT, so that the swap is a rename; private, as it holds passwords.
    new = tempfile.mkdtemp(prefix=f'.{name}.new-', dir=parent)
    try:
        yield new
        os.chmod(new, 0o700)  # the organiser's alone, as every folder and file in it
        swap_in(new, out)
        if os.path.exists(new):  # the old set, now at `new`
            old = os.path.join(parent, f'.{name}.old-{os.path.basename(new).rpartition("-")[2]}')
            os.rename(new, old)
            remove_in_background(old)
    finally:
        shutil.rmtree(new, ignore_errors=True)  # what was laid out, where the swap did not happen
