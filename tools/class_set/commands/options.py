"""What the commands' parsers share: OUT, the checks of numbers and ports,
the language, a file's encoding and id column, --by."""
import argparse

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
