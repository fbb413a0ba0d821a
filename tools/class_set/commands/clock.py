"""`clock`: the room's times, said, or changed on a running room: open it
now, close it now, move its closing, give it more time. Every process
serving the set sees a change at its next request."""
import datetime
import os

from .. import times
from ..errors import OK, Refusal
from ..set import clock
from ..set.folder import records_path
from ..set.store import Checkins
from .options import clock_of, clock_options, length, out_argument
from .serve import said_of

NAME = 'clock'
SUMMARY = "say or change when the room opens and closes"
DESCRIPTION = ("Says when the room of the set OUT opens and closes, or changes it, also on a running serve: "
               "--opens now opens it, --closes now closes it, --extend 15m gives it 15 minutes more, --closes 11:45 "
               "moves its closing, --never-closes leaves it open, --after-close refuse stops taking late answers. "
               "Each person's extra time (extra-time) counts from the closing.")


def options(parser):
    """clock's options: the room's times, as serve takes them, and more."""
    out_argument(parser)
    clock_options(parser)
    parser.add_argument('--extend', type=length, metavar='DURATION',
                        help='move the closing later by this: 15m, 1h')
    parser.add_argument('--never-closes', action='store_true', help='the room stays open until serve stops')


def run(args):
    """Say the room's times, changed where asked."""
    return clock_command(os.path.realpath(args.out), args)


def clock_command(out, args):
    """Change the room's clock of the set OUT as `args` ask (all or nothing), and say it."""
    records_path(out)  # a set: no store is made where there is none
    store = Checkins(out)
    kept = store.clock()
    changed = clock_of(args, kept)
    if args.never_closes:
        if args.closes or args.lasts or args.extend:
            raise Refusal('--never-closes and a closing say the opposite: give one of them')
        changed = clock.Clock(changed.opens, None, changed.refuse_late)
    if args.extend is not None:
        if changed.closes is None:
            raise Refusal('--extend: the room never closes; give it a closing with --closes or --for')
        changed = clock.Clock(changed.opens, max(changed.closes, times.now()) + args.extend, changed.refuse_late)
    if changed != kept:
        store.set_clock(changed)
    print(said_of(changed, out))
    extras = store.extras()
    if extras and changed.closes:
        longest = max(extras.values())
        print(f'{len(extras)} with extra time, up to {longest} minutes: until '
              f'{times.said(times.stamp(changed.closes + datetime.timedelta(minutes=longest)))}.')
    return OK
