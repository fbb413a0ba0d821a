"""After the class: what a school's gradebook imports (the roster's people
alone, by their id, with their points) and the reports and links of one
group, or of each, read back as a gradebook or a spreadsheet reads them."""
import csv
import io

import pytest

from conftest import organiser, page_app, read_csv
from test_grading import ods_rows

ROSTER = ('ФИО;Группа;E-mail;Номер зачётки\r\nАнна Петрова;ИБ-21;anna@school.ru;00017\r\n'
          'Carl Jensen;ИБ-22;carl@school.ru;00019\r\nBob Marsh;иб-21;bob@school.ru;1003\r\n'
          'Dana Scott;ИБ-22;;1005\r\n')


@pytest.fixture
def after_class(built_from):
    """A class over: Bob solved through his link, Anna tried, Carl was
    removed, a walk-in solved, and a name on nobody's list handed in."""
    out, rows = built_from(ROSTER, 'Номер зачётки')
    client = organiser(page_app({'OUT': out, 'PLACES': 3}))
    link = {r['name']: r['link'].split('8000')[1] for r in read_csv(client.get('/board/links.csv').text)}
    client.post(link['Bob Marsh'], data={'word': rows['Bob Marsh']['password']})
    client.post(link['Анна Петрова'], data={'word': 'wrong'})
    client.post('/enrol', data={'name': 'Zoe Late'})
    zoe = [r for r in read_csv(client.get('/board/links.csv').text) if r['name'] == 'Zoe Late'][0]
    with open(f'{out}/answers.csv', encoding='utf-8') as f:
        password = {r['name']: r['password'] for r in csv.DictReader(f)}['Zoe Late']
    client.post(zoe['link'].split('8000')[1], data={'word': password})
    client.post('/', data={'name': 'Никто Никтович', 'word': 'abcde'})
    return out


def remove(class_set, out, name):
    status, _, said = class_set('remove', out, name)
    assert status == 0, said


def gradebook_of(path):
    """[[cell]] of a gradebook file, as an import reads it."""
    if path.suffix == '.csv':
        data = path.read_bytes()
        assert not data.startswith(b'\xef\xbb\xbf'), 'an import reads the header as it is, no byte order mark'
        return list(csv.reader(io.StringIO(data.decode('utf-8'))))
    if path.suffix == '.xlsx':
        import openpyxl
        return [list(r) for r in openpyxl.load_workbook(path).active.values]
    return [[value if kind == 'string' else float(value) for kind, value in row] for row in ods_rows(str(path))]


@pytest.mark.parametrize('kind', ['.csv', '.xlsx', '.ods'])
def test_a_gradebook_holds_the_roster_alone_by_its_ids(after_class, class_set, tmp_path, kind):
    remove(class_set, after_class, 'Carl Jensen')
    book = tmp_path / f'gradebook{kind}'
    status, printed, said = class_set('grade', after_class, '--from-checkins', '--gradebook', str(book),
                                      '--points', '2.5')
    assert status == 0 and printed == '', 'with a gradebook, the report goes only where --output says'
    header, *rows = gradebook_of(book)
    assert header == ['Номер зачётки', 'Name', 'PassWord']
    expected = [['00017', 'Анна Петрова', 0], ['1003', 'Bob Marsh', 2.5], ['1005', 'Dana Scott', 0]]
    if kind == '.csv':
        expected = [[str(cell) for cell in row] for row in expected]
    assert rows == expected, 'ids as text, their zeros kept; points as numbers'
    assert "left out 1 walk-in, 1 removed, 1 name on nobody's list; the report has them" in said


