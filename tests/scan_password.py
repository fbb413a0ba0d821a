#!/usr/bin/env python3
"""Looks for the configured password in what a build produced.

    scan_password.py [--holder OBJECT]... [--skip DIR]...
                     [--third-party DIR]... [--word TEXT] BUILD_DIR

Fails if an object, library or executable under BUILD_DIR holds the
password as a string, or holds its five bytes in order with at most 8 bytes
between one and the next inside code that was compiled with the masked
password (the holders), where an optimiser that folded the mask away would
leave them as immediates.

The holders' code is found in the holder objects themselves, in libraries
that have them as members, and in executables through their link maps
(NAME.map beside NAME.exe); an executable without a map is searched in all
its code. Other code cannot fold what it never saw, and ordinary text and
machine code hold such spread bytes by chance.

A match whose bytes stand verbatim in a third-party library (the
toolchain's, GoogleTest's) came from code we do not compile: it is listed
but does not fail the scan.

The password comes from the build's generated header, unmasked here;
--word searches for another word instead, to prove the scan finds a leak.
"""
import os
import re
import struct
import sys

ARTIFACTS = ('.obj', '.o', '.a', '.exe', '.dll')
CODE = 0x00000020 | 0x20000000  # IMAGE_SCN_CNT_CODE, IMAGE_SCN_MEM_EXECUTE


def configured_password(build_dir):
    with open(os.path.join(build_dir, 'generated', 'password_masked.h')) as f:
        header = f.read()
    mask = int(re.search(r'PASSWORD_MASK_LITERAL\s+(0x[0-9A-Fa-f]+)u', header).group(1), 16)
    literals = re.search(r'MASKED_PASSWORD_LITERALS\s+(.*)', header).group(1)
    masked = [int(v.rstrip('u'), 16) for v in literals.split(', ')]
    return bytes((m ^ mask) & 0xFF for m in masked)


def coff_sections(data, header, origin, end):
    """(name, flags, virtual address, file start, file end) of each section
    of the COFF header at `header`, whose file offsets count from `origin`;
    None if it is not COFF."""
    if end - header < 20:
        return None
    machine, count = struct.unpack_from('<HH', data, header)
    optional_size = struct.unpack_from('<H', data, header + 16)[0]
    if machine not in (0x14C, 0x8664):
        return None
    sections = []
    table = header + 20 + optional_size
    for i in range(count):
        at = table + 40 * i
        if at + 40 > end:
            return None
        name = data[at:at + 8].rstrip(b'\0').decode('latin-1')
        address, size, pointer = struct.unpack_from('<III', data, at + 12)
        flags = struct.unpack_from('<I', data, at + 36)[0]
        start = origin + pointer
        if size and start + size <= end:
            sections.append((name, flags, address, start, start + size))
    return sections


def pe_image(data):
    """(image base, sections) of a PE file, or None."""
    if not data.startswith(b'MZ') or len(data) < 0x40:
        return None
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    if data[pe:pe + 4] != b'PE\0\0':
        return None
    sections = coff_sections(data, pe + 4, 0, len(data))
    if sections is None:
        return None
    magic = struct.unpack_from('<H', data, pe + 24)[0]
    base = (struct.unpack_from('<I', data, pe + 52)[0] if magic == 0x10B
            else struct.unpack_from('<Q', data, pe + 48)[0])
    return base, sections


def code_regions(path, data, holders):
    """(name, start, end) of the code in the file that could hold the
    password spread out."""
    image = pe_image(data)
    if image:
        map_path = os.path.splitext(path)[0] + '.map'
        if os.path.exists(map_path):
            return mapped_code_of(data, map_path, holders)
        return [(n, s, e) for n, f, _, s, e in image[1] if f & CODE]
    if data.startswith(b'!<arch>\n'):
        regions, at = [], 8
        while at + 60 <= len(data):
            name = data[at:at + 16].decode('latin-1').strip().rstrip('/')
            size = int(data[at + 48:at + 58].decode('ascii').strip() or 0)
            body = at + 60
            if name in holders:
                found = coff_sections(data, body, body, body + size) or []
                regions += [(name + n, s, e) for n, f, _, s, e in found if f & CODE]
            at = body + size + (size & 1)
        return regions
    if os.path.abspath(path) not in holders:
        return []
    sections = coff_sections(data, 0, 0, len(data))
    if sections is None:
        return [('file', 0, len(data))]
    return [(n, s, e) for n, f, _, s, e in sections if f & CODE]


