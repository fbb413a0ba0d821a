"""OUT/.change, the journal of a change of one person under way (see
in_place): written first, read by whoever must pass over the folders it
names meanwhile."""
import json
import os

from .files import JOURNAL, write_private


def in_flight(out):
    """Return the folders of a change under way (or interrupted): none, the one being added, or those removed."""
    try:
        with open(os.path.join(out, JOURNAL), encoding='utf-8') as f:
            journal = json.load(f)
        return frozenset(journal.get('folders') or [journal['folder']])
    except (FileNotFoundError, ValueError, KeyError, TypeError, AttributeError):
        return frozenset()


def size_of(path):
    """Return the size of a file; None where there is none."""
    try:
        return os.path.getsize(path)
    except FileNotFoundError:
        return None


def write_journal(out, journal):
    """The journal of a change, written anew and on disk."""
    path = os.path.join(out, JOURNAL)
    if os.path.exists(path):
        os.unlink(path)
    write_private(path, json.dumps(journal))
