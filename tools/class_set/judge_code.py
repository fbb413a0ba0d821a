"""The judge as the release build compiles it: each masked word stored on
the stack (movl $WORD, D(%esp)), and later loaded (mov D(%esp), %eax) and
unmasked (xor $MASK, %eax; for 0x80 add $0x80, for 0xFF not %eax) for its
comparison, in the password's order. What a program holds is read back
from that pattern."""
import re

STORE = re.compile(rb'\xc7\x44\x24(.)(.)\x00\x00\x00', re.S)
UNMASK = re.compile(rb'\x8b\x44\x24(.)(?:\x31\xd2)?(?:\x83\xf0(.)|\x83\xc0(\x80)|\xf7\xd0)', re.S)


def shape_of(password, mask):
    """Return what makes the compiler emit other instructions: the mask 0x80 (an
    add) and 0xFF (a not) instead of an xor, and masked words that are all zero
    (the two copies of the table become one)."""
    kind = {0x80: 'add', 0xFF: 'not'}.get(mask, 'xor')
    return kind, all(ord(c) == mask for c in password)


def held(program):
    """Return (password, mask) that a program's judge holds, or None where the judge is not found in it."""
    unmask = list(UNMASK.finditer(program))
    masks = {(m.group(2) or m.group(3) or b'\xff')[0] for m in unmask}
    if len(unmask) != 5 or len(masks) != 1:
        return None
    mask = masks.pop()
    # The stores come first, within the same routine.
    stored = dict(STORE.findall(program, max(0, unmask[0].start() - 256), unmask[0].start()))
    if any(m.group(1) not in stored for m in unmask):
        return None
    return bytes(stored[m.group(1)][0] ^ mask for m in unmask).decode('latin-1'), mask
