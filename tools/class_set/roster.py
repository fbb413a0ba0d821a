"""The roster: names, one a line, and the folder each name gets."""
import re
import unicodedata

# Device names, with or without an extension; Windows counts ¹²³ as digits.
RESERVED = {'CON', 'PRN', 'AUX', 'NUL'} | {p + n for p in ('COM', 'LPT') for n in '0123456789¹²³'}
CONTROL = re.compile(r'[\x00-\x1f\x7f-\x9f]')
UNSAFE = re.compile(r'[/\\:*?"<>|\x00-\x1f\x7f-\x9f]')
MAX_FOLDER = 64


class Refusal(Exception):
    """Bad input: said in one line, and nothing is written."""


def folder_for(name):
    """A folder name that Windows, macOS, Linux and zip all take as it is."""
    folder = UNSAFE.sub('_', unicodedata.normalize('NFC', name))
    folder = folder[:MAX_FOLDER].strip(' .')
    if not folder or folder.split('.')[0].rstrip(' ').upper() in RESERVED:
        return None
    return folder


def read_roster(path):
    """[(line number, name)] of the roster, or a Refusal that names the line."""
    try:
        with open(path, 'rb') as f:
            data = f.read()
    except OSError as e:
        raise Refusal(f'{path}: cannot read the roster ({e.strerror})')
    if data.startswith(b'\xef\xbb\xbf'):
        data = data[3:]
    people, seen = [], {}
    for number, raw in enumerate(data.split(b'\n'), 1):
        try:
            line = raw.decode('utf-8').strip()
        except UnicodeDecodeError:
            raise Refusal(f'{path}:{number}: not UTF-8 text')
        if not line or line.startswith('#'):
            continue
        # No one's name; an escape sequence would reach the organiser's terminal.
        if CONTROL.search(line):
            raise Refusal(f'{path}:{number}: a control character in the name')
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
