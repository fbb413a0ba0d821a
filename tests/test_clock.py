"""A room with a clock, its times set by the test: a timed class from
before its opening to after its closing, with extra time for one student,
late answers kept and marked, grade's points, late points and ranks, the
pages, the board and the wall at each stage, in English and Russian; late
answers refused where the organiser says so; the clock changed on a
running room; a session across a change of the clocks; what is refused."""
import html
import os
import re

import pytest

from class_set import times
from conftest import organiser, page_app, read_csv

EXPORT = ('ФИО;Группа;Номер;Доп. время\r\nАнна Петрова;ИБ-21;1001;\r\nBob Marsh;ИБ-21;1002;\r\n'
          'Иван Сидоров;ИБ-22;1003;15\r\nCarl Jensen;ИБ-22;1004;0\r\n')


@pytest.fixture
def room(tmp_path, stand_in_builds, class_set, zone, moment):
    """A class of four in Moscow, built with one student's 15 minutes of
    extra time, the room set to open at 10:00 and close at 11:30; at 09:50.
    (OUT, {name: (link, password)}, the page's app)."""
    zone('Europe/Moscow')
    moment.at('2026-12-08T09:50:00+03:00')
    (tmp_path / 'class.csv').write_bytes(EXPORT.encode('cp1251'))
    out = str(tmp_path / 'set')
    status, _, said = class_set('build', str(tmp_path / 'class.csv'), out, '--encoding', 'cp1251', '--name-column',
                                'ФИО', '--id-column', 'Номер', '--extra-time-column', 'Доп. время')
    assert status == 0, said
    status, printed, said = class_set('clock', out, '--opens', '10:00', '--closes', '11:30')
    assert status == 0 and 'The room opens at 2026-12-08 10:00:00 and closes at 2026-12-08 11:30:00 ' \
                           '(Europe/Moscow, UTC+03:00); answers after it are kept, marked late.' in printed, said
    app = page_app({'OUT': out, 'PLACES': 3, 'NAME_RATE': 100})
    client = organiser(app)
    links = {r['name']: r['link'].split('8000')[1] for r in read_csv(client.get('/board/links.csv').text)}
    with open(os.path.join(out, 'answers.csv'), encoding='utf-8') as f:
        passwords = {r['name']: r['password'] for r in read_csv(f.read())}
    return out, {name: (links[name], passwords[name]) for name in links}, app


def text(response):
    """What a page says, without its markup."""
    return re.sub(r'\s+', ' ', html.unescape(re.sub(r'<[^>]+>', ' ', response.text)))


def left_on(response):
    """The seconds a page counts down from."""
    return int(re.search(r'data-left="(\d+)"', response.text).group(1))


def test_a_timed_class_from_before_its_opening_to_after_its_closing(room, moment, class_set):
    out, people, app = room
    client, board = app.test_client(), organiser(app)
    anna, bob, ivan, carl = (people[n] for n in ('Анна Петрова', 'Bob Marsh', 'Иван Сидоров', 'Carl Jensen'))

    # 09:50: nothing to do yet but wait, and enrol at the door.
    page = client.get(anna[0])
    assert 'The room opens at 10:00 (Europe/Moscow, UTC+03:00).' in text(page) and left_on(page) == 601
    assert 'id="download"' not in page.text and '<form' not in page.text
    assert client.get(anna[0] + '/PassWord.exe').status_code == 403
    assert client.post(anna[0], data={'word': anna[1]}).status_code == 403, 'no answer before the opening'
    assert '<form' not in client.get('/').text
    assert 'Opens at 10:00 (Europe/Moscow, UTC+03:00), in' in text(board.get('/board'))
    assert 'Opens at 10:00' in text(board.get('/board/wall'))
    enrolled = client.post('/enrol', data={'name': 'Zoe Late'})
    assert enrolled.status_code == 303 and 'The room opens at 10:00' in text(client.get(enrolled.location))

    # 10:20: open; the clock counts down to 11:30.
    moment.at('10:20')
    page = client.get(anna[0])
    assert left_on(page) == 70 * 60 and 'The room closes at 11:30 (Europe/Moscow, UTC+03:00).' in text(page)
    assert client.get(anna[0] + '/PassWord.exe').status_code == 200
    assert 'Right' in client.post(anna[0], data={'word': anna[1]}).text
    client.post(bob[0], data={'word': 'not it'})
    page = client.get(ivan[0])
    assert left_on(page) == 85 * 60 and 'Your room closes at 11:45 (Europe/Moscow, UTC+03:00), with 15 minutes more.' \
        in text(page)
    assert re.search(r'Opened at 10:00 · closes at 11:30 \(Europe/Moscow, UTC\+03:00\): [\d:]+ left',
                     text(board.get('/board')))
    assert '+15 minutes, until 11:45' in text(board.get('/board'))

    # 11:40: closed to all but Ivan; an answer now is kept, as late.
    moment.at('11:40')
    late = client.post(bob[0], data={'word': bob[1]})
    assert 'Right' in late.text and 'Kept as late' in late.text
    assert 'Kept as late' not in client.post(ivan[0], data={'word': ivan[1]}).text, 'his own closing is later'
    assert 'The room closed at 11:30 (Europe/Moscow, UTC+03:00). An answer now is kept, as late.' \
        in text(client.get(carl[0]))
    assert client.get(carl[0] + '/PassWord.exe').status_code == 200, 'people keep their program'
    moment.at('11:50')
    client.post('/', data={'name': 'Carl Jensen', 'word': carl[1]})
    board_page = text(board.get('/board'))
    assert 'Closed at 11:30 (Europe/Moscow, UTC+03:00) · answers after it are kept, marked late' in board_page
    assert re.search(r'Bob Marsh[^|]*?solved \(late\)', board_page) and 'Анна Петрова' in board_page
    assert 'Closed at 11:30' in text(board.get('/board/wall'))

    # The grades: points in time, late points after, ranks by minutes from the opening.
    status, report, said = class_set('grade', out, '--from-checkins', '--points', '2.5', '--late-points', '1')
    assert status == 0, said
    graded = {r['name']: (r['result'], r['late'], r['minutes'], r['rank'], r['points'], r['extra_minutes'])
              for r in read_csv(report)}
    assert graded['Анна Петрова'] == ('solved', '', '20.0', '1', '2.5', '')
    assert graded['Иван Сидоров'] == ('solved', '', '100.0', '2', '2.5', '15')
    assert graded['Bob Marsh'] == ('solved', 'yes', '100.0', '', '1', '')
    assert graded['Carl Jensen'] == ('solved', 'yes', '110.0', '', '1', '')
    assert graded['Zoe Late'][0] == 'none'


