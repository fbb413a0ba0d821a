"""class-set: one PassWord.exe per person of a group, and the organiser's
commands around it. `class-set COMMAND --help` says more of each."""
import argparse
import os
import sys

from .roster import Refusal


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


def main(argv=None):
    parser = argparse.ArgumentParser(prog='class-set', description=__doc__.split('\n\n')[0])
    commands = parser.add_subparsers(dest='command', required=True, metavar='COMMAND')

    build = commands.add_parser(
        'build', help='build one program per person of ROSTER into OUT',
        description='Builds OUT/handout/<folder>/PassWord.exe for every name of ROSTER (one name a line; blank lines and lines starting with # are skipped), OUT/handout/SHA256SUMS and '
                    'OUT/answers.csv. On an existing set it adds only the newcomers.')
    build.add_argument('roster', metavar='ROSTER')
    build.add_argument('out', metavar='OUT')
    build.add_argument('--verify', action='store_true',
                       help='then run every program under Wine (exit code 3 where 32-bit programs cannot run)')
    build.add_argument('--jobs', type=positive, default=os.cpu_count() or 2, metavar='N',
                       help='programs built at once (default: the cores, %(default)s)')
    build.add_argument('--encoding', metavar='NAME', help=ENCODING_HELP.format('ROSTER'))

    who = commands.add_parser('who', help="say whose password WORD is", description="Prints whose password "
                              "WORD is in the set OUT; exits 1 when it is nobody's.")
    who.add_argument('out', metavar='OUT')
    who.add_argument('word', metavar='WORD')

    grade = commands.add_parser(
        'grade', help='grade the answers a group handed in',
        description='For every person of the set OUT: solved (an answer was their own password), wrong or '
                    'none, how many answers, and whose passwords were passed around, both ends. The report '
                    '(CSV) holds no passwords; a summary follows on standard error.')
    grade.add_argument('out', metavar='OUT')
    grade.add_argument('answers', metavar='ANSWERS', nargs='?',
                       help='CSV with a header row, comma, semicolon or tab separated')
    grade.add_argument('--from-checkins', action='store_true',
                       help="the answers handed in through serve (OUT/checkins.sqlite) instead of ANSWERS")
    grade.add_argument('--name-column', default='name', metavar='TEXT', help='default: %(default)s')
    grade.add_argument('--word-column', default='password', metavar='TEXT', help='default: %(default)s')
    grade.add_argument('--output', metavar='FILE', help='the report to FILE instead of standard output')
    grade.add_argument('--encoding', metavar='NAME', help=ENCODING_HELP.format('ANSWERS'))

    serve = commands.add_parser(
        'serve', help='a check-in page for the group, and a board for the organiser',
        description='Serves a page where people hand in the password they found, and a board behind a key '
                    'that this command prints. Answers are kept in OUT/checkins.sqlite.')
    serve.add_argument('out', metavar='OUT')
    serve.add_argument('--host', default='127.0.0.1', metavar='ADDR',
                       help='the address to listen on; 0.0.0.0 opens it to the room (default: %(default)s)')
    serve.add_argument('--port', type=port, default=8000, metavar='N', help='default: %(default)s')
    serve.add_argument('--rate', type=positive, default=10, metavar='N',
                       help='answers of one person in any 60 seconds at most (default: %(default)s)')
    serve.add_argument('--client-rate', type=positive, default=300, metavar='N',
                       help='answers from one client address in any 60 seconds at most, against floods; a room '
                            'behind one address shares it (default: %(default)s)')

    serve.add_argument('--open', type=positive, default=0, metavar='N',
                       help='let at most N people not on the list enrol through the page (default: closed); OUT '
                            'may then be missing or empty')
    serve.add_argument('--enrol-rate', type=positive, default=3, metavar='N',
                       help='enrolment attempts from one client address in any 60 seconds at most '
                            '(default: %(default)s)')

    links = commands.add_parser(
        'links', help="everyone's own link: a CSV for a mail merge, and slips to print",
        description="Writes a CSV of name and link (BASE/p/KEY, the person's own page on serve's check-in "
                    "page: their program and the answer form) to FILE or standard output, and with --slips a "
                    "page of slips to print, each with a QR code of the link. People without a key get one.")
    links.add_argument('out', metavar='OUT')
    links.add_argument('--base', required=True, metavar='URL',
                       help="the check-in page's address as the room reaches it, e.g. http://ADDRESS:8000/ as serve prints it")
    links.add_argument('--output', metavar='FILE', help='the CSV to FILE instead of standard output')
    links.add_argument('--slips', metavar='FILE', help='a printable HTML page of slips to FILE')

    rekey = commands.add_parser('rekey', help="a new key for one person, whose old link stops working",
                                description="Gives NAME a new key: their old link stops working at once, "
                                            "also on a running serve. Run links again for the new one.")
    rekey.add_argument('out', metavar='OUT')
    rekey.add_argument('name', metavar='NAME')

    args = parser.parse_args(argv)
    if args.command == 'grade' and (args.answers is None) == (not args.from_checkins):
        parser.error('grade takes ANSWERS or --from-checkins, one of the two')
    # Each command imports what it uses: only serve needs Flask.
    try:
        if args.command == 'build':
            from .building import build as build_set
            rows = build_set(args.roster, args.out, args.jobs, args.encoding)
            if args.verify:
                from .verifying import run_verify
                return run_verify(os.path.abspath(args.out), rows)
            return 0
        if args.command == 'who':
            from .records import who as find
            return find(args.out, args.word)
        if args.command == 'grade':
            from .grading import grade_command
            return grade_command(args.out, args.answers, args.name_column, args.word_column, args.output,
                                 args.from_checkins, args.encoding)
        if args.command == 'serve':
            from .web import serve as serve_set
            return serve_set(os.path.realpath(args.out), args.host, args.port, args.rate, args.client_rate,
                             args.open, args.enrol_rate)
        if args.command == 'links':
            from .links import links_command
            return links_command(os.path.realpath(args.out), args.base, args.output, args.slips)
        if args.command == 'rekey':
            from .links import rekey_command
            return rekey_command(os.path.realpath(args.out), args.name)
    except Refusal as refusal:
        print(f'class-set: {refusal}', file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        print('class-set: stopped by Ctrl+C', file=sys.stderr)
        return 130
    except OSError as e:
        # A full disk, a read-only folder: said in one line; what was
        # half-written has been removed on the way out.
        where = f'{e.filename}: ' if e.filename else ''
        print(f'class-set: {where}{e.strerror or e}', file=sys.stderr)
        return 1
    return 2


if __name__ == '__main__':
    sys.exit(main())
