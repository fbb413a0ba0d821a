"""The check-in page and the board through Flask's test client, on a set
laid out by hand: answers by name and through a person's own link, bad
requests, the board behind its key, the limits, and a set that changes
under the page."""
import html
import os
import re

import pytest

from conftest import PEOPLE, organiser, page_app, read_csv
from stand_in_set import free_port
from stand_in_set import numbered

PASSWORD = dict(PEOPLE)
FORM = {'content_type': 'application/x-www-form-urlencoded'}


def hand_in(client, name, word, address='127.0.0.1'):
    """The verdict shown, or the status where the answer was refused."""
    response = client.post('/', data={'name': name, 'word': word}, environ_base={'REMOTE_ADDR': address})
    if response.status_code != 200:
        return response.status_code
    return html.unescape(re.search(r'id="verdict">([^<]*)', response.text).group(1))


def board(client):
    """{name: (result, answers, handed in others', others handed in theirs)} and the page."""
    page = client.get('/board').text
    rows = re.findall(r'<tr class="\w+">\s*<td>(.*?)</td><td>(\w+)</td><td>[^<]*</td><td>(\d+)</td>\s*'
                      r'<td>(.*?)</td><td>(.*?)</td>', page)
    return {html.unescape(re.sub(r' <small.*', '', n)): (r, a, html.unescape(t), html.unescape(o))
            for n, r, a, t, o in rows}, page


def links(client):
    return {r['name']: r['link'] for r in read_csv(client.get('/board/links.csv').text)}


def test_a_room_hands_in(client, board_key, app, class_set):
    anna = PASSWORD['Анна Петрова']
    assert 'not your password' in hand_in(client, 'Анна Петрова', 'wrong')
    assert 'Right' in hand_in(client, 'Анна Петрова', anna)
    verdict = hand_in(client, '  bOB ', anna)
    assert 'not your password' in verdict and 'Анна' not in verdict
    page = client.post('/', data={'name': 'Zed', 'word': 'x'}).text
    assert 'No one of that name' in page and 'value="Zed"' in page, 'a stranger is asked again'

    table, page = board(client)
    assert table == {'Анна Петрова': ('solved', '2', '', ''), 'Bob': ('wrong', '1', '', ''),
                     '<b>Carl</b>': ('none', '0', '', '')}
    assert "unconfirmed, by name: Bob's name came with Анна Петрова's password" in page
    assert '<b>Carl' not in page, 'names are text'
    report = client.get('/board.csv').text
    status, graded, _ = class_set('grade', app.config['OUT'], '--from-checkins')
    assert (status, read_csv(report)) == (0, read_csv(graded))
    assert os.stat(os.path.join(app.config['OUT'], 'checkins.sqlite')).st_mode & 0o777 == 0o600


@pytest.mark.parametrize('what, body, kind, status', [
    ('empty field', b'name=Bob&word=', FORM['content_type'], 400),
    ('no word', b'name=Bob', FORM['content_type'], 400),
    ('not UTF-8', b'name=Bo%E9&word=x', FORM['content_type'], 400),
    ('too long', b'name=Bob&word=' + b'x' * 5000, FORM['content_type'], 413),
    ('not a form', b'{"name": "Bob"}', 'application/json', 400),
    ('markup', b'name=%3Cscript%3E&word=x', FORM['content_type'], 200),
], ids=lambda value: value if isinstance(value, str) and ' ' not in value and len(value) < 20 else '')
def test_bad_requests_are_refused_plainly(client, what, body, kind, status):
    response = client.post('/', data=body, content_type=kind)
    assert response.status_code == status, what
    assert 'Traceback' not in response.text and '<script>' not in response.text, what