def test_the_timed_class_in_russian(room, moment):
    out, people, app = room
    client, board = app.test_client(), organiser(app)
    ru = {'Accept-Language': 'ru'}
    anna = people['Анна Петрова']
    assert 'Приём открывается в 10:00 (Europe/Moscow, UTC+03:00).' in text(client.get(anna[0], headers=ru))
    assert 'Ещё не открыто' in text(client.post(anna[0], data={'word': 'x'}, headers=ru))
    assert 'Открывается в 10:00' in text(board.get('/board', headers=ru))
    moment.at('10:05')
    assert 'Осталось:' in text(client.get(anna[0], headers=ru))
    assert 'у вас на 15 минут больше' in text(client.get(people['Иван Сидоров'][0], headers=ru))
    moment.at('11:31')
    late = client.post(anna[0], data={'word': anna[1]}, headers=ru)
    assert 'Сохранено как поздний ответ' in text(late)
    assert 'Закрыто в 11:30' in text(board.get('/board/wall', headers=ru))
    assert '(с опозданием)' in text(board.get('/board', headers=ru))


def test_late_answers_refused_where_the_organiser_says_so(room, moment, class_set):
    out, people, app = room
    client = app.test_client()
    assert class_set('clock', out, '--after-close', 'refuse')[0] == 0
    moment.at('11:31')
    anna = people['Анна Петрова']
    refused = client.post(anna[0], data={'word': anna[1]})
    assert refused.status_code == 403 and 'The room closed at 11:30 (Europe/Moscow, UTC+03:00): answers are no ' \
                                          'longer taken.' in text(refused)
    assert '<form' not in client.get(anna[0]).text and client.get(anna[0] + '/PassWord.exe').status_code == 200
    assert client.post('/', data={'name': 'Nobody', 'word': 'x'}).status_code == 403
    assert app.extensions['room'].store.answers() == [], 'nothing kept'
    assert 'Kept as late' not in client.post(people['Иван Сидоров'][0], data={'word': 'x'}).text, 'his room is open'


def test_the_clock_changed_on_a_running_room(room, moment, class_set):
    out, people, app = room
    client = app.test_client()
    anna = people['Анна Петрова'][0]
    assert class_set('clock', out, '--opens', 'now')[0] == 0, 'opened early'
    assert 'id="download"' in client.get(anna).text
    moment.at('11:00')
    assert class_set('clock', out, '--closes', 'now')[0] == 0
    assert 'The room closed at 11:00' in text(client.get(anna))
    status, printed, _ = class_set('clock', out, '--extend', '15m')
    assert status == 0 and 'closes at 2026-12-08 11:15:00' in printed
    assert left_on(client.get(anna)) == 15 * 60, 'the next request sees it'
    assert class_set('extra-time', out, 'Анна Петрова', '10')[0] == 0
    assert left_on(client.get(anna)) == 25 * 60
    assert class_set('clock', out, '--never-closes')[0] == 0
    assert 'data-left' not in client.get(anna).text
    status, printed, _ = class_set('clock', out)
    assert 'never closes' in printed


def test_extra_time_stays_through_rekey_removal_and_a_build(room, class_set, tmp_path):
    out, people, app = room
    store = app.extensions['room'].store
    folder = 'Иван Сидоров'
    assert class_set('rekey', out, '1003')[0] == 0
    assert class_set('remove', out, '1003')[0] == 0
    assert class_set('restore', out, '1003')[0] == 0
    assert store.extras() == {folder: 15}
    status, _, said = class_set('build', str(tmp_path / 'class.csv'), out, '--encoding', 'cp1251', '--name-column',
                                'ФИО', '--id-column', 'Номер')
    assert status == 0 and store.extras() == {folder: 15}, said


