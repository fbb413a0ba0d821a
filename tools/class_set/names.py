"""Names as the set keeps them, as people type them, and the folder each gets."""
import re
import unicodedata

from .errors import Refusal

# Device names, with or without an extension; Windows counts ¹²³ as digits.
RESERVED = {'CON', 'PRN', 'AUX', 'NUL'} | {p + n for p in ('COM', 'LPT') for n in '0123456789¹²³'}
CONTROL = re.compile(r'[\x00-\x1f\x7f-\x9f]')
UNSAFE = re.compile(r'[/\\:*?"<>|\x00-\x1f\x7f-\x9f]')
MAX_FOLDER = 64
MAX_FOLDER_BYTES = 255  # what file systems take for one name
MAX_NAME = 200
# Format characters nobody types in a name, but a file may carry: byte order
# marks (two files joined), zero-width spaces, bidi controls. The joiners
# (U+200C, U+200D) stay: some scripts need them.
INVISIBLE = re.compile('[\u00ad\u061c\u180e\u200b\u200e\u200f\u202a-\u202e\u2060-\u2064\u2066-\u206f\ufeff]')


def folder_for(name):
    """A folder name that Windows, macOS, Linux and zip all take as it is."""
    folder = UNSAFE.sub('_', unicodedata.normalize('NFC', name))
    folder = folder[:MAX_FOLDER]
    while len(folder.encode('utf-8')) > MAX_FOLDER_BYTES:
        folder = folder[:-1]
    folder = folder.strip(' .')
    if not folder or folder.split('.')[0].rstrip(' ').upper() in RESERVED:
        return None
    return folder


def name_key(name):
    """A name as people type it: NFC, no spaces at the ends or twice, any
    case, and nothing invisible. Two names with one key are one person to
    grade and to the check-in page."""
    return re.sub(r'\s+', ' ', unicodedata.normalize('NFC', INVISIBLE.sub('', name))).strip().casefold()


def clean_name(text):
    """A name as the set keeps it, or a Refusal that says why it is none."""
    line = INVISIBLE.sub('', text).strip()
    # No one's name; an escape sequence would reach the organiser's terminal.
    if CONTROL.search(line):
        raise Refusal('a control character in the name')
    if len(line) > MAX_NAME:
        raise Refusal(f'a name of {len(line)} characters; at most {MAX_NAME}')
    return unicodedata.normalize('NFC', line)


def check_folders(named, where):
    """named: [(place, name)]. Every name gets a folder of its own, also
    where case does not count."""
    taken = {}
    for place, name in named:
        folder = folder_for(name)
        if folder is None:
            raise Refusal(f'{where(place)}: "{name}" gives no safe folder name; write it another way')
        key = folder.casefold()
        if key in taken:
            other, other_name = taken[key]
            raise Refusal(f'{where(place)}: "{name}" and "{other_name}" ({where(other)}) '
                          f'would share the folder "{folder}"')
        taken[key] = (place, name)


def check_newcomers(rows, newcomers, where):
    """Newcomers whom the check-in page and grade would take for someone
    already in the set, or for each other (case, runs of spaces)."""
    taken = {name_key(row.name): row.name for row in rows}
    for name in newcomers:
        other = taken.get(name_key(name))
        if other is not None:
            raise Refusal(f'{where(name)}: "{name}" would be taken for "{other}"; write it another way')
        taken[name_key(name)] = name