def test_the_board_key_is_off_the_screen(app, board_key, class_set):
    stranger = app.test_client()
    for address in ('/board', f'/board?key={board_key}x', '/board.csv', '/board/links.csv?key=', '/board/slips',
                    f'/board.csv?key={board_key}x'):
        response = stranger.get(address)
        assert response.status_code == 403, address
        assert 'Анна' not in response.text and 'Bob' not in response.text
    first = stranger.get(f'/board?key={board_key}')
    assert (first.status_code, first.headers['Location']) == (303, '/board'), 'the address loses the key'
    cookie = first.headers['Set-Cookie']
    assert 'HttpOnly' in cookie and 'SameSite=Strict' in cookie
    page = stranger.get('/board')
    assert page.status_code == 200 and board_key not in page.text
    assert stranger.post('/board').status_code == 405
    assert 'Bob' in stranger.get('/board/links.csv').text, 'the downloads take the cookie'
    # A new key at once, on the running page: the old one and its cookie are done.
    status, said, _ = class_set('board-key', app.config['OUT'])
    new_key = re.search(r'key=(\S+)', said).group(1)
    assert status == 0 and new_key != board_key
    assert stranger.get('/board').status_code == 403
    assert app.test_client().get(f'/board?key={board_key}').status_code == 403
    assert organiser(app).get('/board').status_code == 200


def test_a_restart_keeps_the_answers_and_the_key(app, client, board_key):
    hand_in(client, 'Bob', PASSWORD['Bob'])
    again = page_app({'OUT': app.config['OUT']})
    assert board(organiser(again))[0]['Bob'] == ('solved', '1', '', ''), 'the same key, the same answers'


def test_answers_a_minute_are_limited_per_person_not_per_room(make_set):
    people = numbered(60)
    client = page_app({'OUT': make_set(people)}).test_client()
    # Sixty people behind one address (a school's NAT): all kept.
    assert [hand_in(client, name, 'guess', '127.0.3.3') for name, _ in people].count(
        'That is not your password. Try again.') == 60
    # One person: ten a minute, whatever the address; the refused one is not kept.
    statuses = [hand_in(client, 'Person 1', 'guess', f'127.0.4.{i + 2}') for i in range(10)]
    assert statuses[-1] == 429 and 429 not in statuses[:-1]
    assert board(organiser(client.application))[0]['Person 1'][1] == '10'


def test_an_address_spends_only_names_on_nobodys_list(make_set):
    client = page_app({'OUT': make_set(), 'CLIENT_RATE': 3}).test_client()
    strangers = [hand_in(client, f'Nobody {i}', 'x') for i in range(4)]
    assert [s == 429 for s in strangers] == [False, False, False, True]
    assert hand_in(client, 'Nobody 5', 'x', '127.0.0.2') != 429, 'another address has its own'
    assert hand_in(client, 'Bob', 'x') == 'That is not your password. Try again.', 'a name on the list: its own budget'


def test_a_budget_is_a_moving_window(make_set):
    from class_set.set.store import Budget, Checkins, Spending, TooMany
    store = Checkins(make_set())

    def spend(who, now):
        try:
            store.spent(Budget(Spending.NAME, who, 2), now=now)
            return 0
        except TooMany as spent:
            return spent.wait
    assert [spend('a', 0.0), spend('a', 0.0), spend('a', 0.0), spend('b', 0.0)] == [0, 0, 61, 0]
    assert spend('a', 59.5) == 1, 'no burst at the minute\'s turn'
    assert (spend('a', 60.0), spend('a', 60.0)) == (0, 0)
    assert spend('a', 60.0) > 0


def test_own_links(client, board_key, app):
    link = links(client)
    assert set(link) == set(PASSWORD)
    bob = link['Bob']
    page = client.get(bob)
    assert re.search(r'<h1>Bob</h1>', page.text)
    assert (page.headers['Referrer-Policy'], page.headers['Cache-Control']) == ('no-referrer', 'no-store')
    program = client.get(bob + '/PassWord.exe')
    with open(os.path.join(app.config['OUT'], 'handout', 'Bob', 'PassWord.exe'), 'rb') as f:
        assert program.data == f.read()
    assert program.headers['Content-Disposition'] == 'attachment; filename="PassWord.exe"'
    assert program.headers['Cache-Control'] == 'no-store'

    answered = client.post(bob, data={'word': PASSWORD['Bob']})
    assert 'Right' in answered.text and answered.headers['Referrer-Policy'] == 'no-referrer'
    row = re.search(r'<td>Bob</td>.*?</tr>', client.get('/board').text, re.S).group(0)
    assert re.search(r'<td>solved</td><td>\d\d:\d\d:\d\d</td><td>1</td>.*<td>\d\d:\d\d:\d\d</td><td>link</td>', row, re.S)

    # Unknown keys and unknown pages look alike.
    for unknown in ('/p/' + 'x' * 22, '/p/', '/nothing', bob[:-1], bob + 'X'):
        assert client.get(unknown).status_code == 404, unknown
    for address in ('/', bob, '/board'):
        response = client.get(address)
        assert response.headers['X-Content-Type-Options'] == 'nosniff'
        assert "default-src 'self'" in response.headers['Content-Security-Policy']

    # Ten of one person's answers in a minute, from any address; the eleventh is refused.
    statuses = [client.post(bob, data={'word': 'x'}, environ_base={'REMOTE_ADDR': f'127.0.1.{i}'}).status_code
                for i in range(10)]
    assert statuses == [200] * 9 + [429]


