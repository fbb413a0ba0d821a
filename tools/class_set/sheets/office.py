"""Spreadsheets for people, as .xlsx (openpyxl) or .ods (odfpy, what
LibreOffice keeps), alike: a sheet of real columns, numbers as numbers
and times as date-times, text that looks like a formula kept as text,
each column as wide as what it holds (within reason), the header bold and
frozen with a filter on it, and a summary on a sheet of its own. Which
one a file is, its name says; a CSV for programs is written elsewhere."""
import dataclasses
import datetime
import io
import os
import re

from .. import times
from ..errors import Refusal

KINDS = ('.csv', '.xlsx', '.ods')
# What XML, and so no spreadsheet file, can hold: the C0 controls but tab,
# line feed and carriage return, lone surrogates, U+FFFE and U+FFFF.
NOT_XML = re.compile('[\x00-\x08\x0b\x0c\x0e-\x1f\ud800-\udfff\ufffe\uffff]')
WIDEST = 60  # characters: a column no wider than a long name
# A number as a roster writes one: no leading zero (00123 is an id, kept as
# text), at most 15 digits (what a spreadsheet's number holds exactly).
NUMBER = re.compile(r'-?(0|[1-9]\d{0,14})([.,]\d{1,6})?')


@dataclasses.dataclass(frozen=True)
class Table:
    """A sheet of a spreadsheet: its title, its header, its rows of values
    (str, int, float, datetime or None), the columns (by index) whose text
    is read as a number where it is one (a roster's), and a summary
    (title, [(label, value)]) for a second sheet."""
    title: str
    header: list
    rows: list
    numeric: frozenset = frozenset()
    summary: tuple | None = None


def kind_of(path, what):
    """The kind of spreadsheet a file to write is, by its name: .csv, .xlsx
    or .ods; a Refusal naming the three for any other."""
    found = os.path.splitext(path)[1].lower()
    if found not in KINDS:
        raise Refusal(f'{path}: {what} is written as .csv, .xlsx or .ods: name the file so')
    return found


def as_number(value):
    """Text that a roster wrote as a number, as one; anything else as it is."""
    if isinstance(value, str) and NUMBER.fullmatch(value.strip()):
        text = value.strip().replace(',', '.')
        return float(text) if '.' in text else int(text)
    return value


def keepable(value):
    """A cell's value as a spreadsheet file can hold it: text with what it
    cannot hold shown as U+FFFD (kept by stores from before it was
    refused); a time as this machine's clock shows it, for a spreadsheet
    has no zones (its column's header names the zone)."""
    if isinstance(value, datetime.datetime) and value.tzinfo is not None:
        return times.local(value).replace(tzinfo=None)
    return NOT_XML.sub('\ufffd', value) if isinstance(value, str) else value


def cells(table):
    """The rows of a Table as a file holds them."""
    return [[keepable(as_number(v) if i in table.numeric else v) for i, v in enumerate(row)] for row in table.rows]


def widths(rows):
    """Each column's width in characters: as wide as its longest value, within reason."""
    found = {}
    for row in rows:
        for i, value in enumerate(row):
            text = value.isoformat(' ') if isinstance(value, datetime.datetime) else str('' if value is None else value)
            found[i] = max(found.get(i, 0), len(text))
    return [min(WIDEST, found[i] + 2) for i in sorted(found)]


def spreadsheet(kind, table):
    """The bytes of a Table as an .xlsx or .ods file."""
    return {'.xlsx': xlsx, '.ods': ods}[kind](table)


def xlsx(table):
    """Return the bytes of an .xlsx workbook of the Table."""
    import openpyxl
    from openpyxl.styles import Font
    from openpyxl.utils import get_column_letter
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.title = table.title[:31]
    rows = cells(table)
    sheet.append([keepable(h) for h in table.header])
    for row in rows:
        sheet.append(row)
    for line in sheet.iter_rows(min_row=2):
        for cell in line:
            if isinstance(cell.value, str) and cell.value.startswith('='):
                cell.data_type = 's'
            elif isinstance(cell.value, datetime.datetime):
                cell.number_format = 'yyyy-mm-dd hh:mm:ss'
    for cell in sheet[1]:
        cell.font = Font(bold=True)
    sheet.freeze_panes = 'A2'
    sheet.auto_filter.ref = sheet.dimensions
    for i, width in enumerate(widths([table.header, *rows])):
        sheet.column_dimensions[get_column_letter(i + 1)].width = width
    if table.summary is not None:
        counts = book.create_sheet(table.summary[0][:31])
        for label, value in table.summary[1]:
            counts.append([keepable(label), value])
        for i, width in enumerate(widths(table.summary[1])):
            counts.column_dimensions[get_column_letter(i + 1)].width = width
    data = io.BytesIO()
    book.save(data)
    return data.getvalue()


