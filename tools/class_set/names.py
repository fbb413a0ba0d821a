"""Names as the set keeps them, as people type them, and the folder each gets."""
import re
import unicodedata

from .errors import Refusal
from .language import N_

# Device names, with or without an extension; Windows counts ¹²³ as digits.
RESERVED = {'CON', 'PRN', 'AUX', 'NUL'} | {p + n for p in ('COM', 'LPT') for n in '0123456789¹²³'}
CONTROL = re.compile(r'[\x00-\x1f\x7f-\x9f]')
UNSAFE = re.compile(r'[/\\:*?"<>|\x00-\x1f\x7f-\x9f]')
MAX_FOLDER = 64
MAX_FOLDER_BYTES = 255  # what file systems take for one name
MAX_NAME = 200
UNICODE_DATA = '/usr/share/unicode/DerivedCoreProperties.txt'  # Debian's unicode-data
JOINERS = (0x200C, 0x200D)


def default_ignorable():
    """Unicode's Default_Ignorable_Code_Point: [(first, last)]."""
    try:
        with open(UNICODE_DATA, encoding='utf-8') as f:
            codes = [line.split(';')[0].strip() for line in f
                     if line.split('#')[0].split(';')[-1].strip() == 'Default_Ignorable_Code_Point']
    except OSError as e:
        raise Refusal(f'{UNICODE_DATA}: {e.strerror}; install unicode-data (bash scripts/setup)')
    return [(int(c.partition('..')[0], 16), int(c.partition('..')[2] or c.partition('..')[0], 16)) for c in codes]


def char_class(ranges):
    return re.compile('[' + ''.join(re.escape(chr(a)) + (f'-{re.escape(chr(b))}' if b > a else '')
                                    for a, b in ranges) + ']')


def without(ranges, points):
    """The ranges less the single code points given."""
    for point in points:
        ranges = [piece for a, b in ranges
                  for piece in (((a, point - 1), (point + 1, b)) if a <= point <= b else ((a, b),))
                  if piece[0] <= piece[1]]
    return ranges


IGNORABLE = default_ignorable()
# What a kept name loses: all but the joiners, which some scripts need to be
# spelt right. Byte order marks of two files joined, zero-width spaces, bidi
# controls, fillers: nobody types them in a name.
INVISIBLE = char_class(without(IGNORABLE, JOINERS))
IGNORED = char_class(IGNORABLE)



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


# Letters of Cyrillic and Greek that look like a Latin one (in either case),
# after casefolding; ё is written е as often as not.
LOOK_ALIKES = dict(zip('авекмнорстухѕіјԛԝүһӏёαβεηικμνορτυχζ', 'abekmhopctyxsijqwyhleabehikmnoptyxz'))
APOSTROPHES = "\u2018\u2019\u02bc\u02b9\u0060\u00b4\u2032\uff07"


def fold(c):
    if c in LOOK_ALIKES:
        return LOOK_ALIKES[c]
    if c in APOSTROPHES:
        return "'"
    if c.isspace():
        return ' '
    return '-' if unicodedata.category(c) == 'Pd' or c == '\u2212' else c


class Folded(dict):
    """fold() of each character met, by its code, for str.translate."""

    def __missing__(self, code):
        self[code] = fold(chr(code))
        return self[code]


FOLDED = Folded()


def name_key(name):
    """A name as people type it, the one way names are compared everywhere:
    NFKC, any case, nothing invisible (Unicode's default ignorables), ё as
    е, every dash, apostrophe and space as one of each, and letters of
    another script that look the same as the same. Two names with one key
    are one person to build, the page, enrolment, grade and who."""
    text = unicodedata.normalize('NFKC', IGNORED.sub('', name)).casefold()
    return re.sub(' +', ' ', text.translate(FOLDED)).strip()


def clean_name(text):
    """A name as the set keeps it, or a Refusal that says why it is none."""
    line = INVISIBLE.sub('', text).strip()
    # No one's name; an escape sequence would reach the organiser's terminal.
    if CONTROL.search(line):
        raise Refusal(N_('a control character in the name'))
    if len(line) > MAX_NAME:
        raise Refusal(N_('a name of %(length)d characters; at most %(most)d'), length=len(line), most=MAX_NAME)
    return unicodedata.normalize('NFC', line)


def check_folders(placed, where):
    """placed: [(place, name, folder)]. Every person has a folder of their
    own, also where case does not count."""
    taken = {}
    for place, name, folder in placed:
        if folder is None:
            raise Refusal(f'{where(place)}: "{name}" gives no safe folder name; write it another way')
        key = folder.casefold()
        if key in taken:
            other, other_name = taken[key]
            raise Refusal(f'{where(place)}: "{name}" and "{other_name}" ({where(other)}) '
                          f'would share the folder "{folder}"')
        taken[key] = (place, name)


def check_newcomers(known, newcomers, where):
    """known: [(name, id)] of the set; newcomers: [(place, name, id)].
    Newcomers whom the check-in page and grade would take for someone
    already in the set, or for each other, are refused; namesakes only
    where both have ids and these differ."""
    taken = {}
    for name, person_id in known:
        taken.setdefault(name_key(name), []).append((name, person_id))
    for place, name, person_id in newcomers:
        for other, other_id in taken.get(name_key(name), []):
            if not (person_id and other_id and person_id != other_id):
                raise Refusal(f'{where(place)}: "{name}" would be taken for "{other}"; write it another way')
        taken.setdefault(name_key(name), []).append((name, person_id))
