"""Names as the set keeps them, as people type them, and the folder each gets."""
import contextlib
import functools
import re
import unicodedata

import icu

from .errors import Refusal
from .language import N_


# Device names, with or without an extension; Windows counts ¹²³ as digits.
RESERVED = {'CON', 'PRN', 'AUX', 'NUL'} | {p + n for p in ('COM', 'LPT') for n in '0123456789¹²³'}
CONTROL = re.compile(r'[\x00-\x1f\x7f-\x9f]')
# Unicode's non-characters, which no workbook holds: U+FDD0 to U+FDEF and
# the last two code points of every plane.
NONCHARACTER = re.compile('[\ufdd0-\ufdef' + ''.join(f'{chr(p + 0xFFFE)}{chr(p + 0xFFFF)}'
                                                      for p in range(0, 0x110000, 0x10000)) + ']')
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
    """Return a regular expression class of the [(first, last)] code points."""
    return re.compile('[' + ''.join(re.escape(chr(a)) + (f'-{re.escape(chr(b))}' if b > a else '')
                                    for a, b in ranges) + ']')


def without(ranges, points):
    """Return the ranges less the single code points given."""
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
    """Return a folder name that Windows, macOS, Linux and zip all take as it is."""
    folder = UNSAFE.sub('_', unicodedata.normalize('NFC', name))
    folder = folder[:MAX_FOLDER]
    while len(folder.encode('utf-8')) > MAX_FOLDER_BYTES:
        folder = folder[:-1]
    folder = folder.strip(' .')
    if not folder or folder.split('.')[0].rstrip(' ').upper() in RESERVED:
        return None
    return folder


# Unicode's security mechanisms (UTS #39) through ICU: which letters look
# the same (confusable skeletons), and which mixes of scripts real names
# have (the highly restrictive level: one script, or Latin with those of
# Chinese, Japanese and Korean names).
SKELETONS = icu.SpoofChecker()
MIXES = icu.SpoofChecker()
MIXES.setChecks(icu.USpoofChecks.RESTRICTION_LEVEL)
MIXES.setRestrictionLevel(icu.URestrictionLevel.HIGHLY_RESTRICTIVE)


# Where Unicode keeps its small capitals (ᴀ, ʙ, ɴ) and modifier letters
# (ʜ as a raised h): IPA Extensions and Spacing Modifier Letters, Phonetic
# Extensions and their Supplement, Latin Extended-C to -G, Cyrillic
# Extended-B, Modifier Tone Letters, a Georgian modifier.
IMITATORS = [(0x0250, 0x02FF), (0x10FC, 0x10FC), (0x1D00, 0x1DBF), (0x2C60, 0x2C7F), (0xA640, 0xA69F),
             (0xA700, 0xA7FF), (0xAB30, 0xAB6F), (0x10780, 0x107BF), (0x1DF00, 0x1DFFF)]
IMITATES = re.compile(r'(?:MODIFIER LETTER )?(?:(LATIN|GREEK|CYRILLIC) )?(?:LETTER )?'
                      r'(SMALL CAPITAL|SMALL|CAPITAL) (.+)')


def imitated(code):
    """Return the letter that a small capital or a modifier letter stands for,
    by its name (LATIN LETTER SMALL CAPITAL N: n); None for any other."""
    found = IMITATES.fullmatch(unicodedata.name(chr(code), ''))
    if not found or not unicodedata.name(chr(code)).startswith(('MODIFIER LETTER', 'LATIN LETTER SMALL CAPITAL',
                                                                 'GREEK LETTER SMALL CAPITAL',
                                                                 'CYRILLIC LETTER SMALL CAPITAL')):
        return None
    script, size, letter = found.group(1) or 'LATIN', found.group(2), found.group(3)
    case = 'CAPITAL' if size == 'CAPITAL' else 'SMALL'
    for name in (f'{script} {case} LETTER {letter}', f'{script} {case} LIGATURE {letter}'):
        with contextlib.suppress(KeyError):
            return unicodedata.lookup(name)
    return None


# ICU's confusable data leaves most of them alone: ʙob would pass for Bob.
AS_LETTERS = {code: letter for first, last in IMITATORS for code in range(first, last + 1)
              if (letter := imitated(code))}


def plain(name):
    """Return a name as typed, without what people do not see or mean: nothing
    invisible, small capitals and modifier letters as the letters they stand
    for, compatibility forms as their letters (NFKC), ё as е (as often written),
    any run of spaces as one."""
    text = unicodedata.normalize('NFKC', IGNORED.sub('', name).translate(AS_LETTERS))
    text = text.replace('ё', 'е').replace('Ё', 'Е')
    return ' '.join(text.split())


@functools.lru_cache(maxsize=65536)  # the board meets the same names again and again
def name_key(name):
    """Return a name as people type it, the one way two names are compared: in
    any case, and letters that look the same (Unicode's confusable skeletons: a
    Cyrillic а, a Lisu ꓮ, a Greek ν as a, A and v; dashes and apostrophes of
    every kind alike) as the same. Two names with one key are one person to
    build, the page, enrolment, grade, remove, rekey and who."""
    return SKELETONS.getSkeleton(0, plain(name).casefold()).casefold()


def looks_like(name):
    """Return every key under which `name` looks like another: name_key, and the
    skeleton of the name in the case it was typed, for a capital that looks like
    a letter of another script only as a capital (Н and H)."""
    typed = plain(name)
    return {name_key(name), SKELETONS.getSkeleton(0, typed).casefold()}


def mixes_scripts(name):
    """Return whether a name mixes scripts in a way no real name does: Latin with Cyrillic, Latin with Lisu."""
    return bool(MIXES.check(plain(name)))


def clean_name(text):
    """Return a name as the set keeps it, or a Refusal that says why it is none."""
    line = INVISIBLE.sub('', text).strip()
    # No one's name; an escape sequence would reach the organiser's terminal.
    if CONTROL.search(line):
        raise Refusal(N_('a control character in the name'))
    if NONCHARACTER.search(line):
        raise Refusal(N_('a character that is no letter (U+%(code)04X) in the name'),
                      code=ord(NONCHARACTER.search(line).group()))
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