def ods(table):
    """Return the bytes of an OpenDocument spreadsheet (.ods) of the Table."""
    from odf.opendocument import OpenDocumentSpreadsheet
    doc = OpenDocumentSpreadsheet()
    styles = OdsStyles(doc)
    rows = cells(table)
    sheets = [(table.title[:31], [table.header, *rows])]
    if table.summary is not None:
        sheets.append((table.summary[0][:31], [list(pair) for pair in table.summary[1]]))
    for title, lines in sheets:
        doc.spreadsheet.addElement(ods_sheet(styles, title, lines))
    frozen_header(doc, [title for title, _ in sheets])
    filtered(doc, sheets[0][0], len(table.header), len(rows) + 1)
    data = io.BytesIO()
    doc.write(data)
    return data.getvalue()


class OdsStyles:
    """The styles an .ods sheet's cells and columns take: bold for the
    header, a date-time for times, a width per column."""

    def __init__(self, doc):
        from odf.number import Day, DateStyle, Hours, Minutes, Month, Seconds, Text, Year
        from odf.style import Style, TextProperties
        self.doc, self.columns = doc, {}
        self.bold = Style(name='header', family='table-cell')
        self.bold.addElement(TextProperties(fontweight='bold'))
        stamp = DateStyle(name='stamp')
        for part in (Year(style='long'), Text(text='-'), Month(style='long'), Text(text='-'), Day(style='long'),
                     Text(text=' '), Hours(style='long'), Text(text=':'), Minutes(style='long'), Text(text=':'),
                     Seconds(style='long')):
            stamp.addElement(part)
        self.when = Style(name='when', family='table-cell', datastylename='stamp')
        for style in (stamp, self.bold, self.when):
            doc.automaticstyles.addElement(style)

    def column(self, width):
        """The column style of a width in characters."""
        if width not in self.columns:
            from odf.style import Style, TableColumnProperties
            style = Style(name=f'w{width}', family='table-column')
            style.addElement(TableColumnProperties(columnwidth=f'{width * 0.21:.2f}cm'))
            self.doc.automaticstyles.addElement(style)
            self.columns[width] = style
        return self.columns[width]


def ods_sheet(styles, title, lines):
    """A sheet (table:table) of lines, the first its header."""
    from odf.table import Table as Sheet, TableColumn, TableRow
    sheet = Sheet(name=title)
    for width in widths(lines):
        sheet.addElement(TableColumn(stylename=styles.column(width)))
    for number, line in enumerate(lines):
        row = TableRow()
        for value in line:
            row.addElement(ods_cell(styles, value, header=number == 0))
        sheet.addElement(row)
    return sheet


def ods_cell(styles, value, header=False):
    """A cell (table:table-cell) of a value: a number, a date-time or text."""
    from odf.table import TableCell
    from odf.text import P
    if value is None or value == '':
        return TableCell()
    if header:
        cell = TableCell(valuetype='string', stylename=styles.bold)
    elif isinstance(value, (int, float)) and not isinstance(value, bool):
        cell = TableCell(valuetype='float', value=value)
    elif isinstance(value, datetime.datetime):
        cell = TableCell(valuetype='date', datevalue=value.isoformat(timespec='seconds'), stylename=styles.when)
    else:
        cell = TableCell(valuetype='string')
    cell.addElement(P(text=value.strftime('%Y-%m-%d %H:%M:%S') if isinstance(value, datetime.datetime) else str(value)))
    return cell


def frozen_header(doc, titles):
    """The first row of every sheet frozen, as LibreOffice keeps it in settings.xml."""
    from odf.config import ConfigItem, ConfigItemMapEntry, ConfigItemMapIndexed, ConfigItemMapNamed, ConfigItemSet
    view = ConfigItemMapEntry()
    view.addElement(ConfigItem(name='ViewId', type='string', text='view1'))
    tables = ConfigItemMapNamed(name='Tables')
    for title in titles:
        entry = ConfigItemMapEntry(name=title)
        for name, kind, value in (('HorizontalSplitMode', 'short', '0'), ('VerticalSplitMode', 'short', '2'),
                                  ('HorizontalSplitPosition', 'int', '0'), ('VerticalSplitPosition', 'int', '1'),
                                  ('ActiveSplitRange', 'short', '2'), ('PositionLeft', 'int', '0'),
                                  ('PositionRight', 'int', '0'), ('PositionTop', 'int', '0'),
                                  ('PositionBottom', 'int', '1')):
            entry.addElement(ConfigItem(name=name, type=kind, text=value))
        tables.addElement(entry)
    view.addElement(tables)
    views = ConfigItemMapIndexed(name='Views')
    views.addElement(view)
    settings = ConfigItemSet(name='ooo:view-settings')
    settings.addElement(views)
    doc.settings.addElement(settings)


def filtered(doc, title, columns, rows):
    """A filter on the header of the first sheet."""
    from odf.table import DatabaseRange, DatabaseRanges
    last = ''
    number = columns
    while number:
        number, rest = divmod(number - 1, 26)
        last = chr(65 + rest) + last
    quoted = "'" + title.replace("'", "''") + "'"
    ranges = DatabaseRanges()
    ranges.addElement(DatabaseRange(name='__Anonymous_Sheet_DB__0', displayfilterbuttons='true',
                                    targetrangeaddress=f'{quoted}.A1:{quoted}.{last}{rows}'))
    doc.spreadsheet.addElement(ranges)
