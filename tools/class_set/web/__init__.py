"""`serve`: a page where people hand in the word they found, by name or
through their own link (the `page` blueprint), and a board behind a key
where the organiser watches the room (the `board` blueprint)."""
import collections
import logging
import os
import threading
import time

from flask import Flask
from werkzeug.exceptions import HTTPException

from ..checkins import Checkins
from ..roster import name_key
from ..records import locked, read_keys, read_set, with_keys
from ..roster import Refusal
from ..walkins import open_set, walk_ins

LIMIT = 4096  # bytes of a request body; the form sends far less
# Nothing from anywhere but the page itself; the pages' one style block inline.
POLICY = "default-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data:; form-action 'self'; " \
         "frame-ancestors 'none'; base-uri 'none'"


class RateLimit:
    """At most `rate` in any 60 seconds for one key (a person, an address):
    a moving window, so no burst slips through at a minute's turn."""

    def __init__(self, rate):
        self.rate, self.seen, self.lock = rate, collections.defaultdict(collections.deque), threading.Lock()

    def wait(self, key):
        """0 and this one is counted, or the seconds until one may be."""
        now = time.monotonic()
        with self.lock:
            times = self.seen[key]
            while times and now - times[0] >= 60:
                times.popleft()
            if len(times) >= self.rate:
                return int(60 - (now - times[0])) + 1
            times.append(now)
            return 0


class Unavailable(Exception):
    """The set could not be read just now: a build is swapping it."""


class Room:
    """What the page and the board share: the set as it is now (a build may
    grow it, a key may be replaced, while serve runs), the answers, the limits."""

    def __init__(self, out, rate, client_rate, places=0, enrol_rate=3):
        self.out, self.store, self.places = out, Checkins(out), places
        self.per_person, self.per_client = RateLimit(rate), RateLimit(client_rate)
        self.enrolments = RateLimit(enrol_rate)
        self.stamp, self.lock = None, threading.Lock()

    def stamp_now(self):
        stamp = []
        for name in ('answers.csv', 'keys.csv', 'walkins.csv'):
            try:
                here = os.stat(os.path.join(self.out, name))
            except FileNotFoundError:
                stamp.append(None)
                continue
            except OSError:
                raise Unavailable()
            stamp.append((here.st_ino, here.st_mtime_ns, here.st_size))
        return tuple(stamp)

    def people(self):
        """(rows, {name key: [rows]}, {key: row}, [walk-ins' names]), read
        again when the records changed."""
        stamp = self.stamp_now()
        with self.lock:
            if stamp != self.stamp:
                try:
                    rows = read_set(self.out, new_ok=False)
                    keys = read_keys(self.out, rows)
                except (Refusal, OSError):
                    raise Unavailable()
                by_name = collections.defaultdict(list)
                for row in rows:
                    by_name[name_key(row['name'])].append(row)
                by_key = {keys[r['name']]: r for r in rows if r['name'] in keys}
                self.stamp, self.current = stamp, (rows, by_name, by_key, walk_ins(self.out))
            return self.current


def create_app(out, rate, client_rate, places=0, enrol_rate=3):
    if places:
        open_set(out, os.cpu_count() or 2)
    with locked(out):  # every person has a key before the first page
        with_keys(out, read_set(out, new_ok=False))
    room = Room(out, rate, client_rate, places, enrol_rate)
    room.people()  # read before the first person waits for it
    app = Flask(__name__)
    app.config['MAX_CONTENT_LENGTH'] = LIMIT
    app.config['BOARD_KEY'] = room.store.key()
    app.extensions['room'] = room
    from .board import board
    from .page import page, problem
    app.register_blueprint(page)
    app.register_blueprint(board)

    @app.errorhandler(Unavailable)
    def unavailable(_):
        return problem(503, 'Just a moment', 'The list is being updated. Try again in a few seconds.',
                       {'Retry-After': '2'})

    @app.errorhandler(HTTPException)
    def http_problem(error):
        if error.code == 413:
            return problem(413, 'Too long', 'That was more than this form ever sends.')
        return problem(error.code, error.name, error.description)

    @app.errorhandler(Exception)
    def unexpected(error):
        app.logger.exception('unexpected error')
        return problem(500, 'Something went wrong', 'Please hand in your answer again.')

    @app.after_request
    def headers(response):
        response.headers['X-Content-Type-Options'] = 'nosniff'
        response.headers['Content-Security-Policy'] = POLICY
        return response

    return app


def addresses():
    """This machine's IPv4 addresses, one per network interface."""
    import psutil
    import socket
    return [a.address for found in psutil.net_if_addrs().values() for a in found if a.family == socket.AF_INET]


def serve(out, host, port, rate, client_rate, places=0, enrol_rate=3):
    import waitress
    app = create_app(out, rate, client_rate, places, enrol_rate)
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
    if places:
        print(f'Open: up to {places} people not on the list may enrol at http://{hosts[0]}:{port}/enrol')
    print(f'Ctrl+C stops it; the answers are kept in {os.path.join(out, "checkins.sqlite")}', flush=True)
    try:
        server.run()
    except KeyboardInterrupt:
        pass
    return 0
