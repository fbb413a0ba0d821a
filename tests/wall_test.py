"""The wall on a projector, in a real browser: at 1024×768, 1280×720 and
1920×1080 it fits the screen with nothing cut off and no scrolling, its
chart's time labels neither repeat nor touch, and no text on it is
smaller than 3% of the screen's height (the back of a room: the farthest
seat some six screen heights away, and text readable at 1/200 of that)."""
import datetime
import struct
import time

import pytest

from class_set import times
from class_set.set.clock import Clock
from conftest import page_app, served_in_thread
from stand_in_set import lay_out

SCREENS = [(1024, 768), (1280, 720), (1920, 1080)]
SMALLEST = 0.03  # of the screen's height

# What the page shows, measured as the browser lays it out.
PAGE = '''
const high = innerHeight, wide = innerWidth, root = document.documentElement;
const shown = [...document.body.querySelectorAll('*')].filter(e => e.getClientRects().length && !e.hidden);
const out = shown.filter(e => { const r = e.getBoundingClientRect();
    return r.left < -0.5 || r.top < -0.5 || r.right > wide + 0.5 || r.bottom > high + 0.5; });
const texts = shown.filter(e => [...e.childNodes].some(n => n.nodeType === 3 && n.textContent.trim()));
return {scrolls: root.scrollHeight > high || root.scrollWidth > wide,
        out: out.map(e => e.tagName + '#' + e.id),
        smallest: Math.min(...texts.map(e => parseFloat(getComputedStyle(e).fontSize))),
        high: high, wide: wide};'''
CHART = '''
const box = document.getElementById('chart'), svg = box.contentDocument && box.contentDocument.documentElement;
if (!svg || !svg.querySelector('text')) return null;
const texts = [...svg.querySelectorAll('text')].filter(t => t.textContent.trim() && t.getClientRects().length);
const size = t => parseFloat(getComputedStyle(t).fontSize) * t.getScreenCTM().a;
const rect = t => { const r = t.getBoundingClientRect(); return [r.left, r.top, r.right, r.bottom]; };
return {smallest: Math.min(...texts.map(size)), wide: box.clientWidth, high: box.clientHeight,
        rects: texts.map(rect), times: [...svg.querySelectorAll('.axis.x text')].map(t => [t.textContent, rect(t)])};'''


def png_size(path):
    with open(path, 'rb') as f:
        return struct.unpack('>II', f.read(24)[16:24])


def room(tmp_path, clock, language):
    """The wall's page on a room where 26 of 40 solved it in one burst, and 3 more tried."""
    out = str(tmp_path / 'set')
    people = [(f'Person {i}', f'Pw{i:03d}') for i in range(40)]
    lay_out(out, people, size=256)
    app = page_app({'OUT': out, 'LANGUAGE': language})
    store = app.extensions['room'].store
    if clock:
        now = times.now()
        store.set_clock(Clock(now - datetime.timedelta(minutes=20), now + datetime.timedelta(minutes=70)))
    client = app.test_client()
    for name, password in people[:26]:
        client.post('/', data={'name': name, 'word': password})
    for name, _ in people[26:29]:
        client.post('/', data={'name': name, 'word': 'wrong'})
    return app, store


@pytest.mark.parametrize('clock, language', [(False, 'en'), (True, 'ru')], ids=['a burst, no clock', 'ru, 90 minutes'])
def test_the_wall_fits_every_projector(browser, tmp_path, clock, language):
    app, store = room(tmp_path, clock, language)
    with served_in_thread(app) as port:
        base = f'http://127.0.0.1:{port}'
        browser.get(f'{base}/board?key={store.key()}')
        for wide, high in SCREENS:
            browser.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                                    {'width': wide, 'height': high, 'deviceScaleFactor': 1, 'mobile': False})
            browser.get(f'{base}/board/wall')
            chart = None
            for _ in range(50):
                chart = browser.execute_script(CHART)
                if chart:
                    break
                time.sleep(0.1)
            page = browser.execute_script(PAGE)
            shot = tmp_path / f'wall-{wide}x{high}.png'
            browser.save_screenshot(str(shot))
            where = f'{wide}×{high}'
            assert png_size(shot) == (wide, high), where
            assert (page['wide'], page['high']) == (wide, high), where
            assert not page['scrolls'] and page['out'] == [], f'{where}: scrolls, or cut off: {page["out"]}'
            assert page['smallest'] >= SMALLEST * high, f'{where}: text of {page["smallest"]} px'

            assert chart, f'{where}: the chart did not load'
            assert chart['high'] >= 0.3 * high, f'{where}: a chart {chart["high"]} px high'
            assert chart['smallest'] >= SMALLEST * high, f'{where}: chart text of {chart["smallest"]:.1f} px'
            for left, top, right, bottom in chart['rects']:
                assert left >= 0 and top >= 0 and right <= chart['wide'] and bottom <= chart['high'], \
                    f'{where}: chart text cut off at {(left, top, right, bottom)}'
            labels = [text for text, _ in chart['times']]
            assert len(labels) >= 2 and len(set(labels)) == len(labels), f'{where}: time labels {labels}'
            spans = sorted((left, right) for _, (left, _, right, _) in chart['times'])
            assert all(right < after for (_, right), (after, _) in zip(spans, spans[1:])), \
                f'{where}: time labels touch: {labels}'
