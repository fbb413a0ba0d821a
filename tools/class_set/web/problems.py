"""The answers every blueprint gives alike: a problem page, and the headers
of a page whose address holds a key."""
from flask import render_template
from flask_babel import gettext


def problem(status, title, message, headers=None, **params):
    """Return the problem page: `title` and `message` are said in the reader's language."""
    return render_template('problem.html', title=gettext(title), message=gettext(message, **params)), status, \
        headers or {}


def keyed(response):
    """Return a page whose address holds a key: not sent on as a referrer, not kept."""
    response.headers['Referrer-Policy'] = 'no-referrer'
    response.headers['Cache-Control'] = 'no-store'
    return response