def mapped_code_of(data, map_path, holders):
    """Code regions of an executable that its GNU ld map assigns to holders."""
    base, sections = pe_image(data)
    regions, pending = [], None
    line_re = re.compile(r'^ (\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$')
    with open(map_path, errors='replace') as f:
        for line in f:
            m = line_re.match(line.rstrip('\n'))
            if not m:
                pending = line.strip() if line.startswith(' .') and len(line.split()) == 1 else None
                continue
            name = m.group(1) or pending
            pending = None
            source = m.group(4)
            member = source[source.rfind('(') + 1:-1] if source.endswith(')') else source
            if not name or not name.startswith('.text') or os.path.basename(member) not in holders:
                continue
            address, size = int(m.group(2), 16), int(m.group(3), 16)
            for sname, flags, rva, start, end in sections:
                offset = address - base - rva
                if flags & CODE and 0 <= offset < end - start:
                    regions.append((f'{sname} of {os.path.basename(member)}',
                                    start + offset, min(end, start + offset + size)))
    return regions


def spread_pattern(password):
    gaps = b'.{0,8}?'.join(re.escape(bytes([c])) for c in password)
    return re.compile(b'(?=(' + gaps + b'))', re.DOTALL)


def find_matches(data, password, spread, regions):
    at = data.find(password)
    while at >= 0:
        yield 'string', at, password
        at = data.find(password, at + 1)
    for name, start, end in regions:
        for m in spread.finditer(data, start, end):
            if m.group(1) != password:
                yield 'spread bytes in ' + name, m.start(), m.group(1)


def third_party_corpus(dirs):
    blobs = []
    for top in dirs:
        for root, _, files in os.walk(top):
            for name in files:
                if name.endswith(('.a', '.o', '.obj')):
                    with open(os.path.join(root, name), 'rb') as f:
                        blobs.append(f.read())
    return b'\0'.join(blobs)


def artifacts(build_dir, skip):
    # CompilerId*: CMake's checks of the compiler, not part of the build.
    for root, dirs, files in os.walk(build_dir):
        dirs[:] = sorted(d for d in dirs if os.path.abspath(os.path.join(root, d)) not in skip
                         and not d.startswith('CompilerId'))
        for name in sorted(files):
            if name.endswith(ARTIFACTS):
                yield os.path.join(root, name)


def main(argv):
    build_dir, word = None, None
    lists = {'--skip': [], '--third-party': [], '--holder': []}
    rest = list(argv)
    while rest:
        arg = rest.pop(0)
        if arg == '--word':
            word = rest.pop(0).encode('ascii')
        elif arg in lists:
            lists[arg].append(os.path.abspath(rest.pop(0)))
        else:
            build_dir = arg
    skip, third_party = lists['--skip'], lists['--third-party']
    missing = [h for h in lists['--holder'] if not os.path.isfile(h)]
    if missing:
        print('no such holder: ' + ', '.join(missing))
        return 1
    # Objects by path, archive members and link map entries by name.
    holders = set(lists['--holder']) | {os.path.basename(h) for h in lists['--holder']}
    password = word or configured_password(build_dir)
    spread = spread_pattern(password)

    paths = list(artifacts(build_dir, skip))

    corpus = None
    failures = 0
    for path in paths:
        with open(path, 'rb') as f:
            data = f.read()
        regions = code_regions(path, data, holders)
        for kind, offset, window in find_matches(data, password, spread, regions):
            if corpus is None:
                corpus = third_party_corpus(third_party)
            if window in corpus:
                print(f'third-party: {path} at 0x{offset:x} ({kind}), also in a third-party library')
                continue
            failures += 1
            print(f'FOUND: {path} at 0x{offset:x}: the password as {kind}: {window.hex(" ")}')
    print(f'{len(paths)} files scanned, {failures} holding the password')
    if not paths:
        print('nothing was scanned')
        return 1
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
