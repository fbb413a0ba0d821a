"""`grade`: the answers a group handed in, graded against the set."""
import os
import re
import sys

from .. import times
from ..errors import OK, Failure, Refusal
from ..set import people
from ..set.clock import Clock
from ..set.folder import read_set, records_path, steady
from ..set.grading import Handed, from_store
from ..set.groups import beside, parts, set_column
from ..set.store import Checkins
from ..sheets.gradebook import LAYOUTS, Gradebook, resolved, write_gradebook
from ..sheets.office import kind_of
from ..sheets.report import graded, write_report
from ..sheets.tables import column, inside, read_table, writable
from .options import clock_of, file_options, group_options, instant, language_option, length, out_argument, points


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
    language_option(parser, 'the report as a spreadsheet (--output FILE.xlsx or FILE.ods)')
    file_options(parser, 'ANSWERS', "ANSWERS' column of the id that the roster's --id-column gave: it tells "
                                    'namesakes apart')
    parser.add_argument('--output', metavar='FILE',
                        help='the report to FILE instead of standard output: CSV, or a workbook where FILE ends in '
                             '.xlsx or .ods')
    parser.add_argument('--points', type=points, default=1, metavar='N',
                        help='points for a solution in time, in the report\'s points column, for a gradebook; '
                             'decimals as 2.5 (default: %(default)s; 0 otherwise)')
    parser.add_argument('--late-points', type=points, default=0, metavar='N',
                        help='points for a solution after its person\'s closing (default: %(default)s)')
    parser.add_argument('--time-column', metavar='TEXT',
                        help="ANSWERS' column of when each was handed in (2026-12-08 10:31 or 08.12.2026 10:31, "
                             "this machine's clock where no offset is given), for the clock")
    parser.add_argument('--opens', type=instant, metavar='TIME',
                        help='when the room opened, for minutes to a solution (default: as serve kept it)')
    parser.add_argument('--closes', type=instant, metavar='TIME',
                        help='when it closed, for late solutions (default: as serve kept it)')
    parser.add_argument('--for', dest='lasts', type=length, metavar='DURATION',
                        help='or how long it was open from the opening: 90m, 1h30m')
    parser.add_argument('--gradebook', metavar='FILE',
                        help="what a school's gradebook imports to FILE (.csv in UTF-8, .xlsx or .ods): one row per "
                             "person of the roster, their id, name and points, nobody else; with it the report is "
                             'written only where --output says')
    parser.add_argument('--gradebook-id', action='append', metavar='COLUMN',
                        help="the roster's column the gradebook knows people by, again for more than one (default: "
                             "build's --id-column, else a column of e-mail addresses)")
    parser.add_argument('--gradebook-for', choices=LAYOUTS, default='plain',
                        help="plain: the id columns, Name and the points, for Moodle's CSV import and most others; "
                             "canvas: the columns Canvas's import knows (default: %(default)s)")
    parser.add_argument('--gradebook-title', default='PassWord', metavar='TEXT',
                        help="the points' column: the gradebook's item or assignment (default: %(default)s)")
    group_options(parser, 'the report and the gradebook')
    parser.add_argument('--trust-names', action='store_true',
                        help="count another's password handed in under a name as passed around; by default only "
                             'answers through personal links prove who handed it in, and those by name are listed '
                             'apart, unconfirmed')


def run(args):
    """Grade the answers of a file or of the store."""
    if (args.answers is None) == (not args.from_checkins):
        args.parser.error('grade takes ANSWERS or --from-checkins, one of the two')
    args.after_close = None
    return grade_command(args.out, args.answers, name_column=args.name_column, word_column=args.word_column,
                         output=args.output, from_checkins=args.from_checkins, encoding=args.encoding,
                         id_column=args.id_column, trust_names=args.trust_names, language=args.language,
                         points=args.points, late_points=args.late_points, time_column=args.time_column,
                         clock=lambda kept: clock_of(args, kept), group_column=args.group_column,
                         group=args.group, per_group=args.per_group,
                         gradebook=args.gradebook and Gradebook(args.gradebook, args.gradebook_id or (),
                                                                args.gradebook_for, args.gradebook_title))


MOST_SAID = 10  # answers under names that match nobody, said on the terminal; the report has them all


def read_answers(path, name_column, word_column, encoding=None, id_column=None, time_column=None):
    """Return [Handed] from a table as forms and spreadsheets export it (see
    sheets.tables), with a header row; when each came, from `time_column`."""
    table = read_table(path, encoding, 'answers')
    header = table[0][1]
    name_at, word_at = (column(header, wanted, f'{path}:1') for wanted in (name_column, word_column))
    id_at = column(header, id_column, f'{path}:1') if id_column else None
    time_at = column(header, time_column, f'{path}:1') if time_column else None
    return [Handed(f'{path}:{line}', fields[name_at], fields[word_at], id=fields[id_at].strip() if id_column else '',
                   time=handed_at(fields[time_at], f'{path}:{line}') if time_column else None)
            for line, fields in table[1:]]


