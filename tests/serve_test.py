#!/usr/bin/env python3
"""class-set serve for real, on sets built by class-set build: a room in a
headless Chromium (Selenium), with its slips printed and their QR codes
scanned; a set grown and a build killed while the page runs; walk-ins
enrolling at the door. The page's own behaviour is tested in process
(test_page.py)."""
import base64
import csv
import glob
import http.client
import io
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse
import urllib.request

from conftest import BROWSER, COMMAND, ROOT, chromium  # noqa: E402
from stand_in_set import free_port  # noqa: E402

# Where no Chromium could be installed, skipped with the reason.
if not all(os.access(path, os.X_OK) for path in BROWSER):
    print(f'SKIPPED: no Chromium here ({" and ".join(BROWSER)}) to test the page in')
    sys.exit(77)

from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.expected_conditions import staleness_of  # noqa: E402
from selenium.webdriver.support.wait import WebDriverWait  # noqa: E402


def post_from(url, fields, client, path=None):
    """Status, where it leads and the page of a form posted from a client
    address on loopback (127.0.0.N)."""
    address = urllib.parse.urlsplit(url)
    connection = http.client.HTTPConnection(address.hostname, address.port, timeout=60, source_address=(client, 0))
    try:
        connection.request('POST', path or address.path or '/', urllib.parse.urlencode(fields),
                           {'Content-Type': 'application/x-www-form-urlencoded'})
        response = connection.getresponse()
        return response.status, response.getheader('Location'), response.read().decode()
    finally:
        connection.close()


def board_csv(board):
    """The board's CSV, as the organiser's browser fetches it: the key in the
    address once, then the cookie it gave."""
    organiser = urllib.request.build_opener(urllib.request.HTTPCookieProcessor())
    organiser.open(board).close()
    with organiser.open(board.split('?')[0] + '.csv') as response:
        return response.read().decode()


def board_report(board):
    """The board's CSV as {name: (result, answers)}."""
    return {r['name']: (r['result'], r['answers']) for r in csv.DictReader(io.StringIO(board_csv(board)))}


