"""A set's records read back: what its programs hold, what answers.csv and
handout/ must agree on, the keys, and new rows."""
import os
import pathlib
import re

import pytest

from class_set.errors import Refusal
from class_set.judge_code import held, shape_of
from class_set.set.keys import read_keys, with_keys
from class_set.set.records import ALPHABET, Row, new_rows
from class_set.set.folder import is_new, read_set
from stand_in_set import stand_in


@pytest.mark.parametrize('password, mask', [('Ab3De', 7), ('zzzzz', 1), ('Kv9#z', 0x7F)])
def test_what_a_program_holds_is_read_back(password, mask):
    assert held(stand_in('Anna', password, mask)) == (password, mask)


def test_a_program_without_the_judge_holds_nothing():
    program = stand_in('Anna', 'Ab3De', 7)
    assert held(program.replace(b'\x8b\x44\x24\x08', b'\x90' * 4)) is None  # an unmask gone
    assert held(b'\0' * 1000) is None


@pytest.mark.parametrize('password, mask, shape', [
    ('Ab3De', 7, ('xor', False)), ('Ab3De', 0x80, ('add', False)), ('Ab3De', 0xFF, ('not', False)),
    ('AAAAA', ord('A'), ('xor', True)),
], ids=lambda v: v if isinstance(v, str) and len(v) < 30 else '')
def test_the_shape_of_the_judges_code(password, mask, shape):
    assert shape_of(password, mask) == shape


def edit(out, name, old, new):
    path = pathlib.Path(out, name)
    path.write_text(path.read_text(encoding='utf-8').replace(old, new), encoding='utf-8')


@pytest.mark.parametrize('what, spoil, said', [
    ('header', lambda out: edit(out, 'answers.csv', 'sha256', 'sha1'), 'answers.csv:1: not a set made by class-set'),
    ('a field short', lambda out: edit(out, 'answers.csv', ',7,', ','), 'answers.csv:2: expected 5 fields, got 4'),
    ('a folder not the name\'s', lambda out: edit(out, 'answers.csv', 'Bob,Bob', 'Bob,Rob'), 'folder "Rob" is not'),
    ('a password off the alphabet', lambda out: edit(out, 'answers.csv', 'Fg4Hj', 'Fg0Hj'), 'not a password and mask'),
    ('a mask out of range', lambda out: edit(out, 'answers.csv', 'Fg4Hj,7', 'Fg4Hj,256'), 'not a password and mask'),
    ('a program changed', lambda out: open(os.path.join(out, 'handout', 'Bob', 'PassWord.exe'), 'ab').write(b'x'),
     'does not match its sha256'),
    ('a folder too many', lambda out: os.mkdir(os.path.join(out, 'handout', 'Zed')), 'Zed not in answers.csv'),
    ('no handout', lambda out: os.rename(os.path.join(out, 'handout'), os.path.join(out, 'h')), 'not a set'),
], ids=lambda v: v if isinstance(v, str) and len(v) < 30 else '')
def test_a_set_whose_records_disagree_is_refused(make_set, what, spoil, said):
    out = make_set()
    spoil(out)
    with pytest.raises(Refusal, match=said):
        read_set(out)


def test_a_set_read_back(make_set, tmp_path):
    out = make_set()
    for litter in ('Thumbs.db', '.DS_Store'):  # left by someone who opened the folder
        open(os.path.join(out, 'handout', litter), 'w').close()
    rows = read_set(out)
    assert rows[1] == Row('Bob', 'Bob', 'Fg4Hj', 7, rows[1].sha256) and isinstance(rows[1].mask, int)
    assert is_new(str(tmp_path / 'new')), 'a set still to be made'
    with pytest.raises(Refusal, match='not a set'):
        read_set(str(tmp_path))


def test_keys_given_to_whoever_has_none_and_checked(make_set):
    out = make_set()
    rows = read_set(out)
    keys = with_keys(out, rows)
    assert len(set(keys.values())) == 3 and all(re.fullmatch('[0-9A-HJKMNP-TV-Z]{26}', k) for k in keys.values())
    assert with_keys(out, rows) == keys, 'kept once given'
    assert os.stat(os.path.join(out, 'keys.csv')).st_mode & 0o777 == 0o600
    edit(out, 'keys.csv', keys['Bob'], keys['Анна Петрова'])
    with pytest.raises(Refusal, match='keys.csv:3: not a key of someone in the set'):
        read_keys(out, rows)


def test_new_rows_never_repeat_a_password():
    rows = [Row(f'P{i}', f'P{i}', password, 7) for i, password in enumerate(['AAAAA', 'BBBBB'])]
    added = new_rows(rows, [(f'N{i}', f'N{i}') for i in range(500)])
    passwords = [r.password for r in rows + added]
    assert len(set(passwords)) == len(passwords)
    assert all(set(p) <= set(ALPHABET) for p in passwords) and all(1 <= r.mask <= 255 for r in added)


def test_keys_of_a_set_from_before_namesakes(make_set):
    out = make_set()
    rows = read_set(out)
    with open(os.path.join(out, 'keys.csv'), 'w', encoding='utf-8', newline='') as f:
        f.write('name,key\r\n' + ''.join(f'{r.name},{r.name[0]}{"k" * 21}{i}\r\n' for i, r in enumerate(rows)))
    keys = read_keys(out, rows)
    assert keys == {r.folder: f'{r.name[0]}{"k" * 21}{i}' for i, r in enumerate(rows)}
    assert with_keys(out, rows) == keys


def test_one_person_is_found_without_reading_everyone(make_set):
    from class_set.set import people
    from class_set.set.folder import read_records
    out = make_set([('Ann, the elder', 'Ab3De'), ('Bob', 'Fg4Hj'), ('x,Bob,y', 'Km5Np'), ('"Bob"', 'Pq6Rs')])
    everyone = lambda: pytest.fail('every row was read')  # noqa: E731
    assert [people.find_one(out, f, everyone=everyone).password for f in ('Bob', 'Ann, the elder', 'x,Bob,y', '_Bob_')] \
        == ['Fg4Hj', 'Ab3De', 'Km5Np', 'Pq6Rs'], 'a folder, quoted or not, found by its own field'
    found = people.find_one(out, ' bob ', everyone=lambda: people.read(out, read_records(out)))
    assert found.password == 'Fg4Hj', 'a name as people type it: everyone read'
