"""Every page people reach, in Russian and in English, board and wall
included, checked by axe-core in headless Chromium: no violation of any
impact."""
import datetime
import os

import pytest

from class_set import times
from class_set.set.clock import Clock
from conftest import PEOPLE, page_app, read_csv, served_in_thread
from stand_in_set import lay_out

# Where scripts/setup keeps it, once for the machine's user.
AXE = os.path.join(os.environ.get('XDG_CACHE_HOME') or os.path.expanduser('~/.cache'), 'password-class-set', 'npm',
                   'node_modules', 'axe-core', 'axe.min.js')
PAGES = ('/', '/p/KEY', '/enrol', '/nothing', '/board', '/board/slips', '/board/wall')


@pytest.fixture
def axe():
    if not os.path.exists(AXE):
        pytest.skip(f'no axe-core here ({AXE})')
    with open(AXE, encoding='utf-8') as f:
        return f.read()


@pytest.mark.parametrize('language', ['ru', 'en'])
def test_every_page_passes_axe(browser, axe, tmp_path, stand_in_builds, language):
    out = str(tmp_path / 'set')
    lay_out(out, PEOPLE, size=256)
    app = page_app({'OUT': out, 'LANGUAGE': language, 'PLACES': 3})
    # With a clock: its countdown on every page that takes answers, and on the board and the wall.
    app.extensions['room'].store.set_clock(Clock(None, times.now() + datetime.timedelta(hours=1)))
    with served_in_thread(app) as port:
        base = f'http://127.0.0.1:{port}'
        browser.get(f'{base}/board?key={app.extensions["room"].store.key()}')
        link = read_csv(browser.execute_script("return fetch('/board/links.csv').then(r => r.text())"))[0]['link']
        found = {}
        for page in PAGES:
            browser.get(base + page.replace('/p/KEY', '/p/' + link.split('/p/')[1]))
            browser.execute_script(axe)
            violations = browser.execute_async_script(
                'const done = arguments[0]; axe.run().then(r => done(r.violations))')
            found[page] = [f"{v['id']} ({v['impact']}): {v['nodes'][0]['html'][:120]}" for v in violations]
    assert found == {page: [] for page in PAGES}
