"""The command line's words: one parser per command, each naming the
function of __main__ that runs it."""
import argparse
import os

from ..web.limits import LIMITS


ENCODING_HELP = ("{} is in this encoding, for instance cp1251 (default: UTF-8, or UTF-16 where it starts with a "
                 "byte order mark)")


def positive(text):
    if not text.isdigit() or int(text) < 1:
        raise argparse.ArgumentTypeError(f'expected a whole number from 1 up, got {text!r}')
    return int(text)


def port(text):
    if not text.isdigit() or not 1 <= int(text) <= 65535:
        raise argparse.ArgumentTypeError(f'expected a port from 1 to 65535, got {text!r}')
    return int(text)


def command(commands, name, summary, description, first=None):
    """A command's parser, with OUT, the set, as its first positional
    argument or after `first`."""
    parser = commands.add_parser(name, help=summary, description=description)
    if first:
        parser.add_argument(first.lower(), metavar=first)
    parser.add_argument('out', metavar='OUT')
    return parser


def language_option(parser, what):
    parser.add_argument('--language', choices=('en', 'ru'), metavar='ru|en',
                        help=f'{what} in this language (default: ' + ('the browser\'s' if 'pages' in what else 'en') + ')')


def file_options(parser, what, id_help):
    """The options of a file that people made: its encoding, and its column of ids."""
    parser.add_argument('--encoding', metavar='NAME', help=ENCODING_HELP.format(what))
    parser.add_argument('--id-column', metavar='TEXT', help=id_help)


def build_options(build):
    build.add_argument('--verify', action='store_true',
                       help='then run every program under Wine (exit code 3 where 32-bit programs cannot run)')
    build.add_argument('--jobs', type=positive, default=os.cpu_count() or 2, metavar='N',
                       help='programs built at once (default: the cores, %(default)s)')
    build.add_argument('--name-column', metavar='TEXT',
                       help='ROSTER is a table (CSV, TSV or .xlsx) with a header row, and TEXT is the column of the '
                            'name, or columns joined with spaces: "Фамилия,Имя,Отчество"; every other column is '
                            'kept with its person and shown in the reports')
    file_options(build, 'ROSTER', 'the column that tells people apart (a student number, an e-mail): two rows of '
                                  'one name and different ids are two people')


def who_options(who):
    who.add_argument('word', metavar='WORD')


def grade_options(grade):
    grade.add_argument('answers', metavar='ANSWERS', nargs='?',
                       help='CSV with a header row, comma, semicolon or tab separated')
    grade.add_argument('--from-checkins', action='store_true',
                       help="the answers handed in through serve (OUT/checkins.sqlite) instead of ANSWERS")
    grade.add_argument('--name-column', default='name', metavar='TEXT', help='default: %(default)s')
    grade.add_argument('--word-column', default='password', metavar='TEXT', help='default: %(default)s')
    language_option(grade, 'the report as a spreadsheet (--output FILE.xlsx)')
    file_options(grade, 'ANSWERS', "ANSWERS' column of the id that the roster's --id-column gave: it tells "
                                   'namesakes apart')
    grade.add_argument('--output', metavar='FILE',
                       help='the report to FILE instead of standard output; an .xlsx workbook where FILE ends so')
    grade.add_argument('--points', type=positive, default=1, metavar='N',
                       help='points for a solution, in the report\'s points column, for a gradebook (default: '
                            '%(default)s; 0 otherwise)')
    grade.add_argument('--trust-names', action='store_true',
                       help="count another's password handed in under a name as passed around; by default only "
                            'answers through personal links prove who handed it in, and those by name are listed '
                            'apart, unconfirmed')


def serve_options(serve):
    serve.add_argument('--host', default='127.0.0.1', metavar='ADDR',
                       help='the address to listen on; 0.0.0.0 opens it to the room (default: %(default)s)')
    serve.add_argument('--port', type=port, default=8000, metavar='N', help='default: %(default)s')
    serve.add_argument('--open', type=positive, default=0, metavar='N',
                       help='let at most N people not on the list enrol through the page (default: closed); OUT '
                            'may then be missing or empty')
    serve.add_argument('--links-only', action='store_true',
                       help='answers only through personal links: no form that asks for a name')
    language_option(serve, 'the pages')
    serve.add_argument('--base', metavar='URL',
                       help="the page's address as the room reaches it, for the board's links and slips, and behind "
                            'a proxy the origin its forms come from (default: http://the first address serve '
                            'prints:PORT/)')
    serve.add_argument('--trusted-proxy', metavar='ADDR', action='append', default=[],
                       help="a proxy in front (nginx, Caddy) whose X-Forwarded-For and -Proto say the client's "
                            'address and scheme; again for more than one (default: none: those headers are ignored)')
    for limit in LIMITS:
        # None: not given, so that one that does not apply (--workers) is refused, never ignored.
        serve.add_argument(limit.flag, dest=limit.key, type=positive, metavar=limit.unit,
                           help=f'{limit.meaning} (default: {limit.default}' +
                                (f'; with --workers, set {limit.proxy} instead)' if limit.proxy else ')'))


