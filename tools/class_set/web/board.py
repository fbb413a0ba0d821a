"""The organiser's board, behind the key that serve printed: everyone's
result, the report as CSV, and everyone's link as CSV or slips to print."""
import csv
import datetime
import hmac
import io
import time

from flask import Blueprint, Response, abort, current_app, redirect, render_template, request, url_for
from flask_babel import get_locale, gettext

from .. import grading
from ..files import as_text
from ..links import links_csv, people_links, slips_page, slips_style
from ..walkin_list import read_walk_ins
from .problems import keyed
from .standing import clock

board = Blueprint('board', __name__)
COOKIE = 'board'


@board.before_request
def check_key():
    """The key serve printed, once in the address: it becomes a cookie that
    scripts cannot read and other sites cannot send, and the address loses
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


def graded():
    """grade's report from the check-ins, its counts and passed-around
    passwords, the roster's other columns, and for each person when they
    downloaded and when they solved."""
    room = current_app.extensions['room']
    answers, people = room.store.answers(), room.people()
    # Answers kept before folders were tell whose by the name.
    folder_of = {r.name: r.folder for r in people.rows}
    solved_at = {}
    for answer in answers:
        folder = answer.folder or folder_of.get(answer.person)
        if answer.correct and folder not in solved_at:
            solved_at[folder] = answer.time
    report, counts, passed, _, columns = grading.graded(room.out, people.rows, grading.from_store(answers))
    downloads = room.store.downloads()
    for row in report:
        f = row['folder']
        row.update(solved_at=clock(solved_at.get(f)), downloaded=clock(downloads.get(f) or downloads.get(row['name'])))
    return report, counts, passed, columns


def attachment(text, mimetype, filename):
    return keyed(Response(text, mimetype=mimetype, headers={'Content-Disposition': f'attachment; filename="{filename}"'}))


@board.get('/board')
def show():
    room = current_app.extensions['room']
    shown = current_app.extensions['standing'].board(request.args.get('q', '').strip(),
                                                     request.args.get('page', 1, type=int))
    places = room.places - len(room.people().walk_ins) if room.places else None
    return keyed(Response(render_template('board.html', **shown, query=request.args.get('q', '').strip(),
                                          words=grading.words(gettext), places=places, walk_ins=walk_ins(),
                                          now=time.strftime('%H:%M:%S'))))


@board.get('/board/report.xlsx')
def report_xlsx():
    report, _, _, columns = graded()
    for row in report:  # times as times
        for column in ('solved_at', 'downloaded'):
            row[column] = datetime.time.fromisoformat(row[column]) if row[column] else None
    data = grading.report_workbook(report, ['name', 'folder', 'result', 'solved_at', 'answers', 'answered_by',
                                            'handed_in_others', 'others_handed_in_theirs', 'claimed_by_name',
                                            'downloaded', 'walk_in', *columns], gettext)
    return attachment(data, 'application/vnd.openxmlformats-officedocument.spreadsheetml.sheet', 'report.xlsx')


@board.get('/board.csv')
def report_csv():
    report, _, _, columns = graded()
    text = io.StringIO()
    writer = csv.DictWriter(text, grading.REPORT + columns, lineterminator='\r\n', extrasaction='ignore')
    writer.writeheader()
    writer.writerows(as_text(row) for row in report)
    return attachment(text.getvalue(), 'text/csv', 'report.csv')


def everyones_links():
    """Everyone's link, on the address serve was told (--base) or found:
    never one that a client's Host header chose."""
    people = current_app.extensions['room'].people()
    keys = {row.folder: key for key, row in list(people.by_key.items())}
    rows = [row for row in people.rows if row.folder in keys]  # a walk-in whose key is a moment behind: next time
    return rows, people_links(rows, keys, current_app.config['BASE'].rstrip('/') + '/')


@board.get('/board/links.csv')
def links_download():
    return attachment(links_csv(current_app.extensions['room'].out, *everyones_links()), 'text/csv', 'links.csv')


@board.get('/board/slips')
def slips():
    return keyed(Response(slips_page(everyones_links()[1], url_for('board.slips_css'), str(get_locale()))))


@board.get('/board/slips.css')
def slips_css():
    return Response(slips_style(), mimetype='text/css')


def walk_ins():
    """[(name, time, address)] of those who enrolled at the page."""
    return [(w.name, w.time, w.address) for w in read_walk_ins(current_app.extensions['room'].out)]
