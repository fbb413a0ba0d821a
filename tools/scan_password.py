#!/usr/bin/env python3
"""Looks for the configured password in what a build produced.

    scan_password.py [--holder OBJECT]... [--skip DIR]... [--third-party DIR]...
                     [--objdump PROGRAM] [--word TEXT] BUILD_DIR [DIR]...
    scan_password.py [--third-party DIR]... [--objdump PROGRAM] --set LIST

Fails if an object, library or executable under the folders holds the
password as a string, or holds its five bytes in order, at most 8 bytes
between one and the next, as immediate operands of the instructions
compiled with the masked password (the holders): that is what an optimiser
that folded the mask away would leave behind.

The holders' instructions are disassembled with objdump in the holder
objects themselves, in libraries that have them as members, and in
executables through their link maps (NAME.map beside NAME.exe, from GNU
ld or lld); an executable without a map is disassembled whole. Only immediates count:
opcode, ModRM and displacement bytes spell short words by chance.

A match whose bytes stand verbatim in a third-party library (the
toolchain's, GoogleTest's) came from code we do not compile: it is listed
but does not fail the scan.

The password comes from BUILD_DIR's generated header, unmasked here;
--word searches for another word instead, to prove the scan finds a leak.
--set scans a class set in one run: each line of LIST is a program's
folder (with its generated header) and its judge's object, tab between,
and each is scanned for its own password. Code is read for x86 and x86-64.
"""
import argparse
import concurrent.futures
import os
import re
import subprocess
import sys

ARTIFACTS = ('.obj', '.o', '.a', '.exe', '.dll')
MAX_GAP = 8
# objdump speaks the user's language; its listing is read in the C locale.
C_LOCALE = {k: v for k, v in os.environ.items() if k != 'LANGUAGE'} | {'LC_ALL': 'C'}


class Unreadable(Exception):
    """What the scan read made no sense: the scan fails, it never passes."""


def configured_password(build_dir):
    path = os.path.join(build_dir, 'generated', 'password_masked.h')
    with open(path, encoding='ascii') as f:
        header = f.read()
    mask = re.search(r'PASSWORD_MASK_LITERAL\s+(0x[0-9A-Fa-f]+)u', header)
    literals = re.search(r'MASKED_PASSWORD_LITERALS\s+(.*)', header)
    if not mask or not literals:
        raise Unreadable(f'{path}: no masked password in it')
    mask = int(mask.group(1), 16)
    literals = literals.group(1)
    masked = [int(v.rstrip('u'), 16) for v in literals.split(', ')]
    return bytes((m ^ mask) & 0xFF for m in masked)


def immediate_length(code, value):
    """How many trailing bytes of an instruction encode the immediate."""
    for size in (1, 2, 4, 8):
        if len(code) <= size:
            break
        tail = int.from_bytes(bytes(code[-size:]), 'little')
        signed = tail - (1 << 8 * size) if tail >> (8 * size - 1) else tail
        # objdump widens a sign-extended immediate to the operand's size.
        if value in (tail, signed & 0xFFFFFFFF, signed & 0xFFFFFFFFFFFFFFFF):
            return size
    return 0


INSN = re.compile(r'^\s*([0-9a-f]+):\t([0-9a-f ]+?)\s*\t(.*)$')


