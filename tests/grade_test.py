#!/usr/bin/env python3
"""class-set grade against a small set laid out by hand (records and
stand-in programs that agree): every result, a password passed around seen
from both ends, names typed another way, strangers, and bad input that
stops with status 2 and changes nothing."""
import csv
import hashlib
import io
import os
import pathlib
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, 'bench'))
from stand_in_set import program as stand_in  # noqa: E402
COMMAND = ['bash', os.path.join(ROOT, 'scripts', 'class-set')]
# name, password: the folder is the name.
PEOPLE = [('Анна Петрова', 'Ab3De'), ('Bob', 'Fg4Hj'), ('Carl', 'Km5Np'), ('Dana', 'Qr6St'),
          ('Eve Lee', 'Uv7Wx'), ('Eve  Lee', 'Yz8ab')]


def class_set(*args):
    return subprocess.run(COMMAND + list(args), capture_output=True, text=True, stdin=subprocess.DEVNULL)


def snapshot(top):
    return {path: pathlib.Path(path).read_bytes()
            for path in (os.path.join(root, name) for root, _, names in os.walk(top) for name in names)
            if os.path.isfile(path)}


class Grade(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='grade-test-')
        self.out = os.path.join(self.dir, 'set')
        os.makedirs(os.path.join(self.out, 'handout'))
        with open(os.path.join(self.out, 'answers.csv'), 'w', newline='', encoding='utf-8') as f:
            writer = csv.writer(f)
            writer.writerow(['name', 'folder', 'password', 'mask', 'sha256'])
            for name, password in PEOPLE:
                os.mkdir(os.path.join(self.out, 'handout', name))
                program = stand_in(name, password, 7, 256)
                with open(os.path.join(self.out, 'handout', name, 'PassWord.exe'), 'wb') as p:
                    p.write(program)
                writer.writerow([name, name, password, 7, hashlib.sha256(program).hexdigest()])

    def tearDown(self):
        shutil.rmtree(self.dir)

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, 'wb') as f:
            f.write(data.encode('utf-8') if isinstance(data, str) else data)
        return path

    def test_report_and_summary(self):
        answers = self.write('answers.csv', '\ufeff' + '\r\n'.join([
            'Timestamp;Your name;Password found',
            '1;  анна   ПЕТРОВА ;wrong1',       # another case and spacing, wrong first
            '2;Анна Петрова; Ab3De ',            # then her own
            '3;bob;Km5Np',                       # Carl's password
            '4;Carl;Fg4Hj',                      # and Carl handed in Bob's
            '5;Carl;Km5Np',                      # and his own
            '6;"Mallory; the stranger";Qr6St',   # nobody: Dana's password stays Dana's
            '7;eve lee;Uv7Wx',                   # two people by that name
            '8;Bob;"two\nlines"',
            '10;\x1b[2J\x07Zed;x',             # an escape sequence in a stranger's name
        ]) + '\r\n')
        result = class_set('grade', self.out, answers, '--name-column', ' YOUR NAME', '--word-column', 'password found')
        self.assertEqual(result.returncode, 0, result.stderr)
        report = {r['name']: r for r in csv.DictReader(io.StringIO(result.stdout))}
        expected = {
            'Анна Петрова': ('solved', '2', '', ''),
            'Bob': ('wrong', '2', 'Carl', 'Carl'),
            'Carl': ('solved', '2', 'Bob', 'Bob'),
            'Dana': ('none', '0', '', ''),
            'Eve Lee': ('none', '0', '', ''),
            'Eve  Lee': ('none', '0', '', ''),
        }
        for name, (outcome, count, theirs, by_others) in expected.items():
            row = report[name]
            self.assertEqual((row['result'], row['answers'], row['handed_in_others'], row['others_handed_in_theirs']),
                             (outcome, count, theirs, by_others), name)
        for _, password in PEOPLE:
            self.assertNotIn(password, result.stdout)
        summary = result.stderr.splitlines()
        self.assertEqual(summary[:3], ['2 solved, 1 wrong, 3 none', "Bob handed in Carl's password",
                                       "Carl handed in Bob's password"])
        self.assertEqual(summary[3:], [f'{answers}:7: "Mallory; the stranger" matches nobody in the set',
                                       f'{answers}:8: "eve lee" matches more than one person',
                                       f'{answers}:11: "\\x1b[2J\\x07Zed" matches nobody in the set'])

        output = os.path.join(self.dir, 'report.csv')
        self.assertEqual(class_set('grade', self.out, answers, '--name-column', 'your name', '--word-column',
                                   'Password found', '--output', output).returncode, 0)
        with open(output, encoding='utf-8', newline='') as f:
            self.assertEqual(f.read().replace('\r\n', '\n'), result.stdout)
        to_stdout = class_set('grade', self.out, answers, '--name-column', 'your name', '--word-column',
                              'Password found', '--output', '-')
        self.assertEqual(to_stdout.stdout, result.stdout)

    def test_a_spreadsheet_saved_in_any_encoding(self):
        rows = [['Имя', 'Пароль'], ['анна петрова', 'Ab3De'], ['Bob', 'Km5Np']]
        saved = [  # as Excel on a Russian Windows saves "CSV UTF-8", "CSV" and "Unicode text"
            ('utf-8.csv', '\ufeff' + ''.join(';'.join(r) + '\r\n' for r in rows), 'utf-8', []),
            ('cp1251.csv', ''.join(';'.join(r) + '\r\n' for r in rows), 'cp1251', ['--encoding', 'cp1251']),
            ('unicode.txt', '\ufeff' + ''.join('\t'.join(r) + '\r\n' for r in rows), 'utf-16-le', []),
        ]
        reports = []
        for name, text, encoding, options in saved:
            result = class_set('grade', self.out, self.write(name, text.encode(encoding)), '--name-column', 'имя',
                               '--word-column', 'ПАРОЛЬ', *options)
            self.assertEqual(result.returncode, 0, name + result.stderr)
            self.assertEqual(result.stderr.splitlines()[0], '1 solved, 1 wrong, 4 none', name)
            reports.append(result.stdout)
        self.assertEqual(reports[1:], reports[:1] * 2)

    def test_bad_input_stops_and_changes_nothing(self):
        good = self.write('good.csv', 'name,password\nBob,Fg4Hj\n')
        broken = shutil.copytree(self.out, self.out + '-broken')
        os.remove(os.path.join(broken, 'handout', 'Bob', 'PassWord.exe'))
        swapped = shutil.copytree(self.out, self.out + '-swapped')
        records = pathlib.Path(swapped, 'answers.csv')
        records.write_text(records.read_text('utf-8').replace('Fg4Hj', '_').replace('Km5Np', 'Fg4Hj').replace('_', 'Km5Np'),
                           'utf-8')
        os.mkfifo(os.path.join(self.dir, 'fifo'))
        with open(os.path.join(self.out, 'checkins.sqlite'), 'wb') as f:
            f.write(b'not a database, and not to be lost')
        cases = [
            ('missing', [self.out, os.path.join(self.dir, 'none.csv')], 'none.csv: cannot read'),
            ('empty', [self.out, self.write('empty.csv', '\ufeff\n')], 'empty.csv:1: empty'),
            ('not UTF-8', [self.out, self.write('latin1.csv', b'name,password\nBob,x\nJos\xe9,y\n')],
             'latin1.csv:3: not UTF-8 text; save it as UTF-8 (or as "Unicode text"), or name its encoding with '
             '--encoding, for instance --encoding cp1251'),
            ('not that encoding', [self.out, good, '--encoding', 'utf-32'], 'good.csv:1: not utf-32 text'),
            ('no such column', [self.out, self.write('cols.csv', 'Name;Word\nBob;x\n')],
             'cols.csv:1: no column "password"; the header has: "Name", "Word"'),
            ('not a set', [self.dir, good], 'not a set made by class-set'),
            ('records disagree', [broken, good], 'answers.csv:3: '),
            ('passwords swapped in the records', [swapped, good],
             'answers.csv:3: the password or mask is not the one that'),
            ('the records as answers', [self.out, os.path.join(self.out, 'answers.csv')], 'a file of the set itself'),
            ('check-ins that are no database', [self.out, '--from-checkins'], 'checkins.sqlite: not a store of answers'),
            # Written as root, these once replaced /dev/null and the answers handed in.
            ('report into handout/', [self.out, good, '--output', os.path.join(self.out, 'handout', 'r.csv')],
             'inside the set'),
            ('report over the records', [self.out, good, '--output', os.path.join(self.out, 'answers.csv')],
             'inside the set'),
            ('report over the check-ins', [self.out, good, '--output', os.path.join(self.out, 'checkins.sqlite')],
             'inside the set'),
            ('report over a FIFO', [self.out, good, '--output', os.path.join(self.dir, 'fifo')], 'not a regular file'),
            ('report over a folder', [self.out, good, '--output', self.dir], 'not a regular file'),
            ('wrong option', [self.out, good, '--colour'], 'usage: class-set'),
        ]
        before = snapshot(self.dir)
        for what, args, message in cases:
            result = class_set('grade', *args)
            self.assertEqual(result.returncode, 2, what)
            self.assertIn(message, result.stderr, what)
            self.assertEqual(result.stdout, '', what)
            self.assertEqual(snapshot(self.dir), before, what)
            self.assertTrue(stat.S_ISFIFO(os.stat(os.path.join(self.dir, 'fifo')).st_mode), what)


if __name__ == '__main__':
    unittest.main(verbosity=2)
