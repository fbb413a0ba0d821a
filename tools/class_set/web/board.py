"""The organiser's board, behind the key that serve printed: everyone's
result, the report as CSV, and everyone's link as CSV or slips to print."""
import csv
import hmac
import io
import time

from flask import Blueprint, Response, abort, current_app, render_template, request

from ..files import as_text
from ..grading import REPORT, Handed, grade
from ..links import links_csv, people_links, slips_page
from .problems import keyed

board = Blueprint('board', __name__)


@board.before_request
def check_key():
    if not hmac.compare_digest(request.args.get('key', '').encode(), current_app.config['BOARD_KEY'].encode()):
        abort(403, 'The board needs the key that serve printed.')


def clock(at):
    return time.strftime('%H:%M:%S', time.localtime(at)) if at else ''


def graded():
    """grade's report from the check-ins, its counts and passed-around
    passwords, and for each person when they downloaded, when they solved
    and how they answered (through their link, by name)."""
    room = current_app.extensions['room']
    answers = room.store.answers()
    solved_at, ways = {}, {}
    for answer in answers:
        if answer.correct and answer.person not in solved_at:
            solved_at[answer.person] = answer.time
        ways.setdefault(answer.person, set()).add(answer.via)
    people = room.people()
    report, counts, passed, _ = grade(people.rows, [Handed(f'check-in {a.id}', a.typed, a.word) for a in answers])
    downloads, walked_in = room.store.downloads(), set(people.walk_ins)
    for row in report:
        row['walk_in'] = row['name'] in walked_in
        row.update(solved_at=clock(solved_at.get(row['name'])), downloaded=clock(downloads.get(row['name'])),
                   via=', '.join(sorted(ways.get(row['name'], ()))))
    return report, counts, passed


def attachment(text, mimetype, filename):
    return keyed(Response(text, mimetype=mimetype, headers={'Content-Disposition': f'attachment; filename="{filename}"'}))


@board.get('/board')
def show():
    room = current_app.extensions['room']
    report, counts, passed = graded()
    places = room.places - len(room.people().walk_ins) if room.places else None
    return keyed(Response(render_template('board.html', report=report, counts=counts, passed=passed, places=places,
                                          key=current_app.config['BOARD_KEY'], now=time.strftime('%H:%M:%S'))))


@board.get('/board.csv')
def report_csv():
    text = io.StringIO()
    writer = csv.DictWriter(text, REPORT, lineterminator='\r\n', extrasaction='ignore')
    writer.writeheader()
    writer.writerows(as_text(row) for row in graded()[0])
    return attachment(text.getvalue(), 'text/csv', 'report.csv')


def everyones_links():
    """Everyone's link, on the address the organiser's browser used."""
    people = current_app.extensions['room'].people()
    keys = {row.name: key for key, row in people.by_key.items()}
    return people_links(people.rows, keys, request.host_url)


@board.get('/board/links.csv')
def links_download():
    return attachment(links_csv(everyones_links()), 'text/csv', 'links.csv')


@board.get('/board/slips')
def slips():
    return keyed(Response(slips_page(everyones_links())))