def test_a_gradebook_by_e_mail_says_who_it_cannot_match(after_class, class_set, tmp_path):
    book, report = tmp_path / 'moodle.csv', tmp_path / 'report.xlsx'
    status, _, said = class_set('grade', after_class, '--from-checkins', '--gradebook', str(book), '--gradebook-id',
                                'e-mail', '--gradebook-title', 'Практика 3', '--output', str(report))
    assert status == 0, said
    assert book.read_text(encoding='utf-8').splitlines()[:2] == ['E-mail,Name,Практика 3',
                                                                 'anna@school.ru,Анна Петрова,0']
    assert f'the report ({report}) has them' in said
    assert 'no E-mail for 1, which a gradebook cannot match: Dana Scott' in said
    status, _, said = class_set('grade', after_class, '--from-checkins', '--gradebook', str(book), '--gradebook-id',
                                'Почта')
    assert status == 2 and '--gradebook-id Почта: no such column; the roster has: "Группа", "E-mail"' in said


def test_a_canvas_import_has_the_columns_canvas_knows(after_class, class_set, tmp_path):
    book = tmp_path / 'canvas.csv'
    status, _, said = class_set('grade', after_class, '--from-checkins', '--gradebook', str(book), '--gradebook-for',
                                'canvas', '--gradebook-id', 'Номер зачётки', '--gradebook-id', 'E-mail')
    assert status == 0, said
    rows = list(csv.DictReader(io.StringIO(book.read_text(encoding='utf-8'))))
    assert list(rows[0]) == ['Student', 'ID', 'SIS User ID', 'SIS Login ID', 'Section', 'PassWord']
    bob = {r['Student']: r for r in rows}['Bob Marsh']
    assert (bob['Student'], bob['SIS User ID'], bob['SIS Login ID'], bob['Section'], bob['PassWord']) == \
        ('Bob Marsh', '1003', 'bob@school.ru', 'иб-21', '1'), 'the group as the roster writes it'


def test_a_group_alone_and_a_file_for_each(after_class, class_set, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)  # OUT as typed, beside
    status, printed, said = class_set('grade', 'set/', '--from-checkins', '--group', 'иб-21')
    assert status == 0, said
    assert [r['name'] for r in read_csv(printed)] == ['Анна Петрова', 'Bob Marsh'], 'a group as people type it'
    assert 'ИБ-21: 1 solved, 1 wrong, 0 none' in said

    status, _, said = class_set('grade', after_class, '--from-checkins', '--per-group', '--output',
                                str(tmp_path / 'report.csv'), '--gradebook', str(tmp_path / 'book.ods'))
    assert status == 0, said
    made = {p.name for p in tmp_path.iterdir() if p.name.startswith(('report', 'book'))}
    assert made == {'book-ИБ-21.ods', 'book-ИБ-22.ods', 'book-no-group.ods',
                    'report-ИБ-21.csv', 'report-ИБ-22.csv', 'report-no-group.csv'}
    assert [r['name'] for r in read_csv((tmp_path / 'report-ИБ-22.csv').read_text(encoding='utf-8'))] == \
        ['Carl Jensen', 'Dana Scott']
    assert [r['name'] for r in read_csv((tmp_path / 'report-no-group.csv').read_text(encoding='utf-8'))] == \
        ['Zoe Late'], 'a walk-in has no group, and is in no group of the roster'

    for args, expected in [(['--group', 'ИБ-23'], '--group ИБ-23: no such group in "Группа"; the groups are: '
                                                   'ИБ-21, ИБ-22'),
                           (['--per-group'], '--per-group writes a file for each group: name one with --output'),
                           (['--group-column', 'Поток'], '--group-column Поток: no such column')]:
        status, _, said = class_set('grade', after_class, '--from-checkins', *args)
        assert status == 2 and expected in said, (args, said)


