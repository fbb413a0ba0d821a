"""`grade`: the answers a group handed in, graded against the set."""
import os
import sys

from ..errors import OK, Refusal
from ..set import people
from ..set.folder import read_set, records_path, steady
from ..set.grading import Handed, from_store
from ..set.store import Checkins
from ..sheets.report import graded, write_report
from ..sheets.tables import column, inside, read_table
from .options import file_options, language_option, out_argument, positive


NAME = 'grade'
SUMMARY = 'grade the answers a group handed in'
DESCRIPTION = ('For every person of the set OUT: solved (an answer was their own password), wrong or none, how many '
               'answers, and whose passwords were passed around, both ends. The report (CSV) holds no passwords; a '
               'summary follows on standard error.')


def options(parser):
    """grade's options."""
    out_argument(parser)
    parser.add_argument('answers', metavar='ANSWERS', nargs='?',
                        help='CSV with a header row, comma, semicolon or tab separated')
    parser.add_argument('--from-checkins', action='store_true',
                        help="the answers handed in through serve (OUT/checkins.sqlite) instead of ANSWERS")
    parser.add_argument('--name-column', default='name', metavar='TEXT', help='default: %(default)s')
    parser.add_argument('--word-column', default='password', metavar='TEXT', help='default: %(default)s')
    language_option(parser, 'the report as a spreadsheet (--output FILE.xlsx)')
    file_options(parser, 'ANSWERS', "ANSWERS' column of the id that the roster's --id-column gave: it tells "
                                    'namesakes apart')
    parser.add_argument('--output', metavar='FILE',
                        help='the report to FILE instead of standard output; an .xlsx workbook where FILE ends so')
    parser.add_argument('--points', type=positive, default=1, metavar='N',
                        help='points for a solution, in the report\'s points column, for a gradebook (default: '
                             '%(default)s; 0 otherwise)')
    parser.add_argument('--trust-names', action='store_true',
                        help="count another's password handed in under a name as passed around; by default only "
                             'answers through personal links prove who handed it in, and those by name are listed '
                             'apart, unconfirmed')


def run(args):
    """Grade the answers of a file or of the store."""
    if (args.answers is None) == (not args.from_checkins):
        args.parser.error('grade takes ANSWERS or --from-checkins, one of the two')
    return grade_command(args.out, args.answers, name_column=args.name_column, word_column=args.word_column,
                         output=args.output, from_checkins=args.from_checkins, encoding=args.encoding,
                         id_column=args.id_column, trust_names=args.trust_names, language=args.language,
                         points=args.points)


MOST_SAID = 10  # answers under names that match nobody, said on the terminal; the report has them all


def read_answers(path, name_column, word_column, encoding=None, id_column=None):
    """Return [Handed] from a table as forms and spreadsheets export it (see files.read_table), with a header row."""
    table = read_table(path, encoding, 'answers')
    header = table[0][1]
    name_at, word_at = (column(header, wanted, f'{path}:1') for wanted in (name_column, word_column))
    id_at = column(header, id_column, f'{path}:1') if id_column else None
    return [Handed(f'{path}:{line}', fields[name_at], fields[word_at], id=fields[id_at].strip() if id_column else '')
            for line, fields in table[1:]]


def checked_in(out):
    """Return (the store, [Handed] through serve) of OUT/checkins.sqlite."""
    try:
        store = Checkins(out, create=False)
    except FileNotFoundError:
        raise Refusal(f'{out}: no check-ins yet (checkins.sqlite is made by serve)')
    return store, from_store(store.answers())


def grade_command(out, answers_path, name_column='name', word_column='password', output=None, from_checkins=False,
                  encoding=None, id_column=None, trust_names=False, language=None, points=1):
    """Grade the answers for the set OUT; the report to `output` or standard output, its summary on
    standard error."""
    records_path(out)
    downloads = None
    if not from_checkins:
        if inside(answers_path, out):
            raise Refusal(f'{answers_path}: a file of the set itself, not the answers handed in')
        answers = read_answers(answers_path, name_column, word_column, encoding, id_column)
    if output is not None and os.path.realpath(output) == os.path.realpath(answers_path or os.devnull):
        raise Refusal(f'{output}: that is the answers file itself')
    with steady(out):  # no remove or restore half-seen
        everyone = people.read(out, read_set(out), keys={})  # their links' keys are not graded
        if from_checkins:
            store, answers = checked_in(out)
            downloads = store.downloads()
        report = graded(out, everyone, answers, trust_names, downloads)
    said = write_report(report, output, out, language, points)
    strangers = report.grade.strangers
    more = [f'... and {len(strangers) - MOST_SAID} more answers under names that match no one person '
            '(the report has them all)'] if len(strangers) > MOST_SAID else []
    print('\n'.join([report.grade.summary(), *map(str, report.grade.passed), *strangers[:MOST_SAID], *more,
                     *said]), file=sys.stderr)
    return OK
