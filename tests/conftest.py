"""What the tests of the organiser's tools share: sets laid out by hand
(stand-in programs that agree with their records), the page on such a set
through Flask's test client, and class-set's command line run in process."""
import contextlib
import csv
import os
import threading
import time

import pytest

from stand_in_set import lay_out, stand_in

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COMMAND = ['bash', os.path.join(ROOT, 'scripts', 'class-set')]
TOOLS = os.path.join(ROOT, 'tools')
# name, password; the folder is the name.
PEOPLE = [('Анна Петрова', 'Ab3De'), ('Bob', 'Fg4Hj'), ('<b>Carl</b>', 'Km5Np')]


BROWSER = ('/usr/bin/chromium', '/usr/bin/chromedriver')


def chromium(folder):
    """Headless Chromium with a profile in `folder`, quiet on a closed network."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = BROWSER[0]
    for flag in ('--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                 '--disable-background-networking', '--disable-component-update', '--disable-sync',
                 f'--user-data-dir={folder}/chromium'):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(BROWSER[1]), options=options)


@pytest.fixture
def browser(tmp_path):
    """Headless Chromium, or the test skipped with the reason where there is none."""
    if not all(os.access(path, os.X_OK) for path in BROWSER):
        pytest.skip(f'no Chromium here ({" and ".join(BROWSER)})')
    found = chromium(tmp_path)
    yield found
    found.quit()


@pytest.fixture
def zone():
    """zone(NAME): this machine's zone from now until the test ends."""
    before = os.environ.get('TZ')

    def set_zone(name):
        os.environ['TZ'] = name
        time.tzset()
    yield set_zone
    if before is None:
        os.environ.pop('TZ', None)
    else:
        os.environ['TZ'] = before
    time.tzset()


class Moment:
    """The tools' clock, set by a test: `now` an aware instant; at(text)
    sets it (HH:MM today in this machine's zone, or ISO 8601)."""

    def __init__(self, now):
        self.now = now

    def at(self, text):
        from class_set import times
        self.now = times.parse(text, today=self.now)
        return self.now


@pytest.fixture
def moment(monkeypatch):
    """The Moment every time of the tools is read from: no test waits for a clock."""
    from class_set import times
    found = Moment(times.now())
    monkeypatch.setattr(times, 'now', lambda: found.now)
    return found


def read_csv(text):
    return list(csv.DictReader(text.splitlines()))


@pytest.fixture
def make_set(tmp_path):
    """make_set(people=PEOPLE, name='set'): OUT laid out for [(name, password)]."""
    def make(people=PEOPLE, name='set'):
        out = str(tmp_path / name)
        lay_out(out, people, size=256)
        return out
    return make


@pytest.fixture
def stand_in_builds(monkeypatch, tmp_path):
    """build, enrolment and serve --open in process: programs written as
    stand-ins (stand_in_set.stand_in) instead of from the release build."""
    import dataclasses
    import hashlib
    from class_set.programs import placing
    from class_set.web import enrolment

    def write_programs(work, added, jobs):
        rows, paths = [], []
        for i, row in enumerate(added):
            data = stand_in(row.name, row.password, row.mask, 256)
            paths.append(os.path.join(work, f'{i}.exe'))
            with open(paths[-1], 'wb') as f:
                f.write(data)
            rows.append(dataclasses.replace(row, sha256=hashlib.sha256(data).hexdigest()))
        return rows, paths
    monkeypatch.setattr(placing, 'write_programs', write_programs)
    monkeypatch.setattr(enrolment, 'load_templates', lambda *args: {})


def records(out):
    """{folder: the row of answers.csv}, as the set keeps them."""
    with open(os.path.join(out, 'answers.csv'), encoding='utf-8', newline='') as f:
        return {r['folder']: r for r in csv.DictReader(f)}


@pytest.fixture
def built_from(tmp_path, stand_in_builds, class_set):
    """built_from(export, id_column): OUT built from a teacher's export in
    cp1251 with the name in ФИО, and its records."""
    def build(export, id_column):
        (tmp_path / 'class.csv').write_bytes(export.encode('cp1251'))
        out = str(tmp_path / 'set')
        status, _, problems = class_set('build', str(tmp_path / 'class.csv'), out, '--encoding', 'cp1251',
                                        '--name-column', 'ФИО', '--id-column', id_column)
        assert status == 0, problems
        return out, records(out)
    return build


@pytest.fixture
def class_set(capsys):
    """class_set(*args) -> (status, stdout, stderr) of the command line, in process."""
    from class_set.__main__ import main

    def run(*args):
        try:
            status = main(list(args))
        except SystemExit as e:  # argparse's usage errors
            status = e.code
        said = capsys.readouterr()
        return status, said.out, said.err
    return run


@contextlib.contextmanager
def served_in_thread(app, limits=None):
    """The page served by waitress on a free port of loopback, in a thread; its port."""
    from class_set.web.serving import listen
    from stand_in_set import free_port
    port = free_port()
    server = listen(app, '127.0.0.1', port, limits or {'connections': 100, 'deadline': 10, 'slow': 20,
                                                         'idle_timeout': 15})
    threading.Thread(target=server.run, daemon=True).start()
    try:
        yield port
    finally:
        server.close()


class Stopped:
    """A server that Ctrl+C stops as soon as it runs."""

    def run(self):
        raise KeyboardInterrupt

    def close(self):
        pass


@pytest.fixture
def serve_at_once(monkeypatch):
    """serve in process, up to the moment it would serve: its server stops at once."""
    from class_set.web import serving
    monkeypatch.setattr(serving, 'listen', lambda *args: Stopped())


def page_app(config):
    """The page on a set, as serve makes it ready: open for walk-ins where
    config has PLACES (stand_in_builds first), everyone with a key."""
    from class_set.web import create_app
    from class_set.web.serving import prepare, ready
    if config.get('PLACES'):
        prepare(config['OUT'], config['PLACES'], 2)
    return ready(create_app(config))


@pytest.fixture
def app(make_set):
    return page_app({'OUT': make_set()})


def organiser(app):
    """A test client that opened the board once with its key, as the
    organiser does: it holds the board's cookie."""
    client = app.test_client()
    assert client.get('/board?key=' + app.extensions['room'].store.key()).status_code == 303
    return client


@pytest.fixture
def client(app):
    return organiser(app)


@pytest.fixture
def board_key(app):
    return app.extensions['room'].store.key()
