"""What the commands' parsers share: OUT, the checks of numbers and ports,
the language, a file's encoding and id column, --by."""
import argparse

from .. import times
from ..errors import Refusal
from ..set import clock

ENCODING_HELP = ("{} is in this encoding, for instance cp1251 (default: UTF-8, or UTF-16 where it starts with a "
                 "byte order mark)")


def positive(text):
    """Return a whole number from 1 up, as an option's type."""
    if not text.isdigit() or int(text) < 1:
        raise argparse.ArgumentTypeError(f'expected a whole number from 1 up, got {text!r}')
    return int(text)


def port(text):
    """Return a port from 1 to 65535, as an option's type."""
    if not text.isdigit() or not 1 <= int(text) <= 65535:
        raise argparse.ArgumentTypeError(f'expected a port from 1 to 65535, got {text!r}')
    return int(text)


def out_argument(parser, first=None):
    """OUT, the set, as the first positional argument, or after `first`."""
    if first:
        parser.add_argument(first.lower(), metavar=first)
    parser.add_argument('out', metavar='OUT')


def language_option(parser, what):
    """--language: `what` in Russian or English."""
    parser.add_argument('--language', choices=('en', 'ru'), metavar='ru|en',
                        help=f'{what} in this language (default: ' + ('the browser\'s' if 'pages' in what else 'en') + ')')


def file_options(parser, what, id_help):
    """The options of a file that people made: its encoding, and its column of ids."""
    parser.add_argument('--encoding', metavar='NAME', help=ENCODING_HELP.format(what))
    parser.add_argument('--id-column', metavar='TEXT', help=id_help)


def by_option(parser):
    """--by: what a NAME is, where it could be more than one."""
    parser.add_argument('--by', choices=('id', 'name', 'folder'),
                        help='NAME is an id, a name or a folder, where it could be more than one')


def instant(text):
    """A time as people write it: HH:MM today, or an ISO 8601 date and time; as an option's type."""
    if text.strip().lower() == 'now':
        return times.now()
    try:
        return times.parse(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f'expected HH:MM (today) or a date and time such as 2026-12-08T10:30, '
                                         f'got {text!r}')


def length(text):
    """A length of time: 90m, 1h30m, 2h; as an option's type."""
    try:
        return times.duration(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f'expected a length of more than nothing such as 90m or 1h30m, got {text!r}')


def minutes(text):
    """Whole minutes from 0 up, as an option's type."""
    if not text.strip().isdigit():
        raise argparse.ArgumentTypeError(f'expected whole minutes from 0 up, got {text!r}')
    return int(text)


def clock_options(parser):
    """The room's times: --opens, --closes or --for, --after-close."""
    parser.add_argument('--opens', type=instant, metavar='TIME',
                        help='when the room opens: HH:MM today, or a date and time such as 2026-12-08T10:00 (with '
                             'an offset, or this machine\'s clock); before it, no program and no answers '
                             '(default: open from the start)')
    parser.add_argument('--closes', type=instant, metavar='TIME',
                        help='when it closes, the same way (default: never)')
    parser.add_argument('--for', dest='lasts', type=length, metavar='DURATION',
                        help='or how long it is open from the opening (or from now): 90m, 1h30m')
    parser.add_argument('--after-close', choices=('keep', 'refuse'),
                        help='an answer after its person\'s closing is kept and marked late (keep, the default), or '
                             'refused and not kept (refuse)')


def clock_of(args, kept, now=None):
    """The Clock that --opens, --closes, --for and --after-close make of
    the one `kept`; a Refusal naming the option where they cannot be."""
    opens = args.opens if args.opens is not None else kept.opens
    if args.closes is not None and args.lasts is not None:
        raise Refusal('--closes and --for say the same: give one of the two')
    closes = args.closes if args.closes is not None else kept.closes
    if args.lasts is not None:
        closes = (opens or now or times.now()) + args.lasts
    said = clock.refused(opens, closes)
    if said:
        raise Refusal(f'--closes: the room {said}')
    refuse = kept.refuse_late if args.after_close is None else args.after_close == 'refuse'
    return clock.Clock(opens, closes, refuse)


def points(text):
    """Points from 0 up, decimals allowed (2.5), as an option's type."""
    try:
        value = float(text.replace(',', '.'))
    except ValueError:
        value = -1
    if not 0 <= value < 10**6:
        raise argparse.ArgumentTypeError(f'expected points from 0 up, such as 1 or 2.5, got {text!r}')
    return value


def group_options(parser, what):
    """--group-column, --group, --per-group: `what` cut to one group of the roster, or one file each."""
    parser.add_argument('--group-column', metavar='TEXT',
                        help="the roster's column of groups (default: the one build was told, or one headed "
                             'Группа, Group or Class)')
    parser.add_argument('--group', metavar='GROUP', help=f'{what} of this group alone, such as ИБ-21')
    parser.add_argument('--per-group', action='store_true',
                        help=f'{what} of each group to a file of its own beside the one named: report.xlsx gives '
                             'report-ИБ-21.xlsx, report-ИБ-22.xlsx')
