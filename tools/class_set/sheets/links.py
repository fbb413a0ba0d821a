"""Each person's own link, /p/KEY on the check-in page: a CSV of names and
links for a mail merge, and a page of slips to print, a QR code on each."""
import io
import os

from ..language import translations
from ..set.details import read_details
from ..set.keys import grouped
from ..set.people import labels
from .office import Table
from .tables import write_csv


TEMPLATES = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'templates')


def people_links(people, base, everyone=None):
    """Return [(name, link)] of each Person, in the set's order; the name as
    people are shown, namesakes told apart (among `everyone`, the set's people,
    where `people` are some of them)."""
    shown_as = labels(everyone or people)
    return [(shown_as[p.folder], f'{base}p/{grouped(p.key)}') for p in people]


def links_table(out, people, links):
    """Return (columns, rows by column) of the links: name, link, 'yes' for a
    walk-in, and the roster's other columns."""
    columns = read_details(out).columns
    return ['name', 'link', 'walk_in', *columns], [
        [name, link, 'yes' if p.walk_in else '', *(p.value(c) for c in columns)]
        for p, (name, link) in zip(people, links)]


def links_sheet(out, people, links, gettext):
    """Return the links as a spreadsheet's Table for people: name, link,
    walk-in, the roster's other columns (their numbers as numbers)."""
    columns, table = links_table(out, people, links)
    header = [gettext('Name'), gettext('Link'), gettext('Walk-in'), *columns[3:]]
    return Table(gettext('Links'), header, [[name, link, gettext('yes') if walk_in else '', *others]
                                            for name, link, walk_in, *others in table], frozenset(range(3, len(header))))


def links_csv(out, people, links):
    """name, link, whether a walk-in, and the roster's other columns: for a
    mail merge, sorted by group or sent to each e-mail."""
    columns, table = links_table(out, people, links)
    text = io.StringIO()
    write_csv(text, columns, (dict(zip(columns, values)) for values in table))
    return text.getvalue()


def slips_style():
    """Return the slips' style sheet."""
    with open(os.path.join(TEMPLATES, 'slips.css'), encoding='utf-8') as f:
        return f.read()


SHEET = 8  # slips on an A4 sheet


def slip(name, link):
    """Return what a slip shows: the name (set smaller where it is long), its
    link's address up to the key and the key's groups, the QR code."""
    import segno
    head, key = link.rsplit('/', 1)
    size = 'longest' if len(name) > 100 else 'longer' if len(name) > 70 else 'long' if len(name) > 40 else ''
    return {'name': name, 'size': size,
            'head': head, 'groups': key.split('-'),
            'link_size': 'longer' if len(head) > 52 else 'long' if len(head) > 42 else '',
            'code': segno.make(link, error='m').svg_inline(scale=3, border=2, omitsize=True)}


def slips_page(links, style_href=None, language='en'):
    """Return a printable page of slips, 8 to a sheet: name, link and its QR
    code, inline SVG, so that it needs no network and nothing but itself; its
    style inline, or at `style_href` where a page's policy allows no inline
    style."""
    import jinja2
    slips = [slip(name, link) for name, link in links]
    environment = jinja2.Environment(loader=jinja2.FileSystemLoader(TEMPLATES), autoescape=True,
                                     extensions=['jinja2.ext.i18n'])
    environment.install_gettext_translations(translations(language), newstyle=True)
    return environment.get_template('slips.html').render(
        sheets=[slips[i:i + SHEET] for i in range(0, len(slips), SHEET)], style_href=style_href, language=language,
        style=None if style_href else slips_style())


