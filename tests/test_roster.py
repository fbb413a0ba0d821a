"""Rosters as teachers have them: a list of names, or a table exported from
a spreadsheet (CSV, TSV, an .xlsx workbook) in the encodings they save,
with the name in one column or several, namesakes told apart by an id,
and a table mistaken for a list refused with a hint."""
import re

import pytest

from class_set.errors import Refusal
from class_set.sheets.roster import read_roster

GROUP = 'ФИО;Группа;Номер\r\nАлексеев Артём Сергеевич;ИБ-21;1001\r\nИванов Иван Иванович;ИБ-21;1002\r\n' \
        'Иванов Иван Иванович;ИБ-22;1003\r\n'


def roster(tmp_path, data, name='roster.csv'):
    path = tmp_path / name
    path.write_bytes(data)
    return str(path)


@pytest.mark.parametrize('data, options, names', [
    ('# the class\nАнна Петрова\n\n  Bob  \r\n'.encode(), {}, ['Анна Петрова', 'Bob']),
    ('\ufeffАнна\r\nBob\r\n'.encode('utf-16-le'), {}, ['Анна', 'Bob']),
    ('Анна\r\nBob\r\n'.encode('cp1251'), {'encoding': 'cp1251'}, ['Анна', 'Bob']),
    ('O\'Neil, Jr.\nSmith, John\n'.encode(), {}, ["O'Neil, Jr.", 'Smith, John']),   # commas in names
    (GROUP.encode('cp1251'), {'encoding': 'cp1251', 'name_column': 'фио', 'id_column': 'Номер'},
     ['Алексеев Артём Сергеевич', 'Иванов Иван Иванович', 'Иванов Иван Иванович']),
    ('Фамилия\tИмя\tОтчество\tE-mail\nПетрова\tАнна\t\ta@school.ru\n'.encode(),
     {'name_column': 'Фамилия,Имя,Отчество'}, ['Петрова Анна']),
])
def test_a_roster_as_it_is_saved(tmp_path, data, options, names):
    assert [p.name for p in read_roster(roster(tmp_path, data), **options).people] == names


def test_a_table_keeps_every_other_column_with_its_person(tmp_path):
    read = read_roster(roster(tmp_path, GROUP.encode('cp1251')), 'cp1251', 'ФИО', 'Номер')
    assert read.columns == ['Группа', 'Номер']
    namesakes = read.people[1:]
    assert [(p.id, dict(p.details)['Группа']) for p in namesakes] == [('1002', 'ИБ-21'), ('1003', 'ИБ-22')]
    assert [p.folder(shared=True) for p in namesakes] == ['Иванов Иван Иванович (1002)', 'Иванов Иван Иванович (1003)']


def test_a_workbook(tmp_path):
    import openpyxl
    book = openpyxl.Workbook()
    for row in [['Фамилия', 'Имя', 'Отчество', 'Номер', 'Баллы'], ['Ёлкин', 'Фёдор', 'Алексеевич', 1004, 7.5],
                [None, None, None, None, None], ['Белова', 'Алёна', None, 1005, None]]:
        book.active.append(row)
    path = str(tmp_path / 'class.xlsx')
    book.save(path)
    read = read_roster(path, name_column='Фамилия,Имя,Отчество', id_column='Номер')
    assert [(p.where, p.name, p.id) for p in read.people] == [('2', 'Ёлкин Фёдор Алексеевич', '1004'),
                                                              ('4', 'Белова Алёна', '1005')]
    assert dict(read.people[0].details) == {'Номер': '1004', 'Баллы': '7.5'}


