"""The check-in page: where people hand in the word they found, by name or
through their own link (the `page` blueprint), and a board behind a key
where the organiser watches the room (the `board` blueprint)."""
import os

from flask import Flask, request
from flask_babel import Babel, get_locale
from werkzeug.exceptions import HTTPException

from ..keys import with_keys
from ..language import LANGUAGES, N_, compiled
from ..set_folder import locked
from ..walkins import open_set
from .board import board
from .page import page
from .problems import keyed, problem
from .room import LIMIT, Room, Unavailable
from .standing import Standing

# Nothing from anywhere but the page itself, no inline style or script.
POLICY = "default-src 'self'; img-src 'self' data:; form-action 'self'; frame-ancestors 'none'; base-uri 'none'"
# Problems said in the page's own words, which it has in every language.
OWN_WORDS = {403: (N_('Not allowed'), N_('The board needs the key that serve printed.')),
             404: (N_('Not found'), N_('There is no such page here. Check the address on your slip.')),
             405: (N_('Not allowed'), N_('That page is not used that way.')),
             413: (N_('Too long'), N_('That was more than this form ever sends.'))}
DEFAULTS = {'RATE': 10, 'CLIENT_RATE': 300, 'NAME_RATE': 10, 'PLACES': 0, 'ENROL_RATE': 3, 'ENROL_PER_ADDRESS': 2,
            'LINKS_ONLY': False, 'JOBS': os.cpu_count() or 2, 'BASE': 'http://127.0.0.1:8000/', 'LANGUAGE': None}


def create_app(config):
    """config: OUT, the set, and what of DEFAULTS to change."""
    app = Flask(__name__)
    app.config.from_mapping(DEFAULTS, MAX_CONTENT_LENGTH=LIMIT, BABEL_TRANSLATION_DIRECTORIES=compiled())
    app.config.from_mapping(config)
    speak(app)
    out = app.config['OUT']
    if app.config['PLACES']:
        open_set(out, app.config['JOBS'])
    room = Room(out, app.config)
    try:
        people = room.people()  # read before the first person waits for it
    except Unavailable as problem_reading:
        raise problem_reading.__cause__  # at the start it is no moment's: say what
    if len(people.by_key) < len(people.rows):
        with locked(out):  # every person has a key before the first page
            with_keys(out, room.people().rows)  # the set as it is now that it is locked
        room.people()
    room.store.key()
    app.extensions['room'], app.extensions['standing'] = room, Standing(room)
    app.register_blueprint(page)
    app.register_blueprint(board)
    handle_problems(app)
    app.before_request(same_origin_only)
    app.after_request(headers)
    return app


def speak(app):
    """The language of the pages: serve --language, else the browser's."""
    babel = Babel(app)

    @babel.localeselector
    def choose():
        return app.config['LANGUAGE'] or request.accept_languages.best_match(LANGUAGES, 'en')

    @app.context_processor
    def language():
        return {'language': str(get_locale())}


def same_origin_only():
    """A form posted from another site (a page a classmate opened) is
    refused. Browsers say where a post comes from in Sec-Fetch-Site; those
    that do not, in Origin (which a page without referrers sends as null,
    so Sec-Fetch-Site goes first)."""
    if request.method != 'POST':
        return None
    site, origin = request.headers.get('Sec-Fetch-Site'), request.headers.get('Origin')
    if site is not None:
        refused = site not in ('same-origin', 'none')
    else:
        refused = origin is not None and origin != f'{request.scheme}://{request.host}'
    if refused:
        return problem(403, N_('Not from here'), N_('Hand in your answer from this page itself.'))
    return None


def headers(response):
    response.headers['X-Content-Type-Options'] = 'nosniff'
    response.headers['Content-Security-Policy'] = POLICY
    if request.path.startswith(('/p/', '/board')):  # errors too: the address holds a key
        keyed(response)
    return response


def handle_problems(app):
    @app.errorhandler(Unavailable)
    def unavailable(_):
        return problem(503, N_('Just a moment'), N_('The list is being updated. Try again in a few seconds.'),
                       {'Retry-After': '2'})

    @app.errorhandler(HTTPException)
    def http_problem(error):
        if error.code in OWN_WORDS:
            return problem(error.code, *OWN_WORDS[error.code])
        return problem(error.code, error.name, error.description)

    @app.errorhandler(Exception)
    def unexpected(error):
        app.logger.exception('unexpected error')
        return problem(500, N_('Something went wrong'), N_('Please hand in your answer again.'))
