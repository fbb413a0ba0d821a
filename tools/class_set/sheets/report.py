"""The report of a grading, one whichever file it goes to: grade's CSV or
workbook and the board's. The CSV is for programs (a gradebook's import,
a script): English words, times as text. The workbook is for people:
words in their language, counts and points as numbers, times as times,
columns as wide as what they hold, and the summary on a sheet of its own."""

import dataclasses
import sys

from .. import times
from ..language import N_, translations
from ..set import removals
from ..set.clock import Clock
from ..set.details import read_details
from ..set.grading import Result, grade
from .office import Table, kind_of, spreadsheet
from .tables import whole_file, write_csv


COLUMNS = ['name', 'folder', 'result', 'answers', 'answered_by', 'handed_in_others', 'others_handed_in_theirs',
           'claimed_by_name', 'walk_in', 'removed', 'solved_at', 'downloaded', 'late', 'extra_minutes', 'minutes',
           'rank', 'points']
TIMES = ('removed', 'solved_at', 'downloaded')  # named with their zone in a workbook's header
# The report's words for people (its workbook, the board); its CSV keeps them as they are, for programs.
WORDS = {'solved': N_('solved'), 'wrong': N_('wrong'), 'none': N_('none'), 'not on the list': N_('not on the list'),
         'link': N_('link'), 'name': N_('name'), 'yes': N_('yes')}
HEADERS = {'name': N_('Name'), 'folder': N_('Folder'), 'result': N_('Result'), 'answers': N_('Answers'),
           'answered_by': N_('Answered by'), 'handed_in_others': N_("Handed in others'"),
           'others_handed_in_theirs': N_('Others handed in theirs'), 'claimed_by_name': N_('Claimed by name'),
           'walk_in': N_('Walk-in'), 'removed': N_('Removed at'), 'solved_at': N_('Solved at'),
           'downloaded': N_('Downloaded'), 'late': N_('Late'), 'extra_minutes': N_('Extra minutes'),
           'minutes': N_('Minutes to the solution'), 'rank': N_('Rank'), 'points': N_('Points')}
WORDED = ('result', 'answered_by', 'walk_in', 'late')


def words(gettext):
    """Return the report's words for people in the reader's language, by what they stand for."""
    return {key: gettext(word) for key, word in WORDS.items()}


def when(at):
    """Return a time of the store as this machine's date and time; None where there is none."""
    return times.local(times.at(at)) if at else None


def cells(row):
    """Return the report's own columns of a Row, as its sheet holds them."""
    return {'name': row.name, 'folder': row.folder, 'result': row.result.value, 'answers': row.answers,
            'answered_by': row.answered_by, 'handed_in_others': row.handed_in_others,
            'others_handed_in_theirs': row.others_handed_in_theirs, 'claimed_by_name': row.claimed_by_name,
            'walk_in': 'yes' if row.walk_in else '', 'removed': row.removed or ''}


def number(value):
    """A number as a sheet holds it: whole where it is, as 2 and not 2.0."""
    return int(value) if float(value).is_integer() else value


@dataclasses.dataclass(frozen=True)
class Timing:
    """What the clock says of a row: whether their first right answer came
    after their own closing, their minutes of extra time, the minutes from
    the opening (or their own download where the room has no opening) to
    it, and their rank by those among those who solved it in time."""
    late: bool = False
    extra: int = 0
    minutes: float | None = None
    rank: int | None = None


