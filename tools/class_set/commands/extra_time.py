"""`extra-time`: minutes more for one person, on a running room too: their
own closing is that much later, their page counts down to it, and the
board shows it beside their name. Kept in the store, by folder, through
rekey, remove and restore, and a later build."""
import os

from .. import times
from ..errors import OK
from ..set import people
from ..set.folder import locked, read_records
from ..set.store import Checkins
from .options import by_option, minutes, out_argument

NAME = 'extra-time'
SUMMARY = 'give one person more time than the room'
DESCRIPTION = ("Gives NAME (a name as people type it, an id or a folder) MINUTES more than the room's closing, at "
               "once, also on a running serve; 0 takes it away.")


def options(parser):
    """extra-time's options."""
    out_argument(parser)
    parser.add_argument('name', metavar='NAME', help='a name as people type it, an id or a folder')
    parser.add_argument('minutes', metavar='MINUTES', type=minutes, help='whole minutes, 0 for none')
    by_option(parser)


def run(args):
    """Give one person extra time."""
    return extra_time_command(os.path.realpath(args.out), args.name, args.minutes, args.by)


def extra_time_command(out, name, more, by=None):
    """Give the person of the set OUT whom `name` names `more` minutes of extra time, and say until when."""
    with locked(out):
        person = people.find_one(out, name, by, lambda: people.read(out, read_records(out), keys={}))
    store = Checkins(out)
    store.give_extra({person.folder: more})
    closing = store.clock().closing(more)
    until = f': their room closes at {times.said(times.stamp(closing))}' if closing else \
        ' (the room has no closing yet: clock --closes gives it one)'
    print(f'{person.name} ({person.folder}) has {more} minutes of extra time{until}.')
    return OK
