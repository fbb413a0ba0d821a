"""Names: when two are one person, the folder each gets, what a roster
line may hold, and the rosters as spreadsheets and editors save them."""
import pytest

from class_set.errors import Refusal
from class_set.names import check_folders, check_newcomers, clean_name, folder_for, name_key
from class_set.roster import read_roster
from class_set.rows import Row


@pytest.mark.parametrize('typed, listed, same', [
    ('  анна   ПЕТРОВА ', 'Анна Петрова', True),            # case and spaces
    ('Jose\u0301', 'José', True),                           # decomposed accent
    ('Bo\u200bb\ufeff', 'Bob', True),                      # invisible characters
    ('Anna\u00a0Lee', 'Anna Lee', True),                    # a no-break space
    ('Eve  Lee', 'Eve Lee', True),
    ('Иванов Иван', 'Иванов Иван Иванович', False),
    ('क्\u200dष', 'क्ष', False),                             # the joiner is part of the spelling
    ('Bob', 'Rob', False),
])
def test_when_two_names_are_one_person(typed, listed, same):
    assert (name_key(typed) == name_key(listed)) is same, f'{typed!r} and {listed!r}'


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
    assert clean_name('Jose\u0301') == 'José'
    for bad, why in [('Bad\x1b[2J', 'control character'), ('x' * 201, 'at most 200')]:
        with pytest.raises(Refusal, match=why):
            clean_name(bad)
    with pytest.raises(Refusal, match='would share the folder'):
        check_folders([(1, 'Bob'), (2, 'BOB')], lambda line: f'line {line}')


def test_newcomers_taken_for_someone_are_refused():
    rows = [Row('Eve Lee', 'Eve Lee', 'AAAAA', 7)]
    check_newcomers(rows, ['Eve Leigh', 'Bob'], str)
    for newcomers, said in [(['eve  LEE'], '"eve  LEE" would be taken for "Eve Lee"'),
                            (['Bob', ' bob'], '" bob" would be taken for "Bob"')]:
        with pytest.raises(Refusal, match=said):
            check_newcomers(rows, newcomers, str)


@pytest.mark.parametrize('data, options, names', [
    ('# the class\nАнна Петрова\n\n  Bob  \r\n'.encode(), {}, ['Анна Петрова', 'Bob']),
    ('\ufeffАнна\r\nBob\r\n'.encode('utf-16-le'), {}, ['Анна', 'Bob']),
    ('Анна\r\nBob\r\n'.encode('cp1251'), {'encoding': 'cp1251'}, ['Анна', 'Bob']),
])
def test_a_roster_as_it_is_saved(tmp_path, data, options, names):
    path = tmp_path / 'roster.txt'
    path.write_bytes(data)
    assert [p.name for p in read_roster(str(path), **options)] == names


@pytest.mark.parametrize('data, said', [
    (b'Bob\nAnna\nBob\n', 'roster.txt:3: "Bob" is already on line 1'),
    (b'Bob\nEve\x07\n', 'roster.txt:2: a control character'),
    (b'# nobody\n\n', 'no names in the roster'),
    ('Анна\n'.encode('cp1251'), 'roster.txt:1: not UTF-8 text'),
])
def test_a_roster_refused_names_its_line(tmp_path, data, said):
    path = tmp_path / 'roster.txt'
    path.write_bytes(data)
    with pytest.raises(Refusal, match=said):
        read_roster(str(path))
