"""grade against a set laid out by hand: every result, a password passed
around seen from both ends, names typed another way, strangers, files as
spreadsheets save them, and bad input that stops with status 2 and
changes nothing."""
import datetime
import io
import os
import pathlib
import shutil
import stat

import pytest

from conftest import organiser, page_app, read_csv

PEOPLE = [('Анна Петрова', 'Ab3De'), ('Bob', 'Fg4Hj'), ('Carl', 'Km5Np'), ('Dana', 'Qr6St'),
          ('Eve Lee', 'Uv7Wx'), ('Eve  Lee', 'Yz8ab')]


@pytest.fixture
def out(make_set):
    return make_set(PEOPLE)


def write(folder, name, data):
    path = os.path.join(folder, name)
    with open(path, 'wb') as f:
        f.write(data.encode('utf-8') if isinstance(data, str) else data)
    return path


def snapshot(top):
    return {path: pathlib.Path(path).read_bytes()
            for path in (os.path.join(root, name) for root, _, names in os.walk(top) for name in names)
            if os.path.isfile(path)}


def test_report_and_summary(out, tmp_path, class_set):
    answers = write(tmp_path, 'answers.csv', '\ufeff' + '\r\n'.join([
        'Timestamp;Your name;Password found',
        '1;  анна   ПЕТРОВА ;wrong1',       # another case and spacing, wrong first
        '2;Анна Петрова; Ab3De ',            # then her own
        '3;bob;Km5Np',                       # Carl's password
        '4;Carl;Fg4Hj',                      # and Carl handed in Bob's
        '5;Carl;Km5Np',                      # and his own
        '6;"Mallory; the stranger";Qr6St',   # nobody: Dana's password stays Dana's
        '7;eve lee;Uv7Wx',                   # two people by that name
        '8;Bob;"two\nlines"',
        '10;\x1b[2J\x07Zed;x',             # an escape sequence in a stranger's name
    ]) + '\r\n')
    columns = ['--name-column', ' YOUR NAME', '--word-column', 'password found']
    status, report, summary = class_set('grade', out, answers, *columns)
    assert status == 0, summary
    found = {r['name']: (r['result'], r['answers'], r['handed_in_others'], r['others_handed_in_theirs'],
                         r['claimed_by_name']) for r in read_csv(report)}
    assert found == {
        'Анна Петрова': ('solved', '2', '', '', ''),
        'Bob': ('wrong', '2', '', '', 'Carl'),      # a name typed is a claim, not proof
        'Carl': ('solved', '2', '', '', 'Bob'),
        'Dana': ('none', '0', '', '', ''),
        'Eve Lee': ('none', '0', '', '', ''),
        'Eve  Lee': ('none', '0', '', '', ''),
        'Mallory; the stranger': ('not on the list', '1', '', '', ''),   # after the people
        '\\x1b[2J\\x07Zed': ('not on the list', '1', '', '', ''),
    }
    assert not any(password in report for _, password in PEOPLE)
    assert summary.splitlines() == [
        '2 solved, 1 wrong, 3 none', "unconfirmed, by name: Bob's name came with Carl's password",
        "unconfirmed, by name: Carl's name came with Bob's password",
        f'{answers}:7: "Mallory; the stranger" matches nobody in the set',
        f'{answers}:8: "eve lee" matches more than one person',
        f'{answers}:11: "\\x1b[2J\\x07Zed" matches nobody in the set']
    # Where names can be trusted (a form that asked people to sign in), they are proof.
    trusted = {r['name']: (r['handed_in_others'], r['others_handed_in_theirs'])
               for r in read_csv(class_set('grade', out, answers, *columns, '--trust-names')[1])}
    assert (trusted['Bob'], trusted['Carl']) == (('Carl', 'Carl'), ('Bob', 'Bob'))

    output = tmp_path / 'report.csv'
    assert class_set('grade', out, answers, *columns, '--output', str(output))[0] == 0
    assert output.read_text(encoding='utf-8').replace('\r\n', '\n') == report
    assert class_set('grade', out, answers, *columns, '--output', '-')[1] == report


@pytest.mark.parametrize('name, text, encoding, options', [
    # as Excel on a Russian Windows saves "CSV UTF-8", "CSV" and "Unicode text"
    ('utf-8.csv', '\ufeffИмя;Пароль\r\nанна петрова;Ab3De\r\nBob;Km5Np\r\n', 'utf-8', []),
    ('cp1251.csv', 'Имя;Пароль\r\nанна петрова;Ab3De\r\nBob;Km5Np\r\n', 'cp1251', ['--encoding', 'cp1251']),
    ('unicode.txt', '\ufeffИмя\tПароль\r\nанна петрова\tAb3De\r\nBob\tKm5Np\r\n', 'utf-16-le', []),
])
def test_a_spreadsheet_saved_in_any_encoding(out, tmp_path, class_set, name, text, encoding, options):
    path = write(tmp_path, name, text.encode(encoding))
    status, report, summary = class_set('grade', out, path, '--name-column', 'имя', '--word-column', 'ПАРОЛЬ',
                                        *options)
    assert status == 0, summary
    assert summary.splitlines()[0] == '1 solved, 1 wrong, 4 none'
    assert [r['result'] for r in read_csv(report)][:3] == ['solved', 'wrong', 'none']


