"""The organiser's board, behind the key that serve printed: everyone's
result, the report as CSV, and everyone's link as CSV or slips to print."""

import hmac
import io
import urllib.parse

from flask import Blueprint, Response, abort, current_app, redirect, render_template, request, url_for
from flask_babel import get_locale, gettext

from .. import times
from ..language import N_
from ..set import grading
from ..set import walkins
from ..set.groups import beside, of_group
from ..set.store import space
from ..sheets.links import links_csv, people_links, slips_page, slips_style
from ..sheets.report import graded, words
from ..sheets.office import spreadsheet
from ..sheets.tables import write_csv
from .chart import solutions_chart
from .clockface import face
from .problems import keyed, problem
from .standing import TRIED, NoSuchGroup, clock, cut


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


@board.errorhandler(NoSuchGroup)
def no_such_group(error):
    """Return the problem page of a group the roster does not have, with those it has."""
    return problem(404, N_('No such group'), N_('The roster has no group "%(group)s". Its groups: %(groups)s.'),
                   group=error.wanted, groups=', '.join(error.groups) or '-')


def asked_group():
    """Return (the roster's column of groups, the group that ?group= names
    as the roster writes it: '' for everyone); NoSuchGroup for none such."""
    column = current_app.extensions['room'].group_column()
    return column, current_app.extensions['standing'].group(column, request.args.get('group', '').strip())


def in_asked_group(everyone):
    """Return the Persons of `everyone` of the group the address asks for (all where none), and the group."""
    column, group = asked_group()
    return ([p for p in everyone if of_group(p, column, group)] if group else list(everyone)), group


def board_report():
    """grade's Report from the check-ins, with when each downloaded; of
    the group the address asks for alone, where it asks for one."""
    room = current_app.extensions['room']
    answers, people = room.store.answers(), room.people()
    report = graded(room.out, people, grading.from_store(answers), downloads=room.store.downloads())
    members, group = in_asked_group((*people.here, *people.gone))
    return (report.cut({p.folder for p in members}) if group else report), group


def attachment(data, mimetype, filename, group=''):
    """Return a download: `data` as `filename` (of a group: report-ИБ-21.csv), not kept by the browser."""
    filename = beside(filename, group) if group else filename
    said = f'attachment; filename="{filename.encode("ascii", "replace").decode()}"'
    if not filename.isascii():  # RFC 6266: browsers take the UTF-8 name
        said += f"; filename*=UTF-8''{urllib.parse.quote(filename)}"
    return keyed(Response(data, mimetype=mimetype, headers={'Content-Disposition': said}))


@board.get('/board')
def show():
    """Return the board: the counts, the passwords passed around, names tried, and a page of people."""
    room = current_app.extensions['room']
    column = room.group_column()
    shown = current_app.extensions['standing'].board(request.args.get('q', '').strip(),
                                                     request.args.get('page', 1, type=int), column,
                                                     request.args.get('group', '').strip())
    people = room.people()
    places = room.places - len(people.walk_ins) if room.places else None
    turned, latest = room.store.turned_away(TRIED)
    return keyed(Response(render_template('board.html', **shown, query=request.args.get('q', '').strip(),
                                          words=words(gettext), places=places, walk_ins=walk_ins(),
                                          now=times.clock(times.now()), space=disk_space(len(people.here)),
                                          clock=face(room.store), column=column, turned=turned,
                                          sent=[(cut(name), clock(at), client) for at, name, client in latest])))


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
    room = current_app.extensions['room']
    counts, _, group = current_app.extensions['standing'].wall(room.group_column(),
                                                               request.args.get('group', '').strip())
    return keyed(Response(render_template('wall.html', counts=counts, now=times.clock(times.now()),
                                          clock=face(room.store), group=group)))


@board.get('/board/wall.svg')
def wall_chart():
    """Return the wall's chart of solutions over time, an image of its own."""
    room = current_app.extensions['room']
    _, solved, _ = current_app.extensions['standing'].wall(room.group_column(), request.args.get('group', '').strip())
    kept = room.store.clock()
    response = keyed(Response(solutions_chart(solved, gettext, kept.opens, kept.closes), mimetype='image/svg+xml'))
    # An image: its own style inline, and no script of the chart's runs.
    response.headers['Content-Security-Policy'] = "default-src 'none'; style-src 'unsafe-inline'"
    return response


@board.get('/board/report.xlsx')
def report_xlsx():
    """grade's report as a workbook, in the board's language."""
    report, group = board_report()
    data = spreadsheet('.xlsx', report.table(gettext))
    return attachment(data, 'application/vnd.openxmlformats-officedocument.spreadsheetml.sheet', 'report.xlsx', group)


@board.get('/board.csv')
def report_csv():
    """grade's report as CSV."""
    text = io.StringIO()
    report, group = board_report()
    report.csv(text)
    return attachment(text.getvalue(), 'text/csv', 'report.csv', group)


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
    """Return everyone's link (of the group the address asks for), on the
    address serve was told (--base) or found: never one that a client's
    Host header chose; and the group."""
    room = current_app.extensions['room']
    people = room.people()
    members, group = in_asked_group(people.here)
    linked = [p for p in members if p.key]  # a walk-in whose key is a moment behind: next time
    return linked, people_links(linked, current_app.config['BASE'].rstrip('/') + '/', people.here), group


@board.get('/board/links.csv')
def links_download():
    """Return everyone's link as CSV."""
    linked, links, group = everyones_links()
    return attachment(links_csv(current_app.extensions['room'].out, linked, links), 'text/csv', 'links.csv', group)


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