def test_the_links_of_a_group(after_class, class_set, tmp_path):
    status, printed, said = class_set('links', after_class, '--base', 'http://192.0.2.1:8000/', '--group', 'ИБ-22')
    assert status == 0, said
    assert [r['name'] for r in read_csv(printed)] == ['Carl Jensen', 'Dana Scott']
    status, _, said = class_set('links', after_class, '--base', 'http://192.0.2.1:8000/', '--per-group',
                                '--output', str(tmp_path / 'links.xlsx'), '--slips', str(tmp_path / 'slips.html'))
    assert status == 0, said
    assert {p.name for p in tmp_path.iterdir() if p.name.startswith(('links', 'slips'))} >= \
        {'links-ИБ-21.xlsx', 'links-ИБ-22.xlsx', 'slips-ИБ-21.html', 'slips-ИБ-22.html'}
    assert 'Bob Marsh' in (tmp_path / 'slips-ИБ-21.html').read_text(encoding='utf-8')
    assert 'Bob Marsh' not in (tmp_path / 'slips-ИБ-22.html').read_text(encoding='utf-8')


def test_the_board_of_a_group_and_what_it_hands_out(after_class, class_set):
    client = organiser(page_app({'OUT': after_class}))
    board = client.get('/board').text
    assert '<th>Группа</th>' in board
    board = board[board.index('id="people"'):]
    order = ['Анна Петрова', 'Bob Marsh', 'Carl Jensen', 'Dana Scott', 'Zoe Late']
    assert sorted(order, key=board.index) == order, 'sorted by group, the ungrouped last, the roster order within'

    group = client.get('/board?group=иб-22').text
    assert 'Board: ИБ-22' in group and 'Carl Jensen' in group and 'Bob Marsh' not in group
    assert 'Solved: 0' in group and 'No answer: 2' in group, 'the counts are the group\'s'
    assert 'href="/board.csv?group=%D0%98%D0%91-22"' in group

    report = client.get('/board.csv?group=ИБ-22')
    assert [r['name'] for r in read_csv(report.text)] == ['Carl Jensen', 'Dana Scott']
    assert "filename*=UTF-8''report-%D0%98%D0%91-22.csv" in report.headers['Content-Disposition']
    assert [r['name'] for r in read_csv(client.get('/board/links.csv?group=ИБ-21').text)] == \
        ['Анна Петрова', 'Bob Marsh']
    slips = client.get('/board/slips?group=ИБ-21').text
    assert 'Bob Marsh' in slips and 'Carl Jensen' not in slips

    wall = client.get('/board/wall?group=ИБ-21').text
    assert 'How far ИБ-21 has got' in wall and '1 of 2 has solved it' in wall
    assert 'wall.svg?group=' in wall

    missing = client.get('/board?group=ИБ-23')
    assert missing.status_code == 404 and 'Its groups: ИБ-21, ИБ-22' in missing.text


def test_the_column_of_groups_named_at_build_is_kept(tmp_path, stand_in_builds, class_set):
    roster = tmp_path / 'class.csv'
    roster.write_text('ФИО,Группа,Поток\nАнна Петрова,ИБ-21,Утро\nBob Marsh,ИБ-22,Вечер\n', encoding='utf-8')
    out = str(tmp_path / 'set')
    status, _, said = class_set('build', str(roster), out, '--name-column', 'ФИО', '--group-column', 'Курс')
    assert status == 2 and '--group-column Курс: no such column; the roster has: "Группа", "Поток"' in said
    assert class_set('build', str(roster), out, '--name-column', 'ФИО', '--group-column', 'поток')[0] == 0
    board = organiser(page_app({'OUT': out})).get('/board?group=вечер').text
    assert '<th>Поток</th>' in board and 'Bob Marsh' in board and 'Анна Петрова' not in board
    status, printed, _ = class_set('grade', out, '--from-checkins', '--group', 'Утро')
    assert status == 0 and [r['name'] for r in read_csv(printed)] == ['Анна Петрова']
    status, printed, _ = class_set('grade', out, '--from-checkins', '--group-column', 'Группа', '--group', 'ИБ-22')
    assert status == 0 and [r['name'] for r in read_csv(printed)] == ['Bob Marsh'], 'another, named'
