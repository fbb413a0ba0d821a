"""Names: when two are one person (the one comparison that build, the
page, enrolment, grade and who share), the folder each gets, and what a
roster line may hold."""
import re
import unicodedata

import pytest

from class_set.errors import Refusal
from class_set.names import check_folders, check_newcomers, clean_name, folder_for, looks_like, mixes_scripts, name_key


@pytest.mark.parametrize('typed, listed, same', [
    ('  анна   ПЕТРОВА ', 'Анна Петрова', True),            # case and spaces
    ('Jose\u0301', 'José', True),                           # decomposed accent
    ('Bo\u200bb\ufeff', 'Bob', True),                      # invisible characters
    ('Anna\u00a0Lee', 'Anna Lee', True),                    # a no-break space
    ('Алексеев Артем', 'Алексеев Артём', True),             # е for ё
    ('ЁЛКИН', 'Елкин', True),
    ('Аnna Petrova', 'Anna Petrova', True),                 # a Cyrillic А among Latin letters
    ('Pavel Sеmenov', 'Pavel Semenov', True),               # and a Cyrillic е
    ('Bеlova Аlena', 'Белова Алена', False),                # two scripts, other letters: not alike
    ('Anna\u034f Petrova\ufe0f', 'Anna Petrova', True),    # a grapheme joiner, a variation selector
    ('Anna\U000e0020 \u3164Petrova', 'Anna Petrova', True),  # a tag space, the Hangul filler
    ('क्\u200dष', 'क्ष', True),                             # a joiner is nothing to compare
    ('O\u2019Neil', "O'Neil", True),                         # apostrophes
    ('Jean\u2013Luc', 'Jean-Luc', True),                    # dashes
    ('Йод', 'Иод', False),                                  # й is not и
    ('Иванов Иван', 'Иванов Иван Иванович', False),
    ('Bob', 'Rob', False),
    ('\ua4eenna Petrova', 'Anna Petrova', True),             # a Lisu A
    ('\ua4d0ob Marsh', 'Bob Marsh', True),                   # a Lisu B
    ('\u0251nna', 'Anna', True),                             # a Latin alpha
    ('\u13aanna', 'Anna', True),                             # a Cherokee A
    ('Da\u03bdid', 'David', True),                           # a Greek nu looks like v...
    ('An\u03bda', 'Anna', False),                            # ... not like n
    ('Da\u0475id', 'David', True),                           # a Cyrillic izhitsa
    ('Ivan', 'Iván', False),                                 # other letters, however near
    ('Ли', 'Lee', False),
    ('ʙob Marsh', 'Bob Marsh', True),                       # small capitals
    ('ᴀɴɴᴀ ᴘᴇᴛʀᴏᴠᴀ', 'Anna Petrova', True),
    ('Paul Smitʜ', 'Paul Smith', True),
    ('Pᵃul', 'Paul', True),                                  # a modifier letter
])
def test_when_two_names_are_one_person(typed, listed, same):
    assert (name_key(typed) == name_key(listed)) is same, f'{typed!r} and {listed!r}'


def test_every_small_capital_and_modifier_letter_is_the_letter_it_stands_for():
    checked = []
    for code in range(0x110000):
        found = re.fullmatch(r'(?:LATIN LETTER|MODIFIER LETTER) (?:SMALL CAPITAL|SMALL|CAPITAL) ([A-Z])',
                             unicodedata.name(chr(code), ''))
        if found:
            assert name_key(f'Anna {chr(code)}ee') == name_key(f'Anna {found.group(1)}ee'), unicodedata.name(chr(code))
            checked.append(chr(code))
    assert len(checked) >= 80, checked


@pytest.mark.parametrize('name, mixed', [
    ('Anna Petrova', False), ('Анна Петрова', False), ("José O'Neil, Jr.", False), ('Κώστας', False),
    ('山田 太郎', False), ('李小龙', False), ('Иванов-Петров', False),
    ('\u0410nna Petrova', True),                             # Latin with a Cyrillic A
    ('\ua4eenna Petrova', True),                             # Latin with a Lisu A
    ('An\u043fa', True),                                     # a Cyrillic п, which looks like n in many fonts
    ('Ivan Петров', True), ('Иван \u13aa', True),
])
def test_names_that_mix_scripts_as_no_name_does(name, mixed):
    assert mixes_scripts(name) is mixed, name


def test_a_capital_that_looks_alike_only_as_a_capital():
    assert name_key('ВОВ') != name_key('BOB') and looks_like('ВОВ') & looks_like('BOB')


@pytest.mark.parametrize('name, folder', [
    ('Анна Петрова', 'Анна Петрова'),
    ('a/b\\c:d*e?f"g<h>i|j', 'a_b_c_d_e_f_g_h_i_j'),
    ('  .Dot Start.  ', 'Dot Start'),
    ('CON', None), ('con.txt', None), ('LPT9 .txt', None), ('COM¹', None), ('...', None),
    ('CONSTANCE', 'CONSTANCE'),
    ('x' * 100, 'x' * 64),
    ('я' * 200, 'я' * 64),                                  # 128 bytes, under 255
    ('𝔸' * 100, '𝔸' * 63),                                  # four bytes each: 255 at most
])
def test_every_name_gets_a_folder_every_system_takes(name, folder):
    assert folder_for(name) == folder


def test_names_refused_or_cleaned():
    assert clean_name('\ufeff Анна\u200b Петрова ') == 'Анна Петрова'
    assert clean_name('Anna\u3164 Petrova\ufe0f') == 'Anna Petrova'
    assert clean_name('क्\u200dष') == 'क्\u200dष', 'the joiners are kept'
    assert clean_name('Jose\u0301') == 'José'
    for bad, why in [('Bad\x1b[2J', 'control character'), ('x' * 201, 'at most 200'),
                     ('Eve\uffff', 'no letter'), ('Eve\ufffe', 'no letter'), ('Eve\U0001fffe', 'no letter'),
                     ('Eve\x00', 'control character')]:
        with pytest.raises(Refusal, match=why):
            clean_name(bad)
    with pytest.raises(Refusal, match='would share the folder'):
        check_folders([(1, 'Bob', 'Bob'), (2, 'BOB', 'BOB')], lambda line: f'line {line}')


def test_newcomers_taken_for_someone_are_refused_unless_ids_tell_them_apart():
    known = [('Eve Lee', ''), ('Иванов Иван', '1001')]
    check_newcomers(known, [(1, 'Eve Leigh', ''), (2, 'Bob', ''), (3, 'Иванов Иван', '1002')], str)
    for newcomers, said in [([(1, 'eve  LEE', '')], '"eve  LEE" would be taken for "Eve Lee"'),
                            ([(1, 'Bob', ''), (2, ' bob', '')], '" bob" would be taken for "Bob"'),
                            ([(1, 'Иванов Иван', '')], 'would be taken for'),
                            ([(1, 'Иванов Иван', '1001')], 'would be taken for')]:
        with pytest.raises(Refusal, match=said):
            check_newcomers(known, newcomers, str)
