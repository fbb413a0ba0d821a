"""The countdown in a real browser: a person's page and the wall count down
from the seconds the server sent, and agree with the server's time left
within two seconds, even where the browser's own clock is an hour wrong."""
import datetime
import re
import time

import pytest

from class_set import times
from class_set.set.clock import Clock
from conftest import PEOPLE, page_app, read_csv, served_in_thread
from stand_in_set import lay_out

# The browser's clock an hour ahead, for every page it opens: a page that
# counted by it would be an hour wrong.
WRONG_CLOCK = '''(() => {
    const Real = Date, ahead = 3600 * 1000;
    class Wrong extends Real {
        constructor(...given) { if (given.length) { super(...given); } else { super(Real.now() + ahead); } }
        static now() { return Real.now() + ahead; }
    }
    Date = Wrong;
})();'''


def shown_left(browser, selector):
    """The seconds a page's countdown shows now."""
    hours, minutes, seconds = map(int, browser.find_element('css selector', selector).text.split(':'))
    return hours * 3600 + minutes * 60 + seconds


@pytest.mark.parametrize('page', ['personal', 'wall'])
def test_the_countdown_counts_by_the_server_not_the_browser(browser, tmp_path, page):
    out = str(tmp_path / 'set')
    lay_out(out, PEOPLE, size=256)
    app = page_app({'OUT': out})
    store = app.extensions['room'].store
    store.set_clock(Clock(None, times.now() + datetime.timedelta(minutes=30)))
    browser.execute_cdp_cmd('Page.addScriptToEvaluateOnNewDocument', {'source': WRONG_CLOCK})
    with served_in_thread(app) as port:
        base = f'http://127.0.0.1:{port}'
        browser.get(f'{base}/board?key={store.key()}')
        assert browser.execute_script('return Date.now() - performance.timeOrigin - performance.now()') > 3500 * 1000
        link = read_csv(browser.execute_script("return fetch('/board/links.csv').then(r => r.text())"))[0]['link']
        browser.get(base + ('/p/' + link.split('/p/')[1] if page == 'personal' else '/board/wall'))
        time.sleep(3)  # the page has counted for a while
        shown = shown_left(browser, 'time[data-left]')
        left = store.clock().left(times.now())
        assert abs(shown - left) <= 2, f'the page shows {shown} s left, the server says {left} s'
        assert re.fullmatch(r'0:(29|30):\d\d', browser.find_element('css selector', 'time[data-left]').text)
