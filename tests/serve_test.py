#!/usr/bin/env python3
"""class-set serve in a real browser (headless Chromium through Selenium)
on a small set built by class-set build: answers wrong and right, a
neighbour's password, a name in other case, a stranger asked again, the
board behind its key, its CSV against grade's report, markup in a name shown
as text, bad requests, a restart that keeps everything, and the limit on
answers a minute."""
import base64
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
import threading
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
sys.path.insert(0, os.path.join(ROOT, 'bench'))
import stand_in_set  # noqa: E402
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
        connection.request('POST', address.path or '/', urllib.parse.urlencode(fields),
                           {'Content-Type': 'application/x-www-form-urlencoded'})
        return connection.getresponse().status
    finally:
        connection.close()


def chromium(folder):
    """Headless Chromium with a profile in `folder`, quiet on a closed network."""
    options = webdriver.ChromeOptions()
    options.binary_location = BROWSER[0]
    for flag in ('--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                 '--disable-background-networking', '--disable-component-update', '--disable-sync',
                 f'--user-data-dir={folder}/chromium'):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(BROWSER[1]), options=options)


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def files(top):
    """{path under top: bytes} of every file under top."""
    found = {}
    for root, _, names in os.walk(top):
        for name in names:
            with open(os.path.join(root, name), 'rb') as f:
                found[os.path.relpath(os.path.join(root, name), top)] = f.read()
    return found


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
        self.browser = chromium(self.dir)

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

    def test_own_links(self):
        # A set made before there were keys: links gives them, and no program changes.
        os.remove(os.path.join(self.out, 'keys.csv'))
        handout = files(os.path.join(self.out, 'handout'))
        slips, listed = os.path.join(self.dir, 'slips.html'), os.path.join(self.dir, 'links.csv')
        made = subprocess.run(COMMAND + ['links', self.out, '--base', self.url, '--slips', slips, '--output', listed],
                              capture_output=True, text=True)
        self.assertEqual(made.returncode, 0, made.stderr)
        self.assertEqual(os.stat(os.path.join(self.out, 'keys.csv')).st_mode & 0o777, 0o600)
        self.assertEqual(files(os.path.join(self.out, 'handout')), handout)
        self.assertEqual(subprocess.run(COMMAND + ['links', self.out, '--base', 'ftp://x/']).returncode, 2)
        with open(listed, encoding='utf-8', newline='') as f:
            link = {r['name']: r['link'] for r in csv.DictReader(f)}
        board = self.start()

        # The slips, printed by the browser: every QR code is that person's link.
        self.browser.get(board.replace('/board?', '/board/slips?'))
        pdf = os.path.join(self.dir, 'slips.pdf')
        with open(pdf, 'wb') as f:
            f.write(base64.b64decode(self.browser.print_page()))
        subprocess.run(['pdftoppm', '-r', '150', '-png', pdf, os.path.join(self.dir, 'sheet')], check=True)
        scanned = subprocess.run(['zbarimg', '-q', '--raw'] + glob.glob(os.path.join(self.dir, 'sheet*.png')),
                                 capture_output=True, text=True).stdout.split()
        self.assertEqual(sorted(scanned), sorted(link.values()))

        # Bob's page: his name, his very program, an answer with no name typed.
        bob = link['Bob']
        self.browser.get(bob)
        self.assertEqual(self.browser.find_element(By.TAG_NAME, 'h1').text, 'Bob')
        with urllib.request.urlopen(bob + '/PassWord.exe') as response:
            self.assertEqual(response.read(), handout[os.path.join('Bob', 'PassWord.exe')])
            self.assertEqual(response.headers['Content-Disposition'], 'attachment; filename="PassWord.exe"')
            self.assertEqual((response.headers['Referrer-Policy'], response.headers['Cache-Control']),
                             ('no-referrer', 'no-store'))
        self.browser.find_element(By.ID, 'word').send_keys(self.password['Bob'])
        page = self.browser.find_element(By.TAG_NAME, 'html')
        self.browser.find_element(By.CSS_SELECTOR, 'button[type=submit]').click()
        WebDriverWait(self.browser, 10).until(staleness_of(page))
        self.assertIn('Right', self.browser.find_element(By.ID, 'verdict').text)
        table, _ = self.board(board)
        self.assertEqual(table['Bob'][:2], ('solved', '1'))
        cells = self.browser.execute_script(
            "return [...document.querySelectorAll('#people tbody tr')].map(r => [...r.cells].map(c => c.textContent))")
        bob_row = [c for c in cells if c[0] == 'Bob'][0]
        self.assertRegex(bob_row[6], r'^\d\d:\d\d:\d\d$')
        self.assertEqual(bob_row[7], 'link')

        # Unknown keys and unknown pages look alike.
        for unknown in (self.url + 'p/' + 'x' * 22, self.url + 'p/', self.url + 'nothing'):
            with self.assertRaises(urllib.error.HTTPError) as refused:
                urllib.request.urlopen(unknown)
            self.assertEqual(refused.exception.code, 404, unknown)

        # Every response: no sniffing, nothing from elsewhere; keyed pages leave no trace.
        for address in (self.url, bob, board):
            with urllib.request.urlopen(address) as response:
                self.assertEqual(response.headers['X-Content-Type-Options'], 'nosniff')
                self.assertIn("default-src 'self'", response.headers['Content-Security-Policy'])
                if address != self.url:
                    self.assertEqual(response.headers['Referrer-Policy'], 'no-referrer')

        # Ten answers of one person in a minute (the first above), from ten addresses; the eleventh is refused.
        for i in range(9):
            self.assertEqual(post_from(bob, {'word': 'guess'}, f'127.0.1.{i + 2}'), 200)
        self.assertEqual(post_from(bob, {'word': 'guess'}, '127.0.1.99'), 429)

        # A leaked link replaced: the old one stops at once.
        replaced = subprocess.run(COMMAND + ['rekey', self.out, ' bob '], capture_output=True, text=True)
        self.assertEqual(replaced.returncode, 0, replaced.stderr)
        with self.assertRaises(urllib.error.HTTPError) as refused:
            urllib.request.urlopen(bob)
        self.assertEqual(refused.exception.code, 404)
        with urllib.request.urlopen(board.replace('/board?', '/board/links.csv?')) as response:
            new = {r['name']: r['link'] for r in csv.DictReader(io.StringIO(response.read().decode()))}
        self.assertNotEqual(new['Bob'], bob)
        self.assertEqual({k: v for k, v in new.items() if k != 'Bob'}, {k: v for k, v in link.items() if k != 'Bob'})
        with urllib.request.urlopen(new['Bob']) as response:
            self.assertEqual(response.status, 200)

    def start_again(self):
        self.stop()
        return self.start()


