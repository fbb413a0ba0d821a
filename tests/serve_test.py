#!/usr/bin/env python3
"""class-set serve in a real browser (headless Chromium through Selenium)
on a small set built by class-set build: answers wrong and right, a
neighbour's password, a name in other case, a stranger asked again, the
board behind its key, its CSV against grade's report, markup in a name shown
as text, bad requests, a restart that keeps everything, and the limit on
answers a minute."""
import csv
import glob
import http.client
import io
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request

# Where no Chromium could be installed (a snap on Ubuntu), skipped with the reason.
BROWSER = ('/usr/bin/chromium', '/usr/bin/chromedriver')
if not all(os.access(path, os.X_OK) for path in BROWSER):
    print(f'SKIPPED: no Chromium here ({" and ".join(BROWSER)}) to test the page in')
    sys.exit(77)

from selenium import webdriver  # noqa: E402
from selenium.webdriver.chrome.service import Service  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.expected_conditions import staleness_of  # noqa: E402
from selenium.webdriver.support.wait import WebDriverWait  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COMMAND = ['bash', os.path.join(ROOT, 'scripts', 'class-set')]


def post(url, body, kind='application/x-www-form-urlencoded'):
    """Status and page of a POST made without a browser."""
    request = urllib.request.Request(url, data=body, headers={'Content-Type': kind})
    try:
        with urllib.request.urlopen(request) as response:
            return response.status, response.read().decode()
    except urllib.error.HTTPError as e:
        return e.code, e.read().decode()


def post_from(url, fields, client):
    """Status of a form posted from a client address on loopback (127.0.0.N)."""
    address = urllib.parse.urlsplit(url)
    connection = http.client.HTTPConnection(address.hostname, address.port, timeout=30, source_address=(client, 0))
    try:
        connection.request('POST', '/', urllib.parse.urlencode(fields),
                           {'Content-Type': 'application/x-www-form-urlencoded'})
        return connection.getresponse().status
    finally:
        connection.close()


def board_report(board):
    """The board's CSV as {name: (result, answers)}."""
    with urllib.request.urlopen(board.replace('/board?', '/board.csv?')) as response:
        return {r['name']: (r['result'], r['answers']) for r in csv.DictReader(io.StringIO(response.read().decode()))}


