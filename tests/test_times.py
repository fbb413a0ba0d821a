"""One kind of time: an instant written in one zone is the same instant
read in another; a time an older set wrote without a zone is read as the
machine's clock once, the first of the two in the hour the clock goes
back; reports say every time with its offset."""
import datetime
import os
import re

import pytest

from class_set import times
from class_set.set.people import removal_time
from conftest import organiser, page_app, read_csv

UTC = datetime.timezone.utc


def test_an_instant_written_in_one_zone_is_the_same_read_in_another(zone):
    instant = datetime.datetime(2026, 12, 8, 11, 5, 31, tzinfo=UTC)
    zone('Europe/Moscow')
    written = times.stamp(instant)
    assert written == '2026-12-08T14:05:31+03:00'
    zone('America/New_York')
    assert times.read(written) == instant
    assert times.said(written) == '2026-12-08 06:05:31'


@pytest.mark.parametrize('written, instant', [
    ('2026-10-25 00:30:00', '2026-10-24T23:30:00+00:00'),  # summer time
    ('2026-10-25 01:30:00', '2026-10-25T00:30:00+00:00'),  # the hour the clock goes back: the first of the two
    ('2026-10-25 02:30:00', '2026-10-25T02:30:00+00:00'),  # winter time
])
def test_an_older_sets_time_is_this_machines_clock_then(zone, written, instant):
    zone('Europe/London')
    assert times.read(written) == datetime.datetime.fromisoformat(instant)
    assert removal_time(written) == datetime.datetime.fromisoformat(instant).timestamp()


def test_a_report_says_every_time_with_its_offset(make_set, class_set, zone):
    zone('Asia/Yekaterinburg')
    app = page_app({'OUT': make_set()})
    client = organiser(app)
    client.post('/', data={'name': 'Bob', 'word': 'Fg4Hj'})
    assert class_set('remove', app.config['OUT'], 'Анна Петрова')[0] == 0
    report = {r['name']: r for r in read_csv(class_set('grade', app.config['OUT'], '--from-checkins')[1])}
    assert re.fullmatch(r'\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\+05:00', report['Bob']['solved_at'])
    assert re.fullmatch(r'\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\+05:00', report['Анна Петрова']['removed'])
    with open(os.path.join(app.config['OUT'], 'removed.csv'), encoding='utf-8') as f:
        assert '+05:00' in f.read()
