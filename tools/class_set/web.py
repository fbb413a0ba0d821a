"""`serve`: a page where people hand in the word they found, and a board,
behind a key, where the organiser watches the room."""
import collections
import csv
import fcntl
import hmac
import io
import logging
import os
import socket
import struct
import threading
import time
import urllib.parse

from flask import Flask, Response, abort, render_template, request
from werkzeug.exceptions import HTTPException

from .checkins import Checkins
from .grading import REPORT, grade, name_key
from .records import read_set
from .roster import Refusal

FORM = 'application/x-www-form-urlencoded'
LIMIT = 4096  # bytes of a request body; the form sends far less


class RateLimit:
    """At most `rate` answers in any 60 seconds from one client address."""

    def __init__(self, rate):
        self.rate, self.seen, self.lock = rate, collections.defaultdict(collections.deque), threading.Lock()

    def wait(self, client):
        """0 and the answer is counted, or the seconds until one may be."""
        now = time.monotonic()
        with self.lock:
            times = self.seen[client]
            while times and now - times[0] >= 60:
                times.popleft()
            if len(times) >= self.rate:
                return int(60 - (now - times[0])) + 1
            times.append(now)
            return 0


class Unavailable(Exception):
    """The set could not be read just now: a build is swapping it."""


def create_app(out, rate):
    read_set(out, new_ok=False)
    store = Checkins(out)
    limit = RateLimit(rate)
    app = Flask(__name__)
    app.config['MAX_CONTENT_LENGTH'] = LIMIT
    app.config['BOARD_KEY'] = store.key()

    # The set as it is now: a build may grow it while serve runs.
    current = {'stamp': None}
    reading = threading.Lock()

    def the_set():
        """(rows, {name key: [rows]}), read again when answers.csv changed."""
        try:
            here = os.stat(os.path.join(out, 'answers.csv'))
            stamp = (here.st_ino, here.st_mtime_ns, here.st_size)
        except OSError:
            raise Unavailable()
        with reading:
            if stamp != current['stamp']:
                try:
                    rows = read_set(out, new_ok=False)
                except (Refusal, OSError):
                    raise Unavailable()
                people = collections.defaultdict(list)
                for row in rows:
                    people[name_key(row['name'])].append(row)
                current.update(stamp=stamp, rows=rows, people=people)
            return current['rows'], current['people']

    def problem(status, title, message):
        return render_template('problem.html', title=title, message=message), status

    @app.errorhandler(Unavailable)
    def unavailable(_):
        page, status = problem(503, 'Just a moment', 'The list is being updated. Try again in a few seconds.')
        return page, status, {'Retry-After': '2'}

    @app.errorhandler(HTTPException)
    def http_problem(error):
        if error.code == 413:
            return problem(413, 'Too long', 'That was more than this form ever sends.')
        return problem(error.code, error.name, error.description)

    @app.errorhandler(Exception)
    def unexpected(error):
        app.logger.exception('unexpected error')
        return problem(500, 'Something went wrong', 'Please hand in your answer again.')

    @app.get('/')
    def form():
        return render_template('answer.html', name='')

    @app.post('/')
    def answer():
        if request.mimetype != FORM:
            return problem(400, 'Bad request', 'Send the form from this page.')
        body = request.stream.read(LIMIT + 1)
        if len(body) > LIMIT:
            abort(413)
        try:
            fields = urllib.parse.parse_qs(body.decode('utf-8'), keep_blank_values=True, errors='strict')
        except UnicodeDecodeError:
            return problem(400, 'Bad request', 'The form came in a text encoding other than UTF-8.')
        name, word = fields.get('name', [None])[0], fields.get('word', [None])[0]
        if name is None or word is None:
            return problem(400, 'Bad request', 'A field of the form is missing.')
        if not name.strip() or not word.strip():
            return problem(400, 'Bad request', 'Fill in both your name and the password.')
        wait = limit.wait(request.remote_addr)
        if wait:
            page, status = problem(429, 'Too many answers',
                                   f'Too many answers from here in a minute. Try again in {wait} seconds.')
            return page, status, {'Retry-After': str(wait)}
        matched = the_set()[1].get(name_key(name), [])
        if len(matched) != 1:
            message = ('More than one person on the list has that name; type it exactly as on the list.'
                       if matched else 'No one of that name is on the list. Type your name as it is there.')
            return render_template('answer.html', name=name, message=message)
        person = matched[0]
        correct = word.strip() == person['password']
        store.add(name, person['name'], request.remote_addr, word, correct)
        return render_template('answer.html', name=name, verdict='right' if correct else 'wrong')

    def graded():
        """grade's report from the check-ins, its counts and passed-around
        passwords, and when each person solved."""
        answers = store.answers()
        solved_at = {}
        for _, at, _, person, _, correct in answers:
            if correct and person not in solved_at:
                solved_at[person] = time.strftime('%H:%M:%S', time.localtime(at))
        report, counts, passed, _ = grade(the_set()[0], [(f'check-in {i}', typed, word) for i, _, typed, _, word, _ in answers])
        return report, counts, passed, solved_at

    def check_key():
        if not hmac.compare_digest(request.args.get('key', '').encode(), app.config['BOARD_KEY'].encode()):
            abort(403, 'The board needs the key that serve printed.')

    @app.get('/board')
    def board():
        check_key()
        report, counts, passed, solved_at = graded()
        for row in report:
            row['solved_at'] = solved_at.get(row['name'], '')
        return render_template('board.html', report=report, counts=counts, passed=passed,
                               key=app.config['BOARD_KEY'], now=time.strftime('%H:%M:%S'))

    @app.get('/board.csv')
    def board_csv():
        check_key()
        text = io.StringIO()
        writer = csv.DictWriter(text, REPORT, lineterminator='\r\n')
        writer.writeheader()
        writer.writerows(graded()[0])
        return Response(text.getvalue(), mimetype='text/csv',
                        headers={'Content-Disposition': 'attachment; filename="report.csv"'})

    return app


def addresses():
    """This machine's IPv4 addresses, one per network interface."""
    found = []
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        for _, name in socket.if_nameindex():
            try:
                packed = fcntl.ioctl(s.fileno(), 0x8915, struct.pack('256s', name.encode()[:15]))  # SIOCGIFADDR
            except OSError:
                continue
            found.append(socket.inet_ntoa(packed[20:24]))
    return found


def serve(out, host, port, rate):
    import waitress
    app = create_app(out, rate)
    # A queue of waiting requests is the normal state of a busy room.
    logging.getLogger('waitress.queue').setLevel(logging.ERROR)
    try:
        server = waitress.create_server(app, host=host, port=port, threads=8, ident=None)
    except (OSError, ValueError) as e:
        raise Refusal(f'cannot listen on {host}:{port} ({getattr(e, "strerror", None) or e})')
    hosts = addresses() if host in ('0.0.0.0', '') else [host]
    # An IPv6 address goes in brackets, or no browser opens it.
    hosts = [f'[{h}]' if ':' in h else h for h in hosts]
    print('People hand in their answers at:')
    for address in hosts:
        print(f'  http://{address}:{port}/')
    print(f'The board (keep this address to yourself):\n  http://{hosts[0]}:{port}/board?key={app.config["BOARD_KEY"]}')
    print(f'Ctrl+C stops it; the answers are kept in {os.path.join(out, "checkins.sqlite")}', flush=True)
    try:
        server.run()
    except KeyboardInterrupt:
        pass
    return 0
