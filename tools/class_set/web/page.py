"""What people see: the form at / (a name and the word found), and each
person's own page at /p/KEY (their program, and a form for the word alone)."""
import urllib.parse

from flask import Blueprint, Response, abort, current_app, redirect, render_template, request, url_for
from flask_babel import gettext, ngettext

from ..errors import Refusal
from ..language import N_, N_plural, said
from ..names import CONTROL, NONCHARACTER, name_key
from ..set.folder import program_path
from ..set.keys import as_typed
from ..set.store import Closed, DiskFull, Spending, TooMany, Via
from .clockface import face, shown
from .enrolment import enrol as enrol_walk_in
from .problems import keyed, problem
from .room import LIMIT


FORM = 'application/x-www-form-urlencoded'
page = Blueprint('page', __name__)


def form_fields(names):
    """Return the form's fields, decoded strictly (Werkzeug would replace bytes
    that are not UTF-8), or the problem page that says what is wrong."""
    if request.mimetype != FORM:
        return None, problem(400, N_('Bad request'), N_('Send the form from this page.'))
    body = request.stream.read(LIMIT + 1)
    if len(body) > LIMIT:
        abort(413)
    try:
        fields = urllib.parse.parse_qs(body.decode('utf-8'), keep_blank_values=True, errors='strict')
    except UnicodeDecodeError:
        return None, problem(400, N_('Bad request'), N_('The form came in a text encoding other than UTF-8.'))
    values = [fields.get(name, [None])[0] for name in names]
    if None in values:
        return None, problem(400, N_('Bad request'), N_('A field of the form is missing.'))
    if not all(value.strip() for value in values):
        return None, problem(400, N_('Bad request'), N_('Fill in every field of the form.'))
    odd = [found.group() for value in values for found in [CONTROL.search(value) or NONCHARACTER.search(value)]
           if found]
    if odd:  # nothing a person types, and nothing a spreadsheet of the answers could hold
        return None, problem(400, N_('Bad request'), N_('A field holds a character that is no letter (U+%(code)04X).'),
                             code=ord(odd[0]))
    return values, None


STRANGERS = N_plural('Too many answers under names that are not on the list came from here in a minute. Type your '
                     'name as it is on the list, or hand in through your own link. Or try again in %(num)d second.',
                     'Too many answers under names that are not on the list came from here in a minute. Type your '
                     'name as it is on the list, or hand in through your own link. Or try again in %(num)d seconds.')
FOR_THE_NAME = N_plural('Too many answers for that name in a minute. Try again in %(num)d second.',
                        'Too many answers for that name in a minute. Try again in %(num)d seconds.')
OF_YOURS = N_plural('Too many answers of yours in a minute. Try again in %(num)d second.',
                    'Too many answers of yours in a minute. Try again in %(num)d seconds.')
DOWNLOADS = N_plural('Too many downloads of your program in a minute. Try again in %(num)d second.',
                     'Too many downloads of your program in a minute. Try again in %(num)d seconds.')
ENROLMENTS = N_plural('Too many enrolments from here in a minute. Try again in %(num)d second.',
                      'Too many enrolments from here in a minute. Try again in %(num)d seconds.')


def spent_page(wait, message, title=N_('Too many answers')):
    """Return the 429 page of a budget spent; `message`: the singular and plural of what to say."""
    return render_template('problem.html', title=gettext(title), message=ngettext(*message, wait)), 429, \
        {'Retry-After': str(wait)}


def person_of(key):
    """Return the Person whose key this is, as people type it; 404 as for any unknown page otherwise."""
    # A lookup of all 128 bits: nothing to learn from how long a wrong one takes.
    person = current_app.extensions['room'].people().by_key.get(as_typed(key))
    if person is None:
        abort(404)
    return person


@page.context_processor
def enrolling():
    """Return whether people not on the list may enrol."""
    return {'open': current_app.extensions['room'].places > 0}


def the_clock(folder=None):
    """The clock's Face for the room, or for one person."""
    return face(current_app.extensions['room'].store, folder)


def after(clock, kept, folder):
    """The clock to show with an answer kept: the one read before it, unless
    the room closed meanwhile (an answer kept as late says so beside it)."""
    return the_clock(folder) if kept.late and not clock.closed else clock


def not_taken(clock):
    """The page of an answer the clock does not take now; None where it takes it."""
    if clock.before:
        return problem(403, N_('Not open yet'), N_('The room opens at %(time)s (%(zone)s). Come back then.'),
                       time=clock.opens, zone=clock.zone)
    if not clock.taking:
        return closed_page(clock.closes, clock.zone)
    return None


def closed_page(at, zone):
    """The page of an answer after the closing, where the room takes none."""
    return problem(403, N_('Closed'), N_('The room closed at %(time)s (%(zone)s): answers are no longer taken.'),
                   time=at, zone=zone)


@page.get('/')
def form():
    """Return the form that asks for a name and the word found."""
    return render_template('answer.html', name='', links_only=current_app.config['LINKS_ONLY'], clock=the_clock())


