"""Every piece of advice the commands print, followed as written, reaches
what the organiser wanted: each case makes a command say it, runs the
command exactly as printed, and looks that it was done (in process, on
stand-in sets)."""
import os
import shlex
import subprocess

import pytest

from conftest import page_app, read_csv, records

EXPORT = ('ФИО;Группа;Номер\r\nАлексеев Артём Сергеевич;ИБ-21;1001\r\nИванов Иван Иванович;ИБ-21;1002\r\n'
          'Иванов Иван Иванович;ИБ-22;1003\r\nAnna Petrova;ИБ-22;1004\r\n')
BUILD = ['--encoding', 'cp1251', '--name-column', 'ФИО', '--id-column', 'Номер']


@pytest.fixture
def built(built_from):
    return built_from(EXPORT, 'Номер')[0]


@pytest.fixture
def roster(tmp_path):
    def write(text, name='roster.csv', encoding='cp1251'):
        (tmp_path / name).write_bytes(text.encode(encoding))
        return str(tmp_path / name)
    return write


def follow(class_set, said, advice):
    """Run `advice`, which `said` must hold as it is: (status, out, err)."""
    assert advice in said, said
    return class_set(*shlex.split(advice)[1:])


def test_those_not_in_the_roster_are_removed_as_advised(built, roster, class_set):
    status, said, _ = class_set('build', roster('ФИО;Группа;Номер\r\nAnna Petrova;ИБ-22;1004\r\n'), built, *BUILD)
    advice = (f'class-set remove {built} --by folder "Алексеев Артём Сергеевич" "Иванов Иван Иванович (1002)" '
              '"Иванов Иван Иванович (1003)"')
    assert status == 0 and follow(class_set, said, advice)[0] == 0
    assert set(records(built)) == {'Anna Petrova'}


