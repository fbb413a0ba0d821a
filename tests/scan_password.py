#!/usr/bin/env python3
"""Looks for the configured password in what a build produced.

    scan_password.py BUILD_DIR [--skip DIR]... [--third-party DIR]...
                     [--word TEXT]

Fails if any object, library or executable under BUILD_DIR holds the
password as a string, or holds its five bytes in order with at most 8 bytes
between one and the next inside code (where an optimiser that folded the mask
away would leave them as immediates). Data is not searched for spread bytes:
ordinary text has them everywhere. A match whose bytes stand verbatim in a
third-party library (the toolchain's, GoogleTest's) came from code we do not
compile, and is reported as such but does not fail the scan.

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


def coff_code(data, base, origin, end):
    """Code sections of the COFF header at base, whose section offsets count
    from origin; None if it is not COFF."""
    if end - base < 20:
        return None
    machine, nsections = struct.unpack_from('<HH', data, base)
    optional_size = struct.unpack_from('<H', data, base + 16)[0]
    if machine not in (0x14C, 0x8664):
        return None
    regions = []
    table = base + 20 + optional_size
    for i in range(nsections):
        at = table + 40 * i
        if at + 40 > end:
            return None
        name = data[at:at + 8].rstrip(b'\0').decode('latin-1')
        size, pointer = struct.unpack_from('<II', data, at + 16)
        flags = struct.unpack_from('<I', data, at + 36)[0]
        start = origin + pointer
        if flags & CODE and size and start + size <= end:
            regions.append((name, start, start + size))
    return regions


def code_regions(data):
    """(name, start, end) of every code section; the whole file if unknown."""
    if data.startswith(b'MZ') and len(data) > 0x40:
        pe = struct.unpack_from('<I', data, 0x3C)[0]
        if data[pe:pe + 4] == b'PE\0\0':
            regions = coff_code(data, pe + 4, 0, len(data))
            if regions is not None:
                return regions
    if data.startswith(b'!<arch>\n'):
        regions, at = [], 8
        while at + 60 <= len(data):
            size = int(data[at + 48:at + 58].decode('ascii').strip() or 0)
            body = at + 60
            if not data[at:at + 2] == b'/ ' and not data[at:at + 3] == b'// ':
                found = coff_code(data, body, body, body + size)
                regions += found or []
            at = body + size + (size & 1)
        return regions
    regions = coff_code(data, 0, 0, len(data))
    return regions if regions is not None else [('file', 0, len(data))]


def spread_pattern(password):
    gaps = b'.{0,8}?'.join(re.escape(bytes([c])) for c in password)
    return re.compile(b'(?=(' + gaps + b'))', re.DOTALL)


def find_matches(data, password, spread):
    at = data.find(password)
    while at >= 0:
        yield 'string', at, password
        at = data.find(password, at + 1)
    for name, start, end in code_regions(data):
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


def main(argv):
    build_dir, skip, third_party, word = argv[0], [], [], None
    rest = argv[1:]
    while rest:
        flag, value, rest = rest[0], rest[1], rest[2:]
        if flag == '--word':
            word = value.encode('ascii')
        else:
            (skip if flag == '--skip' else third_party).append(os.path.abspath(value))
    password = word or configured_password(build_dir)
    spread = spread_pattern(password)
    corpus = None
    scanned, failures = 0, 0
    for root, dirs, files in os.walk(build_dir):
        dirs[:] = [d for d in dirs if os.path.abspath(os.path.join(root, d)) not in skip]
        for name in sorted(files):
            if not name.endswith(ARTIFACTS):
                continue
            path = os.path.join(root, name)
            with open(path, 'rb') as f:
                data = f.read()
            scanned += 1
            for kind, offset, window in find_matches(data, password, spread):
                if corpus is None:
                    corpus = third_party_corpus(third_party)
                if window in corpus:
                    print(f'third-party: {path} at 0x{offset:x} ({kind}), also in a third-party library')
                    continue
                failures += 1
                print(f'FOUND: {path} at 0x{offset:x}: the password as {kind}: {window.hex(" ")}')
    print(f'{scanned} files scanned, {failures} holding the password')
    if scanned == 0:
        print('nothing was scanned')
        return 1
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