def test_rekey_on_a_running_page(client, board_key, app, class_set):
    before = links(client)
    status, said, _ = class_set('rekey', app.config['OUT'], ' bob ')
    assert status == 0 and 'Bob has a new key' in said
    assert client.get(before['Bob']).status_code == 404
    after = links(client)
    assert after['Bob'] != before['Bob']
    assert {k: v for k, v in after.items() if k != 'Bob'} == {k: v for k, v in before.items() if k != 'Bob'}
    assert client.get(after['Bob']).status_code == 200
    assert class_set('rekey', app.config['OUT'], 'Nobody')[0] == 2


def test_links_give_keys_to_a_set_without_and_change_no_program(make_set, tmp_path, class_set):
    out = make_set()
    folders = [name for name in os.listdir(os.path.join(out, 'handout')) if name != 'SHA256SUMS']
    handout = {name: os.stat(os.path.join(out, 'handout', name, 'PassWord.exe')).st_mtime_ns for name in folders}
    listed, slips = tmp_path / 'links.csv', tmp_path / 'slips.html'
    status, _, problems = class_set('links', out, '--base', 'http://192.0.2.3:8000', '--output', str(listed),
                                    '--slips', str(slips))
    assert status == 0, problems
    assert os.stat(os.path.join(out, 'keys.csv')).st_mode & 0o777 == 0o600
    rows = read_csv(listed.read_text(encoding='utf-8'))
    assert [r['name'] for r in rows] == [name for name, _ in PEOPLE]
    assert all(re.fullmatch(r'http://192\.0\.2\.3:8000/p/([0-9A-HJKMNP-TV-Z]{4}-){6}[0-9A-HJKMNP-TV-Z]{2}', r['link'])
               for r in rows)
    assert slips.read_text(encoding='utf-8').count('<svg') == 3
    assert {name: os.stat(os.path.join(out, 'handout', name, 'PassWord.exe')).st_mtime_ns for name in folders} == handout
    assert class_set('links', out, '--base', 'ftp://x/')[0] == 2


def test_a_set_being_swapped_is_a_moment_away(app, client):
    answers = os.path.join(app.config['OUT'], 'answers.csv')
    os.rename(answers, answers + '.away')
    response = client.post('/', data={'name': 'Bob', 'word': 'x'})
    assert (response.status_code, response.headers['Retry-After']) == (503, '2')
    os.rename(answers + '.away', answers)
    assert client.post('/', data={'name': 'Bob', 'word': 'x'}).status_code == 200


def test_enrolment_is_closed_unless_opened(client):
    assert client.get('/enrol').status_code == 404
    assert client.post('/enrol', data={'name': 'Zoe'}).status_code == 404
    assert 'Not on the list?' not in client.get('/').text


def test_listening_options(make_set, class_set, monkeypatch):
    import waitress.server
    out = make_set()
    for options, said in [(['--port', '70000'], 'expected a port from 1 to 65535'),
                          (['--host', '999.1.1.1'], 'class-set: cannot listen on 999.1.1.1')]:
        status, _, problems = class_set('serve', out, *options)
        assert status == 2 and said in problems and 'Traceback' not in problems, options
    # Listening, it says where: an IPv6 address in brackets, or no browser opens it.
    monkeypatch.setattr(waitress.server.BaseWSGIServer, 'run', lambda server: server.close())
    port = free_port()
    status, said, _ = class_set('serve', out, '--host', '::1', '--port', str(port))
    assert status == 0 and said.splitlines()[:2] == ['People hand in their answers at:', f'  http://[::1]:{port}/']


