"""The organiser's board, behind the key that serve printed: everyone's
result, the report as CSV, and everyone's link as CSV or slips to print."""

import hmac
import io

from flask import Blueprint, Response, abort, current_app, redirect, render_template, request, url_for
from flask_babel import get_locale, gettext

from .. import times
from ..set import grading
from ..set import walkins
from ..set.store import space
from ..sheets.links import links_csv, people_links, slips_page, slips_style
from ..sheets.report import graded, words
from ..sheets.office import spreadsheet
from ..sheets.tables import write_csv
from .clockface import face
from .problems import keyed


board = Blueprint('board', __name__)
COOKIE = 'board'


@board.before_request
def check_key():
    """Return the key serve printed, once in the address: it becomes a cookie
    that scripts cannot read and other sites cannot send, and the address loses
    it, so that a board on the projector shows none. Then the cookie alone."""
    key = current_app.extensions['room'].store.key().encode()
    given = request.args.get('key')
    if given is not None and hmac.compare_digest(given.encode(), key):
        response = redirect(request.path, 303)
        response.set_cookie(COOKIE, given, httponly=True, samesite='Strict', path='/')
        return response
    if given is not None or not hmac.compare_digest(request.cookies.get(COOKIE, '').encode(), key):
        abort(403, 'The board needs the key that serve printed.')
    return None


def board_report():
    """grade's Report from the check-ins, with when each downloaded."""
    room = current_app.extensions['room']
    answers, people = room.store.answers(), room.people()
    return graded(room.out, people, grading.from_store(answers), downloads=room.store.downloads())


def attachment(text, mimetype, filename):
    """Return a download: `text` as `filename`, not kept by the browser."""
    return keyed(Response(text, mimetype=mimetype, headers={'Content-Disposition': f'attachment; filename="{filename}"'}))


@board.get('/board')
def show():
    """Return the board: the counts, the passwords passed around, names tried, and a page of people."""
    room = current_app.extensions['room']
    shown = current_app.extensions['standing'].board(request.args.get('q', '').strip(),
                                                     request.args.get('page', 1, type=int))
    people = room.people()
    places = room.places - len(people.walk_ins) if room.places else None
    return keyed(Response(render_template('board.html', **shown, query=request.args.get('q', '').strip(),
                                          words=words(gettext), places=places, walk_ins=walk_ins(),
                                          now=times.clock(times.now()), space=disk_space(len(people.here)),
                                          clock=face(room.store))))


def disk_space(people):
    """Return what the board says of the disk: (since when it has been full, or
    None; MiB free where that is less than an hour of answers, or None)."""
    found = space(current_app.extensions['room'].store, people)
    return {'full_since': found.full_since and times.clock(times.at(found.full_since)),
            'free': mebibytes(found.free) if found.short else None, 'hour': mebibytes(found.hour)}


def mebibytes(size):
    """Return a size in MiB as the board says it."""
    return f'{size / 2**20:.1f}' if size < 10 * 2**20 else f'{size // 2**20}'


@board.get('/board/wall')
def wall():
    """Return the board for the wall: how far the room has got, in large type,
    and its solutions over time; no names, nothing anyone typed."""
    counts, _ = current_app.extensions['standing'].wall()
    return keyed(Response(render_template('wall.html', counts=counts, now=times.clock(times.now()),
                                          clock=face(current_app.extensions['room'].store))))


@board.get('/board/wall.svg')
def wall_chart():
    """Return the wall's chart of solutions over time, an image of its own."""
    _, solved = current_app.extensions['standing'].wall()
    opens = current_app.extensions['room'].store.clock().opens
    response = keyed(Response(solutions_chart(solved, gettext, opens), mimetype='image/svg+xml'))
    # An image: its own style inline, and no script of the chart's runs.
    response.headers['Content-Security-Policy'] = "default-src 'none'; style-src 'unsafe-inline'"
    return response


def solutions_chart(solved, gettext, opens=None):
    """Return the solutions so far over time, as pygal draws them in SVG."""
    import pygal
    from pygal.style import Style
    style = Style(font_family='sans-serif', background='white', plot_background='white', colors=('#1b6e20',),
                  title_font_size=22, label_font_size=16, major_label_font_size=16, no_data_font_size=24)
    chart = pygal.DateTimeLine(width=900, height=340, show_legend=False, js=[], style=style, fill=True,
                               title=gettext('Solutions over time'), no_data_text=gettext('No solutions yet'),
                               x_value_formatter=lambda at: at.strftime('%H:%M'), dots_size=3)
    # pygal takes a time without a zone for UTC and shows it as it is: the local clock.
    # From the opening, where there is one: the room's time, not the first solution's.
    points = ([(opens.timestamp(), 0)] if opens and solved else []) + [(at, i) for i, at in enumerate(solved, 1)]
    chart.add(gettext('Solved'), [(times.local(times.at(at)).replace(tzinfo=None), i) for at, i in points])
    return chart.render()


@board.get('/board/report.xlsx')
def report_xlsx():
    """grade's report as a workbook, in the board's language."""
    data = spreadsheet('.xlsx', board_report().table(gettext))
    return attachment(data, 'application/vnd.openxmlformats-officedocument.spreadsheetml.sheet', 'report.xlsx')


@board.get('/board.csv')
def report_csv():
    """grade's report as CSV."""
    text = io.StringIO()
    board_report().csv(text)
    return attachment(text.getvalue(), 'text/csv', 'report.csv')


@board.get('/board/tried.csv')
def tried_csv():
    """Return every answer under a name on nobody's list: when, the name, from where."""
    text = io.StringIO()
    write_csv(text, ['time', 'name', 'address'], ({'time': times.stamp(times.at(a.time)),
                                                   'name': a.typed, 'address': a.client}
                                                  for a in current_app.extensions['room'].store.answers()
                                                  if a.person is None))
    return attachment(text.getvalue(), 'text/csv', 'tried.csv')


def everyones_links():
    """Return everyone's link, on the address serve was told (--base) or found:
    never one that a client's Host header chose."""
    room = current_app.extensions['room']
    people = room.people()
    linked = [p for p in people.here if p.key]  # a walk-in whose key is a moment behind: next time
    return linked, people_links(linked, current_app.config['BASE'].rstrip('/') + '/', people.here)


@board.get('/board/links.csv')
def links_download():
    """Return everyone's link as CSV."""
    return attachment(links_csv(current_app.extensions['room'].out, *everyones_links()), 'text/csv', 'links.csv')


@board.get('/board/slips')
def slips():
    """Return everyone's slip, to print."""
    return keyed(Response(slips_page(everyones_links()[1], url_for('board.slips_css'), str(get_locale()))))


@board.get('/board/slips.css')
def slips_css():
    """Return the slips' style."""
    return Response(slips_style(), mimetype='text/css')


def walk_ins():
    """Return [(name, time, address)] of those who enrolled at the page."""
    return [(w.name, times.said(w.time), w.address) for w in walkins.read(current_app.extensions['room'].out)]
