"""Each person's own link, /p/KEY on the check-in page: a CSV of names and
links for a mail merge, and a page of slips to print, a QR code on each."""
import io
import os
import sys
import urllib.parse

import jinja2

from .address import room_base, unreachable
from .checkins import Checkins, remembered_base
from .errors import OK, Refusal, argument
from .files import is_workbook, whole_file, workbook, write_csv
from .language import translations
from .names import name_key
from .keys import append_key, grouped, new_key, with_keys
from .details import one_person, person_named, read_details, told_apart
from .set_folder import locked, read_records, read_set
from .set_files import KEYS, read_walk_ins

TEMPLATES = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'templates')


def checked_base(base):
    """The page's address as people's browsers reach it: http or https."""
    parts = urllib.parse.urlsplit(base)
    if parts.scheme not in ('http', 'https') or not parts.netloc or parts.query or parts.fragment:
        raise Refusal(f'--base {base}: not an http or https address, such as http://ADDRESS:8000/')
    return base.rstrip('/') + '/'


def people_links(rows, keys, base, details, everyone=None):
    """[(name, link)] in the set's order; the name as people are shown,
    namesakes told apart (among `everyone`, the set's rows, where `rows`
    are some of them)."""
    shown_as = told_apart(everyone or rows, details)
    return [(shown_as[row.folder], f'{base}p/{grouped(keys[row.folder])}') for row in rows]


def links_table(out, rows, links):
    """(columns, rows by column) of the links: name, link, 'yes' for a
    walk-in, and the roster's other columns."""
    details, walked_in = read_details(out), {name_key(w.name) for w in read_walk_ins(out)}
    return ['name', 'link', 'walk_in', *details.columns], [
        [name, link, 'yes' if name_key(row.name) in walked_in else '', *details.of(row.folder).values()]
        for row, (name, link) in zip(rows, links)]


def links_workbook(out, rows, links, gettext):
    """The links as a spreadsheet for people: name, link, walk-in, the roster's other columns."""
    columns, table = links_table(out, rows, links)
    header = [gettext('Name'), gettext('Link'), gettext('Walk-in'), *columns[3:]]
    return workbook(gettext('Links'), header, [[name, link, gettext('yes') if walk_in else '', *others]
                                               for name, link, walk_in, *others in table])


def links_csv(out, rows, links):
    """name, link, whether a walk-in, and the roster's other columns: for a
    mail merge, sorted by group or sent to each e-mail."""
    columns, table = links_table(out, rows, links)
    text = io.StringIO()
    write_csv(text, columns, (dict(zip(columns, values)) for values in table))
    return text.getvalue()


def slips_style():
    with open(os.path.join(TEMPLATES, 'slips.css'), encoding='utf-8') as f:
        return f.read()


SHEET = 8  # slips on an A4 sheet


def slip(name, link):
    """What a slip shows: the name (set smaller where it is long), its
    link's address up to the key and the key's groups, the QR code."""
    import segno
    head, key = link.rsplit('/', 1)
    size = 'longest' if len(name) > 100 else 'longer' if len(name) > 70 else 'long' if len(name) > 40 else ''
    return {'name': name, 'size': size,
            'head': head, 'groups': key.split('-'),
            'link_size': 'longer' if len(head) > 52 else 'long' if len(head) > 42 else '',
            'code': segno.make(link, error='m').svg_inline(scale=3, border=2, omitsize=True)}


def slips_page(links, style_href=None, language='en'):
    """A printable page of slips, 8 to a sheet: name, link and its QR code,
    inline SVG, so that it needs no network and nothing but itself; its
    style inline, or at `style_href` where a page's policy allows no
    inline style."""
    slips = [slip(name, link) for name, link in links]
    environment = jinja2.Environment(loader=jinja2.FileSystemLoader(TEMPLATES), autoescape=True,
                                     extensions=['jinja2.ext.i18n'])
    environment.install_gettext_translations(translations(language), newstyle=True)
    return environment.get_template('slips.html').render(
        sheets=[slips[i:i + SHEET] for i in range(0, len(slips), SHEET)], style_href=style_href, language=language,
        style=None if style_href else slips_style())


def links_advice(out, folder):
    """The command to copy that prints one person's link and slip."""
    return f'class-set links {out} --base {remembered_base(out) or "auto"} --only {argument(folder)} --slips slip.html'


def links_command(out, base, output, slips, language='en', only=None):
    base = room_base(8000) if base == 'auto' else checked_base(base)
    with locked(out):
        everyone = read_set(out)
        keys = with_keys(out, everyone)
        details = read_details(out)
        rows = [person_named(everyone, details, only)] if only else everyone
        Checkins(out).remember_base(base)
    links = people_links(rows, keys, base, details, everyone)
    if slips is not None:
        with whole_file(slips, out) as f:
            f.write(slips_page(links, language=language))
    if is_workbook(output):
        with whole_file(output, out, binary=True) as f:
            f.write(links_workbook(out, rows, links, translations(language).gettext))
    else:
        with whole_file(output or '-', out) as f:
            f.write(links_csv(out, rows, links))
    said = [f'{len(links)} links on {base}', f'to {output}' if output and output != '-' else '',
            f'slips to {slips}' if slips else '']
    print(', '.join(s for s in said if s), file=sys.stderr)
    warning = unreachable(base, 'The links\' address')
    if warning:
        print(warning, file=sys.stderr)
    return OK


def rekey_command(out, name, by=None):
    """A new key for one person: their old link stops working at once."""
    with locked(out):
        person = one_person(out, read_details(out), name, by)  # a key changes, and nothing in handout/
        if not os.path.exists(os.path.join(out, KEYS)):
            # A set made before keys: everyone's, before one is replaced.
            with_keys(out, read_records(out))
        append_key(out, person, new_key())
    print(f'{person.name} has a new key; the old link no longer works. {links_advice(out, person.folder)} '
          'prints their new link and slip.')
    return OK
