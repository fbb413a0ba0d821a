"""The roster: one name a line, as the organiser wrote it."""
from dataclasses import dataclass

from .errors import Refusal
from .files import read_text
from .names import INVISIBLE, clean_name


@dataclass(frozen=True)
class Listed:
    """A name of the roster, and the line it is on."""
    line: int
    name: str


def read_roster(path, encoding=None):
    """[Listed] of the roster, or a Refusal that names the line."""
    people, seen = [], {}
    for number, line in enumerate(read_text(path, encoding, 'roster').split('\n'), 1):
        if not line.strip() or INVISIBLE.sub('', line).strip().startswith('#'):
            continue
        try:
            name = clean_name(line)
        except Refusal as why:
            raise Refusal(f'{path}:{number}: {why}')
        if not name:
            continue
        if name in seen:
            raise Refusal(f'{path}:{number}: "{name}" is already on line {seen[name]}')
        seen[name] = number
        people.append(Listed(number, name))
    if not people:
        raise Refusal(f'{path}: no names in the roster')
    return people
