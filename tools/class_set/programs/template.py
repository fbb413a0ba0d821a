"""Programs written from a template instead of compiled one by one.

Release builds of PassWord.exe for different passwords and masks differ
only where the judge holds the masked words and the mask, and in the PE
checksum. Where those places sit is learnt from the build itself: for each
code shape, three reference programs are built with the release preset;
the first two, compared, give the places, and the third proves that a
program written from the first is byte for byte the release build. A
shape whose places cannot be told for sure is refused.

The shape (judge_code.shape_of) is what makes the compiler emit other
instructions."""
import array
import contextlib
import dataclasses
import hashlib
import os
import shutil
import struct
import subprocess
import tempfile

import scan_password

from .. import ROOT
from ..errors import Refusal
from ..judge_code import shape_of
from ..progress import Progress
from .compiling import WORK, build_programs



def references(shape):
    """Three rows of the shape, (password, mask): every masked word and the
    mask different from each other within a row, and from row to row."""
    kind, zero = shape
    if zero:  # the password is the mask's character five times
        return [(c * 5, ord(c)) for c in 'Qj%']
    mask = {'add': [0x80] * 3, 'not': [0xFF] * 3, 'xor': [0x5C, 0x2B, 0x71]}[kind]
    return [(word, m) for word, m in zip(['Kv9#z', 'bN4q~', 'T7e!M'], mask)]


def checksum_at(data):
    """Offset of the CheckSum field of the PE optional header."""
    return struct.unpack_from('<I', data, 0x3C)[0] + 24 + 64


def pe_checksum(data, at):
    """Return the PE checksum: 16-bit words added with end-around carry, the
    field itself as zero, plus the file's length."""
    words = bytearray(data)
    words[at:at + 4] = bytes(4)
    if len(words) % 2:
        words.append(0)
    total = sum(array.array('H', bytes(words)))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def masked(password, mask):
    """Return the masked words of a password, one per character."""
    return [ord(c) ^ mask for c in password]


class Template:
    """A reference program and the places of the masked words and the mask in it."""

    def __init__(self, shape, programs, maps, objdump):
        rows = references(shape)
        first, second, third = programs
        if not len(first) == len(second) == len(third):
            raise Refusal(f'templates: the reference programs of shape {shape} differ in size')
        self.data, self.checksum = first, checksum_at(first)
        values = [masked(*row) + [row[1]] for row in rows[:2]]  # five words and the mask
        self.places = [[] for _ in range(6)]
        for at in range(len(first)):
            if first[at] == second[at] or self.checksum <= at < self.checksum + 4:
                continue
            which = [i for i in range(6) if values[0][i] & 0xFF == first[at] and values[1][i] & 0xFF == second[at]]
            if len(which) != 1:
                raise Refusal(f'templates: byte 0x{at:x} of shape {shape} is no masked word and no mask')
            self.places[which[0]].append(at)
        if self.write(*rows[2]) != third:
            raise Refusal(f'templates: a program written for shape {shape} is not the release build')
        self.judge = self.judge_code(maps[0], objdump)

    def write(self, password, mask):
        """Return a program for (password, mask): the reference program with its masked words, mask and checksum."""
        data = bytearray(self.data)
        for values, places in zip(masked(password, mask) + [mask], self.places):
            for at in places:
                data[at] = values & 0xFF
        struct.pack_into('<I', data, self.checksum, pe_checksum(data, self.checksum))
        return bytes(data)

    def judge_code(self, map_path, objdump):
        """Return [(file offset, is immediate)] of the judge's code, from the disassembly of the reference program."""
        path = os.path.splitext(map_path)[0] + '.exe'
        base = scan_password.image_base(path)
        code = []
        for _, start, stop in scan_password.mapped_ranges(map_path, {'check_entry.cpp.obj'}, base):
            for _, _, stream in scan_password.disassembly(objdump, [path], start, stop):
                code += [(file_offset(self.data, address - base), immediate) for address, _, immediate in stream]
        if not code:
            raise Refusal('templates: the judge was not found in the reference program')
        return code

    def holds(self, program, password):
        """Return where a program written from the template holds its password in
        plain form: as a string anywhere, or as immediates of the judge."""
        plain = password.encode('latin-1')
        if plain in program:
            return 'as a string'
        stream = [(at, program[at], immediate) for at, immediate in self.judge]
        for _ in scan_password.spread_immediates(stream, plain):
            return 'as immediates of the judge'
        return None


def file_offset(data, rva):
    """Return the file offset of a relative virtual address, through the section table."""
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    sections, optional = struct.unpack_from('<H', data, pe + 6)[0], struct.unpack_from('<H', data, pe + 20)[0]
    for i in range(sections):
        entry = pe + 24 + optional + 40 * i
        size, address, raw_size, raw = struct.unpack_from('<IIII', data, entry + 8)
        if address <= rva < address + max(size, raw_size):
            return raw + rva - address
    raise Refusal(f'templates: address 0x{rva:x} is in no section')


