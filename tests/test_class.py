"""A real class, built and served in process (stand-in programs): the
teacher's spreadsheet export with groups and namesakes, ё and look-alike
letters on the page, in grade and at enrolment, walk-ins against the
roster, removing a person from a running page, and answers under names
that match nobody."""
import csv
import os
import re
import urllib.parse

import pytest

from conftest import organiser, page_app, read_csv

EXPORT = ('ФИО;Группа;Номер\r\nАлексеев Артём Сергеевич;ИБ-21;1001\r\nИванов Иван Иванович;ИБ-21;1002\r\n'
          'Иванов Иван Иванович;ИБ-22;1003\r\nAnna Petrova;ИБ-22;1004\r\n')
BUILD = ['--encoding', 'cp1251', '--name-column', 'ФИО', '--id-column', 'Номер']


@pytest.fixture
def built(built_from):
    """OUT built from the export, and {folder: row of answers.csv}."""
    return built_from(EXPORT, 'Номер')


@pytest.fixture
def page(built):
    app = page_app({'OUT': built[0]})
    client = organiser(app)
    links = {r['Номер']: urllib.parse.urlsplit(r['link']).path
             for r in read_csv(client.get('/board/links.csv').text)}
    return client, None, links


def verdict(response):
    return re.search(r'id="verdict">([^<]*)', response.text).group(1)


def test_a_spreadsheet_export_builds_one_person_per_row(built, tmp_path, class_set):
    out, rows = built
    assert sorted(rows) == ['Anna Petrova', 'Алексеев Артём Сергеевич', 'Иванов Иван Иванович (1002)',
                            'Иванов Иван Иванович (1003)']
    again = class_set('build', str(tmp_path / 'class.csv'), out, *BUILD)
    assert again[0] == 0 and '4 programs' in again[1] and '0 new, 4 kept' in again[1]

    answers = tmp_path / 'answers.csv'
    ivanov = rows['Иванов Иван Иванович (1003)']['password']
    answers.write_text(f'Имя;Номер;Пароль\nИванов Иван Иванович;1003;{ivanov}\nАлексеев Артем Сергеевич;;'
                       f'{rows["Алексеев Артём Сергеевич"]["password"]}\n', encoding='utf-8')
    status, report, summary = class_set('grade', out, str(answers), '--name-column', 'Имя', '--word-column', 'Пароль',
                                        '--id-column', 'Номер')
    assert status == 0, summary
    found = {r['folder']: (r['result'], r['Группа']) for r in read_csv(report)}
    assert found == {'Алексеев Артём Сергеевич': ('solved', 'ИБ-21'), 'Иванов Иван Иванович (1002)': ('none', 'ИБ-21'),
                     'Иванов Иван Иванович (1003)': ('solved', 'ИБ-22'), 'Anna Petrova': ('none', 'ИБ-22')}
    # Without the id, a shared name is nobody's for sure.
    status, report, summary = class_set('grade', out, str(answers), '--name-column', 'Имя', '--word-column', 'Пароль')
    assert '"Иванов Иван Иванович" matches more than one person' in summary
    assert 'solved' not in {r['result'] for r in read_csv(report) if r['name'] == 'Иванов Иван Иванович'}


