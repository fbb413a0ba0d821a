"""The password scan's readers, in process: the generated header, objdump's
listing (its files, sections and immediates), the judge's bytes spread
among instructions, GNU ld's and lld's link maps, and a PE header."""
import os
import stat
import struct

import pytest

import scan_password
from scan_password import Unreadable

HEADER = '''#define MASKED_PASSWORD_LITERALS 0x3du, 0x18u, 0x2fu, 0x6fu, 0x26u
#define PASSWORD_MASK_LITERAL 0x5Cu
'''
LISTING = '''
{path}:     file format pe-i386


Disassembly of section .text:

00000000 <_Z10CheckEntryPKci>:
   0:\t55                                           \tpush   %ebp
   1:\tc7 44 24 08 3d 00 00 00                      \tmovl   $0x3d,0x8(%esp)
   9:\t83 f0 5c                                     \txor    $0x5c,%eax
   c:\t83 c0 80                                     \tadd    $0xffffff80,%eax
   f:\t8b 44 24 0c                                  \tmov    0xc(%esp),%eax

Disassembly of section .text.unlikely:

00000020 <cold>:
  20:\tb8 61 00 00 00                               \tmov    $0x61,%eax
'''


def objdump(tmp_path, listing):
    """A stand-in objdump that lists `listing` for whatever it is given."""
    (tmp_path / 'listing.txt').write_text(listing)
    tool = tmp_path / 'objdump'
    tool.write_text(f'#!/bin/sh\ncat {tmp_path / "listing.txt"}\n')
    tool.chmod(tool.stat().st_mode | stat.S_IXUSR)
    return str(tool)


def test_the_password_from_the_generated_header(tmp_path):
    (tmp_path / 'generated').mkdir()
    (tmp_path / 'generated' / 'password_masked.h').write_text(HEADER)
    assert scan_password.configured_password(str(tmp_path)) == b'aDs3z'
    (tmp_path / 'generated' / 'password_masked.h').write_text('#define NOTHING 1\n')
    with pytest.raises(Unreadable, match='no masked password'):
        scan_password.configured_password(str(tmp_path))


@pytest.mark.parametrize('code, value, size', [
    ([0xc7, 0x44, 0x24, 0x08, 0x3d, 0, 0, 0], 0x3d, 4),   # movl $0x3d: a 32-bit immediate
    ([0x83, 0xf0, 0x5c], 0x5c, 1),                       # xor $0x5c: one byte
    ([0x83, 0xc0, 0x80], 0xffffff80, 1),                 # a byte sign-extended by objdump
    ([0x8b, 0x44, 0x24, 0x0c], 0x99, 0),                 # no such immediate
])
def test_how_many_bytes_an_immediate_takes(code, value, size):
    assert scan_password.immediate_length(code, value) == size


def test_objdumps_listing_read_by_file_and_section(tmp_path):
    found = list(scan_password.disassembly(objdump(tmp_path, LISTING.format(path='judge.o')), ['judge.o']))
    assert [(member, section) for member, section, _ in found] == [('judge.o', '.text'), ('judge.o', '.text.unlikely')]
    text = found[0][2]
    assert [(address, byte) for address, byte, immediate in text if immediate] == \
        [(5, 0x3d), (6, 0), (7, 0), (8, 0), (0xb, 0x5c), (0xe, 0x80)]
    assert len(text) == 1 + 8 + 3 + 3 + 4, 'every byte of every instruction'


@pytest.mark.parametrize('listing, said', [
    ('   0:\t55 \tpush %ebp\n', 'listed code before naming its file'),
    ('ничего не разобрано\n', 'named none of the files'),
])
def test_a_listing_that_makes_no_sense_fails_the_scan(tmp_path, listing, said):
    with pytest.raises(Unreadable, match=said):
        list(scan_password.disassembly(objdump(tmp_path, listing), ['judge.o']))


def test_the_password_spread_among_immediates():
    def stream(parts):
        at, found = 0, []
        for data, immediate in parts:
            found += [(at + i, b, immediate) for i, b in enumerate(data)]
            at += len(data)
        return found
    spread = stream([(b'\xc7\x44', False), (b'a', True), (b'\0\0\0', False), (b'D', True), (b'\x90' * 8, False),
                     (b's3z', True)])
    assert [text for _, text in scan_password.spread_immediates(spread, b'aDs3z')] == \
        [b'a\0\0\0D' + b'\x90' * 8 + b's3z']
    apart = stream([(b'aD', True), (b'\x90' * 9, False), (b's3z', True)])
    assert list(scan_password.spread_immediates(apart, b'aDs3z')) == [], 'more than 8 bytes between: chance'
    plain = stream([(b'aDs3z', False)])
    assert list(scan_password.spread_immediates(plain, b'aDs3z')) == [], 'opcodes spell words by chance'


def test_the_judges_code_in_either_linkers_map(tmp_path):
    gnu = tmp_path / 'gnu.map'
    gnu.write_text(' .text          0x00401000      0x120 CMakeFiles/entry.dir/check_entry.cpp.obj\n'
                   ' .text          0x00401120       0x40 libshell.a(window.cpp.obj)\n'
                   ' .text.startup\n'
                   '                0x00401200       0x10 lib/libentry.a(check_entry.cpp.obj)\n')
    assert scan_password.mapped_ranges(str(gnu), {'check_entry.cpp.obj'}, 0x400000) == \
        [('check_entry.cpp.obj', 0x401000, 0x401120), ('check_entry.cpp.obj', 0x401200, 0x401210)]
    lld = tmp_path / 'lld.map'
    lld.write_text('    Address     Size Align Out     In      Symbol\n'
                   '1000 120 16 CMakeFiles/entry.dir/check_entry.cpp.obj:(.text)\n'
                   '1120 40 16 window.cpp.obj:(.text)\n')
    assert scan_password.mapped_ranges(str(lld), {'check_entry.cpp.obj'}, 0x400000) == \
        [('check_entry.cpp.obj', 0x401000, 0x401120)]


@pytest.mark.parametrize('magic, at, base', [(b'\x0b\x01', 28, 0x400000), (b'\x0b\x02', 24, 0x140000000)])
def test_the_image_base_of_a_pe_file(tmp_path, magic, at, base):
    head = bytearray(1024)
    struct.pack_into('<I', head, 0x3C, 0x80)
    optional = 0x80 + 24
    head[optional:optional + 2] = magic
    struct.pack_into('<Q' if magic == b'\x0b\x02' else '<I', head, optional + at, base)
    (tmp_path / 'program.exe').write_bytes(bytes(head))
    assert scan_password.image_base(os.path.join(tmp_path, 'program.exe')) == base
