"""The check-in page: where people hand in the word they found, by name or
through their own link (the `page` blueprint), and a board behind a key
where the organiser watches the room (the `board` blueprint). It uses the
set, the programs (a walk-in's) and the sheets; no command.

A new page: a route in page.py (for people) or board.py (for the
organiser), and its template in templates/, which escapes what it shows."""
import errno
import os
import urllib.parse

from flask import Flask, current_app, request
from flask_babel import Babel, get_locale
from werkzeug.exceptions import HTTPException, default_exceptions
from werkzeug.middleware.proxy_fix import ProxyFix

from ..language import LANGUAGES, N_, compiled
from ..limits import DEFAULTS as LIMITS
from ..set.store import Busy, DiskFull
from .board import board
from .page import page
from .problems import keyed, problem
from .room import LIMIT, Room, Unavailable
from .standing import Standing


# Nothing from anywhere but the page itself, no inline style or script.
POLICY = "default-src 'self'; img-src 'self' data:; form-action 'self'; frame-ancestors 'none'; base-uri 'none'"
# Problems said in the page's own words, which it has in every language.
OWN_WORDS = {400: (N_('Bad request'), N_('That request could not be read. Send the form from this page.')),
             403: (N_('Not allowed'), N_('The board needs the key that serve printed.')),
             404: (N_('Not found'), N_('There is no such page here. Check the address on your slip.')),
             405: (N_('Not allowed'), N_('That page is not used that way.')),
             413: (N_('Too long'), N_('That was more than this form ever sends.')),
             431: (N_('Too long'), N_('That was more than this form ever sends.')),
             500: (N_('Something went wrong'), N_('Please hand in your answer again.')),
             501: (N_('Bad request'), N_('That request could not be read. Send the form from this page.'))}
DEFAULTS = {**{key: value for key, value in LIMITS.items() if key.isupper()}, 'PLACES': 0, 'LINKS_ONLY': False,
            'JOBS': os.cpu_count() or 2, 'BASE': 'http://127.0.0.1:8000/', 'LANGUAGE': None, 'TRUSTED_PROXY': ()}


def create_app(config):
    """Return the page and the board of a set ready to serve (see
    serving.ready). config: OUT, the set, and what of DEFAULTS to change."""
    app = Flask(__name__)
    app.config.from_mapping(DEFAULTS, MAX_CONTENT_LENGTH=LIMIT, BABEL_TRANSLATION_DIRECTORIES=compiled())
    app.config.from_mapping(config)
    speak(app)
    room = Room(app.config['OUT'], app.config)
    app.extensions['room'], app.extensions['standing'] = room, Standing(room)
    app.register_blueprint(page)
    app.register_blueprint(board)
    handle_problems(app)
    app.before_request(same_origin_only)
    app.after_request(headers)
    if app.config['TRUSTED_PROXY']:
        app.wsgi_app = BehindProxy(app.wsgi_app, app.config['TRUSTED_PROXY'])
    return app


class BehindProxy:
    """The client's address and scheme as the proxy in front says them
    (X-Forwarded-For, -Proto, -Host), for requests from that proxy alone:
    anyone else could say anything there."""

    def __init__(self, app, proxies):
        self.app, self.fixed, self.proxies = app, ProxyFix(app, x_for=1, x_proto=1, x_host=1), set(proxies)

    def __call__(self, environ, start_response):
        if environ.get('REMOTE_ADDR') in self.proxies:
            return self.fixed(environ, start_response)
        return self.app(environ, start_response)


def speak(app):
    """Return the language of the pages: serve --language, else the browser's."""
    babel = Babel(app)

    @babel.localeselector
    def choose():
        return app.config['LANGUAGE'] or request.accept_languages.best_match(LANGUAGES, 'en')

    @app.context_processor
    def language():
        return {'language': str(get_locale())}


def origin_of(url):
    """scheme://host[:port] of an address."""
    parts = urllib.parse.urlsplit(url)
    return f'{parts.scheme}://{parts.netloc}'


def server_problem(app, code, accept_language=''):
    """Return (status line, headers, body) of the page's own problem page for
    what the server refused before the page saw the request (a body too long, a
    head that is no HTTP), in the reader's language where the head said it."""
    with app.test_request_context('/', headers={'Accept-Language': accept_language}):
        response = app.make_response(app.handle_http_exception(default_exceptions[code]()))
        response = app.process_response(response)
        return response.status, [(k, v) for k, v in response.headers.items() if k != 'Content-Length'], \
            response.get_data()


def same_origin_only():
    """Return a form posted from another site (a page a classmate opened) is
    refused. Browsers say where a post comes from in Sec-Fetch-Site; those that
    do not, in Origin (which a page without referrers sends as null, so
    Sec-Fetch-Site goes first). The page's own origin is the one it was asked
    at, or behind a proxy the one --base gives."""
    if request.method != 'POST':
        return None
    site, origin = request.headers.get('Sec-Fetch-Site'), request.headers.get('Origin')
    if site is not None:
        refused = site not in ('same-origin', 'none')
    else:
        ours = {f'{request.scheme}://{request.host}', origin_of(current_app.config['BASE'])}
        refused = origin is not None and origin not in ours
    if refused:
        return problem(403, N_('Not from here'), N_('Hand in your answer from this page itself.'))
    return None


def headers(response):
    """Return every answer's headers: nosniff, the policy, and those of a page whose address holds a key."""
    response.headers['X-Content-Type-Options'] = 'nosniff'
    response.headers.setdefault('Content-Security-Policy', POLICY)
    if request.path.startswith(('/p/', '/board')):  # errors too: the address holds a key
        keyed(response)
    return response


def handle_problems(app):
    """Return answer every problem with the page's own problem page, in the reader's language."""
    @app.errorhandler(Unavailable)
    def unavailable(_):
        return problem(503, N_('Just a moment'), N_('The list is being updated. Try again in a few seconds.'),
                       {'Retry-After': '2'})

    @app.errorhandler(DiskFull)
    def disk_full(_):
        return problem(503, N_('Not kept'), N_("Not kept: the organiser's computer has no room left on its disk. "
                                               'What you handed in before is safe. Try again in a minute.'),
                       {'Retry-After': '60'})

    @app.errorhandler(Busy)
    def busy(_):
        return problem(503, N_('Not kept'), N_('Not kept: the answers are busy just now. What you handed in before '
                                               'is safe. Try again in a minute.'), {'Retry-After': '60'})

    @app.errorhandler(OSError)
    def system_said_no(error):
        if error.errno == errno.ENOSPC:  # a walk-in's program, on a full disk
            return disk_full(error)
        return unexpected(error)

    @app.errorhandler(HTTPException)
    def http_problem(error):
        if error.code in OWN_WORDS:
            return problem(error.code, *OWN_WORDS[error.code])
        return problem(error.code, error.name, error.description)

    @app.errorhandler(Exception)
    def unexpected(error):
        app.logger.exception('unexpected error')
        return problem(500, N_('Something went wrong'), N_('Please hand in your answer again.'))