def test_namesakes_and_spellings_on_the_page(page, built):
    client, key, links = page
    rows = built[1]
    shared = client.post('/', data={'name': 'Иванов Иван Иванович', 'word': rows['Иванов Иван Иванович (1003)']['password']})
    assert 'More than one person on the list has that name' in shared.text
    client.post('/', data={'name': 'иванов  иван иванович', 'word': 'Qwert'}, environ_base={'REMOTE_ADDR': '127.0.0.7'})
    assert 'Right' in verdict(client.post(links['1003'],
                                          data={'word': rows['Иванов Иван Иванович (1003)']['password']}))
    artyom = rows['Алексеев Артём Сергеевич']['password']
    assert 'Right' in verdict(client.post('/', data={'name': 'алексеев артем сергеевич', 'word': artyom}))
    assert 'Right' in verdict(client.post('/', data={'name': 'Аnna Petrovа', 'word': rows['Anna Petrova']['password']}))
    board = client.get('/board').text
    assert 'id="passed"' not in board, 'no one is taken for someone else'
    turned = board[board.index('Names that need their link'):]
    assert '2 answers under names that more than one person has' in turned
    assert re.search(r'<li>иванов  иван иванович &middot; \d\d:\d\d:\d\d &middot; 127\.0\.0\.7</li>', turned)
    assert '<th>Группа</th>' in board and '1004' not in board, "of the roster's other columns, the group alone shows"
    report = {r['folder']: r for r in read_csv(client.get('/board.csv').text)}
    assert [report[f]['result'] for f in sorted(report)] == ['solved', 'solved', 'none', 'solved']
    assert (report['Иванов Иван Иванович (1002)']['answers'], report['Иванов Иван Иванович (1003)']['answers']) == \
        ('0', '1'), 'turned away, credited to no one: the one answer is through the link'
    assert report['Иванов Иван Иванович (1003)']['Группа'] == 'ИБ-22'
    group = client.get('/board?q=иб-22').text
    assert group.count('<tr class=') == 2 and 'Anna Petrova' in group and 'Алексеев' not in group


def test_walk_ins_and_the_roster(built, tmp_path, stand_in_builds, class_set):
    out = built[0]
    client = page_app({'OUT': out, 'PLACES': 5}).test_client()
    for name in ('Алексеев Артем Сергеевич', 'Anna\u3164 Petrova'):
        refused = client.post('/enrol', data={'name': name}, environ_base={'REMOTE_ADDR': f'127.0.0.{len(name)}'})
        assert refused.status_code == 409 and 'is taken' in refused.text, name
    enrolled = client.post('/enrol', data={'name': 'Zoe Late'}, environ_base={'REMOTE_ADDR': '127.0.0.9'})
    assert enrolled.status_code == 303
    with open(os.path.join(out, 'answers.csv'), encoding='utf-8', newline='') as f:
        zoe = {r['name']: r['password'] for r in csv.DictReader(f)}['Zoe Late']
    assert class_set('who', out, zoe)[1] == 'Zoe Late (walk-in)\n'
    status, listed, _ = class_set('links', out, '--base', 'http://192.0.2.1:8000/')
    assert {r['name']: r['walk_in'] for r in read_csv(listed)}['Zoe Late'] == 'yes'

    link = {r['name']: urllib.parse.urlsplit(r['link']).path for r in read_csv(listed)}['Zoe Late']
    assert 'Right' in client.post(link, data={'word': zoe}).text

    # The real Zoe joins the roster: the walk-in is she, with all she had.
    (tmp_path / 'grown.csv').write_bytes((EXPORT + 'Zoe Late;ИБ-23;1005\r\n').encode('cp1251'))
    status, said, problems = class_set('build', str(tmp_path / 'grown.csv'), out, *BUILD)
    assert status == 0, problems
    assert re.search(r'Zoe Late, who enrolled at the page \d{4}-\d\d-\d\d \d\d:\d\d:\d\d, is "Zoe Late" of the roster '
                     r'\(\S*grown.csv:6\) from now on', said)
    assert '0 new, 5 kept' in said
    status, listed, _ = class_set('links', out, '--base', 'http://192.0.2.1:8000/')
    row = {r['name']: r for r in read_csv(listed)}['Zoe Late']
    assert (row['walk_in'], row['Группа'], row['Номер'], urllib.parse.urlsplit(row['link']).path) == \
        ('', 'ИБ-23', '1005', link)
    report = {r['name']: r for r in read_csv(class_set('grade', out, '--from-checkins')[1])}
    assert (report['Zoe Late']['result'], report['Zoe Late']['walk_in']) == ('solved', '')
    assert class_set('who', out, zoe)[1] == 'Zoe Late\n'