def test_someone_removed_comes_back_as_advised_and_then_their_slip(built, roster, class_set, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    assert class_set('links', built, '--base', 'http://127.0.0.1:8000/')[0] == 0
    status, said, _ = class_set('remove', built, '1003')
    status, said, _ = follow(class_set, said, f'class-set restore {built} --by folder "Иванов Иван Иванович (1003)"')
    assert status == 0 and 'Иванов Иван Иванович (1003)' in records(built)
    status, listed, _ = follow(class_set, said, f'class-set links {built} --base http://127.0.0.1:8000/ --only '
                                                '"Иванов Иван Иванович (1003)" --slips slip.html')
    assert status == 0 and [r['Номер'] for r in read_csv(listed)] == ['1003'] and os.path.exists('slip.html')
    # Removed again, then listed again: kept out, and how to bring them back said.
    class_set('remove', built, '1003')
    status, said, _ = class_set('build', roster(EXPORT), built, *BUILD)
    assert status == 0 and 'kept out, removed earlier: Иванов Иван Иванович' in said
    follow(class_set, said, f'class-set restore {built} --by folder "Иванов Иван Иванович (1003)"')
    assert 'Иванов Иван Иванович (1003)' in records(built)


def test_a_new_key_comes_with_how_to_print_its_slip(built, class_set, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    status, said, _ = class_set('rekey', built, '1004')
    assert status == 0
    status, listed, _ = follow(class_set, said, f'class-set links {built} --base auto --only "Anna Petrova" '
                                                '--slips slip.html')
    assert status == 0 and [r['name'] for r in read_csv(listed)] == ['Anna Petrova']


@pytest.mark.parametrize('text, advice', [
    ('1003', None),                                       # an id and nobody's name: found
    ('Иванов Иван Иванович', 'name one by its id or folder: 1002, 1003'),
])
def test_one_person_named_as_advised(built, class_set, text, advice):
    status, _, said = class_set('rekey', built, text)
    if advice is None:
        assert status == 0, said
        return
    assert status == 2 and advice in said, said
    for wanted in ('1002', '1003'):
        assert class_set('rekey', built, wanted)[0] == 0


def test_an_id_that_is_another_persons_name_as_advised(tmp_path, roster, stand_in_builds, class_set):
    out = str(tmp_path / 'set')
    assert class_set('build', roster('ФИО;Номер\r\nAnna;Bob\r\nBob;1002\r\n'), out, '--encoding', 'cp1251',
                     '--name-column', 'ФИО', '--id-column', 'Номер')[0] == 0
    status, _, said = class_set('rekey', out, 'Bob')
    assert status == 2 and 'say which: --by id or --by name' in said, said
    for way, who in (('id', 'Anna'), ('name', 'Bob')):
        status, printed, _ = class_set('rekey', out, 'Bob', '--by', way)
        assert status == 0 and printed.startswith(f'{who} has a new key')


@pytest.mark.parametrize('roster_text, advice', [
    (EXPORT, ['--name-column "ФИО"', '--id-column "Номер"']),  # one step, then the next
    ('Фамилия;Имя;Группа\r\nПетрова;Анна;ИБ-21\r\n', ['--name-column "Фамилия,Имя"']),
], ids=['export', 'parts of names'])
def test_a_roster_read_as_advised(tmp_path, roster, stand_in_builds, class_set, roster_text, advice):
    path, out, options = roster(roster_text), str(tmp_path / 'set'), ['--encoding', 'cp1251']
    for step in advice:
        status, _, said = class_set('build', path, out, *options)
        assert status == 2 and step in said, said
        options += shlex.split(step)
    status, _, said = class_set('build', path, out, *options)
    assert status == 0, said


def test_a_roster_in_another_encoding_read_as_advised(tmp_path, roster, stand_in_builds, class_set):
    path, out = roster('Анна Петрова\nBob\n'), str(tmp_path / 'set')
    status, _, said = class_set('build', path, out)
    assert status == 2 and 'for instance --encoding cp1251' in said
    assert class_set('build', path, out, '--encoding', 'cp1251')[0] == 0


def test_a_walk_in_two_of_the_roster_could_be(built, roster, stand_in_builds, class_set):
    client = page_app({'OUT': built, 'PLACES': 5}).test_client()
    assert client.post('/enrol', data={'name': 'Zoe Late'}).status_code == 303
    grown = roster(EXPORT + 'Zoe Late;ИБ-23;1005\r\nZoe Late;ИБ-24;1006\r\n')
    status, _, said = class_set('build', grown, built, *BUILD)
    assert status == 2 and 'lines 6, 7 all have the name of "Zoe Late"' in said
    assert follow(class_set, said, f'class-set remove {built} "Zoe Late"')[0] == 0
    status, said, problems = class_set('build', grown, built, *BUILD)
    assert status == 0 and '2 new' in said, problems
    assert {'Zoe Late (1005)', 'Zoe Late (1006)'} <= set(records(built))


def test_an_empty_set_is_opened_as_advised(tmp_path, stand_in_builds, class_set, serve_at_once):
    from stand_in_set import lay_out
    empty = str(tmp_path / 'set')
    lay_out(empty, [])
    status, _, said = class_set('serve', empty)
    status, printed, _ = follow(class_set, said, f'class-set serve {empty} --open 30')
    assert status == 0 and 'Open: up to 30 people not on the list may enrol' in printed



def test_a_report_in_the_organisers_language_as_advised(built, class_set, tmp_path, monkeypatch):
    import openpyxl
    monkeypatch.chdir(tmp_path)
    page_app({'OUT': built})
    status, _, said = class_set('grade', built, '--from-checkins', '--language', 'ru')
    advice = '--output report.xlsx gives the report in ru'
    assert status == 0 and advice in said
    assert class_set('grade', built, '--from-checkins', '--language', 'ru', '--output', 'report.xlsx')[0] == 0
    assert next(openpyxl.load_workbook('report.xlsx').active.values)[0] == 'Имя'


def test_a_broken_store_is_kept_as_advised(built, class_set):
    path = os.path.join(built, 'checkins.sqlite')
    with open(path, 'wb') as f:
        f.write(b'answers that must not be lost')
    status, _, said = class_set('grade', built, '--from-checkins')
    advice = f'cp "{path}" "{path}.kept"'
    assert status == 2 and advice in said
    subprocess.run(shlex.split(advice), check=True)
    with open(f'{path}.kept', 'rb') as f:
        assert f.read() == b'answers that must not be lost'


def test_the_boards_new_key_opens_it_where_said(built, class_set):
    app = page_app({'OUT': built})
    class_set('links', built, '--base', 'http://127.0.0.1:8000/')
    status, said, _ = class_set('board-key', built)
    address = said.split()[-1]
    assert status == 0 and address.startswith('http://127.0.0.1:8000/board?key=')
    client = app.test_client()
    assert client.get(address.split('8000')[1]).status_code == 303
    assert client.get('/board').status_code == 200