def test_bad_input_stops_and_changes_nothing(out, tmp_path, class_set):
    top = str(tmp_path)
    good = write(top, 'good.csv', 'name,password\nBob,Fg4Hj\n')
    broken = shutil.copytree(out, out + '-broken')
    os.remove(os.path.join(broken, 'handout', 'Bob', 'PassWord.exe'))
    swapped = shutil.copytree(out, out + '-swapped')
    records = pathlib.Path(swapped, 'answers.csv')
    records.write_text(records.read_text('utf-8').replace('Fg4Hj', '_').replace('Km5Np', 'Fg4Hj').replace('_', 'Km5Np'),
                       'utf-8')
    os.mkfifo(os.path.join(top, 'fifo'))
    write(out, 'checkins.sqlite', b'not a database, and not to be lost')
    cases = [
        ('missing', [out, os.path.join(top, 'none.csv')], 'none.csv: cannot read'),
        ('empty', [out, write(top, 'empty.csv', '\ufeff\n')], 'empty.csv:1: empty'),
        ('not UTF-8', [out, write(top, 'latin1.csv', b'name,password\nBob,x\nJos\xe9,y\n')],
         'latin1.csv:3: not UTF-8 text; save it as UTF-8 (or as "Unicode text"), or name its encoding with '
         '--encoding, for instance --encoding cp1251'),
        ('not that encoding', [out, good, '--encoding', 'utf-32'], 'good.csv:1: not utf-32 text'),
        ('no such column', [out, write(top, 'cols.csv', 'Name;Word\nBob;x\n')],
         'cols.csv:1: no column "password"; the header has: "Name", "Word"'),
        ('not a set', [top, good], 'not a set made by class-set'),
        ('records disagree', [broken, good], 'answers.csv:3: '),
        ('passwords swapped in the records', [swapped, good], 'answers.csv:3: the password or mask is not the one that'),
        ('the records as answers', [out, os.path.join(out, 'answers.csv')], 'a file of the set itself'),
        ('check-ins that are no database', [out, '--from-checkins'], 'checkins.sqlite: not a store of answers'),
        # Written as root, these once replaced /dev/null and the answers handed in.
        ('report into handout/', [out, good, '--output', os.path.join(out, 'handout', 'r.csv')], 'inside the set'),
        ('report over the records', [out, good, '--output', os.path.join(out, 'answers.csv')], 'inside the set'),
        ('report over the check-ins', [out, good, '--output', os.path.join(out, 'checkins.sqlite')], 'inside the set'),
        ('report over a FIFO', [out, good, '--output', os.path.join(top, 'fifo')], 'not a regular file'),
        ('report over a folder', [out, good, '--output', top], 'a folder; name a file in it'),
        # Said once "that is the answers file itself".
        ('report to a device', [out, good, '--output', os.devnull], 'not a regular file (a device, a pipe)'),
        ('report of no kind', [out, good, '--output', os.path.join(top, 'report.txt')],
         'report.txt: a report is written as .csv, .xlsx or .ods: name the file so'),
        ('wrong option', [out, good, '--colour'], 'usage: class-set'),
        ('both ways of answers', [out, good, '--from-checkins'], 'one of the two'),
    ]
    before = snapshot(top)
    for what, args, message in cases:
        status, said, problems = class_set('grade', *args)
        assert (status, said) == (2, ''), what
        assert message in problems, what
        assert snapshot(top) == before, what
        assert stat.S_ISFIFO(os.stat(os.path.join(top, 'fifo')).st_mode), what


def test_one_report_whichever_file(out, tmp_path, class_set):
    import openpyxl
    from conftest import organiser, page_app
    client = organiser(page_app({'OUT': out}))
    link = {r['name']: r['link'].split('8000')[1] for r in read_csv(client.get('/board/links.csv').text)}
    client.get(link['Bob'] + '/PassWord.exe')
    client.post(link['Bob'], data={'word': 'Fg4Hj'})
    client.post(link['Carl'], data={'word': 'wrong'})
    report = tmp_path / 'report.xlsx'
    status, _, said = class_set('grade', out, '--from-checkins', '--output', str(report), '--points', '5')
    assert status == 0, said
    book = openpyxl.load_workbook(report)
    sheet, board = book.worksheets[0], openpyxl.load_workbook(io.BytesIO(client.get('/board/report.xlsx').data)).active
    header = [c.value for c in sheet[1]]
    assert header == [c.value for c in board[1]], 'the board and grade carry the same columns'
    rows = {r[0]: dict(zip((h.split(' (')[0] for h in header), r)) for r in sheet.iter_rows(min_row=2, values_only=True)}
    bob = rows['Bob']
    assert (bob['Result'], bob['Points'], rows['Carl']['Points']) == ('solved', 5, 0)
    assert isinstance(bob['Solved at'], datetime.datetime) and isinstance(bob['Downloaded'], datetime.datetime)
    assert isinstance(bob['Minutes to the solution'], (int, float)), 'minutes from the download, as a number'
    assert sheet.freeze_panes == 'A2' and sheet.auto_filter.ref.startswith('A1:')
    assert sheet.column_dimensions['A'].width >= len('Анна Петрова'), 'a name is not cut'
    summary = dict(book.worksheets[1].iter_rows(values_only=True))
    assert (summary['Solved'], summary['Wrong'], summary['No answer'], summary['People']) == (1, 1, 4, 6)