def find_objdump():
    """GNU objdump for i686 Windows programs, as the release build finds it."""
    for name in ('i686-w64-mingw32-objdump', 'objdump'):
        for folder in os.environ.get('PATH', '').split(os.pathsep):
            if os.access(os.path.join(folder, name), os.X_OK):
                return os.path.join(folder, name)
    raise Refusal('templates: no objdump for i686 Windows programs')


# What a release build of the program depends on, besides the password.
SOURCES = ('entry', 'shell', 'cmake', 'CMakeLists.txt', 'CMakePresets.json')
TOOLCHAIN = ('gcc-mingw-w64-i686-posix', 'g++-mingw-w64-i686-posix', 'binutils-mingw-w64-i686', 'mingw-w64-i686-dev',
             'mingw-w64-common', 'cmake', 'ninja-build')


def fingerprint(root):
    """Return a name for the reference programs of this checkout and toolchain:
    the sources they are built from, the packages that build them, and
    SOURCE_DATE_EPOCH, which goes into their header."""
    digest = hashlib.sha256()
    for top in SOURCES:
        path = os.path.join(root, top)
        files = [path] if os.path.isfile(path) else sorted(
            os.path.join(folder, name) for folder, _, names in os.walk(path) for name in names)
        for name in files:
            with open(name, 'rb') as f:
                digest.update(os.path.relpath(name, root).encode() + b'\0' + f.read() + b'\0')
    versions = subprocess.run(['dpkg-query', '-W', *TOOLCHAIN], capture_output=True, text=True,
                              env=scan_password.C_LOCALE).stdout
    compiler = subprocess.run(['i686-w64-mingw32-g++-posix', '--version'], capture_output=True, text=True,
                              env=scan_password.C_LOCALE).stdout
    digest.update((versions + compiler + os.environ.get('SOURCE_DATE_EPOCH', '')).encode())
    return digest.hexdigest()[:24]


def load_templates(work, shapes, jobs):
    """Return {shape: Template}, building (in `work`) the reference programs of
    the shapes that this checkout and toolchain have none of yet."""
    shapes = sorted(shapes)
    # Reference programs are kept for the next build of the same sources and toolchain.
    cache = os.path.join(WORK, 'templates', fingerprint(ROOT))
    folder_of = {shape: os.path.join(cache, f'{shape[0]}-{"zero" if shape[1] else "any"}') for shape in shapes}
    missing = [shape for shape in shapes if not os.path.isdir(folder_of[shape])]
    if missing:
        built = build_programs(work, [row for shape in missing for row in references(shape)], jobs)
        os.makedirs(cache, exist_ok=True)
        for k, shape in enumerate(missing):
            keep_references(built[3 * k:3 * k + 3], folder_of[shape], cache)
    objdump = find_objdump()
    templates = {}
    for shape in shapes:
        paths = [os.path.join(folder_of[shape], f'{i}.exe') for i in range(3)]
        programs = []
        for path in paths:
            with open(path, 'rb') as f:
                programs.append(f.read())
        templates[shape] = Template(shape, programs, [os.path.splitext(p)[0] + '.map' for p in paths], objdump)
    return templates


def keep_references(built, folder, cache):
    """Three reference programs and their link maps, into `folder` in one rename."""
    staged = tempfile.mkdtemp(prefix='.new-', dir=cache)
    for i, path in enumerate(built):
        shutil.copyfile(path, os.path.join(staged, f'{i}.exe'))
        shutil.copyfile(os.path.splitext(path)[0] + '.map', os.path.join(staged, f'{i}.map'))
    with contextlib.suppress(OSError):  # another build may have kept the same
        os.rename(staged, folder)
    shutil.rmtree(staged, ignore_errors=True)


def write_programs(work, added, jobs):
    """Return the newcomers' programs, written from templates, each checked for
    its own password before it is kept: ([rows with their sha256], [paths])."""
    templates = load_templates(work, {shape_of(r.password, r.mask) for r in added}, jobs)
    folder = os.path.join(work, 'programs')
    os.mkdir(folder)
    progress, rows, paths = Progress('written', len(added)), [], []
    for i, row in enumerate(added):
        template = templates[shape_of(row.password, row.mask)]
        data = template.write(row.password, row.mask)
        where = template.holds(data, row.password)
        if where:
            raise Refusal(f'the program for "{row.name}" would hold its password {where}; nothing was changed')
        paths.append(os.path.join(folder, f'{i}.exe'))
        with open(paths[-1], 'wb') as f:
            f.write(data)
        rows.append(dataclasses.replace(row, sha256=hashlib.sha256(data).hexdigest()))
        progress.step()
    return rows, paths
