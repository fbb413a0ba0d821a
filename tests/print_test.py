"""What a person prints and scans: a class's slips printed to PDF by
headless Chromium, every slip's parts measured against its box in print,
each sheet one page, and every QR code read back."""
import base64
import glob
import re
import subprocess

import pytest


# A Russian class as a teacher's export has it, with the longest names of the day.
CLASS = ['Смирнова Екатерина Ильинична', 'Римский-Корсаков Николай Андреевич', 'Соколова-Бельская Анастасия Игоревна',
         'Дмитриев Кирилл Андреевич', 'Иванов Иван Иванович (Номер зачётки: 1002)',
         'Иванов Иван Иванович (Номер зачётки: 1003)', 'Мухаммадали Абдурахмонов Шерзодбек Илхомжон угли',
         'Ли', "José O'Neil, Jr.", 'Жан-Батист ' * 9, 'А' * 64, 'Б' * 100,
         'Ахмедова-Ганиева Гульнара Рустамовна Каримовна Сабировна Тошкентская Ташкентская Мирзо-Улугбекская'] + \
        [f'Студентова Студентка Студентовна {i}' for i in range(17)]


def a4():
    """A4 paper with the margins of the slips' own page style, as a person's browser prints them."""
    from selenium.webdriver.common.print_page_options import PrintOptions
    options = PrintOptions()
    options.page_width, options.page_height = 21.0, 29.7
    options.margin_top = options.margin_bottom = options.margin_left = options.margin_right = 1.2
    return options


@pytest.mark.parametrize('base', ['http://127.0.0.23:8000/', 'https://checkin.example-school-number-1234.localhost:8443/'])
def test_every_slip_prints_whole(browser, tmp_path, base):
    from class_set.sheets.links import SHEET, slips_page
    links = [(name[:100], f'{base}p/7KQM-4X9T-ABCD-EFGH-JKMN-PQRS-{i:02d}') for i, name in enumerate(CLASS)]
    (tmp_path / 'slips.html').write_text(slips_page(links, language='ru'), encoding='utf-8')
    browser.get((tmp_path / 'slips.html').as_uri())
    browser.execute_cdp_cmd('Emulation.setEmulatedMedia', {'media': 'print'})
    outside = browser.execute_script('''
        const box = e => e.getBoundingClientRect();
        const within = (a, b) => a.left >= b.left - 0.5 && a.right <= b.right + 0.5 && a.top >= b.top - 0.5
            && a.bottom <= b.bottom + 0.5;
        const found = [];
        for (const sheet of document.querySelectorAll('.sheet'))
            for (const slip of sheet.querySelectorAll('.slip')) {
                const name = slip.querySelector('.name').textContent;
                if (!within(box(slip), box(sheet))) found.push(`${name}: its slip is off the sheet`);
                for (const part of slip.querySelectorAll('.name, .middle, .link, .group, svg, p'))
                    if (!within(box(part), box(slip))) found.push(`${name}: ${part.tagName} crosses the cut line`);
                for (const group of slip.querySelectorAll('.group'))
                    if (group.getClientRects().length > 1) found.push(`${name}: an address breaks inside a group`);
            }
        return found;''')
    assert outside == []
    sheets = -(-len(CLASS) // SHEET)
    page_height = browser.execute_script(
        "return [...document.querySelectorAll('.sheet')].map(s => s.getBoundingClientRect().height)")
    assert len(page_height) == sheets and max(page_height) <= (297 - 24) / 25.4 * 96, 'a sheet fits a page'
    pdf = tmp_path / 'slips.pdf'
    pdf.write_bytes(base64.b64decode(browser.print_page(a4())))
    info = subprocess.run(['pdfinfo', str(pdf)], capture_output=True, text=True, check=True).stdout
    assert re.search(r'^Pages: +(\d+)', info, re.M).group(1) == str(sheets), 'one page a sheet'
    pages = [subprocess.run(['pdftotext', '-f', str(n), '-l', str(n), str(pdf), '-'], capture_output=True,
                            text=True, check=True).stdout for n in range(1, sheets + 1)]
    for i, (name, _) in enumerate(links):
        assert name.split()[0][:20] in pages[i // SHEET].replace('\n', ' '), f'{name} on its page'
    subprocess.run(['pdftoppm', '-r', '150', '-png', str(pdf), str(tmp_path / 'sheet')], check=True)
    scanned = subprocess.run(['zbarimg', '-q', '--raw', *glob.glob(str(tmp_path / 'sheet*.png'))],
                             capture_output=True, text=True).stdout.split()
    assert sorted(scanned) == sorted(link for _, link in links)