def test_a_csv_in_another_language_says_it_stays_english(out, tmp_path, class_set):
    answers = write(tmp_path, 'answers.csv', 'name,password\nBob,Fg4Hj\n')
    status, report, said = class_set('grade', out, answers, '--language', 'ru')
    assert status == 0 and 'solved' in report
    assert 'the CSV stays in English, for programs; --output report.xlsx gives the report in ru' in said
    assert 'stays in English' not in class_set('grade', out, answers)[2]


ROSTER = ('ФИО;Группа;Номер зачётки;Код\r\nАнна Петрова;ИБ-21;1002;00017\r\nBob Marsh;ИБ-21;1003;A-18\r\n'
          'Carl Jensen;ИБ-22;1004;00019\r\n')


def ods_rows(path):
    """[[(value type, value)]] of the first sheet of an .ods, as odfpy reads it back."""
    from odf.namespaces import OFFICENS
    from odf.opendocument import load
    from odf.table import Table, TableCell, TableRow
    from odf.teletype import extractText
    sheet = load(path).spreadsheet.getElementsByType(Table)[0]
    return [[(c.attributes.get((OFFICENS, 'value-type')), c.attributes.get((OFFICENS, 'value')) or
              c.attributes.get((OFFICENS, 'date-value')) or extractText(c)) for c in row.getElementsByType(TableCell)]
            for row in sheet.getElementsByType(TableRow)]


@pytest.mark.parametrize('kind', ['.xlsx', '.ods'])
def test_every_spreadsheet_keeps_numbers_as_numbers_and_ids_as_text(built_from, class_set, tmp_path, kind):
    out, rows = built_from(ROSTER, 'Номер зачётки')
    client = organiser(page_app({'OUT': out}))
    link = {r['name']: r['link'].split('8000')[1] for r in read_csv(client.get('/board/links.csv').text)}
    client.post(link['Bob Marsh'], data={'word': rows['Bob Marsh']['password']})
    report = tmp_path / f'report{kind}'
    status, _, said = class_set('grade', out, '--from-checkins', '--output', str(report), '--points', '2.5')
    assert status == 0, said
    if kind == '.xlsx':
        import openpyxl
        header, *table = list(openpyxl.load_workbook(report).active.values)
        bob = dict(zip(header, [r for r in table if r[0] == 'Bob Marsh'][0]))
        anna = dict(zip(header, [r for r in table if r[0] == 'Анна Петрова'][0]))
        assert (bob['Номер зачётки'], bob['Код'], anna['Код'], bob['Points']) == (1003, 'A-18', '00017', 2.5)
        assert isinstance(bob[[h for h in header if h.startswith('Solved at')][0]], datetime.datetime)
        return
    header, *table = ods_rows(str(report))
    names = [value for _, value in header]
    bob = dict(zip(names, [r for r in table if r[0][1] == 'Bob Marsh'][0]))
    anna = dict(zip(names, [r for r in table if r[0][1] == 'Анна Петрова'][0]))
    assert bob['Номер зачётки'] == ('float', '1003') and bob['Points'] == ('float', '2.5')
    assert anna['Код'] == ('string', '00017'), 'an id that was text stays text, its zeros kept'
    assert bob[[n for n in names if n.startswith('Solved at')][0]][0] == 'date'
    summary = ods_rows_of(str(report), 1)
    assert ('string', 'Solved') in [row[0] for row in summary]


def ods_rows_of(path, sheet):
    from odf.opendocument import load
    from odf.table import Table, TableCell, TableRow
    from odf.teletype import extractText
    found = load(path).spreadsheet.getElementsByType(Table)[sheet]
    return [[('string', extractText(c)) for c in row.getElementsByType(TableCell)]
            for row in found.getElementsByType(TableRow)]


def test_an_ods_report_freezes_its_header_and_filters_it(make_set, class_set, tmp_path):
    from odf.opendocument import load
    from odf.table import DatabaseRange
    out = make_set()
    page_app({'OUT': out})
    report = tmp_path / 'report.ods'
    assert class_set('grade', out, '--from-checkins', '--output', str(report))[0] == 0
    doc = load(str(report))
    settings = doc.settingsxml().decode() if isinstance(doc.settingsxml(), bytes) else doc.settingsxml()
    assert 'VerticalSplitPosition' in settings and '>1<' in settings.split('VerticalSplitPosition')[1][:40]
    assert doc.spreadsheet.getElementsByType(DatabaseRange), 'a filter on the header'
