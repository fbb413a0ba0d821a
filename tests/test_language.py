"""The room's language: pages, slips and spreadsheets in Russian or English,
chosen by the browser or fixed by the organiser, every message translated,
Russian plurals, and reports a Russian spreadsheet opens."""
import html
import io
import os
import re

import pytest
from babel.messages.extract import extract_from_dir
from babel.messages.pofile import read_po

from conftest import PEOPLE, ROOT, organiser, page_app, read_csv

CATALOG = os.path.join(ROOT, 'tools', 'class_set', 'translations', 'ru', 'LC_MESSAGES', 'messages.po')
# Words a Russian page may hold: the program's and the platforms' names.
NAMES = {'PassWord', 'exe', 'Windows', 'Wine', 'CSV', 'Excel', 'UTF', 'CON'}


def visible(page):
    """The words a person reads on a page (attributes and names of the set left out)."""
    text = re.sub(r'<div class="link[^"]*">.*?</div>', ' ', page, flags=re.S)  # an address on a slip
    text = re.sub(r'<(script|style)[^>]*>.*?</\1>|<[^>]+>', ' ', text, flags=re.S)
    text = html.unescape(text)
    for name, _ in PEOPLE + [('Walk In', '')]:
        text = text.replace(name, ' ')
    return text


def english_words(page):
    return sorted({w for w in re.findall(r'[A-Za-z]{2,}', visible(page)) if w not in NAMES})


@pytest.fixture
def pages(make_set):
    """{what: (status, page)} of every page a student and the organiser reach, in a language."""
    out = make_set()

    def fetch(language=None, accept=None):
        app = page_app({'OUT': out, 'PLACES': 5, 'LANGUAGE': language, 'CLIENT_RATE': 1})
        client = organiser(app)
        headers = {'Accept-Language': accept} if accept else {}
        link = read_csv(client.get('/board/links.csv').text)[1]['link'].split('8000')[1]
        client.post('/', data={'name': 'Bob', 'word': 'x'}, headers=headers)
        found = {what: client.get(address, headers=headers) for what, address in
                 [('form', '/'), ('personal', link), ('enrol', '/enrol'), ('missing', '/nothing'), ('board', '/board'),
                  ('slips', '/board/slips'), ('wall', '/board/wall')]}
        found['too many'] = client.post('/', data={'name': 'Bob', 'word': 'x'}, headers=headers)
        found['refused'] = client.post('/enrol', data={'name': 'CON'}, headers=headers)
        found['answered'] = client.post(link, data={'word': 'x'}, headers=headers)
        return {what: (r.status_code, r.text) for what, r in found.items()}
    return fetch


@pytest.mark.parametrize('how', [{'accept': 'ru-RU,ru;q=0.9,en;q=0.5'}, {'language': 'ru', 'accept': 'en'}])
def test_every_page_in_russian(pages, how, stand_in_builds):
    for what, (status, page) in pages(**how).items():
        assert '<html lang="ru">' in page, what
        assert english_words(page) == [], f'{what} ({status}) still holds English'


def test_every_page_in_english(pages, stand_in_builds):
    for what, (status, page) in pages(accept='en-GB').items():
        assert '<html lang="en">' in page, what
        assert not re.search('[а-яё]', visible(page), re.I), what


def test_every_message_has_its_translation():
    with open(CATALOG, 'rb') as f:
        catalog = read_po(f)
    package = os.path.join(ROOT, 'tools', 'class_set')
    found = {message[2] if isinstance(message[2], str) else message[2][0]
             for message in extract_from_dir(package, [('**.py', 'python'), ('**/templates/**.html', 'jinja2')],
                                             keywords={'N_': None, '_': None, 'gettext': None, 'ngettext': (1, 2),
                                                       'N_plural': (1, 2)})}
    assert found - {m.id if isinstance(m.id, str) else m.id[0] for m in catalog} == set(), 'not in the catalog'
    untranslated = [m.id for m in catalog if m.id and not all(m.string if isinstance(m.string, tuple)
                                                              else [m.string])]
    assert untranslated == []


def test_russian_plurals(make_set, stand_in_builds):
    client = organiser(page_app({'OUT': make_set(), 'LANGUAGE': 'ru', 'PLACES': 21, 'NAME_RATE': 100}))
    answered = 0
    for count in (1, 2, 5, 11, 21, 22):
        for _ in range(count - answered):
            client.post('/', data={'name': 'Bob', 'word': 'x'})
        answered = count
        board = client.get('/board').text
        assert re.search(rf'всего {count} (ответ|ответа|ответов)\b', board).group(1) == \
            {1: 'ответ', 2: 'ответа', 5: 'ответов', 11: 'ответов', 21: 'ответ', 22: 'ответа'}[count]
    assert 'для записи на месте осталось 21 место' in board


def test_reports_as_spreadsheets(make_set, tmp_path, class_set):
    import datetime
    import openpyxl
    out = make_set()
    app = page_app({'OUT': out})
    client = organiser(app)
    link = read_csv(client.get('/board/links.csv').text)[1]['link'].split('8000')[1]
    client.post(link, data={'word': dict(PEOPLE)['Bob']})
    client.post('/', data={'name': 'Анна Петрова', 'word': 'x'})
    report = tmp_path / 'report.xlsx'
    assert class_set('grade', out, '--from-checkins', '--output', str(report), '--language', 'ru')[0] == 0
    sheet = openpyxl.load_workbook(report).active
    rows = list(sheet.values)
    assert rows[0][:4] == ('Имя', 'Папка', 'Итог', 'Ответы')
    assert {r[0]: (r[2], r[3]) for r in rows[1:]} == {'Анна Петрова': ('неверно', 1), 'Bob': ('решено', 1),
                                                      '<b>Carl</b>': ('нет ответа', 0)}
    assert [h for h in rows[0] if h.startswith('Когда удалён(а)')], 'when, as a column says it'
    summary = dict(openpyxl.load_workbook(report)['Итоги'].values)
    assert (summary['Удалено'], summary['Решили'], summary['Решили с опозданием']) == (0, 1, 0), 'counts, as counts'
    board = openpyxl.load_workbook(io.BytesIO(client.get('/board/report.xlsx').data)).active
    header, *people = board.values
    bob = dict(zip((h.split(' (')[0] for h in header), [r for r in people if r[0] == 'Bob'][0]))
    assert isinstance(bob['Solved at'], datetime.datetime) and bob['Answers'] == 1, 'times as times, counts as numbers'
    listed = tmp_path / 'links.xlsx'
    status, _, said = class_set('links', out, '--base', 'http://192.0.2.1:8000/', '--output', str(listed))
    assert status == 0 and '3 links on http://192.0.2.1:8000/, to ' in said
    assert [r[0] for r in openpyxl.load_workbook(listed).active.values][1:] == [name for name, _ in PEOPLE]


def test_slips_in_russian_break_only_between_groups(make_set, tmp_path, class_set):
    out = make_set()
    slips = tmp_path / 'slips.html'
    assert class_set('links', out, '--base', 'http://192.0.2.1:8000/', '--slips', str(slips), '--language', 'ru')[0] == 0
    page = slips.read_text(encoding='utf-8')
    assert '<html lang="ru">' in page and 'Ваша страница PassWord' in page
    assert re.search(r'/p/</span><wbr>(<span class="group">[0-9A-Z]{4}-</span><wbr>){6}'
                     r'<span class="group">[0-9A-Z]{2}</span>', page)
