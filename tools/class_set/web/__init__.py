"""The check-in page: where people hand in the word they found, by name or
through their own link (the `page` blueprint), and a board behind a key
where the organiser watches the room (the `board` blueprint)."""
import os

from flask import Flask
from werkzeug.exceptions import HTTPException

from ..keys import with_keys
from ..set_folder import locked, read_set
from ..walkins import open_set
from .board import board
from .page import page
from .problems import problem
from .room import LIMIT, Room, Unavailable

# Nothing from anywhere but the page itself; the pages' one style block inline.
POLICY = "default-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data:; form-action 'self'; " \
         "frame-ancestors 'none'; base-uri 'none'"
DEFAULTS = {'RATE': 10, 'CLIENT_RATE': 300, 'PLACES': 0, 'ENROL_RATE': 3, 'JOBS': os.cpu_count() or 2}


def create_app(config):
    """config: OUT, the set, and the limits of DEFAULTS to change."""
    app = Flask(__name__)
    app.config.from_mapping(DEFAULTS, MAX_CONTENT_LENGTH=LIMIT)
    app.config.from_mapping(config)
    out = app.config['OUT']
    if app.config['PLACES']:
        open_set(out, app.config['JOBS'])
    with locked(out):  # every person has a key before the first page
        with_keys(out, read_set(out, new_ok=False))
    room = Room(out, app.config['RATE'], app.config['CLIENT_RATE'], app.config['PLACES'], app.config['ENROL_RATE'])
    room.people()  # read before the first person waits for it
    app.config['BOARD_KEY'] = room.store.key()
    app.extensions['room'] = room
    app.register_blueprint(page)
    app.register_blueprint(board)
    handle_problems(app)

    @app.after_request
    def headers(response):
        response.headers['X-Content-Type-Options'] = 'nosniff'
        response.headers['Content-Security-Policy'] = POLICY
        return response

    return app


def handle_problems(app):
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
