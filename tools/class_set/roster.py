"""The roster: names, one a line, and the folder each name gets."""
import re
import unicodedata

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


class Refusal(Exception):
    """Bad input: said in one line, and nothing is written."""


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


def read_roster(path, encoding=None):
    """[(line number, name)] of the roster, or a Refusal that names the line."""
    from .files import read_text
    people, seen = [], {}
    for number, line in enumerate(read_text(path, encoding, 'roster').split('\n'), 1):
        line = INVISIBLE.sub('', line).strip()
        if not line or line.startswith('#'):
            continue
        # No one's name; an escape sequence would reach the organiser's terminal.
        if CONTROL.search(line):
            raise Refusal(f'{path}:{number}: a control character in the name')
        if len(line) > MAX_NAME:
            raise Refusal(f'{path}:{number}: a name of {len(line)} characters; at most {MAX_NAME}')
        name = unicodedata.normalize('NFC', line)
        if name in seen:
            raise Refusal(f'{path}:{number}: "{name}" is already on line {seen[name]}')
        seen[name] = number
        people.append((number, name))
    if not people:
        raise Refusal(f'{path}: no names in the roster')
    return people


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