def disassembly(objdump, paths, start=None, stop=None):
    """Yield (file, section, [(address, byte, is_immediate)]) for each
    stretch of code that objdump lists: one per file (or archive member, by
    its name) and section."""
    args = [objdump, '-d', '--insn-width=16', *paths]
    if start is not None:
        args += [f'--start-address=0x{start:x}', f'--stop-address=0x{stop:x}']
    run = subprocess.run(args, capture_output=True, text=True, errors='replace', env=C_LOCALE)
    if run.returncode:
        raise Unreadable(f'{objdump} failed on {paths[0]}{" and others" if len(paths) > 1 else ""}: '
                         + (run.stderr.strip().splitlines() or ['no message'])[-1])
    listing = run.stdout
    member, section, stream = None, '', []
    for line in listing.splitlines():
        m = INSN.match(line)
        if m:
            if member is None:
                raise Unreadable(f'{objdump} listed code before naming its file; cannot tell whose it is')
            code = [int(b, 16) for b in m.group(2).split()]
            immediate = [0] * len(code)
            for value in re.findall(r'\$0x([0-9a-f]+)', m.group(3)):
                size = immediate_length(code, int(value, 16))
                immediate[len(code) - size:] = [1] * size if size else []
            address = int(m.group(1), 16)
            stream += [(address + i, b, bool(f)) for i, (b, f) in enumerate(zip(code, immediate))]
            continue
        header = re.match(r'^(.+):\s+file format', line)
        section_line = re.match(r'^Disassembly of section (\S+):', line)
        if header or section_line:
            if stream:
                yield member, section, stream
            stream = []
            if header:
                member = header.group(1)
            else:
                section = section_line.group(1)
    if stream:
        yield member, section, stream
    if member is None:
        raise Unreadable(f'{objdump} -d named none of the files it was given ({paths[0]}, ...)')


def spread_immediates(stream, password):
    """Windows of the stream whose immediates spell the password, each byte
    at most MAX_GAP bytes after the one before."""
    def extend(found, at):
        if len(found) == len(password):
            return found
        for i in range(at + 1, min(at + 2 + MAX_GAP, len(stream))):
            if stream[i][2] and stream[i][1] == password[len(found)]:
                match = extend(found + [i], i)
                if match:
                    return match
        return None

    for i, (_, byte, immediate) in enumerate(stream):
        if immediate and byte == password[0]:
            match = extend([i], i)
            if match:
                yield stream[match[0]][0], bytes(b for _, b, _ in stream[match[0]:match[-1] + 1])


def mapped_ranges(map_path, holders, image_base):
    """(name, start, end) addresses of the holders' code in a link map: GNU
    ld's, or lld's, whose addresses are relative to the image base."""
    ranges, pending = [], None
    gnu = re.compile(r'^ (\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$')
    lld = re.compile(r'^([0-9a-f]+) ([0-9a-f]+) +\d+ +(\S+):\((\S+)\)$')
    with open(map_path, encoding='utf-8', errors='replace') as f:
        for line in f:
            line = line.rstrip('\n')
            m = lld.match(line)
            if m:
                name, member = m.group(4), m.group(3)
                start, size = image_base + int(m.group(1), 16), int(m.group(2), 16)
            else:
                m = gnu.match(line)
                if not m:
                    pending = line.strip() if line.startswith(' .') and len(line.split()) == 1 else None
                    continue
                name, pending = m.group(1) or pending, None
                source, start, size = m.group(4), int(m.group(2), 16), int(m.group(3), 16)
                member = source[source.rfind('(') + 1:-1] if source.endswith(')') else source
            if name and name.startswith('.text') and os.path.basename(member) in holders:
                ranges.append((os.path.basename(member), start, start + size))
    return ranges


def image_base(path):
    """The preferred load address in a PE file's optional header."""
    with open(path, 'rb') as f:
        head = f.read(4096)
    optional = int.from_bytes(head[0x3C:0x40], 'little') + 24
    if head[optional:optional + 2] == b'\x0b\x02':  # PE32+
        return int.from_bytes(head[optional + 24:optional + 32], 'little')
    return int.from_bytes(head[optional + 28:optional + 32], 'little')


def holder_code(objdump, paths, holders):
    """(path, where, stream) for the holders' code in the files. Files that
    share a disassembly range go to objdump together, and the batches run
    side by side."""
    batches = {}  # (start, stop, holder) of a mapped range, or None for whole files -> paths
    whole = []
    for path in paths:
        map_path = os.path.splitext(path)[0] + '.map'
        if path.endswith(('.exe', '.dll')) and os.path.exists(map_path):
            base = image_base(path)
            for name, start, stop in mapped_ranges(map_path, holders, base):
                batches.setdefault((start, stop, name), []).append(path)
        elif path.endswith(('.exe', '.dll')) or os.path.abspath(path) in holders:
            batches.setdefault(None, []).append(path)
        elif path.endswith('.a'):
            with open(path, 'rb') as f:
                if any(h.encode() in f.read() for h in holders):
                    whole.append(path)

    def run(key, chunk):
        if key is None:
            return list(disassembly(objdump, chunk))
        start, stop, name = key
        return [(file, f'{section} from {name}', stream)
                for file, section, stream in disassembly(objdump, chunk, start, stop)]

    def run_archive(path):
        return [(path, f'{section} of {member}', stream)
                for member, section, stream in disassembly(objdump, [path]) if member in holders]

    with concurrent.futures.ThreadPoolExecutor(os.cpu_count() or 2) as pool:
        jobs = [pool.submit(run, key, files[i:i + 100])
                for key, files in batches.items() for i in range(0, len(files), 100)]
        jobs += [pool.submit(run_archive, path) for path in whole]
        for job in jobs:
            yield from job.result()


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