class RoomBehindOneAddress(unittest.TestCase):
    """Sixty people behind one address (a school's NAT) on a set laid out by
    hand: every answer kept, each person still held to ten a minute."""

    def test_sixty_people_one_address(self):
        with tempfile.TemporaryDirectory() as top:
            out = os.path.join(top, 'set')
            people = stand_in_set.lay_out(out, 60)
            with socket.socket() as s:
                s.bind(('127.0.0.1', 0))
                port = s.getsockname()[1]
            server = subprocess.Popen(COMMAND + ['serve', out, '--port', str(port)], stdout=subprocess.PIPE, text=True)
            try:
                while 'Ctrl+C' not in server.stdout.readline():
                    pass
                url = f'http://127.0.0.1:{port}/'
                statuses = [post_from(url, {'name': name, 'word': password}, '127.0.3.3') for name, password in people]
                self.assertEqual(statuses, [200] * 60)
                name = people[0][0]
                statuses = [post_from(url, {'name': name, 'word': 'guess'}, f'127.0.4.{i + 2}') for i in range(10)]
                self.assertEqual(statuses, [200] * 9 + [429])
            finally:
                server.terminate()
                server.wait()
                server.stdout.close()



def enrol_from(url, name, client):
    """Status, where it leads and the page of an enrolment from a client address."""
    address = urllib.parse.urlsplit(url)
    connection = http.client.HTTPConnection(address.hostname, address.port, timeout=60, source_address=(client, 0))
    try:
        connection.request('POST', '/enrol', urllib.parse.urlencode({'name': name}),
                           {'Content-Type': 'application/x-www-form-urlencoded'})
        response = connection.getresponse()
        return response.status, response.getheader('Location'), response.read().decode()
    finally:
        connection.close()


