"""class-set: one PassWord.exe per person of a group, and the organiser's
commands around it. `class-set COMMAND --help` says more of each."""
import argparse
import errno
import sys

from .commands import COMMANDS
from .errors import FAILED, INTERRUPTED, REFUSED, Failure, Refusal


def parser():
    """Return the whole command line, a parser for each command of the table."""
    top = argparse.ArgumentParser(prog='class-set', description=__doc__.split('\n\n')[0])
    commands = top.add_subparsers(dest='command', required=True, metavar='COMMAND')
    for command in COMMANDS:
        made = commands.add_parser(command.NAME, help=command.SUMMARY, description=command.DESCRIPTION)
        command.options(made)
        made.set_defaults(run=command.run, parser=made)
    return top


def main(argv=None):
    """Run the command `argv` (the command line's, by default) names; its exit code."""
    args = parser().parse_args(argv)
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
