"""class-set: one PassWord.exe per person of a group, and the organiser's
commands around it. `class-set COMMAND --help` says more of each."""
import errno
import os
import sys

from .commands import options
from .errors import FAILED, INTERRUPTED, REFUSED, Failure, Refusal


# Each command imports what it uses: only serve needs Flask.


def run_build(args):
    from .commands.build import build_command
    rows = build_command(args.roster, args.out, jobs=args.jobs, encoding=args.encoding, name_column=args.name_column,
                         id_column=args.id_column)
    if not args.verify:
        return 0
    from .programs.verifying import verify_command
    return verify_command(os.path.abspath(args.out), rows)


def run_who(args):
    from .commands.who import who_command
    return who_command(args.out, word=args.word)


def run_grade(args):
    from .commands.grade import grade_command
    return grade_command(args.out, args.answers, name_column=args.name_column, word_column=args.word_column,
                         output=args.output, from_checkins=args.from_checkins, encoding=args.encoding,
                         id_column=args.id_column, trust_names=args.trust_names, language=args.language,
                         points=args.points)


def run_serve(args):
    from .commands.serve import serve_command
    from .commands.links import checked_base
    from .web.limits import LIMITS
    if args.workers and args.workers > 1:
        if not args.trusted_proxy:
            raise Refusal('--workers runs gunicorn, which holds a slow sender\'s request in a thread of its own: put a '
                          'proxy in front that takes requests whole (nginx, as the guide shows), and name it with '
                          '--trusted-proxy ADDRESS')
        for limit in LIMITS:
            if limit.proxy and getattr(args, limit.key) is not None:
                raise Refusal(f'{limit.flag} does not apply with --workers: the proxy in front bounds that; set '
                              f'{limit.proxy} there')
    options = {limit.key: limit.default if getattr(args, limit.key) is None else getattr(args, limit.key)
               for limit in LIMITS}
    options.update(PLACES=args.open, LINKS_ONLY=args.links_only, BASE=args.base and checked_base(args.base),
                   LANGUAGE=args.language, TRUSTED_PROXY=tuple(args.trusted_proxy))
    return serve_command(os.path.realpath(args.out), host=args.host, port=args.port, options=options)


def run_address(args):
    from .commands.address import address_command
    return address_command(port=args.port)


def run_board_key(args):
    from .commands.board_key import board_key_command
    return board_key_command(os.path.realpath(args.out))


def run_links(args):
    from .commands.links import links_command
    return links_command(os.path.realpath(args.out), base=args.base, output=args.output, slips=args.slips,
                         language=args.language or 'en', only=args.only)


def run_rekey(args):
    from .commands.rekey import rekey_command
    return rekey_command(os.path.realpath(args.out), name=args.name, by=args.by)


def run_remove(args):
    from .commands.remove import remove_command
    return remove_command(os.path.realpath(args.out), wanted=args.names, by=args.by)


def run_restore(args):
    from .commands.restore import restore_command
    return restore_command(os.path.realpath(args.out), wanted=args.names, jobs=args.jobs, by=args.by)


RUNNERS = {'build': run_build, 'who': run_who, 'grade': run_grade, 'serve': run_serve, 'links': run_links,
           'rekey': run_rekey, 'remove': run_remove, 'restore': run_restore, 'board-key': run_board_key,
           'address': run_address}


def main(argv=None):
    parser = options.parser(RUNNERS, __doc__.split('\n\n')[0])
    args = parser.parse_args(argv)
    if args.command == 'grade' and (args.answers is None) == (not args.from_checkins):
        parser.error('grade takes ANSWERS or --from-checkins, one of the two')
    try:
        return args.run(args)
    except Refusal as refusal:
        print(f'class-set: {refusal}', file=sys.stderr)
        return REFUSED
    except Failure as failure:
        print(f'class-set: {failure}', file=sys.stderr)
        return FAILED
    except KeyboardInterrupt:
        print('class-set: stopped by Ctrl+C', file=sys.stderr)
        return INTERRUPTED
    except OSError as e:
        # A full disk, a read-only folder: said in one line; what was
        # half-written has been removed on the way out.
        where = f'{e.filename}: ' if e.filename else ''
        then = '; free some space there, then run it again' if e.errno == errno.ENOSPC else ''
        print(f'class-set: {where}{e.strerror or e}{then}', file=sys.stderr)
        return FAILED


if __name__ == '__main__':
    sys.exit(main())