def test_nobody_spends_anybody_elses_answers(make_set):
    app = page_app({'OUT': make_set(), 'RATE': 3, 'NAME_RATE': 3, 'CLIENT_RATE': 5, 'DOWNLOAD_RATE': 2})
    client = organiser(app)
    link = links(client)
    # Junk under Bob's name, and made-up names, from the room's one address.
    mischief = [hand_in(client, 'Bob', 'junk', '127.0.0.66') for _ in range(4)] + \
        [hand_in(client, f'Nobody {i}', 'junk', '127.0.0.66') for i in range(6)]
    assert mischief.count(429) == 2
    # Bob's own link, and everyone else behind that address, by link or name.
    assert [client.post(link['Bob'], data={'word': 'x'}, environ_base={'REMOTE_ADDR': '127.0.0.66'}).status_code
            for _ in range(4)] == [200, 200, 200, 429]
    assert client.post(link['Анна Петрова'], data={'word': 'x'},
                       environ_base={'REMOTE_ADDR': '127.0.0.66'}).status_code == 200
    assert hand_in(client, '<b>Carl</b>', 'x', '127.0.0.66') != 429
    # Refused by Bob's own budget: nothing else spent, nothing kept.
    assert board(client)[0]['Bob'][1] == '6'
    # A link's downloads have a budget of their own, and say so.
    downloads = [client.get(link['Bob'] + '/PassWord.exe') for _ in range(3)]
    assert [d.status_code for d in downloads] == [200, 200, 429]
    assert 'Too many downloads' in downloads[2].text and downloads[2].headers['Retry-After']
    assert client.get(link['Анна Петрова'] + '/PassWord.exe').status_code == 200


def test_a_name_is_a_claim_and_a_link_is_proof(make_set):
    app = page_app({'OUT': make_set()})
    client = organiser(app)
    link = links(client)
    hand_in(client, 'Bob', PASSWORD['<b>Carl</b>'])          # someone framing Bob
    table, page = board(client)
    assert table['Bob'][2:] == ('', '') and table['<b>Carl</b>'][2:] == ('', '')
    assert "unconfirmed, by name: Bob's name came with &lt;b&gt;Carl&lt;/b&gt;'s password" in page
    client.post(link['Bob'], data={'word': PASSWORD['<b>Carl</b>']})   # through Bob's own link: proof
    assert board(client)[0]['Bob'][2] == '<b>Carl</b>'
    report = {r['name']: r for r in read_csv(client.get('/board.csv').text)}
    assert (report['Bob']['answered_by'], report['Bob']['claimed_by_name']) == ('link, name', '<b>Carl</b>')


def test_posts_from_another_site_and_the_headers_of_keyed_pages(app, client):
    bob = links(client)['Bob']
    for headers in ({'Origin': 'http://evil.example'}, {'Sec-Fetch-Site': 'cross-site'},
                    {'Sec-Fetch-Site': 'same-site'}):
        assert client.post('/', data={'name': 'Bob', 'word': 'x'}, headers=headers).status_code == 403, headers
        assert client.post(bob, data={'word': 'x'}, headers=headers).status_code == 403, headers
    for same in ({'Origin': 'http://localhost'}, {'Origin': 'null', 'Sec-Fetch-Site': 'same-origin'}):
        assert client.post('/', data={'name': 'Bob', 'word': 'x'}, headers=same).status_code == 200, same
    assert client.post('/', data={'name': 'Bob', 'word': 'x'}, headers={'Origin': 'null'}).status_code == 403
    for response in (client.post(bob, data={'word': ''}), client.post(bob, data=b'x', content_type='text/plain'),
                     client.get(bob + 'x'), client.get('/board?key=wrong')):
        assert (response.headers['Referrer-Policy'], response.headers['Cache-Control']) == ('no-referrer', 'no-store')
    assert client.head(bob + '/PassWord.exe').status_code == 200
    assert app.extensions['room'].store.downloads() == {}, 'a HEAD is no download'
    policy = client.get('/').headers['Content-Security-Policy']
    assert 'unsafe-inline' not in policy and "style-src" not in policy
    assert client.get('/static/page.css').status_code == 200
    assert '<style' not in client.get('/').text and '<style' not in client.get('/board/slips').text