def test_a_person_removed_from_a_running_page(page, built, class_set, tmp_path):
    client, key, links = page
    out, rows = built
    anna = links['1004']
    assert client.post(anna, data={'word': 'guess'}).status_code == 200
    status, said, _ = class_set('remove', out, '1004')
    assert status == 0 and 'removed Anna Petrova' in said
    assert client.get(anna).status_code == 404
    report = {r['name']: (r['result'], r['answers'], bool(r['removed'])) for r in read_csv(client.get('/board.csv').text)}
    assert report['Anna Petrova'] == ('wrong', '1', True)
    assert len(rows) - 1 == len(open(os.path.join(out, 'answers.csv'), encoding='utf-8').read().splitlines()) - 1
    assert class_set('remove', out, 'Иванов Иван Иванович')[0] == 2, 'a shared name names nobody for sure'


def test_answers_under_names_on_nobodys_list_are_kept(page, built, class_set):
    client, key, _ = page
    said = client.post('/', data={'name': 'Иванов Иван Иванович ИБ-22', 'word': 'Qwert'},
                       environ_base={'REMOTE_ADDR': '127.0.0.7'})
    assert 'No one of that name' in said.text
    board = client.get('/board').text
    assert re.search(r'Tried by names not on the list.*Иванов Иван Иванович ИБ-22 &middot; [\d:]+ &middot; 127\.0\.0\.7',
                     board, re.S)
    status, report, _ = class_set('grade', built[0], '--from-checkins')
    assert read_csv(report)[-1]['name'] == 'Иванов Иван Иванович ИБ-22'
    assert read_csv(report)[-1]['result'] == 'not on the list'


def test_a_list_grown_into_a_table_with_namesakes(tmp_path, stand_in_builds, class_set):
    (tmp_path / 'list.txt').write_text('Иванов Иван Иванович\nAnna Petrova\n', encoding='utf-8')
    out = str(tmp_path / 'set')
    assert class_set('build', str(tmp_path / 'list.txt'), out)[0] == 0
    (tmp_path / 'class.csv').write_bytes(EXPORT.encode('cp1251'))
    status, said, problems = class_set('build', str(tmp_path / 'class.csv'), out, *BUILD)
    assert status == 0, problems
    assert '2 new, 2 kept' in said  # one Иванов was there; his namesake and Алексеев are new
    with open(os.path.join(out, 'answers.csv'), encoding='utf-8', newline='') as f:
        assert sorted(r['folder'] for r in csv.DictReader(f)) == [
            'Anna Petrova', 'Алексеев Артём Сергеевич', 'Иванов Иван Иванович', 'Иванов Иван Иванович (1003)']


def test_the_set_is_the_organisers_alone(built, stand_in_builds, class_set):
    out = built[0]
    page_app({'OUT': out, 'PLACES': 3}).test_client().post('/enrol', data={'name': 'Walk In'})
    class_set('remove', out, '1004')
    modes = {os.path.relpath(os.path.join(top, name), out): os.stat(os.path.join(top, name)).st_mode & 0o777
             for top, folders, files in os.walk(out) for name in folders + files}
    modes['.'] = os.stat(out).st_mode & 0o777
    assert {path: mode for path, mode in modes.items() if mode not in (0o600, 0o700)} == {}
    assert modes['handout/Walk In/PassWord.exe'] == 0o600 and modes['handout'] == 0o700


def test_a_full_list_offers_no_form(built, stand_in_builds):
    client = page_app({'OUT': built[0], 'PLACES': 1}).test_client()
    assert '<form' in client.get('/enrol').text
    assert client.post('/enrol', data={'name': 'Walk In'}).status_code == 303
    page = client.get('/enrol').text
    assert '<form' not in page and 'The list is full' in page
