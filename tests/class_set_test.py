"""scripts/class-set on small sets: bad input refused with nothing written,
a set grown by one keeping everyone else's bytes, an interrupted build,
who, --verify, and a program rebuilt by the release preset."""
import csv
import hashlib
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

import pytest

from conftest import COMMAND, ROOT


def class_set(*args):
    return subprocess.run(COMMAND + list(args), capture_output=True, text=True, stdin=subprocess.DEVNULL)


def snapshot(top):
    """Every file under top: its mode and hash."""
    files = {}
    for root, _, names in os.walk(top):
        for name in names:
            path = os.path.join(root, name)
            with open(path, 'rb') as f:
                files[os.path.relpath(path, top)] = (os.stat(path).st_mode, hashlib.sha256(f.read()).hexdigest())
    return files


def leftovers(parent):
    """Staging folders of builds beside the sets in `parent`."""
    return [name for name in os.listdir(parent) if '.new-' in name]


def rows(out):
    with open(os.path.join(out, 'answers.csv'), newline='', encoding='utf-8') as f:
        return list(csv.DictReader(f))


class Folder:
    """A folder of the tests' own under build/, where the release preset
    and Wine see it as they would a set's."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix='class-set-test-', dir=os.path.join(ROOT, 'build'))

    def write(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, 'wb') as f:
            f.write(text.encode('utf-8') if isinstance(text, str) else text)
        return path


@pytest.fixture(scope='class')
def here():
    """A Folder for a class of tests, removed after them."""
    folder = Folder()
    yield folder
    shutil.rmtree(folder.dir)


class TestBuilds:
    def test_two_builds_at_once_from_one_checkout(self, here):
        # Rosters as a spreadsheet on a Russian Windows saves them: a code page, or "Unicode text".
        rosters = [(here.write('group1.txt', 'Группа 1\r\n'.encode('cp1251')), ['--encoding', 'cp1251']),
                   (here.write('group2.txt', '\ufeffГруппа 2\r\n'.encode('utf-16-le')), [])]
        # Each verified in a Wine session of its own (or refused alike where 32-bit programs cannot run).
        environment = {k: v for k, v in os.environ.items() if k != 'WINE_SESSION'}
        builds = [subprocess.Popen(COMMAND + ['build', roster, os.path.join(here.dir, f'group{i}'), '--verify',
                                              *options], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                   env=environment)
                  for i, (roster, options) in enumerate(rosters, 1)]
        outcomes = [(build.wait(), build.stdout.read(), build.stderr.read()) for build in builds]
        for build in builds:
            build.stdout.close()
            build.stderr.close()
        for i, (status, said, problems) in enumerate(outcomes, 1):
            assert status in (0, 3), said + problems
            assert 'verify: 1 passed, 0 failed' if status == 0 else 'verify: cannot verify here' in said
            assert status == outcomes[0][0]
            assert [r['name'] for r in rows(os.path.join(here.dir, f'group{i}'))] == [f'Группа {i}']
            check = subprocess.run(['sha256sum', '--quiet', '-c', 'SHA256SUMS'],
                                   cwd=os.path.join(here.dir, f'group{i}', 'handout'))
            assert check.returncode == 0


class TestCareless:
    def test_odd_names_and_places(self, here):
        # A set kept elsewhere behind a link, in a folder whose name is a glob
        # pattern; leftovers of an interrupted build, and another set's that
        # the pattern would match.
        real = os.path.join(here.dir, 'real [1]*?')
        link = os.path.join(here.dir, 'link')
        os.symlink(real, link)
        os.makedirs(os.path.join(here.dir, '.real [1]*?.new-stale'))
        os.makedirs(os.path.join(here.dir, '.real 1xy.new-other'))
        # Two files joined with cat, a zero-width space, and emoji past 255 bytes.
        roster = here.write('odd.txt', '\ufeffAnn\n\ufeffBo\u200bb\n' + '\U0001F600' * 64 + '\n')
        result = class_set('build', roster, link)
        assert result.returncode == 0, result.stderr
        assert os.readlink(link) == real
        people = rows(real)
        assert [r['name'] for r in people][:2] == ['Ann', 'Bob']
        assert len(people[2]['folder'].encode()) <= 255
        assert leftovers(here.dir) == ['.real 1xy.new-other']
        # Someone opened handout/ in Finder and in Explorer.
        for name in ('.DS_Store', 'Thumbs.db', 'desktop.ini'):
            here.write(f'real [1]*?/handout/{name}', 'system')
        assert class_set('who', link, people[1]['password']).stdout == 'Bob\n'
        typed = here.write('typed.csv', 'name,password\n\u200bB\u200bob\u202e,' + people[1]['password'] + '\n')
        assert class_set('grade', link, typed).stderr.startswith('1 solved')

    def test_two_builds_into_one_set(self, here):
        out = os.path.join(here.dir, 'shared')
        first = subprocess.Popen(COMMAND + ['build', here.write('a.txt', 'Ann\nAbe\n'), out],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        while first.poll() is None and not os.path.isdir(out):  # made and locked by the first
            time.sleep(0.01)
        second = class_set('build', here.write('b.txt', 'Bea\nBob\n'), out)
        assert first.wait() == 0, first.stderr.read()
        assert second.returncode == 0, second.stderr
        assert sorted(r['name'] for r in rows(out)) == ['Abe', 'Ann', 'Bea', 'Bob']

    def test_full_and_read_only_disks(self, here):
        for what, options, said in [('full', 'size=24k', 'which has 0 MiB free; nothing was written'),
                                    ('read-only', 'ro', 'Read-only file system')]:
            disk = os.path.join(here.dir, what)
            os.mkdir(disk)
            # A file system of its own, seen only by this command.
            result = subprocess.run(
                ['unshare', '-m', 'bash', '-c', 'mount -t tmpfs -o "$1" tmpfs "$2" || exit 77; shift 2; "$@"; '
                 'echo "status $?" >&2; ls -A "$0" >&2', disk, options, disk, *COMMAND, 'build',
                 here.write('two.txt', 'Ann\nBob\n'), os.path.join(disk, 'out')],
                capture_output=True, text=True)
            if result.returncode == 77:
                pytest.skip('cannot mount a file system here: ' + result.stderr.strip())
            lines = [line for line in result.stderr.splitlines() if line.startswith(('class-set:', 'status', 'Trace'))]
            assert len(lines) == 2, what + result.stderr
            assert lines[0].startswith('class-set: ') and said in lines[0], what + result.stderr
            assert lines[1] == 'status 1', what
            assert (result.stderr.splitlines()[-1]) == 'status 1', f'{what}: left {result.stderr}'


class TestClassSet:
    @pytest.fixture(scope='class')
    def here(self, here):
        """The Folder with a small set built and verified in it."""
        here.out = os.path.join(here.dir, 'set')
        here.roster = here.write('roster.txt', '# group A\n  Анна Петрова \n\nJosé O\'Neil, Jr.\n')
        here.built = class_set('build', here.roster, here.out, '--verify')
        return here

    def test_built_and_verified(self, here):
        # Where this Wine cannot start 32-bit programs, the set is built and
        # kept, and verifying is refused with the reason.
        if os.path.exists(os.path.join(os.environ['WINE_SESSION'], 'unable')):
            assert here.built.returncode == 3, here.built.stdout + here.built.stderr
            assert 'verify: cannot verify here' in here.built.stdout
        else:
            assert here.built.returncode == 0, here.built.stdout + here.built.stderr
            assert 'verify: 2 passed, 0 failed' in here.built.stdout
        people = rows(here.out)
        assert [(r['name'], r['folder']) for r in people] == [('Анна Петрова', 'Анна Петрова'), ("José O'Neil, Jr.", "José O'Neil, Jr")]
        for r in people:
            assert re.search((r'^[2-9A-HJ-NP-Za-km-z]{5}$'), r['password'])
        assert (os.stat(os.path.join(here.out, 'answers.csv')).st_mode & 0o777) == 0o600
        check = subprocess.run(['sha256sum', '--quiet', '-c', 'SHA256SUMS'], cwd=os.path.join(here.out, 'handout'))
        assert check.returncode == 0

    def test_bad_input_changes_nothing(self, here):
        before = snapshot(here.out)
        not_a_set = os.path.join(here.dir, 'not-a-set')
        os.makedirs(not_a_set, exist_ok=True)
        here.write('not-a-set/notes.txt', 'mine')
        cases = [
            ('missing roster', [os.path.join(here.dir, 'nobody.txt'), here.out], 'cannot read'),
            ('no names', [here.write('empty.txt', '# none yet\n\n'), here.out], 'no names'),
            ('not UTF-8', [here.write('latin1.txt', b'Ann\nJos\xe9\n'), here.out],
             'latin1.txt:2: not UTF-8 text; save it as UTF-8 (or as "Unicode text"), or name its encoding with --encoding'),
            ('no such encoding', [here.roster, here.out, '--encoding', 'klingon'], '--encoding klingon: no such encoding'),
            ('name twice', [here.write('twice.txt', 'Ann\nBob\nAnn\n'), here.out], 'twice.txt:3: "Ann" is already on line 1'),
            ('same folder', [here.write('same.txt', 'AC/DC\nAC:DC\n'), here.out], 'would share the folder "AC_DC"'),
            ('folders differ in case', [here.write('case.txt', 'AC/DC\nac_dc\n'), here.out], 'would share the folder'),
            ('one name in two cases', [here.write('twice-case.txt', 'anna\nANNA\n'), here.out], '"ANNA" is already on line 1'),
            ('device name', [here.write('con.txt', 'Ann\ncon.txt\n'), here.out], 'con.txt:2: "con.txt" gives no safe folder'),
            ('only dots', [here.write('dots.txt', '...\n'), here.out], 'gives no safe folder'),
            ('control character', [here.write('escape.txt', 'Ann\nBob\x1b[2J\n'), here.out],
             'escape.txt:2: a control character'),
            ('OUT not a set', [here.roster, not_a_set], 'not a set made by class-set'),
            # Once built, it locked every command out of the set: a field too large for csv.
            ('a name too long', [here.write('long.txt', 'Ann\n' + 'x' * 140000 + '\n'), here.out],
             'long.txt:2: a name of 140000 characters; at most 200'),
        ]
        for what, args, message in cases:
            result = class_set('build', *args)
            assert result.returncode != 0, what
            assert message in result.stderr, what
        assert snapshot(here.out) == before
        assert os.listdir(not_a_set) == ['notes.txt']

        answers = os.path.join(here.out, 'answers.csv')
        with open(answers, encoding='utf-8') as f:
            text = f.read()
        edited = re.sub(r'[0-9a-f]{64}', '0' * 64, text, count=1)
        with open(answers, 'w', encoding='utf-8', newline='') as f:
            f.write(edited)
        result = class_set('build', here.roster, here.out)
        with open(answers, 'w', encoding='utf-8', newline='') as f:
            f.write(text)
        assert 'answers.csv:2: ' in result.stderr
        assert 'does not match its sha256' in result.stderr

    def test_grown_set_keeps_everyone_and_who_finds_them(self, here):
        before, people = snapshot(os.path.join(here.out, 'handout')), rows(here.out)
        # Stopped by Ctrl+C while the new set is laid out: the set stays as it was.
        crowd = here.write('crowd.txt', ''.join(f'Person {i}\n' for i in range(3000)))
        build = subprocess.Popen(COMMAND + ['build', crowd, here.out], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE, text=True, start_new_session=True)
        while build.poll() is None and not leftovers(here.dir):
            time.sleep(0.02)
        os.killpg(build.pid, signal.SIGINT)
        assert build.wait() == 130
        assert (build.stderr.read().splitlines()[-1:]) == ['class-set: stopped by Ctrl+C']
        assert rows(here.out) == people
        assert leftovers(here.dir) == []
        assert class_set('build', here.roster, here.out).returncode == 0, 'the set is whole'

        here.write('set/notes.txt', 'the organiser\'s own')
        result = class_set('build', here.write('shrunk.txt', '李小龙\n'), here.out)
        assert result.returncode == 0, result.stderr
        assert 'kept, though not in the roster: ' in result.stdout
        assert 'not made by class-set: notes.txt' in result.stdout
        with open(os.path.join(here.out, 'notes.txt'), encoding='utf-8') as f:
            assert f.read() == 'the organiser\'s own'
        os.remove(os.path.join(here.out, 'notes.txt'))
        after, grown_people = snapshot(os.path.join(here.out, 'handout')), rows(here.out)
        assert (grown_people[:2]) == people
        assert {k: v for k, v in after.items() if k in before and k != 'SHA256SUMS'} == {k: v for k, v in before.items() if k != 'SHA256SUMS'}
        assert (len({r['password'] for r in grown_people})) == 3

        for r in grown_people:
            result = class_set('who', here.out, r['password'])
            assert (result.returncode, result.stdout.strip()) == (0, r['name'])
        assert class_set('who', here.out, 'zzzzz').returncode == 1

        # Anyone holding answers.csv can rebuild a program with the release preset.
        newcomer = grown_people[2]
        build_dir = os.path.join(here.dir, 'release')
        subprocess.run(['cmake', '--preset', 'release', '-B', build_dir, '-DPASSWORD=' + newcomer['password'],
                        '-DPASSWORD_MASK=' + newcomer['mask']], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
        subprocess.run(['cmake', '--build', build_dir, '--target', 'PassWord'], check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(build_dir, 'bin', 'PassWord.exe'), 'rb') as f:
            assert hashlib.sha256(f.read()).hexdigest() == newcomer['sha256']