class Served(unittest.TestCase):
    """A folder of the test's own, a browser, and serve started on OUT."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='serve-test-', dir=os.path.join(ROOT, 'build'))
        self.out = os.path.join(self.dir, 'set')
        self.url = f'http://127.0.0.1:{free_port()}/'
        self.server = None
        self.browser = chromium(self.dir)

    def tearDown(self):
        self.browser.quit()
        self.stop(9)
        shutil.rmtree(self.dir)

    def start(self, *options):
        """Start serve; return the board's address that it printed, once the page answers."""
        self.server = subprocess.Popen(COMMAND + ['serve', self.out, '--port', self.url.split(':')[2][:-1], *options],
                                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        printed = ''
        while 'Ctrl+C' not in printed:
            line = self.server.stdout.readline()
            self.assertTrue(line, printed)
            printed += line
        urllib.request.urlopen(self.url).close()
        return re.search(r'http://\S+/board\?key=\S+', printed).group(0)

    def stop(self, signal_number=15):
        if self.server:
            self.server.send_signal(signal_number)
            self.server.wait()
            self.server.stdout.close()
            self.server = None

    def submit(self, fields):
        """Types into the page's form and sends it; the verdict shown."""
        for name, value in fields.items():
            field = self.browser.find_element(By.ID, name)
            field.clear()  # the page keeps a name typed before
            field.send_keys(value)
        page = self.browser.find_element(By.TAG_NAME, 'html')
        self.browser.find_element(By.CSS_SELECTOR, 'button[type=submit]').click()
        WebDriverWait(self.browser, 30).until(staleness_of(page))
        found = self.browser.find_elements(By.ID, 'verdict')
        return found[0].text if found else ''

    def records(self):
        with open(os.path.join(self.out, 'answers.csv'), encoding='utf-8', newline='') as f:
            return {r['name']: r for r in csv.DictReader(f)}


class CheckInPage(Served):
    def setUp(self):
        super().setUp()
        roster = os.path.join(self.dir, 'roster.txt')
        with open(roster, 'w', encoding='utf-8') as f:
            f.write('Анна Петрова\nBob\n<b>Carl</b>\n')
        subprocess.run(COMMAND + ['build', roster, self.out], check=True, capture_output=True)
        self.password = {name: row['password'] for name, row in self.records().items()}

    def test_a_room_in_a_browser(self):
        listed = os.path.join(self.dir, 'links.csv')
        subprocess.run(COMMAND + ['links', self.out, '--base', self.url, '--output', listed], check=True)
        with open(listed, encoding='utf-8', newline='') as f:
            link = {r['name']: r['link'] for r in csv.DictReader(f)}
        board = self.start()
        self.browser.get(self.url)
        self.assertIn('not your password', self.submit({'name': 'Анна Петрова', 'word': 'wrong'}))
        self.assertIn('Right', self.submit({'name': 'Анна Петрова', 'word': self.password['Анна Петрова']}))
        self.browser.get(link['Bob'])
        self.assertEqual(self.browser.find_element(By.TAG_NAME, 'h1').text, 'Bob')
        self.assertIn('Right', self.submit({'word': self.password['Bob']}))

        # The board as the organiser sees it: names as text, never markup.
        self.browser.get(board)
        rows = self.browser.execute_script(
            "return [...document.querySelectorAll('#people tbody tr')].map(r => [...r.cells].map(c => c.textContent))")
        self.assertEqual({cells[0]: (cells[1], cells[3], cells[7]) for cells in rows},
                         {'Анна Петрова': ('solved', '2', 'name'), 'Bob': ('solved', '1', 'link'),
                          '<b>Carl</b>': ('none', '0', '')})
        self.assertEqual(self.browser.find_elements(By.CSS_SELECTOR, '#people b'), [])

        # The slips, printed by the browser: every QR code is that person's link.
        self.browser.get(board.replace('/board?', '/board/slips?'))
        pdf = os.path.join(self.dir, 'slips.pdf')
        with open(pdf, 'wb') as f:
            f.write(base64.b64decode(self.browser.print_page()))
        subprocess.run(['pdftoppm', '-r', '150', '-png', pdf, os.path.join(self.dir, 'sheet')], check=True)
        scanned = subprocess.run(['zbarimg', '-q', '--raw'] + glob.glob(os.path.join(self.dir, 'sheet*.png')),
                                 capture_output=True, text=True).stdout.split()
        self.assertEqual(sorted(scanned), sorted(link.values()))

        # Stopped and started again: the same key, every answer kept.
        self.stop()
        self.assertEqual(self.start(), board)
        self.assertEqual(board_report(board)['Bob'], ('solved', '1'))

    def test_the_set_grows_while_serve_runs(self):
        board = self.start()
        anna = self.password['Анна Петрова']
        self.assertEqual(post_from(self.url, {'name': 'Анна Петрова', 'word': anna}, '127.0.0.2')[0], 200)
        roster = os.path.join(self.dir, 'grown.txt')
        with open(roster, 'w', encoding='utf-8') as f:
            f.write('Анна Петрова\nBob\n<b>Carl</b>\nDora\n')
        crowd = os.path.join(self.dir, 'crowd.txt')
        with open(crowd, 'w', encoding='utf-8') as f:
            f.write(''.join(f'Person {i}\n' for i in range(3000)))

        # Killed half-way, while the new set is laid out: the set and its answers stay as they were.
        build = subprocess.Popen(COMMAND + ['build', crowd, self.out], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL, start_new_session=True)
        while build.poll() is None and not glob.glob(os.path.join(self.dir, '.set.new-*')):
            time.sleep(0.02)
        os.killpg(build.pid, 9)
        build.wait()
        self.assertEqual(board_report(board)['Анна Петрова'], ('solved', '1'))
        self.assertNotIn('Dora', board_report(board))

        # Grown while people hand in, each from an address of their own.
        build = subprocess.Popen(COMMAND + ['build', roster, self.out], stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, text=True)
        statuses, client = [], 10
        while build.poll() is None:
            client += 1
            statuses.append(post_from(self.url, {'name': 'Bob', 'word': 'guess'},
                                      f'127.0.{client // 250}.{client % 250 + 2}')[0])
        self.assertEqual(build.wait(), 0, build.stdout.read())
        build.stdout.close()
        dora = self.records()['Dora']['password']
        deadline = time.monotonic() + 10  # serve notices the new set within seconds
        while time.monotonic() < deadline:
            status = post_from(self.url, {'name': 'dora', 'word': dora}, '127.0.0.3')[0]
            statuses.append(status)
            if status == 200 and 'Dora' in board_report(board):
                break
        self.assertNotIn(500, statuses)
        self.stop()
        self.assertEqual(self.start(), board, 'the same key')
        expected = {'Анна Петрова': ('solved', '1'), 'Bob': ('wrong', str(statuses.count(200) - 1)),
                    '<b>Carl</b>': ('none', '0'), 'Dora': ('solved', '1')}
        self.assertEqual(board_report(board), expected)
        graded = subprocess.run(COMMAND + ['grade', self.out, '--from-checkins'], capture_output=True, text=True)
        self.assertEqual({r['name']: (r['result'], r['answers']) for r in csv.DictReader(io.StringIO(graded.stdout))},
                         expected)


def enrol_from(url, name, client):
    return post_from(url, {'name': name}, client, '/enrol')


class WalkIns(Served):
    """serve --open on a set that does not exist yet: people enrol at the door."""

    def test_one_at_the_door(self):
        self.start('--open', '25', '--enrol-rate', '2')
        # An empty set is a set.
        self.assertEqual(subprocess.run(COMMAND + ['who', self.out, 'abcde'], capture_output=True).returncode, 1)
        graded = subprocess.run(COMMAND + ['grade', self.out, '--from-checkins'], capture_output=True, text=True)
        self.assertEqual((graded.returncode, graded.stderr.splitlines()[0]), (0, '0 solved, 0 wrong, 0 none'))

        # Enrolled in the browser, onto their own page, their program the release build's.
        self.browser.get(self.url)
        self.browser.find_element(By.ID, 'enrol').click()
        self.submit({'name': 'Walk In'})
        self.assertEqual(self.browser.find_element(By.TAG_NAME, 'h1').text, 'Walk In')
        with urllib.request.urlopen(self.browser.current_url + '/PassWord.exe') as response:
            program = response.read()
        row = self.records()['Walk In']
        build = os.path.join(self.dir, 'release')
        subprocess.run(['cmake', '--preset', 'release', '-B', build, '-DPASSWORD=' + row['password'],
                        '-DPASSWORD_MASK=' + row['mask']], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
        subprocess.run(['cmake', '--build', build, '--target', 'PassWord'], check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(build, 'bin', 'PassWord.exe'), 'rb') as f:
            self.assertEqual(program, f.read())
        # ... and hands in what it accepts, on the same page: grade reports it.
        self.assertIn('Right', self.submit({'word': row['password']}))
        graded = subprocess.run(COMMAND + ['grade', self.out, '--from-checkins'], capture_output=True, text=True)
        self.assertIn('Walk In,Walk In,solved,1', graded.stdout)

        # Names that cannot be taken say why; each attempt counts, two a minute from one address here (a form
        # that is no name at all is refused before it counts).
        for name, said, code in [('walk  IN', 'is taken', 409), ('Bad\x1b[2J', 'no letter (U+001B)', 400),
                                 ('CON', 'no folder', 409)]:
            status, _, shown = enrol_from(self.url, name, '127.0.6.2')
            self.assertEqual(status, code, name)
            self.assertIn(said, shown, name)
            self.assertNotIn('Traceback', shown)
        self.assertEqual(enrol_from(self.url, 'Late Comer', '127.0.6.2')[0], 429)

    def test_a_crowd_at_the_door(self):
        board = self.start('--open', '25')
        # Twenty at the same moment, one of them named like a formula.
        names = [f'Guest {i}' for i in range(19)] + ['=1+2']
        results = [None] * 20

        def one(i):
            start = time.monotonic()
            status, location, _ = enrol_from(self.url, names[i], f'127.0.7.{i + 2}')
            results[i] = (status, bool(location and '/p/' in location), time.monotonic() - start)

        threads = [threading.Thread(target=one, args=(i,)) for i in range(20)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual([r[:2] for r in results], [(303, True)] * 20)
        self.assertLess(max(r[2] for r in results), 10, 'seconds the slowest waited')
        rows = self.records()
        self.assertEqual(len(rows), 20)
        self.assertEqual(len({r['password'] for r in rows.values()}), 20)
        self.assertEqual(len({r['folder'] for r in rows.values()}), 20)
        self.assertIn("\n'=1+2,", board_csv(board).replace('\r\n', '\n'))
        self.browser.get(board)
        self.assertEqual(self.browser.find_element(By.ID, 'places').text, '5 places left for walk-ins')
        self.assertIn('(walk-in)', self.browser.find_element(By.ID, 'people').text)

        # Killed while people enrol: the set is whole, every program its row's.
        threads = [threading.Thread(target=enrol_from, args=(self.url, f'Rush {i}', f'127.0.8.{i + 2}'))
                   for i in range(3)]
        for thread in threads:
            thread.start()
        deadline = time.monotonic() + 60
        while not os.path.exists(os.path.join(self.out, '.change')) and time.monotonic() < deadline:
            time.sleep(0.001)  # until one is being added
        self.assertLess(time.monotonic(), deadline, 'no enrolment began')
        self.stop(9)
        for thread in threads:
            thread.join()
        checked = subprocess.run(COMMAND + ['who', self.out, 'abcde'], capture_output=True, text=True)
        self.assertEqual(checked.returncode, 1, checked.stderr)

        # Never past the places given.
        self.start('--open', '25')
        client = 10
        while len(self.records()) < 25:
            client += 1
            self.assertEqual(enrol_from(self.url, f'Filler {client}', f'127.0.9.{client}')[0], 303)
        status, _, shown = enrol_from(self.url, 'One Too Many', '127.0.9.200')
        self.assertEqual(status, 409)
        self.assertIn('full', shown)


if __name__ == '__main__':
    unittest.main(verbosity=2)