class Report:
    """A Grade with the roster's other columns (`details`), when each first
    downloaded their program (`downloads`: by folder, or by name in stores
    from before folders), and the room's Clock with everyone's minutes of
    extra time (`extras`, by folder)."""

    def __init__(self, grade, details, downloads, clock=Clock(), extras=None):
        self.grade, self.details, self.downloads, self.clock = grade, details, downloads, clock
        self.extras = extras or {}
        self.columns = COLUMNS + details.columns
        self.timing = self.timed()

    def cut(self, folders):
        """Return the Report of those `folders` alone (a group): their rows, ranked among themselves."""
        return Report(self.grade.cut(folders), self.details, self.downloads, self.clock, self.extras)

    def downloaded(self, row):
        """When a row's person first downloaded their program; None where not known."""
        return self.downloads.get(row.folder) or self.downloads.get(row.name) if row.folder else None

    def timed(self):
        """{folder: Timing} of everyone of the report; the rank counts those
        who solved it in time, the fastest first, alike times alike."""
        found, solved_by = {}, set()
        for row in self.grade.rows:
            if not row.folder:
                continue
            extra, solved = self.extras.get(row.folder, 0), row.solved_at
            start = self.clock.opens.timestamp() if self.clock.opens else self.downloaded(row)
            minutes = round((solved - start) / 60, 1) if solved and start and solved >= start else None
            found[row.folder] = Timing(bool(solved) and self.clock.late(solved, extra), extra, minutes)
            if row.result is Result.SOLVED:
                solved_by.add(row.folder)
        in_time = sorted((t.minutes, f) for f, t in found.items()
                         if t.minutes is not None and not t.late and f in solved_by)
        rank, before = 0, None
        for place, (minutes, folder) in enumerate(in_time, 1):
            if minutes != before:
                rank, before = place, minutes
            found[folder] = dataclasses.replace(found[folder], rank=rank)
        return found

    def rows(self, points=1, late_points=0):
        """Yield the report's rows as its sheet's cells, by column: times as
        datetimes, counts and points as numbers; points for a solution in
        time, `late_points` for one after its person's closing."""
        for row in self.grade.rows:
            timing = self.timing.get(row.folder, Timing())
            earned = (late_points if timing.late else points) if row.result is Result.SOLVED else 0
            yield {**dict.fromkeys(self.columns, ''), **cells(row), **self.details.of(row.folder),
                   'solved_at': when(row.solved_at), 'downloaded': when(self.downloaded(row)),
                   'late': 'yes' if timing.late else '', 'extra_minutes': timing.extra or '',
                   'minutes': timing.minutes, 'rank': timing.rank,
                   'points': number(earned) if row.folder else None}

    def csv(self, out_file, points=1, late_points=0, line_end='\r\n'):
        """The report as CSV, for programs: English words, times with their offset."""
        write_csv(out_file, self.columns, self.rows(points, late_points), line_end)

    def table(self, gettext, points=1, late_points=0):
        """Return the report as a spreadsheet's Table for people, in the
        reader's language, times as date-times with their zone named in the
        header, the roster's numbers as numbers, and a summary sheet."""
        said, zone = words(gettext), times.zone_name()
        header = [(f'{gettext(HEADERS[c])} ({zone})' if c in TIMES else gettext(HEADERS[c])) if c in HEADERS else c
                  for c in self.columns]
        rows = [[', '.join(said.get(w, w) for w in row[c].split(', ')) if c in WORDED and row[c] else row[c]
                 for c in self.columns] for row in self.rows(points, late_points)]
        counts = self.grade.counts() | {'late': sum(1 for t in self.timing.values() if t.late)}
        summary = [(gettext(label), counts[key]) for key, label in SUMMARY]
        summary += [(gettext('Passwords passed around'), len(self.grade.passed))]
        return Table(gettext('Report'), header, rows, frozenset(range(len(COLUMNS), len(self.columns))),
                     (gettext('Summary'), summary))


SUMMARY = [('people', N_('People')), ('solved', N_('Solved')), ('late', N_('Solved late')), ('wrong', N_('Wrong')),
           ('none', N_('No answer')),
           ('removed', N_('Removed')), ('answers', N_('Answers')),
           ('not on the list', N_('Names not on the list'))]


def write_report(report, output, out, language=None, points=1, late_points=0):
    """To standard output, or whole to `output`: an .xlsx workbook where its
    name ends so, else CSV. What to tell the organiser of it, in lines."""
    kind = kind_of(output, 'a report') if output and output != '-' else '.csv'
    if kind != '.csv':
        with whole_file(output, out, binary=True) as f:
            f.write(spreadsheet(kind, report.table(translations(language or 'en').gettext, points, late_points)))
        return []
    with whole_file(output or '-', out) as f:
        report.csv(f, points, late_points, '\r\n' if f is not sys.stdout else '\n')
    if language and language != 'en':
        return [f'the CSV stays in English, for programs; --output report.xlsx gives the report in {language}']
    return []


def graded(out, people, answers, trust_names=False, downloads=None, clock=Clock(), extras=None):
    """Return the Report of the answers for the set OUT and its People:
    grade's, with the roster's other columns, when each downloaded where
    known, and what the room's Clock says of each."""
    result = grade(people, answers, removals.read(out), trust_names)
    return Report(result, read_details(out), downloads or {}, clock, extras)