EXPORTED = re.compile(r'(\d{1,2})\.(\d{1,2})\.(\d{4}),? (\d{1,2}:\d{2}(?::\d{2})?)')


def handed_at(text, where):
    """Seconds since the epoch of an answers file's time: ISO 8601, or a
    Russian spreadsheet's 08.12.2026 10:31[:05]; a Refusal naming the line."""
    found = EXPORTED.fullmatch(text.strip())
    if found:
        day, month, year, clock = found.groups()
        text = f'{year}-{int(month):02d}-{int(day):02d} {clock if clock.count(":") == 2 else clock + ":00"}'
    instant = times.read(text) if re.match(r'\d{4}-\d\d-\d\d[T ]\d', text.strip()) else None
    if instant is None:
        raise Refusal(f'{where}: "{text}" is not a date and time such as 2026-12-08 10:31')
    return instant.timestamp()


def kept_store(out):
    """The store of the set OUT where serve made one (for its clock); None
    where not, or where it cannot be read (said on standard error: answers
    from a file are graded without the room's clock then)."""
    try:
        return Checkins(out, create=False)
    except FileNotFoundError:
        return None
    except (Refusal, Failure) as why:
        print(f'class-set: graded without the room\'s clock, as {why}', file=sys.stderr)
        return None


def checked_in(out):
    """Return (the store, [Handed] through serve) of OUT/checkins.sqlite."""
    try:
        store = Checkins(out, create=False)
    except FileNotFoundError:
        raise Refusal(f'{out}: no check-ins yet (checkins.sqlite is made by serve)')
    return store, from_store(store.answers())


def grade_command(out, answers_path, name_column='name', word_column='password', output=None, from_checkins=False,
                  encoding=None, id_column=None, trust_names=False, language=None, points=1, late_points=0,
                  time_column=None, clock=None, group_column=None, group=None, per_group=False, gradebook=None):
    """Grade the answers for the set OUT; the report to `output` or standard
    output (or only where `output` says, with a Gradebook to write), cut to
    a `group` or to a file each where asked; its summary on standard error."""
    records_path(out)
    downloads = None
    if not from_checkins:
        if inside(answers_path, out):
            raise Refusal(f'{answers_path}: a file of the set itself, not the answers handed in')
        answers = read_answers(answers_path, name_column, word_column, encoding, id_column, time_column)
    files = [(output, 'a report'), (gradebook and gradebook.path, 'a gradebook')]
    files = [(path, what) for path, what in files if path and path != '-']
    if per_group and (not files or '-' in (output, gradebook and gradebook.path)):
        raise Refusal('--per-group writes a file for each group: name one with --output or --gradebook, not -')
    for path, what in files:
        if answers_path and os.path.realpath(path) == os.path.realpath(answers_path):
            raise Refusal(f'{path}: that is the answers file itself')
        writable(path, out)
        kind_of(path, what)
    with steady(out):  # no remove or restore half-seen
        everyone = people.read(out, read_set(out), keys={})  # their links' keys are not graded
        store = kept_store(out)
        if from_checkins:
            store, answers = checked_in(out)
            downloads = store.downloads()
        kept, extras = (store.clock(), store.extras()) if store else (Clock(), {})
        report = graded(out, everyone, answers, trust_names, downloads, clock(kept) if clock else kept, extras)
        column = set_column(out, group_column)
        gradebook = gradebook and resolved(out, gradebook)
    said = []
    for name, members in parts((*everyone.here, *everyone.gone), column, group, per_group):
        part = report if name is None else report.cut({p.folder for p in members})
        where = (lambda path: beside(path, name)) if per_group else (lambda path: path)
        if output or not gradebook:
            said += write_report(part, output and where(output), out, language, points, late_points)
        if gradebook:
            said += write_gradebook(part, everyone, gradebook._replace(path=where(gradebook.path)), out, column,
                                    output and where(output), points, late_points)
        if name is not None:
            said.append(f'{name or "no group"}: {part.grade.summary()}'
                        + (f' ({where(output)})' if per_group and output else ''))
    strangers = report.grade.strangers
    more = [f'... and {len(strangers) - MOST_SAID} more answers under names that match no one person '
            '(the report has them all)'] if len(strangers) > MOST_SAID else []
    print('\n'.join([report.grade.summary(), *map(str, report.grade.passed), *strangers[:MOST_SAID], *more,
                     *dict.fromkeys(said)]), file=sys.stderr)
    return OK