class CheckInPage(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='serve-test-', dir=os.path.join(ROOT, 'build'))
        self.out = os.path.join(self.dir, 'set')
        roster = os.path.join(self.dir, 'roster.txt')
        with open(roster, 'w', encoding='utf-8') as f:
            f.write('Анна Петрова\nBob\n<b>Carl</b>\n')
        subprocess.run(COMMAND + ['build', roster, self.out], check=True, capture_output=True)
        with open(os.path.join(self.out, 'answers.csv'), encoding='utf-8', newline='') as f:
            self.password = {r['name']: r['password'] for r in csv.DictReader(f)}
        with socket.socket() as s:
            s.bind(('127.0.0.1', 0))
            self.url = f'http://127.0.0.1:{s.getsockname()[1]}/'
        self.server = None
        options = webdriver.ChromeOptions()
        options.binary_location = BROWSER[0]
        for flag in ('--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                     '--disable-background-networking', '--disable-component-update', '--disable-sync',
                     f'--user-data-dir={self.dir}/chromium'):
            options.add_argument(flag)
        self.browser = webdriver.Chrome(service=Service(BROWSER[1]), options=options)

    def tearDown(self):
        self.browser.quit()
        self.stop()
        shutil.rmtree(self.dir)

    def start(self):
        """Starts serve; returns the board's address that it printed."""
        self.server = subprocess.Popen(COMMAND + ['serve', self.out, '--port', self.url.split(':')[2][:-1]],
                                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        printed = ''
        while 'Ctrl+C' not in printed:
            line = self.server.stdout.readline()
            self.assertTrue(line, printed)
            printed += line
        for _ in range(100):
            try:
                urllib.request.urlopen(self.url).close()
                break
            except OSError:
                self.server.poll() is None or self.fail(printed)
        return re.search(r'http://\S+/board\?key=\S+', printed).group(0)

    def stop(self):
        if self.server:
            self.server.terminate()
            self.server.wait()
            self.server.stdout.close()
            self.server = None

    def hand_in(self, name, word):
        """The verdict the page shows for a name and word typed into its form."""
        self.browser.get(self.url)
        self.browser.find_element(By.ID, 'name').send_keys(name)
        self.browser.find_element(By.ID, 'word').send_keys(word)
        page = self.browser.find_element(By.TAG_NAME, 'html')
        self.browser.find_element(By.CSS_SELECTOR, 'button[type=submit]').click()
        WebDriverWait(self.browser, 10).until(staleness_of(page))
        return self.browser.find_element(By.ID, 'verdict').text

    def board(self, address):
        """{name: (result, answers, handed in others', others handed in theirs)} and the whole text."""
        self.browser.get(address)
        # In one step: the board reloads itself every few seconds.
        rows, text = self.browser.execute_script(
            "return [[...document.querySelectorAll('#people tbody tr')].map(r => [...r.cells].map(c => c.textContent)),"
            " document.body.innerText]")
        return {cells[0]: (cells[1], cells[3], cells[4], cells[5]) for cells in rows}, text

    def test_a_room_hands_in(self):
        board = self.start()
        anna, bob = self.password['Анна Петрова'], self.password['Bob']
        self.assertIn('not your password', self.hand_in('Анна Петрова', 'wrong'))
        self.assertIn('Right', self.hand_in('Анна Петрова', anna))
        verdict = self.hand_in('  bOB ', anna)
        self.assertIn('not your password', verdict)
        self.assertNotIn('Анна', verdict)
        self.assertIn('No one of that name', self.hand_in('Zed', bob))
        self.assertEqual(self.browser.find_element(By.ID, 'name').get_attribute('value'), 'Zed')

        too_long = 'name=Bob&word=' + 'x' * 5000
        for what, body, status in [('empty field', b'name=Bob&word=', 400), ('no word', b'name=Bob', 400),
                                   ('not UTF-8', b'name=Bo%E9&word=x', 400), ('too long', too_long.encode(), 413),
                                   ('markup', b'name=%3Cscript%3E&word=x', 200)]:
            code, page = post(self.url, body)
            self.assertEqual(code, status, what)
            self.assertNotIn('Traceback', page, what)
            self.assertNotIn('<script>', page, what)

        status, _ = post(board.replace('?key=', '?key=x'), b'')
        self.assertEqual(status, 405)
        for wrong in (board.split('?')[0], board + 'x'):
            with self.assertRaises(urllib.error.HTTPError) as refused:
                urllib.request.urlopen(wrong)
            self.assertEqual(refused.exception.code, 403)
            self.assertNotIn('Анна', refused.exception.read().decode())

        expected = {'Анна Петрова': ('solved', '2', '', 'Bob'), 'Bob': ('wrong', '1', 'Анна Петрова', ''),
                    '<b>Carl</b>': ('none', '0', '', '')}
        table, text = self.board(board)
        self.assertEqual(table, expected)
        self.assertIn("Bob handed in Анна Петрова's password", text)
        self.assertEqual(self.browser.find_elements(By.CSS_SELECTOR, '#people b'), [])

        with urllib.request.urlopen(board.replace('/board?', '/board.csv?')) as response:
            report = response.read().decode()
        graded = subprocess.run(COMMAND + ['grade', self.out, '--from-checkins'], capture_output=True, text=True)
        self.assertEqual(graded.returncode, 0, graded.stderr)
        self.assertEqual(list(csv.reader(io.StringIO(report))), list(csv.reader(io.StringIO(graded.stdout))))
        self.assertEqual(os.stat(os.path.join(self.out, 'checkins.sqlite')).st_mode & 0o777, 0o600)

        self.stop()
        board_after = self.start()
        self.assertEqual(board_after, board, 'the key survives a restart')
        self.assertEqual(self.board(board)[0], expected)

        # Ten answers a minute from one address; the eleventh is refused and not kept.
        for _ in range(10):
            self.assertEqual(post(self.url, b'name=%3Cb%3ECarl%3C%2Fb%3E&word=guess')[0], 200)
        self.assertIn('Try again in', self.hand_in('<b>Carl</b>', 'guess'))
        self.assertEqual(self.board(board)[0]['<b>Carl</b>'], ('wrong', '10', '', ''))

    def test_the_set_grows_while_serve_runs(self):
        board = self.start()
        anna = self.password['Анна Петрова']
        self.assertEqual(post_from(self.url, {'name': 'Анна Петрова', 'word': anna}, '127.0.0.2'), 200)
        roster = os.path.join(self.dir, 'grown.txt')
        with open(roster, 'w', encoding='utf-8') as f:
            f.write('Анна Петрова\nBob\n<b>Carl</b>\nDora\n')
        work = os.path.join(ROOT, 'build', 'class-set', 'work-*', 'build', 'CMakeCache.txt')

        # Killed half-way: the set and its answers stay as they were.
        before = set(glob.glob(work))
        build = subprocess.Popen(COMMAND + ['build', roster, self.out], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL, start_new_session=True)
        while build.poll() is None and not set(glob.glob(work)) - before:
            time.sleep(0.05)
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
                                      f'127.0.{client // 250}.{client % 250 + 2}'))
            time.sleep(0.02)
        self.assertEqual(build.wait(), 0, build.stdout.read())
        build.stdout.close()
        with open(os.path.join(self.out, 'answers.csv'), encoding='utf-8', newline='') as f:
            dora = {r['name']: r['password'] for r in csv.DictReader(f)}['Dora']
        for _ in range(50):  # serve notices the new set within seconds
            status = post_from(self.url, {'name': 'dora', 'word': dora}, '127.0.0.3')
            statuses.append(status)
            if status == 200 and 'Dora' in board_report(board):
                break
            time.sleep(0.1)
        self.assertNotIn(500, statuses)
        self.assertEqual(self.start_again(), board, 'the same key')
        expected = {'Анна Петрова': ('solved', '1'), 'Bob': ('wrong', str(statuses.count(200) - 1)),
                    '<b>Carl</b>': ('none', '0'), 'Dora': ('solved', '1')}
        self.assertEqual(board_report(board), expected)
        graded = subprocess.run(COMMAND + ['grade', self.out, '--from-checkins'], capture_output=True, text=True)
        self.assertEqual({r['name']: (r['result'], r['answers']) for r in csv.DictReader(io.StringIO(graded.stdout))},
                         expected)

    def start_again(self):
        self.stop()
        return self.start()

    def test_listening_options(self):
        for options, said in [(['--port', '70000'], 'expected a port from 1 to 65535'),
                              (['--host', '999.1.1.1'], 'class-set: cannot listen on 999.1.1.1')]:
            result = subprocess.run(COMMAND + ['serve', self.out, *options], capture_output=True, text=True)
            self.assertEqual(result.returncode, 2, options)
            self.assertIn(said, result.stderr)
            self.assertNotIn('Traceback', result.stderr)
        port = self.url.split(':')[2][:-1]
        server = subprocess.Popen(COMMAND + ['serve', self.out, '--host', '::1', '--port', port],
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        try:
            self.assertEqual(server.stdout.readline(), 'People hand in their answers at:\n')
            self.assertEqual(server.stdout.readline(), f'  http://[::1]:{port}/\n')
        finally:
            server.terminate()
            server.wait()
            server.stdout.close()


if __name__ == '__main__':
    unittest.main(verbosity=2)