def test_a_session_across_a_change_of_the_clocks_keeps_its_length(tmp_path, make_set, class_set, zone, moment):
    zone('Europe/London')  # on 2026-10-25 the clocks go back at 02:00
    moment.at('2026-10-25T00:00:00+01:00')
    out = make_set()
    assert class_set('clock', out, '--opens', '00:30', '--for', '3h')[0] == 0
    kept = page_app({'OUT': out}).extensions['room'].store.clock()
    assert kept.closes - kept.opens == times.duration('3h')
    assert times.said(times.stamp(kept.closes)) == '2026-10-25 02:30:00', 'three hours, one of them twice on the wall'


@pytest.mark.parametrize('args, said', [
    (['--opens', '11:00', '--closes', '10:00'], '--closes: the room closes at'),
    (['--for', '0m'], "argument --for: expected a length of more than nothing"),
    (['--for=-5m'], "argument --for: expected a length of more than nothing"),
    (['--closes', 'half past ten'], "argument --closes: expected HH:MM (today) or a date and time"),
    (['--opens', '25:00'], "argument --opens: expected HH:MM"),
    (['--closes', '11:00', '--for', '1h'], '--closes and --for say the same'),
], ids=['closes before it opens', 'nothing long', 'less than nothing', 'no time', 'no hour', 'both'])
def test_a_clock_that_cannot_be_is_refused_and_nothing_changes(make_set, class_set, args, said):
    out = make_set()
    assert class_set('clock', out, '--opens', '09:00', '--closes', '18:00')[0] == 0
    before = page_app({'OUT': out}).extensions['room'].store.clock()
    for command in ('clock', 'serve'):
        status, printed, problems = class_set(command, out, *args)
        assert status == 2 and said in problems and printed == '', (command, problems)
        assert page_app({'OUT': out}).extensions['room'].store.clock() == before, command


@pytest.mark.parametrize('args, said', [
    (['Bob', '-5'], 'argument MINUTES: expected whole minutes from 0 up'),
    (['Bob', '2.5'], 'argument MINUTES: expected whole minutes from 0 up'),
    (['Nobody', '5'], '"Nobody" matches nobody in the set'),
])
def test_extra_time_that_cannot_be_is_refused(make_set, class_set, args, said):
    out = make_set()
    status, _, problems = class_set('extra-time', out, *args)
    assert status == 2 and said in problems, problems


def test_a_roster_column_of_extra_time_is_whole_minutes(tmp_path, stand_in_builds, class_set):
    (tmp_path / 'class.csv').write_text('name;extra\nAnn;10\nBob;ten\n', encoding='utf-8')
    status, _, said = class_set('build', str(tmp_path / 'class.csv'), str(tmp_path / 'set'), '--name-column', 'name',
                                '--extra-time-column', 'extra')
    assert status == 2 and 'class.csv:3: extra time "ten" is not whole minutes from 0 up' in said
    assert not (tmp_path / 'set').exists()


def test_the_clock_on_a_folder_that_is_no_set(tmp_path, class_set):
    status, _, said = class_set('clock', str(tmp_path), '--closes', 'now')
    assert status == 2 and 'not a set made by class-set' in said and not os.listdir(tmp_path)


def test_a_room_already_closed_is_served_for_its_board(make_set, class_set, serve_at_once, moment):
    out = make_set()
    status, printed, _ = class_set('serve', out, '--closes', '2020-01-01T10:00')
    assert status == 0 and 'The room is already closed: it closed at 2020-01-01' in printed
    assert f'class-set clock {out} --opens now --for 30m opens it again' in printed


def test_answers_from_a_file_graded_on_the_clock(make_set, class_set, tmp_path, zone):
    zone('Europe/Moscow')
    out = make_set()
    answers = tmp_path / 'answers.csv'
    answers.write_text('name;password;time\nBob;Fg4Hj;08.12.2026 10:20\nАнна Петрова;Ab3De;2026-12-08 11:40:05\n'
                       '<b>Carl</b>;Km5Np;2026-12-08T07:50:00+00:00\n', encoding='utf-8')
    status, report, said = class_set('grade', out, str(answers), '--time-column', 'time', '--opens',
                                     '2026-12-08T10:00', '--for', '90m', '--points', '2', '--late-points', '0,5')
    assert status == 0, said
    graded = {r['name']: (r['late'], r['minutes'], r['rank'], r['points']) for r in read_csv(report)}
    assert graded == {'Bob': ('', '20.0', '1', '2'), 'Анна Петрова': ('yes', '100.1', '', '0.5'),
                      '<b>Carl</b>': ('', '50.0', '2', '2')}, 'an offset given is kept; a time without, Moscow\'s'
    answers.write_text('name;password;time\nBob;Fg4Hj;yesterday\n', encoding='utf-8')
    status, _, said = class_set('grade', out, str(answers), '--time-column', 'time')
    assert status == 2 and 'answers.csv:2: "yesterday" is not a date and time such as 2026-12-08 10:31' in said