class WalkIns(unittest.TestCase):
    """serve --open on a set that does not exist yet: people enrol at the door."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='serve-test-', dir=os.path.join(ROOT, 'build'))
        self.out = os.path.join(self.dir, 'set')
        self.url = f'http://127.0.0.1:{free_port()}/'
        self.browser = chromium(self.dir)
        self.server = None

    def tearDown(self):
        self.browser.quit()
        self.stop(9)
        shutil.rmtree(self.dir)

    def start(self, places):
        self.server = subprocess.Popen(COMMAND + ['serve', self.out, '--port', self.url.split(':')[2][:-1],
                                                  '--open', str(places)], stdout=subprocess.PIPE, text=True)
        printed = ''
        while 'Ctrl+C' not in printed:
            line = self.server.stdout.readline()
            self.assertTrue(line, printed)
            printed += line
        return re.search(r'http://\S+/board\?key=\S+', printed).group(0)

    def stop(self, signal_number=15):
        if self.server:
            self.server.send_signal(signal_number)
            self.server.wait()
            self.server.stdout.close()
            self.server = None

    def records(self):
        with open(os.path.join(self.out, 'answers.csv'), encoding='utf-8', newline='') as f:
            return {r['name']: r for r in csv.DictReader(f)}

    def test_walk_ins(self):
        board = self.start(25)
        # An empty set is a set.
        self.assertEqual(subprocess.run(COMMAND + ['who', self.out, 'abcde'], capture_output=True).returncode, 1)
        graded = subprocess.run(COMMAND + ['grade', self.out, '--from-checkins'], capture_output=True, text=True)
        self.assertEqual((graded.returncode, graded.stderr.splitlines()[0]), (0, '0 solved, 0 wrong, 0 none'))

        # One at the door, in the browser: enrolled, onto their own page, their program the release build's.
        self.browser.get(self.url)
        self.browser.find_element(By.ID, 'enrol').click()
        self.browser.find_element(By.ID, 'name').send_keys('Walk In')
        page = self.browser.find_element(By.TAG_NAME, 'html')
        self.browser.find_element(By.CSS_SELECTOR, 'button[type=submit]').click()
        WebDriverWait(self.browser, 30).until(staleness_of(page))
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
        self.browser.find_element(By.ID, 'word').send_keys(row['password'])
        page = self.browser.find_element(By.TAG_NAME, 'html')
        self.browser.find_element(By.CSS_SELECTOR, 'button[type=submit]').click()
        WebDriverWait(self.browser, 10).until(staleness_of(page))
        self.assertIn('Right', self.browser.find_element(By.ID, 'verdict').text)
        graded = subprocess.run(COMMAND + ['grade', self.out, '--from-checkins'], capture_output=True, text=True)
        self.assertIn('Walk In,Walk In,solved,1', graded.stdout)

        # Names that cannot be taken say why; each attempt counts, three a minute from one address.
        for name, said in [('walk  IN', 'is taken'), ('Bad\x1b[2J', 'a control character'), ('CON', 'no folder')]:
            status, _, shown = enrol_from(self.url, name, '127.0.6.2')
            self.assertEqual(status, 409, name)
            self.assertIn(said, shown, name)
            self.assertNotIn('Traceback', shown)
        self.assertEqual(enrol_from(self.url, 'Late Comer', '127.0.6.2')[0], 429)

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
        self.assertEqual(len(rows), 21)
        self.assertEqual(len({r['password'] for r in rows.values()}), 21)
        self.assertEqual(len({r['folder'] for r in rows.values()}), 21)
        with urllib.request.urlopen(board.replace('/board?', '/board.csv?')) as response:
            self.assertIn("\n'=1+2,", response.read().decode().replace('\r\n', '\n'))
        self.browser.get(board)
        self.assertEqual(self.browser.find_element(By.ID, 'places').text, '4 places left for walk-ins')
        self.assertIn('(walk-in)', self.browser.find_element(By.ID, 'people').text)

        # Killed while people enrol: the set is whole, every program its row's.
        threads = [threading.Thread(target=enrol_from, args=(self.url, f'Rush {i}', f'127.0.8.{i + 2}'))
                   for i in range(3)]
        for thread in threads:
            thread.start()
        time.sleep(0.3)
        self.stop(9)
        for thread in threads:
            thread.join()
        checked = subprocess.run(COMMAND + ['who', self.out, 'abcde'], capture_output=True, text=True)
        self.assertEqual(checked.returncode, 1, checked.stderr)

        # Never past the places given.
        self.start(25)
        client = 10
        while len(self.records()) < 25:
            client += 1
            self.assertEqual(enrol_from(self.url, f'Filler {client}', f'127.0.9.{client}')[0], 303)
        status, _, shown = enrol_from(self.url, 'One Too Many', '127.0.9.200')
        self.assertEqual(status, 409)
        self.assertIn('full', shown)


class Listening(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='serve-test-')

    def tearDown(self):
        shutil.rmtree(self.dir)

    def test_listening_options(self):
        out = os.path.join(self.dir, 'set')
        stand_in_set.lay_out(out, 2)
        for options, said in [(['--port', '70000'], 'expected a port from 1 to 65535'),
                              (['--host', '999.1.1.1'], 'class-set: cannot listen on 999.1.1.1')]:
            result = subprocess.run(COMMAND + ['serve', out, *options], capture_output=True, text=True)
            self.assertEqual(result.returncode, 2, options)
            self.assertIn(said, result.stderr)
            self.assertNotIn('Traceback', result.stderr)
        with socket.socket() as s:
            s.bind(('127.0.0.1', 0))
            port = str(s.getsockname()[1])
        server = subprocess.Popen(COMMAND + ['serve', out, '--host', '::1', '--port', port],
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
