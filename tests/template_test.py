"""Programs written from a template are the release build's, byte for byte,
for a spread of rows: masks 0x01, 0x7F, 0x80 and 0xFF among others,
passwords with a space, a quote, a backslash and a tilde, all-zero masked
words, the set's own alphabet; and a judge that leaks stops a set."""
import os
import random
import shutil
import subprocess
import tempfile

import pytest

from class_set.programs.compiling import build_programs
from class_set.judge_code import shape_of
from class_set.set.records import ALPHABET
from class_set.programs.template import load_templates
from conftest import ROOT


def read(path):
    with open(path, 'rb') as f:
        return f.read()


def release(work, password, mask):
    """PassWord.exe as the release preset builds it for one row."""
    options = os.path.join(work, 'options.cmake')
    with open(options, 'w', encoding='ascii') as f:
        f.write(f'set(PASSWORD [=[{password}]=] CACHE STRING "")\nset(PASSWORD_MASK {mask} CACHE STRING "")\n')
    build = os.path.join(work, 'release')
    subprocess.run(['cmake', '--preset', 'release', '-B', build, '-C', options], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(['cmake', '--build', build, '--target', 'PassWord'], check=True, stdout=subprocess.DEVNULL)
    return read(os.path.join(build, 'bin', 'PassWord.exe'))


@pytest.fixture
def work():
    """A work folder under build/, where the release preset builds."""
    folder = tempfile.mkdtemp(prefix='template-test-', dir=os.path.join(ROOT, 'build'))
    yield folder
    shutil.rmtree(folder)

def test_written_programs_are_the_release_build(work):
    draw = random.Random(1207)
    spread = [('Kv9#z', 0x01), ('q"w\\e', 0x7F), ('T7e!M', 0x80), ('bN4q~', 0xFF), ('AbAbA', 0x41),
              ('~~~~~', 0x7E), ('zzzzz', 0x5A), ('Ab3De', 0xA7)]
    spread += [(''.join(draw.choice(ALPHABET) for _ in range(5)), draw.randint(1, 255)) for _ in range(3)]
    # The templates as build learns (or keeps) them, for every shape.
    os.mkdir(os.path.join(work, 'templates'))
    templates = load_templates(os.path.join(work, 'templates'), {shape_of(*row) for row in spread}, 2)
    built = build_programs(work, spread, 2)
    expected = {row: read(path) for row, path in zip(spread, built)}
    # A space cannot go through a set's list of rows: the release preset itself.
    expected[(' "\\~x', 0x20)] = release(work, ' "\\~x', 0x20)
    for (password, mask), program in expected.items():
        written = templates[shape_of(password, mask)].write(password, mask)
        assert written == program, f'{password!r} with mask 0x{mask:02X}'
        assert templates[shape_of(password, mask)].holds(written, password) is None
    # The check in process finds a password in plain form.
    program = expected[('Kv9#z', 0x01)]
    assert (templates[shape_of('Kv9#z', 1)].holds(program + b'Kv9#z', 'Kv9#z')) == 'as a string'

def test_a_judge_that_leaks_stops_a_set(work):
    checkout = os.path.join(work, 'checkout')
    for part in ('entry', 'shell', 'cmake', 'tools', 'scripts', 'driver', 'bench', 'CMakeLists.txt',
                 'CMakePresets.json'):
        (shutil.copytree if os.path.isdir(os.path.join(ROOT, part)) else shutil.copy)(
            os.path.join(ROOT, part), os.path.join(checkout, part))
    judge = os.path.join(checkout, 'entry', 'check_entry.cpp')
    with open(judge, encoding='utf-8') as f:
        source = f.read()
    assert 'volatile' in source
    with open(judge, 'w', encoding='utf-8') as f:
        f.write(source.replace('volatile', ''))
    roster = os.path.join(work, 'roster.txt')
    with open(roster, 'w', encoding='utf-8') as f:
        f.write('Ann\nBob\n')
    out = os.path.join(work, 'set')
    result = subprocess.run(['bash', os.path.join(checkout, 'scripts', 'class-set'), 'build', roster, out],
                            capture_output=True, text=True)
    assert result.returncode != 0
    assert 'FOUND' in result.stderr
    assert 'the build or its password scan failed; nothing was changed' in result.stderr
    assert not os.path.exists(out)