def test_links_only_and_the_address_the_board_gives(make_set):
    app = page_app({'OUT': make_set(), 'LINKS_ONLY': True, 'BASE': 'http://192.0.2.7:8000/'})
    client = organiser(app)
    assert client.post('/', data={'name': 'Bob', 'word': 'x'}).status_code == 404
    assert 'your own link' in client.get('/').text
    listed = client.get('/board/links.csv', headers={'Host': 'evil.example'}).text
    assert all(r['link'].startswith('http://192.0.2.7:8000/p/') for r in read_csv(listed))


def test_keys_as_people_type_them(app, client):
    bob = links(client)['Bob']
    key = bob.split('/p/')[1]
    plain = key.replace('-', '')
    typed = [key.lower(), plain, plain.lower(), ' '.join(key.split('-')),
             plain.replace('0', 'O').replace('1', 'l'), plain.replace('1', 'I')]
    for variant in typed:
        assert re.search(r'<h1>Bob</h1>', client.get('/p/' + variant).text), variant
    # A key from a set made before: exactly as it was handed out, case and all.
    old = 'Ab-cD_efGhIjKlMnOpQrSt'
    keys = os.path.join(app.config['OUT'], 'keys.csv')
    with open(keys, encoding='utf-8') as f:
        text = f.read()
    with open(keys, 'w', encoding='utf-8') as f:
        f.write(text.replace(plain, old))
    assert re.search(r'<h1>Bob</h1>', client.get('/p/' + old).text)
    assert client.get('/p/' + old.lower()).status_code == 404
    assert client.get('/p/' + old.swapcase()).status_code == 404


def test_the_board_of_a_big_room_in_pages(make_set):
    client = organiser(page_app({'OUT': make_set(numbered(450))}))
    first = client.get('/board').text
    assert first.count('<tr class=') == 200 and 'page 1 of 3' in first and len(first) < 120_000
    last = client.get('/board?page=3').text
    assert last.count('<tr class=') == 50 and 'rel="prev"' in last and 'rel="next"' not in last
    found = client.get('/board?q=person+12').text
    assert sorted(re.findall(r'<td>(Person \d+)', found)) == sorted(
        ['Person 12'] + [f'Person {n}' for n in range(120, 130)])
    assert len(read_csv(client.get('/board.csv').text)) == 450, 'the CSV keeps every row'


def test_the_board_counts_each_answer_once_and_follows_the_set(client, board_key, app, class_set):
    def as_graded():
        return {r['name']: (r['result'], r['answers'], r['handed_in_others'], r['others_handed_in_theirs'])
                for r in read_csv(client.get('/board.csv').text) if r['folder'] and not r['removed']}
    assert board(client)[0] == as_graded()
    bob = links(client)['Bob']
    hand_in(client, 'Анна Петрова', PASSWORD['Анна Петрова'])
    client.post(bob, data={'word': PASSWORD['Анна Петрова']})
    table, page = board(client)
    assert table == as_graded() and table['Bob'] == ('wrong', '1', 'Анна Петрова', '')
    assert 'Solved: 1' in page and 'Wrong: 1' in page and '2 answers in all' in page
    client.post(bob, data={'word': PASSWORD['Bob']})
    hand_in(client, 'Zed', 'x')
    table, page = board(client)
    assert table == as_graded() and table['Bob'][:2] == ('solved', '2') and 'Zed' in page
    assert class_set('remove', app.config['OUT'], 'Анна Петрова')[0] == 0
    table, page = board(client)
    assert table == as_graded() and 'Анна Петрова' not in table and 'Solved: 1' in page and 'No answer: 1' in page
    assert table['Bob'][2] == 'Анна Петрова', 'a password passed around stays known after its owner is removed'


def test_serve_trusts_what_build_checked(make_set, class_set):
    out = make_set()
    program = os.path.join(out, 'handout', 'Bob', 'PassWord.exe')
    with open(program, 'r+b') as f:
        f.write(b'X')  # same size, other bytes: only a full check sees it
    assert page_app({'OUT': out}).test_client().get('/').status_code == 200
    assert class_set('who', out, 'Fg4Hj')[0] == 2, 'who checks every byte'
    os.remove(program)
    with pytest.raises(Exception, match='missing'):
        page_app({'OUT': out})