@pytest.mark.parametrize('data, options, said', [
    (GROUP.encode(), {}, 'roster.csv: it looks like a table (a spreadsheet export): name the column'),
    ('Name\tGroup\nAnn\tA\nBob\tB\n'.encode(), {}, 'looks like a table'),
    ('name,group,email\nAnn,A,a@x\nBob,B,b@x\n'.encode(), {}, 'looks like a table'),
    (GROUP.encode(), {'name_column': 'ФИО'}, 'roster.csv:4: "Иванов Иван Иванович" is already on line 3; if they '
                                             'are two people, name a column that tells them apart with --id-column'),
    (GROUP.replace('1003', '1002').encode(), {'name_column': 'ФИО', 'id_column': 'Номер'}, 'with the same Номер'),
    (GROUP.encode(), {'name_column': 'Name'}, 'roster.csv:1: no column "Name"; the header has: "ФИО", "Группа"'),
    ('ФИО;Группа\r\n;ИБ-21\r\n'.encode(), {'name_column': 'ФИО'}, 'roster.csv:2: no name'),
    (b'Bob\nAnna\nBob\n', {}, 'roster.csv:3: "Bob" is already on line 1'),
    ('Anna Petrova\n\u1d00nna Petrova\n'.encode(), {}, 'roster.csv:2: "\u1d00nna Petrova" is already on line 1'),
    (b'name,group,Group\nAnna,G1,G2\n', {'name_column': 'name'}, 'roster.csv:1: the column "Group" is there twice '
                                                               '(columns 2 and 3); rename one'),
    (b'Bob\nEve\x07\n', {}, 'roster.csv:2: a control character'),
    (b'# nobody\n\n', {}, 'no names in the roster'),
    ('Анна\n'.encode('cp1251'), {}, 'roster.csv:1: not UTF-8 text'),
], ids=lambda v: '' if isinstance(v, (bytes, dict)) else v[:30])
def test_a_roster_refused_says_why(tmp_path, data, options, said):
    with pytest.raises(Refusal) as refused:
        read_roster(roster(tmp_path, data), **options)
    assert said in str(refused.value)


def test_a_libreoffice_spreadsheet_and_an_old_workbook(tmp_path):
    from odf.opendocument import OpenDocumentSpreadsheet
    from odf.table import Table, TableCell, TableRow
    from odf.text import P
    book, sheet = OpenDocumentSpreadsheet(), Table(name='Группа')
    for cells, repeat in [(['ФИО', 'Группа', 'Номер зачётки'], 1), (['Иванов Иван', 'ИБ-21', 1002], 1),
                          ([], 3), (['Петрова Анна', None, 1003], 1), ([], 1048000)]:
        row = TableRow(numberrowsrepeated=repeat) if repeat > 1 else TableRow()
        for value in cells:
            cell = TableCell(numbercolumnsrepeated=1) if value is None else \
                TableCell(valuetype='float', value=value) if isinstance(value, int) else TableCell(valuetype='string')
            if value is not None:
                cell.addElement(P(text=str(value)))
            row.addElement(cell)
        sheet.addElement(row)
    book.spreadsheet.addElement(sheet)
    book.save(str(tmp_path / 'class.ods'))
    read = read_roster(str(tmp_path / 'class.ods'), name_column='фио', id_column='Номер зачетки')  # е for ё
    assert [(p.where, p.name, p.id) for p in read.people] == [('2', 'Иванов Иван', '1002'), ('6', 'Петрова Анна', '1003')]
    (tmp_path / 'class.xls').write_bytes(b'\xd0\xcf\x11\xe0')
    with pytest.raises(Refusal, match='save it as .xlsx or CSV'):
        read_roster(str(tmp_path / 'class.xls'), name_column='ФИО')


def test_a_roster_larger_than_the_disk_is_refused_before_it_is_read(tmp_path, class_set, monkeypatch):
    from class_set.commands import build as building
    monkeypatch.setattr(building, 'free_space', lambda path: 100 * 2**20)
    monkeypatch.setattr(building, 'read_roster', lambda *args: pytest.fail('read whole'))
    big = roster(tmp_path, ''.join(f'Person {i}\n' for i in range(20000)).encode())
    status, _, said = class_set('build', big, str(tmp_path / 'set'))
    assert status == 1 and re.search(r'roster.csv: about 1\d,\d{3} people new to the set, whose programs would need '
                                     r'\d+ MiB in \S+, which has 100 MiB free; nothing was written', said), said
    assert not (tmp_path / 'set').exists()


def test_the_room_a_set_needs_is_counted_before_anything_is_written(tmp_path, class_set, monkeypatch):
    from class_set.commands import build as building
    monkeypatch.setattr(building, 'free_space', lambda path: 2**20)
    monkeypatch.setattr(building, 'rows_about', lambda path: None)
    status, _, said = class_set('build', roster(tmp_path, ''.join(f'Person {i}\n' for i in range(100)).encode()),
                                str(tmp_path / 'set'))
    assert status == 1 and '100 people new to the set' in said and 'which has 1 MiB free' in said, said
    assert not (tmp_path / 'set').exists()


def test_a_long_roster_says_how_far_it_has_read(tmp_path, capsys):
    from class_set.progress import Reading
    times = iter(range(10**6))
    reading = Reading('roster.csv', clock=lambda: next(times))  # each look at the clock: a second later
    for _ in range(20000):
        reading.step()
    assert capsys.readouterr().err.splitlines() == [f'reading roster.csv: {rows:,} rows so far'
                                                    for rows in (3000, 8000, 13000, 18000)]
