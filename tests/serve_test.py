"""class-set serve for real, on sets built by class-set build: a room in a
headless Chromium (Selenium), with its slips printed and their QR codes
scanned; a set grown and a build killed while the page runs; walk-ins
enrolling at the door. The page's own behaviour is tested in process
(test_page.py)."""
import base64
import contextlib
import csv
import glob
import http.client
import io
import os
import re
import shutil
import subprocess
import tempfile
import threading
import time
import urllib.parse
import urllib.request

import pytest
from selenium.webdriver.common.by import By
from selenium.webdriver.support.expected_conditions import staleness_of
from selenium.webdriver.support.wait import WebDriverWait

from conftest import COMMAND, ROOT
from stand_in_set import free_port, together


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


class Served:
    """A folder of the test's own, a browser, and serve started on OUT."""

    def __init__(self, folder, browser):
        self.dir, self.browser = str(folder), browser
        self.out = os.path.join(self.dir, 'set')
        self.url = f'http://127.0.0.1:{free_port()}/'
        self.server = None

    def start(self, *options):
        """Start serve; return the board's address that it printed, once the page answers."""
        self.server = subprocess.Popen(COMMAND + ['serve', self.out, '--port', self.url.split(':')[2][:-1], *options],
                                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        printed = ''
        while 'Ctrl+C' not in printed:
            line = self.server.stdout.readline()
            assert line, printed
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


@pytest.fixture
def served(browser):
    """A Served in a folder under build/ (the release preset builds there too), stopped at the end."""
    folder = tempfile.mkdtemp(prefix='serve-test-', dir=os.path.join(ROOT, 'build'))
    found = Served(folder, browser)
    yield found
    found.stop(9)
    shutil.rmtree(folder)


@pytest.fixture
def class_of_three(served):
    """A set built by class-set for three people: the Served, with their passwords."""
    roster = os.path.join(served.dir, 'roster.txt')
    with open(roster, 'w', encoding='utf-8') as f:
        f.write('Анна Петрова\nBob\n<b>Carl</b>\n')
    subprocess.run(COMMAND + ['build', roster, served.out], check=True, capture_output=True)
    served.password = {name: row['password'] for name, row in served.records().items()}
    return served


def test_a_room_in_a_browser(class_of_three):
    served = class_of_three
    listed = os.path.join(served.dir, 'links.csv')
    subprocess.run(COMMAND + ['links', served.out, '--base', served.url, '--output', listed], check=True)
    with open(listed, encoding='utf-8', newline='') as f:
        link = {r['name']: r['link'] for r in csv.DictReader(f)}
    board = served.start()
    served.browser.get(served.url)
    assert 'not your password' in (served.submit({'name': 'Анна Петрова', 'word': 'wrong'}))
    assert 'Right' in (served.submit({'name': 'Анна Петрова', 'word': served.password['Анна Петрова']}))
    served.browser.get(link['Bob'])
    assert served.browser.find_element(By.TAG_NAME, 'h1').text == 'Bob'
    assert 'Right' in (served.submit({'word': served.password['Bob']}))

    # The board as the organiser sees it: names as text, never markup.
    served.browser.get(board)
    rows = served.browser.execute_script(
        "return [...document.querySelectorAll('#people tbody tr')].map(r => [...r.cells].map(c => c.textContent))")
    assert {cells[0]: (cells[1], cells[3], cells[7]) for cells in rows} == ({'Анна Петрова': ('solved', '2', 'name'), 'Bob': ('solved', '1', 'link'),
                      '<b>Carl</b>': ('none', '0', '')})
    assert (served.browser.find_elements(By.CSS_SELECTOR, '#people b')) == []

    # The slips, printed by the browser: every QR code is that person's link.
    served.browser.get(board.replace('/board?', '/board/slips?'))
    pdf = os.path.join(served.dir, 'slips.pdf')
    with open(pdf, 'wb') as f:
        f.write(base64.b64decode(served.browser.print_page()))
    subprocess.run(['pdftoppm', '-r', '150', '-png', pdf, os.path.join(served.dir, 'sheet')], check=True)
    scanned = subprocess.run(['zbarimg', '-q', '--raw'] + glob.glob(os.path.join(served.dir, 'sheet*.png')),
                             capture_output=True, text=True).stdout.split()
    assert sorted(scanned) == sorted(link.values())

    # Stopped and started again: the same key, every answer kept.
    served.stop()
    assert served.start() == board
    assert board_report(board)['Bob'] == ('solved', '1')

def test_the_set_grows_while_serve_runs(class_of_three):
    served = class_of_three
    board = served.start()
    anna = served.password['Анна Петрова']
    assert (post_from(served.url, {'name': 'Анна Петрова', 'word': anna}, '127.0.0.2')[0]) == 200
    roster = os.path.join(served.dir, 'grown.txt')
    with open(roster, 'w', encoding='utf-8') as f:
        f.write('Анна Петрова\nBob\n<b>Carl</b>\nDora\n')
    crowd = os.path.join(served.dir, 'crowd.txt')
    with open(crowd, 'w', encoding='utf-8') as f:
        f.write(''.join(f'Person {i}\n' for i in range(3000)))

    # Killed half-way, while the new set is laid out: the set and its answers stay as they were.
    build = subprocess.Popen(COMMAND + ['build', crowd, served.out], stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, start_new_session=True)
    while build.poll() is None and not glob.glob(os.path.join(served.dir, '.set.new-*')):
        time.sleep(0.02)
    os.killpg(build.pid, 9)
    build.wait()
    assert board_report(board)['Анна Петрова'] == ('solved', '1')
    assert 'Dora' not in board_report(board)

    # Grown while people hand in, each from an address of their own.
    build = subprocess.Popen(COMMAND + ['build', roster, served.out], stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True)
    statuses, client = [], 10
    while build.poll() is None:
        client += 1
        statuses.append(post_from(served.url, {'name': 'Bob', 'word': 'guess'},
                                  f'127.0.{client // 250}.{client % 250 + 2}')[0])
    assert build.wait() == 0, build.stdout.read()
    build.stdout.close()
    dora = served.records()['Dora']['password']
    deadline = time.monotonic() + 10  # serve notices the new set within seconds
    while time.monotonic() < deadline:
        status = post_from(served.url, {'name': 'dora', 'word': dora}, '127.0.0.3')[0]
        statuses.append(status)
        if status == 200 and 'Dora' in board_report(board):
            break
    assert 500 not in statuses
    served.stop()
    assert served.start() == board, 'the same key'
    expected = {'Анна Петрова': ('solved', '1'), 'Bob': ('wrong', str(statuses.count(200) - 1)),
                '<b>Carl</b>': ('none', '0'), 'Dora': ('solved', '1')}
    assert board_report(board) == expected
    graded = subprocess.run(COMMAND + ['grade', served.out, '--from-checkins'], capture_output=True, text=True)
    assert {r['name']: (r['result'], r['answers']) for r in csv.DictReader(io.StringIO(graded.stdout))} == expected


def enrol_from(url, name, client):
    return post_from(url, {'name': name}, client, '/enrol')


# serve --open on a set that does not exist yet: people enrol at the door.

def test_one_at_the_door(served):
    served.start('--open', '25', '--enrol-rate', '2')
    # An empty set is a set.
    assert (subprocess.run(COMMAND + ['who', served.out, 'abcde'], capture_output=True).returncode) == 1
    graded = subprocess.run(COMMAND + ['grade', served.out, '--from-checkins'], capture_output=True, text=True)
    assert (graded.returncode, graded.stderr.splitlines()[0]) == (0, '0 solved, 0 wrong, 0 none')

    # Enrolled in the browser, onto their own page, their program the release build's.
    served.browser.get(served.url)
    served.browser.find_element(By.ID, 'enrol').click()
    served.submit({'name': 'Walk In'})
    assert served.browser.find_element(By.TAG_NAME, 'h1').text == 'Walk In'
    with urllib.request.urlopen(served.browser.current_url + '/PassWord.exe') as response:
        program = response.read()
    row = served.records()['Walk In']
    build = os.path.join(served.dir, 'release')
    subprocess.run(['cmake', '--preset', 'release', '-B', build, '-DPASSWORD=' + row['password'],
                    '-DPASSWORD_MASK=' + row['mask']], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(['cmake', '--build', build, '--target', 'PassWord'], check=True, stdout=subprocess.DEVNULL)
    with open(os.path.join(build, 'bin', 'PassWord.exe'), 'rb') as f:
        assert program == f.read()
    # ... and hands in what it accepts, on the same page: grade reports it.
    assert 'Right' in (served.submit({'word': row['password']}))
    graded = subprocess.run(COMMAND + ['grade', served.out, '--from-checkins'], capture_output=True, text=True)
    assert 'Walk In,Walk In,solved,1' in graded.stdout

    # Names that cannot be taken say why; each attempt counts, two a minute from one address here (a form
    # that is no name at all is refused before it counts).
    for name, said, code in [('walk  IN', 'is taken', 409), ('Bad\x1b[2J', 'no letter (U+001B)', 400),
                             ('CON', 'no folder', 409)]:
        status, _, shown = enrol_from(served.url, name, '127.0.6.2')
        assert status == code, name
        assert said in shown, name
        assert 'Traceback' not in shown
    assert enrol_from(served.url, 'Late Comer', '127.0.6.2')[0] == 429

def test_a_crowd_at_the_door(served):
    board = served.start('--open', '25')
    # Twenty at the same moment, one of them named like a formula.
    names = [f'Guest {i}' for i in range(19)] + ['=1+2']
    results = [None] * 20

    def one(i):
        status, location, _ = enrol_from(served.url, names[i], f'127.0.7.{i + 2}')
        results[i] = (status, bool(location and '/p/' in location))

    together(20, one)
    assert results == [(303, True)] * 20  # how long each waited: the benchmark
    rows = served.records()
    assert len(rows) == 20
    assert (len({r['password'] for r in rows.values()})) == 20
    assert (len({r['folder'] for r in rows.values()})) == 20
    assert "\n'=1+2," in (board_csv(board).replace('\r\n', '\n'))
    served.browser.get(board)
    assert served.browser.find_element(By.ID, 'places').text == '5 places left for walk-ins'
    assert '(walk-in)' in served.browser.find_element(By.ID, 'people').text

    # Killed while people enrol: the set is whole, every program its row's.
    def rush(i):
        with contextlib.suppress(OSError, http.client.HTTPException):  # serve is killed under them
            enrol_from(served.url, f'Rush {i}', f'127.0.8.{i + 2}')
    threads = [threading.Thread(target=rush, args=(i,)) for i in range(3)]
    for thread in threads:
        thread.start()
    deadline = time.monotonic() + 60
    while not os.path.exists(os.path.join(served.out, '.change')) and time.monotonic() < deadline:
        time.sleep(0.001)  # until one is being added
    assert time.monotonic() < deadline, 'no enrolment began'
    served.stop(9)
    for thread in threads:
        thread.join()
    checked = subprocess.run(COMMAND + ['who', served.out, 'abcde'], capture_output=True, text=True)
    assert checked.returncode == 1, checked.stderr

    # Never past the places given.
    served.start('--open', '25')
    client = 10
    while len(served.records()) < 25:
        client += 1
        assert (enrol_from(served.url, f'Filler {client}', f'127.0.9.{client}')[0]) == 303
    status, _, shown = enrol_from(served.url, 'One Too Many', '127.0.9.200')
    assert status == 409
    assert 'full' in shown