def links_options(links):
    links.add_argument('--base', required=True, metavar='URL',
                       help="the check-in page's address as the room reaches it, e.g. http://ADDRESS:8000/ as "
                            "`class-set address` or serve prints it; auto: this machine's address on the room's "
                            "network, port 8000")
    links.add_argument('--output', metavar='FILE',
                       help='the CSV to FILE instead of standard output; an .xlsx workbook where FILE ends so')
    links.add_argument('--slips', metavar='FILE', help='a printable HTML page of slips to FILE')
    links.add_argument('--only', metavar='NAME', help="one person's link and slip: a name as people type it, an id "
                                                      'or a folder (a lost slip, a new key)')
    language_option(links, 'the slips and the spreadsheet')


def by_option(parser):
    parser.add_argument('--by', choices=('id', 'name', 'folder'),
                        help='NAME is an id, a name or a folder, where it could be more than one')


def rekey_options(rekey):
    rekey.add_argument('name', metavar='NAME', help='a name as people type it, an id or a folder')
    by_option(rekey)


def remove_options(remove):
    remove.add_argument('names', metavar='NAME', nargs='+', help='a name as people type it, an id or a folder')
    by_option(remove)


def restore_options(restore):
    restore.add_argument('names', metavar='NAME', nargs='+',
                         help='a name as people type it, an id or a folder, of someone removed')
    by_option(restore)
    restore.add_argument('--jobs', type=positive, default=os.cpu_count() or 2, metavar='N', help=argparse.SUPPRESS)


def address_options(commands):
    address = commands.add_parser('address', help="this machine's address on the room's network",
                                  description="Prints the address that the room's browsers reach serve --host "
                                              "0.0.0.0 at: the one to print on the slips (links --base).")
    address.add_argument('--port', type=port, default=8000, metavar='N', help='default: %(default)s')


def parser(runners, description):
    """The whole command line; `runners` maps each command to the function
    that runs it with the parsed arguments."""
    top = argparse.ArgumentParser(prog='class-set', description=description)
    commands = top.add_subparsers(dest='command', required=True, metavar='COMMAND')
    build_options(command(
        commands, 'build', 'build one program per person of ROSTER into OUT',
        'Builds OUT/handout/<folder>/PassWord.exe for every name of ROSTER (one name a line; blank lines and '
        'lines starting with # are skipped), OUT/handout/SHA256SUMS and OUT/answers.csv. On an existing set it '
        'adds only the newcomers.', first='ROSTER'))
    who_options(command(
        commands, 'who', "say whose password WORD is",
        "Prints whose password WORD is in the set OUT; exits 1 when it is nobody's."))
    grade_options(command(
        commands, 'grade', 'grade the answers a group handed in',
        'For every person of the set OUT: solved (an answer was their own password), wrong or none, how many '
        'answers, and whose passwords were passed around, both ends. The report (CSV) holds no passwords; a '
        'summary follows on standard error.'))
    serve_options(command(
        commands, 'serve', 'a check-in page for the group, and a board for the organiser',
        'Serves a page where people hand in the password they found, and a board behind a key that this '
        'command prints. Answers are kept in OUT/checkins.sqlite.'))
    links_options(command(
        commands, 'links', "everyone's own link: a CSV for a mail merge, and slips to print",
        "Writes a CSV of name and link (BASE/p/KEY, the person's own page on serve's check-in page: their "
        "program and the answer form) to FILE or standard output, and with --slips a page of slips to print, "
        "each with a QR code of the link. People without a key get one."))
    rekey_options(command(
        commands, 'rekey', "a new key for one person, whose old link stops working",
        "Gives NAME a new key: their old link stops working at once, also on a running serve. Run links again "
        "for the new one."))
    address_options(commands)
    command(commands, 'board-key', "a new key for the board; the old one stops working",
            "Gives the board of the set OUT a new key, at once, also on a running serve; the answers stay. Open "
            "the board again with the address printed.")
    remove_options(command(
        commands, 'remove', 'take people out of the set',
        "Takes each NAME out of the set OUT: their program, folder, key and place. Their link stops working at "
        "once, also on a running serve; what they handed in stays, and grade reports it as removed. A later build "
        "keeps them out; restore brings them back."))
    restore_options(command(
        commands, 'restore', 'bring removed people back into the set',
        "Brings each NAME, removed from the set OUT, back: their own password and program, their roster's "
        "columns, and a new key (their old link stays dead: run links --only NAME for the new one). Everything "
        "they handed in counts as before."))
    for name, command_parser in commands.choices.items():
        command_parser.set_defaults(run=runners[name])
    return top
