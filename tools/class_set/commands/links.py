"""`links`: everyone's link, for a mail merge, and slips to print."""
import os
import sys
import urllib.parse

from ..address import room_base, unreachable
from ..errors import OK, Refusal, argument
from ..language import translations
from ..set import people
from ..set.folder import locked, read_set
from ..set.groups import beside, parts, set_column
from ..set.keys import with_keys
from ..set.store import Checkins, remembered
from ..sheets.links import links_csv, links_sheet, people_links, slips_page
from ..sheets.office import kind_of, spreadsheet
from ..sheets.tables import whole_file, writable
from .options import group_options, language_option, out_argument


NAME = 'links'
SUMMARY = "everyone's own link: a CSV for a mail merge, and slips to print"
DESCRIPTION = ("Writes a CSV of name and link (BASE/p/KEY, the person's own page on serve's check-in page: their "
               "program and the answer form) to FILE or standard output, and with --slips a page of slips to print, "
               "each with a QR code of the link. People without a key get one.")


def options(parser):
    """links' options."""
    out_argument(parser)
    parser.add_argument('--base', required=True, metavar='URL',
                        help="the check-in page's address as the room reaches it, e.g. http://ADDRESS:8000/ as "
                             "`class-set address` or serve prints it; auto: this machine's address on the room's "
                             "network, port 8000")
    parser.add_argument('--output', metavar='FILE',
                        help='the CSV to FILE instead of standard output; a workbook where FILE ends in .xlsx or .ods')
    parser.add_argument('--slips', metavar='FILE', help='a printable HTML page of slips to FILE')
    parser.add_argument('--only', metavar='NAME', help="one person's link and slip: a name as people type it, an id "
                                                       'or a folder (a lost slip, a new key)')
    language_option(parser, 'the slips and the spreadsheet')
    group_options(parser, 'the links and slips')


def run(args):
    """Write everyone's link, or one person's."""
    if args.only and (args.group or args.per_group):
        args.parser.error('--only is one person: not with --group or --per-group')
    return links_command(os.path.realpath(args.out), base=args.base, output=args.output, slips=args.slips,
                         language=args.language or 'en', only=args.only, group_column=args.group_column,
                         group=args.group, per_group=args.per_group)


def checked_base(base):
    """Return the page's address as people's browsers reach it: http or https."""
    parts = urllib.parse.urlsplit(base)
    if parts.scheme not in ('http', 'https') or not parts.netloc or parts.query or parts.fragment:
        raise Refusal(f'--base {base}: not an http or https address, such as http://ADDRESS:8000/')
    return base.rstrip('/') + '/'


def links_advice(out, folder):
    """Return the command to copy that prints one person's link and slip."""
    base = remembered(out, 'base') or 'auto'
    return f'class-set links {out} --base {base} --only {argument(folder)} --slips slip.html'


def links_command(out, base, output, slips, language='en', only=None, group_column=None, group=None,
                  per_group=False):
    """Write the links of the set OUT on `base`: CSV or workbook, and slips
    where asked; of a `group` alone, or a file each where asked."""
    base = room_base(8000) if base == 'auto' else checked_base(base)
    files = [path for path in (output, slips) if path and path != '-']
    if per_group and (not files or '-' in (output, slips)):
        raise Refusal('--per-group writes a file for each group: name one with --output or --slips, not -')
    kind = kind_of(output, 'the links') if output and output != '-' else '.csv'
    with locked(out):
        rows = read_set(out)
        everyone = people.read(out, rows, with_keys(out, rows))
        chosen = [everyone.find(only)] if only else list(everyone.here)
        cut = parts(chosen, set_column(out, group_column), group, per_group)
        Checkins(out).remember('base', base)
    placed = [(members, *((beside(path, name) if per_group and path else path) for path in (output, slips)))
              for name, members in cut]
    for _, *paths in placed:  # each file checked before any is written
        for path in paths:
            if path and path != '-':
                writable(path, out)
    said = [write_links(out, members, everyone, base, to, kind, slips_to, language) for members, to, slips_to in placed]
    for line in said:
        print(line, file=sys.stderr)
    warning = unreachable(base, 'The links\' address')
    if warning:
        print(warning, file=sys.stderr)
    return OK


def write_links(out, chosen, everyone, base, output, kind, slips, language):
    """Write the links of those `chosen` on `base`; what to tell of it, in a line."""
    links = people_links(chosen, base, everyone.here)
    if slips is not None:
        with whole_file(slips, out) as f:
            f.write(slips_page(links, language=language))
    if kind != '.csv':
        with whole_file(output, out, binary=True) as f:
            f.write(spreadsheet(kind, links_sheet(out, chosen, links, translations(language).gettext)))
    else:
        with whole_file(output or '-', out) as f:
            f.write(links_csv(out, chosen, links))
    said = [f'{len(links)} links on {base}', f'to {output}' if output and output != '-' else '',
            f'slips to {slips}' if slips else '']
    return ', '.join(s for s in said if s)
