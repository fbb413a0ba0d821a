#!/usr/bin/env python3
"""scripts/class-set on small sets: bad input refused with nothing written,
a set grown by one keeping everyone else's bytes, an interrupted build,
who, --verify, and a program rebuilt by the release preset."""
import csv
import glob
import hashlib
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COMMAND = ['bash', os.path.join(ROOT, 'scripts', 'class-set')]


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


def rows(out):
    with open(os.path.join(out, 'answers.csv'), newline='', encoding='utf-8') as f:
        return list(csv.DictReader(f))


class ClassSet(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix='class-set-test-', dir=os.path.join(ROOT, 'build'))
        cls.out = os.path.join(cls.dir, 'set')
        cls.roster = cls.write('roster.txt', '# group A\n  Анна Петрова \n\nJosé O\'Neil, Jr.\n')
        cls.built = class_set('build', cls.roster, cls.out, '--verify')

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    @classmethod
    def write(cls, name, text):
        path = os.path.join(cls.dir, name)
        with open(path, 'wb') as f:
            f.write(text.encode('utf-8') if isinstance(text, str) else text)
        return path

    def test_built_and_verified(self):
        # Where this Wine cannot start 32-bit programs, the set is built and
        # kept, and verifying is refused with the reason.
        if os.path.exists(os.path.join(os.environ['WINE_SESSION'], 'unable')):
            self.assertEqual(self.built.returncode, 3, self.built.stdout + self.built.stderr)
            self.assertIn('verify: cannot verify here', self.built.stdout)
        else:
            self.assertEqual(self.built.returncode, 0, self.built.stdout + self.built.stderr)
            self.assertIn('verify: 2 passed, 0 failed', self.built.stdout)
        people = rows(self.out)
        self.assertEqual([(r['name'], r['folder']) for r in people],
                         [('Анна Петрова', 'Анна Петрова'), ("José O'Neil, Jr.", "José O'Neil, Jr")])
        for r in people:
            self.assertRegex(r['password'], r'^[2-9A-HJ-NP-Za-km-z]{5}$')
        self.assertEqual(os.stat(os.path.join(self.out, 'answers.csv')).st_mode & 0o777, 0o600)
        check = subprocess.run(['sha256sum', '--quiet', '-c', 'SHA256SUMS'], cwd=os.path.join(self.out, 'handout'))
        self.assertEqual(check.returncode, 0)

    def test_bad_input_changes_nothing(self):
        before = snapshot(self.out)
        not_a_set = os.path.join(self.dir, 'not-a-set')
        os.makedirs(not_a_set, exist_ok=True)
        self.write('not-a-set/notes.txt', 'mine')
        cases = [
            ('missing roster', [os.path.join(self.dir, 'nobody.txt'), self.out], 'cannot read'),
            ('no names', [self.write('empty.txt', '# none yet\n\n'), self.out], 'no names'),
            ('not UTF-8', [self.write('latin1.txt', b'Ann\nJos\xe9\n'), self.out], 'latin1.txt:2: not UTF-8'),
            ('name twice', [self.write('twice.txt', 'Ann\nBob\nAnn\n'), self.out], 'twice.txt:3: "Ann" is already on line 1'),
            ('same folder', [self.write('same.txt', 'AC/DC\nAC:DC\n'), self.out], 'would share the folder "AC_DC"'),
            ('folders differ in case', [self.write('case.txt', 'anna\nANNA\n'), self.out], 'would share the folder'),
            ('device name', [self.write('con.txt', 'Ann\ncon.txt\n'), self.out], 'con.txt:2: "con.txt" gives no safe folder'),
            ('only dots', [self.write('dots.txt', '...\n'), self.out], 'gives no safe folder'),
            ('control character', [self.write('escape.txt', 'Ann\nBob\x1b[2J\n'), self.out],
             'escape.txt:2: a control character'),
            ('OUT not a set', [self.roster, not_a_set], 'not a set made by class-set'),
        ]
        for what, args, message in cases:
            result = class_set('build', *args)
            self.assertNotEqual(result.returncode, 0, what)
            self.assertIn(message, result.stderr, what)
        self.assertEqual(snapshot(self.out), before)
        self.assertEqual(os.listdir(not_a_set), ['notes.txt'])

        answers = os.path.join(self.out, 'answers.csv')
        with open(answers, encoding='utf-8') as f:
            text = f.read()
        edited = re.sub(r'[0-9a-f]{64}', '0' * 64, text, count=1)
        with open(answers, 'w', encoding='utf-8', newline='') as f:
            f.write(edited)
        result = class_set('build', self.roster, self.out)
        with open(answers, 'w', encoding='utf-8', newline='') as f:
            f.write(text)
        self.assertIn('answers.csv:2: ', result.stderr)
        self.assertIn('does not match its sha256', result.stderr)

    def test_two_builds_at_once_from_one_checkout(self):
        builds = [subprocess.Popen(COMMAND + ['build', self.write(f'group{i}.txt', f'Group {i}\n'),
                                              os.path.join(self.dir, f'group{i}')],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
                  for i in (1, 2)]
        for i, build in enumerate(builds, 1):
            self.assertEqual(build.wait(), 0, build.stderr.read())
            self.assertEqual([r['name'] for r in rows(os.path.join(self.dir, f'group{i}'))], [f'Group {i}'])
            check = subprocess.run(['sha256sum', '--quiet', '-c', 'SHA256SUMS'],
                                   cwd=os.path.join(self.dir, f'group{i}', 'handout'))
            self.assertEqual(check.returncode, 0)

    def test_grown_set_keeps_everyone_and_who_finds_them(self):
        before, people = snapshot(os.path.join(self.out, 'handout')), rows(self.out)
        grown = self.write('grown.txt', 'Анна Петрова\nJosé O\'Neil, Jr.\n李小龙\n')
        # Interrupted once configured, while building: the set stays as it was.
        before_work = set(glob.glob(os.path.join(ROOT, 'build', 'class-set', 'work-*', 'build', 'CMakeCache.txt')))
        build = subprocess.Popen(COMMAND + ['build', grown, self.out], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL, start_new_session=True)
        while build.poll() is None and not set(glob.glob(os.path.join(
                ROOT, 'build', 'class-set', 'work-*', 'build', 'CMakeCache.txt'))) - before_work:
            time.sleep(0.05)
        os.killpg(build.pid, 9)
        build.wait()
        self.assertEqual(rows(self.out), people)
        self.assertEqual(class_set('build', self.roster, self.out).returncode, 0, 'the set is whole')

        result = class_set('build', self.write('shrunk.txt', '李小龙\n'), self.out)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn('kept, though not in the roster: ', result.stdout)
        after, grown_people = snapshot(os.path.join(self.out, 'handout')), rows(self.out)
        self.assertEqual(grown_people[:2], people)
        self.assertEqual({k: v for k, v in after.items() if k in before and k != 'SHA256SUMS'},
                         {k: v for k, v in before.items() if k != 'SHA256SUMS'})
        self.assertEqual(len({r['password'] for r in grown_people}), 3)

        for r in grown_people:
            result = class_set('who', self.out, r['password'])
            self.assertEqual((result.returncode, result.stdout.strip()), (0, r['name']))
        self.assertEqual(class_set('who', self.out, 'zzzzz').returncode, 1)

        # Anyone holding answers.csv can rebuild a program with the release preset.
        newcomer = grown_people[2]
        build_dir = os.path.join(self.dir, 'release')
        subprocess.run(['cmake', '--preset', 'release', '-B', build_dir, '-DPASSWORD=' + newcomer['password'],
                        '-DPASSWORD_MASK=' + newcomer['mask']], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
        subprocess.run(['cmake', '--build', build_dir, '--target', 'PassWord'], check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(build_dir, 'bin', 'PassWord.exe'), 'rb') as f:
            self.assertEqual(hashlib.sha256(f.read()).hexdigest(), newcomer['sha256'])


if __name__ == '__main__':
    unittest.main(verbosity=2)