def test_a_new_key_costs_the_keys_not_the_set(app, client, class_set, monkeypatch):
    import class_set.web.room as room
    read, reads = room.read_served, []
    monkeypatch.setattr(room, 'read_served', lambda *args, **kw: reads.append(args) or read(*args, **kw))
    before = links(client)['Bob']
    assert class_set('rekey', app.config['OUT'], 'Bob')[0] == 0
    assert client.get(before).status_code == 404
    assert client.get(links(client)['Bob']).status_code == 200
    assert reads == [], 'the set was read again for a new key'


def test_the_rooms_address_before_the_day(make_set, class_set, monkeypatch):
    import psutil
    import socket
    from types import SimpleNamespace as Address
    monkeypatch.setattr(psutil, 'net_if_addrs', lambda: {
        'lo': [Address(family=socket.AF_INET, address='127.0.0.1')],
        'wlan0': [Address(family=socket.AF_INET6, address='fe80::1'), Address(family=socket.AF_INET, address='192.0.2.7')]})
    status, said, _ = class_set('address', '--port', '8080')
    assert status == 0 and said.splitlines()[1] == '  http://192.0.2.7:8080/', 'the room before loopback'
    status, listed, _ = class_set('links', make_set(), '--base', 'auto')
    assert all(r['link'].startswith('http://192.0.2.7:8000/p/') for r in read_csv(listed))


def test_the_board_for_the_wall(make_set):
    people = numbered(12)
    client = organiser(page_app({'OUT': make_set(people)}))
    for name, password in people[:5]:
        hand_in(client, name, password)
    hand_in(client, 'Person 6', 'wrong')
    hand_in(client, 'Mallory <script>', 'x')
    wall = client.get('/board/wall')
    assert wall.status_code == 200 and '5 of 12 have solved it' in wall.text
    assert '<progress id="progress" max="12" value="5"' in wall.text
    assert 'Person' not in wall.text and 'Mallory' not in wall.text, 'no names, nothing typed'
    assert "default-src 'self'" in wall.headers['Content-Security-Policy'] and '<style' not in wall.text
    chart = client.get('/board/wall.svg')
    assert chart.mimetype == 'image/svg+xml' and b'pygal' in chart.data
    assert chart.headers['Content-Security-Policy'] == "default-src 'none'; style-src 'unsafe-inline'"
    assert b'Person' not in chart.data
    assert page_app({'OUT': make_set(name='other')}).test_client().get('/board/wall').status_code == 403


def test_serve_refuses_what_is_no_set_to_serve(tmp_path, class_set, stand_in_builds):
    from class_set.web.enrolment import open_set
    (tmp_path / 'notes').mkdir()
    (tmp_path / 'notes' / 'mine.txt').write_text('the organiser\'s')
    (tmp_path / 'empty').mkdir()
    open_set(str(tmp_path / 'nobody'), 1)  # as serve --open leaves it: a set of nobody
    for folder, said in [('nosuchset', 'not a set made by class-set'), ('notes', 'not a set made by class-set'),
                         ('empty', 'not a set made by class-set'), ('nobody', 'nobody is in the set')]:
        status, _, problems = class_set('serve', str(tmp_path / folder))
        assert (status, problems.count('\n')) == (2, 1) and said in problems, folder
    assert not (tmp_path / 'nosuchset').exists(), 'nothing made for a folder that was not there'
    assert os.listdir(tmp_path / 'notes') == ['mine.txt']


def test_addresses_only_this_machine_reaches_are_said(make_set, class_set, monkeypatch):
    import waitress.server
    monkeypatch.setattr(waitress.server.BaseWSGIServer, 'run', lambda server: server.close())
    out = make_set()
    status, said, _ = class_set('serve', out, '--port', str(free_port()))
    assert status == 0 and "is this computer's own address: no phone or PC in the room can open it" in said
    assert '--host 0.0.0.0' in said.splitlines()[-1]
    status, _, said = class_set('links', out, '--base', 'http://127.0.0.1:8000/')
    assert status == 0 and "http://127.0.0.1:8000/ is this computer's own address" in said and '--base auto' in said
    assert "own address" not in class_set('links', out, '--base', 'http://192.0.2.4:8000/')[2]
