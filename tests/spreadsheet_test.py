"""Every CSV the tools write for people, opened by a real spreadsheet
(LibreOffice Calc, headless) with a comma, a semicolon and a tab as the
separator: no cell is a formula, or starts like one unless it is a
number. Names chosen by the room's mischief-maker. And the .ods files
(the report, the links, the gradebook) opened by it: numbers as numbers,
ids as text."""
import datetime
import os
import shutil
import subprocess

import pytest

from conftest import organiser, page_app, read_csv

SOFFICE = shutil.which('soffice')
NAMES = [("Mo;=cmd|' /C calc'!A0", 'Ab3De'), ('=1+2', 'Fg4Hj'), ('@SUM(A1)', 'Km5Np'), ('Dana, +1', 'Qr6St'),
         ('Eve;-2;x', 'Uv7Wx'), ('Ann "=3"', 'Yz8ab')]
SEPARATORS = {'comma': 44, 'semicolon': 59, 'tab': 9}
STARTS = ('=', '+', '-', '@', '\t', '\r')


def is_number(text):
    try:
        float(text.replace(',', '.'))
        return True
    except ValueError:
        return False


@pytest.fixture
def csv_files(make_set, tmp_path, class_set):
    out = make_set(NAMES)
    app = page_app({'OUT': out})
    client = organiser(app)
    links = [r['link'] for r in read_csv(client.get('/board/links.csv').text)]  # in the set's order
    for link, (_, theirs) in zip(links, NAMES[1:] + NAMES[:1]):  # everyone hands in the next one's
        client.post(link.split('8000')[1], data={'word': theirs})
    client.post('/', data={'name': '=HYPERLINK("http://x";"y")', 'word': 'x'})
    files = {'board.csv': client.get('/board.csv').text, 'board-links.csv': client.get('/board/links.csv').text}
    for name, text in files.items():
        (tmp_path / name).write_text(text, encoding='utf-8')
    assert class_set('grade', out, '--from-checkins', '--output', str(tmp_path / 'report.csv'))[0] == 0
    assert class_set('links', out, '--base', 'http://192.0.2.1/', '--output', str(tmp_path / 'links.csv'))[0] == 0
    return [str(tmp_path / name) for name in ('board.csv', 'board-links.csv', 'report.csv', 'links.csv')]


@pytest.mark.parametrize('separator', SEPARATORS)
def test_no_cell_is_a_formula_with_any_separator(csv_files, tmp_path, separator):
    if not SOFFICE:
        pytest.skip('no LibreOffice (soffice) here to open the files with')
    import openpyxl
    converted = tmp_path / separator
    subprocess.run([SOFFICE, f'-env:UserInstallation=file://{tmp_path}/profile', '--headless',
                    f'--infilter=CSV:{SEPARATORS[separator]},34,76,1', '--convert-to', 'xlsx', '--outdir',
                    str(converted), *csv_files], check=True, capture_output=True, timeout=120)
    for path in csv_files:
        book = openpyxl.load_workbook(converted / (os.path.basename(path)[:-4] + '.xlsx'))
        cells = [c for row in book.active.iter_rows() for c in row if c.value is not None]
        assert len(cells) > 5, path
        formulas = [c.value for c in cells if c.data_type == 'f']
        risky = [c.value for c in cells if isinstance(c.value, str) and c.value.startswith(STARTS)
                 and not is_number(c.value)]
        assert (formulas, risky) == ([], []), f'{path} split on {separator}'



def test_an_ods_report_and_links_open_in_libreoffice(make_set, tmp_path, class_set):
    if not SOFFICE:
        pytest.skip('no LibreOffice (soffice) here to open the files with')
    import openpyxl
    out = make_set()
    client = organiser(page_app({'OUT': out}))
    bob = {r['name']: r['link'] for r in read_csv(client.get('/board/links.csv').text)}['Bob'].split('8000')[1]
    client.post(bob, data={'word': 'Fg4Hj'})
    assert class_set('grade', out, '--from-checkins', '--output', str(tmp_path / 'report.ods'), '--language',
                     'ru')[0] == 0
    assert class_set('links', out, '--base', 'http://192.0.2.1/', '--output', str(tmp_path / 'links.ods'))[0] == 0
    converted = tmp_path / 'opened'
    subprocess.run([SOFFICE, f'-env:UserInstallation=file://{tmp_path}/profile', '--headless', '--convert-to',
                    'xlsx', '--outdir', str(converted), str(tmp_path / 'report.ods'), str(tmp_path / 'links.ods')],
                   check=True, capture_output=True, timeout=120)
    report = openpyxl.load_workbook(converted / 'report.xlsx')
    header, *rows = list(report.worksheets[0].values)
    bob_row = dict(zip(header, [r for r in rows if r[0] == 'Bob'][0]))
    assert header[:3] == ('Имя', 'Папка', 'Итог') and bob_row['Итог'] == 'решено' and bob_row['Баллы'] == 1
    assert isinstance(bob_row[[h for h in header if h.startswith('Когда решено')][0]], datetime.datetime)
    assert [r[0] for r in report.worksheets[1].values][0] == 'Людей в списке', 'the summary, a sheet of its own'
    links = list(openpyxl.load_workbook(converted / 'links.xlsx').active.values)
    assert links[0][:2] == ('Name', 'Link') and len(links) == 4


def test_an_ods_gradebook_opens_in_libreoffice_with_its_ids_as_text(built_from, tmp_path, class_set):
    if not SOFFICE:
        pytest.skip('no LibreOffice (soffice) here to open the files with')
    import openpyxl
    from test_gradebook import ROSTER
    out, rows = built_from(ROSTER, 'Номер зачётки')
    client = organiser(page_app({'OUT': out}))
    bob = {r['name']: r['link'] for r in read_csv(client.get('/board/links.csv').text)}['Bob Marsh'].split('8000')[1]
    client.post(bob, data={'word': rows['Bob Marsh']['password']})
    assert class_set('grade', out, '--from-checkins', '--gradebook', str(tmp_path / 'gradebook.ods'),
                     '--points', '2.5')[0] == 0
    converted = tmp_path / 'opened'
    subprocess.run([SOFFICE, f'-env:UserInstallation=file://{tmp_path}/profile', '--headless', '--convert-to',
                    'xlsx', '--outdir', str(converted), str(tmp_path / 'gradebook.ods')],
                   check=True, capture_output=True, timeout=120)
    header, *people = list(openpyxl.load_workbook(converted / 'gradebook.xlsx').active.values)
    assert header == ('Номер зачётки', 'Name', 'PassWord')
    assert people[:3] == [('00017', 'Анна Петрова', 0), ('00019', 'Carl Jensen', 0), ('1003', 'Bob Marsh', 2.5)]