@page.get('/enrol')
def enrol_form():
    """Return the form of a walk-in, where the room is open."""
    room = current_app.extensions['room']
    if not room.places:
        abort(404)
    return render_template('enrol.html', name='', full=len(room.people().walk_ins) >= room.places)


@page.post('/enrol')
def enrol():
    """Enrol a walk-in: their own page, or the form again with why not."""
    room = current_app.extensions['room']
    if not room.places:
        abort(404)
    fields, refused = form_fields(['name'])
    if refused:
        return refused
    try:
        room.store.spent(room.budget(Spending.ENROL, request.remote_addr))
    except TooMany as spent:
        return spent_page(spent.wait, ENROLMENTS, N_('Too many enrolments'))
    try:
        _, key = enrol_walk_in(room.out, fields[0], current_app.config['JOBS'], request.remote_addr, room)
    except Refusal as why:
        return render_template('enrol.html', name=fields[0], message=said(why, gettext)), 409
    return redirect(url_for('page.personal', key=key), 303)


@page.post('/')
def answer():
    """Take an answer by name: kept, and right or not said; never credited to one of namesakes."""
    room = current_app.extensions['room']
    if current_app.config['LINKS_ONLY']:
        abort(404)
    fields, refused = form_fields(['name', 'word'])
    if refused:
        return refused
    name, word = fields
    matched = room.people().named_here.get(name_key(name), ())
    clock = the_clock(matched[0].folder if len(matched) == 1 else None)
    untaken = not_taken(clock)
    if untaken:
        return untaken
    if len(matched) > 1:  # namesakes: never credited to one of them; the board counts who was sent for a link
        try:
            room.store.turn_away(name, request.remote_addr, budget=room.budget(Spending.STRANGER, request.remote_addr))
        except TooMany as spent:
            return spent_page(spent.wait, STRANGERS)
        return render_template('answer.html', name=name, clock=clock, message=gettext(
            'More than one person on the list has that name. Hand in through your own link, the one on your slip.'))
    if not matched:  # kept, so that the organiser sees who tried; no one's budget covers it but the address's
        try:
            room.store.add(name, None, request.remote_addr, word,
                           budget=room.budget(Spending.STRANGER, request.remote_addr))
        except TooMany as spent:
            return spent_page(spent.wait, STRANGERS)
        except Closed as closed:
            return closed_page(shown(closed.at), clock.zone)
        return render_template('answer.html', name=name, clock=clock,
                               message=gettext('No one of that name is on the list. Type your name as it is there.'))
    try:
        kept = room.store.add(name, matched[0], request.remote_addr, word,
                              budget=room.budget(Spending.NAME, matched[0].folder))
    except TooMany as spent:
        return spent_page(spent.wait, FOR_THE_NAME)
    except Closed as closed:
        return closed_page(shown(closed.at), clock.zone)
    return render_template('answer.html', name=name, verdict='right' if kept.correct else 'wrong', late=kept.late,
                           clock=after(clock, kept, matched[0].folder))


@page.get('/p/<key>')
def personal(key):
    """Return a person's own page: their program and the form for the word
    alone; before the opening, when it opens."""
    person = person_of(key)
    return keyed(Response(render_template('personal.html', key=key, clock=the_clock(person.folder),
                                          name=current_app.extensions['room'].people().shown(person))))


@page.post('/p/<key>')
def personal_answer(key):
    """Take an answer through a person's own link."""
    room = current_app.extensions['room']
    person = person_of(key)
    fields, refused = form_fields(['word'])
    if refused:
        return refused
    clock = the_clock(person.folder)
    untaken = not_taken(clock)
    if untaken:
        return keyed(Response(*untaken))
    try:
        kept = room.store.add(person.name, person, request.remote_addr, fields[0], via=Via.LINK,
                              budget=room.budget(Spending.LINK, person.folder))
    except TooMany as spent:
        return spent_page(spent.wait, OF_YOURS)
    except Closed as closed:
        return keyed(Response(*closed_page(shown(closed.at), clock.zone)))
    return keyed(Response(render_template('personal.html', name=room.people().shown(person), key=key,
                                          verdict='right' if kept.correct else 'wrong', late=kept.late,
                                          clock=after(clock, kept, person.folder))))


@page.get('/p/<key>/PassWord.exe')
def download(key):
    """Return a person's own PassWord.exe; when they first downloaded it is noted."""
    room = current_app.extensions['room']
    person = person_of(key)
    clock = the_clock(person.folder)
    if clock.before:  # the program is the task: not before the opening
        return keyed(Response(*not_taken(clock)))
    if request.method == 'GET':  # a HEAD fetches nothing
        try:
            room.store.downloaded(person.folder, room.budget(Spending.DOWNLOAD, person.folder))
        except TooMany as spent:
            return keyed(Response(*spent_page(spent.wait, DOWNLOADS, N_('Too many downloads'))))
        except DiskFull:
            pass  # people keep getting their program; only when they first did is not noted
    with open(program_path(room.out, person), 'rb') as f:
        program = f.read()
    return keyed(Response(program, mimetype='application/vnd.microsoft.portable-executable',
                          headers={'Content-Disposition': 'attachment; filename="PassWord.exe"'}))