def arguments(argv):
    parser = argparse.ArgumentParser(prog='scan_password.py', description=__doc__.split('\n\n')[1])
    parser.add_argument('dirs', nargs='*', metavar='DIR', help='BUILD_DIR first, then any other folder')
    parser.add_argument('--holder', action='append', default=[], type=os.path.abspath, metavar='OBJECT')
    parser.add_argument('--skip', action='append', default=[], type=os.path.abspath, metavar='DIR')
    parser.add_argument('--third-party', action='append', default=[], type=os.path.abspath, metavar='DIR')
    parser.add_argument('--objdump', default='objdump', metavar='PROGRAM')
    parser.add_argument('--word', type=lambda w: w.encode('ascii'), metavar='TEXT')
    parser.add_argument('--set', metavar='LIST')
    args = parser.parse_intermixed_args(argv)
    if bool(args.set) == bool(args.dirs):
        parser.error('give BUILD_DIR or --set LIST, one of the two')
    return args


def main(argv):
    args = arguments(argv)
    try:
        return scan(args)
    except (Unreadable, OSError, ValueError) as e:
        print(f'scan_password: cannot scan: {e}')
        return 2


def passwords_to_scan(args):
    """{file: the password it must not hold}; adds a set's judges to the holders."""
    passwords = {}
    if args.set:
        with open(args.set, encoding='utf-8') as f:
            for line in f:
                folder, holder = line.rstrip('\n').split('\t')
                password = configured_password(folder)
                args.holder.append(os.path.abspath(holder))
                passwords.update((path, password) for path in [holder, *artifacts(folder, args.skip)])
    else:
        password = args.word or configured_password(args.dirs[0])
        passwords.update((path, password) for top in args.dirs for path in artifacts(top, args.skip))
    return passwords


def find(passwords, holders, objdump):
    """[(path, kind, where, bytes)]: the password as a string anywhere, or
    as immediates of the holders' code."""
    matches = []
    for path, password in passwords.items():
        with open(path, 'rb') as f:
            data = f.read()
        at = data.find(password)
        while at >= 0:
            matches.append((path, 'string', f'offset 0x{at:x}', password))
            at = data.find(password, at + 1)
    for path, where, stream in holder_code(objdump, passwords, holders):
        if path not in passwords:
            raise Unreadable(f'{objdump} listed a file it was not given: {path}')
        for address, window in spread_immediates(stream, passwords[path]):
            matches.append((path, f'immediates in {where}', f'address 0x{address:x}', window))
    return matches


def scan(args):
    passwords = passwords_to_scan(args)
    missing = [h for h in args.holder if not os.path.isfile(h)]
    if missing:
        print('no such holder: ' + ', '.join(missing))
        return 1
    # Objects by path, archive members and link map entries by name.
    holders = set(args.holder) | {os.path.basename(h) for h in args.holder}
    matches = find(passwords, holders, args.objdump)
    corpus = third_party_corpus(args.third_party) if matches else b''
    failures = 0
    for path, kind, where, window in matches:
        if window in corpus:
            print(f'third-party: {path} at {where} ({kind}), also in a third-party library')
            continue
        failures += 1
        print(f'FOUND: {path} at {where}: the password as {kind}: {window.hex(" ")}')
    print(f'{len(passwords)} files scanned, {failures} holding the password')
    if not passwords:
        print('nothing was scanned')
        return 1
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
