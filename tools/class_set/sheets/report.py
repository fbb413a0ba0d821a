"""The report of a grading, one whichever file it goes to: grade's CSV or
workbook and the board's. The CSV is for programs (a gradebook's import,
a script): English words, times as text. The workbook is for people:
words in their language, counts and points as numbers, times as times,
columns as wide as what they hold, and the summary on a sheet of its own."""

import sys

from .. import times
from ..language import N_, translations
from ..set import removals
from ..set.details import read_details
from ..set.grading import Result, grade
from .tables import is_workbook, whole_file, workbook, write_csv


COLUMNS = ['name', 'folder', 'result', 'answers', 'answered_by', 'handed_in_others', 'others_handed_in_theirs',
           'claimed_by_name', 'walk_in', 'removed', 'solved_at', 'downloaded', 'minutes', 'points']
# The report's words for people (its workbook, the board); its CSV keeps them as they are, for programs.
WORDS = {'solved': N_('solved'), 'wrong': N_('wrong'), 'none': N_('none'), 'not on the list': N_('not on the list'),
         'link': N_('link'), 'name': N_('name'), 'yes': N_('yes')}
HEADERS = {'name': N_('Name'), 'folder': N_('Folder'), 'result': N_('Result'), 'answers': N_('Answers'),
           'answered_by': N_('Answered by'), 'handed_in_others': N_("Handed in others'"),
           'others_handed_in_theirs': N_('Others handed in theirs'), 'claimed_by_name': N_('Claimed by name'),
           'walk_in': N_('Walk-in'), 'removed': N_('Removed'), 'solved_at': N_('Solved at'),
           'downloaded': N_('Downloaded'), 'minutes': N_('Minutes from download to solution'),
           'points': N_('Points')}
WORDED = ('result', 'answered_by', 'walk_in')


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


class Report:
    """A Grade with the roster's other columns (`details`) and when each
    first downloaded their program (`downloads`: by folder, or by name in
    stores from before folders)."""

    def __init__(self, grade, details, downloads):
        self.grade, self.details, self.downloads = grade, details, downloads
        self.columns = COLUMNS + details.columns

    def rows(self, points=1):
        """Yield the report's rows as its sheet's cells, by column: times as datetimes, counts and points as numbers."""
        for row in self.grade.rows:
            downloaded = self.downloads.get(row.folder) or self.downloads.get(row.name) if row.folder else None
            solved = row.solved_at
            minutes = round((solved - downloaded) / 60, 1) if solved and downloaded and solved >= downloaded else None
            yield {**dict.fromkeys(self.columns, ''), **cells(row), **self.details.of(row.folder),
                   'solved_at': when(solved), 'downloaded': when(downloaded), 'minutes': minutes,
                   'points': (points if row.result is Result.SOLVED else 0) if row.folder else None}

    def csv(self, out_file, points=1, line_end='\r\n'):
        """The report as CSV, for programs: English words, times with their offset."""
        write_csv(out_file, self.columns, self.rows(points), line_end)

    def workbook(self, gettext, points=1):
        """Return the report as an .xlsx workbook for people, in the reader's language, with a summary sheet."""
        said = words(gettext)
        header = [gettext(HEADERS[c]) if c in HEADERS else c for c in self.columns]
        rows = [[', '.join(said.get(w, w) for w in row[c].split(', ')) if c in WORDED and row[c] else row[c]
                 for c in self.columns] for row in self.rows(points)]
        counts = self.grade.counts()
        summary = [(gettext(label), counts[key]) for key, label in SUMMARY]
        summary += [(gettext('Passwords passed around'), len(self.grade.passed))]
        return workbook(gettext('Report'), header, rows, (gettext('Summary'), summary))


SUMMARY = [('people', N_('People')), ('solved', N_('Solved')), ('wrong', N_('Wrong')), ('none', N_('No answer')),
           ('removed', N_('Removed')), ('answers', N_('Answers')),
           ('not on the list', N_('Names not on the list'))]


def write_report(report, output, out, language=None, points=1):
    """To standard output, or whole to `output`: an .xlsx workbook where its
    name ends so, else CSV. What to tell the organiser of it, in lines."""
    if is_workbook(output):
        with whole_file(output, out, binary=True) as f:
            f.write(report.workbook(translations(language or 'en').gettext, points))
        return []
    with whole_file(output or '-', out) as f:
        report.csv(f, points, '\r\n' if f is not sys.stdout else '\n')
    if language and language != 'en':
        return [f'the CSV stays in English, for programs; --output report.xlsx gives the report in {language}']
    return []


def graded(out, people, answers, trust_names=False, downloads=None):
    """Return the Report of the answers for the set OUT and its People: grade's,
    with the roster's other columns and, where known, when each downloaded."""
    result = grade(people, answers, removals.read(out), trust_names)
    return Report(result, read_details(out), downloads or {})
