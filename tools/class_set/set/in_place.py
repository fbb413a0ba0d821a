"""Changes of one person made in place, so that each costs one person
however large the set, and each is whole or not there after a kill at any
step. A journal, OUT/.change, is written first; readers meanwhile pass
over the folders it names, and the next change that locks the set
finishes or undoes what it left:

- Adding someone (a walk-in, a person restored): the journal names them
  and the sizes the files had. Their program goes into handout/, then a
  line each is appended to SHA256SUMS, keys.csv, walkins.csv (a walk-in)
  and, last, answers.csv. Without its answers.csv line whole, the change
  is undone: every file cut back to its size.
- Removing people: the new texts of the records are written beside them,
  then the journal names them; a line appended to keys.csv ends each
  one's key, each text is put in place and their programs removed. With
  its journal whole, the change is finished."""
import json
import os
import shutil
import tempfile

from . import sums, walkins
from .files import HANDOUT, JOURNAL, KEYS, PROGRAM, RECORDS, SUMS, WALK_INS, append_synced, leftovers, write_private
from .journal import size_of, write_journal
from .keys import append_key
from .records import append_row


APPENDED = (RECORDS, KEYS, WALK_INS, SUMS)


def recover(out):
    """Undo an addition that did not reach its answers.csv line whole, or
    finishes a removal whose journal is whole; call with the set locked."""
    path = os.path.join(out, JOURNAL)
    try:
        with open(path, encoding='utf-8') as f:
            journal = json.load(f)
    except FileNotFoundError:
        journal = None
    except ValueError:  # killed while the journal itself was written: nothing else was
        journal = None
        os.unlink(path)
    if journal is not None and 'replace' in journal:
        finish_removal(out, journal)
        journal = None
    for stale in leftovers(out, '.new-'):  # a program or a file not yet in place
        if os.path.isdir(stale):
            shutil.rmtree(stale, ignore_errors=True)
        else:
            os.unlink(stale)
    if journal is None:
        return
    with open(os.path.join(out, RECORDS), 'rb') as f:
        f.seek(journal['sizes'][RECORDS])
        whole = f.read().endswith(b'\r\n')
    if not whole:
        for name, size in journal['sizes'].items():
            target = os.path.join(out, name)
            if size is None:
                if os.path.exists(target):
                    os.unlink(target)
            elif size_of(target) is not None:
                os.truncate(target, size)
        shutil.rmtree(os.path.join(out, HANDOUT, journal['folder']), ignore_errors=True)
    os.unlink(path)


def remove_people(out, texts, folders, key_ends='', step=lambda name: None):
    """Take people out of the set OUT (locked) in place. `texts`: the new
    text of each file of OUT that changes, put in place in that order;
    `folders`: their folders of handout/, which go; `key_ends`: the lines
    to append to keys.csv that end their keys. `step` is told each step as
    it is done, for the tests that stop it there."""
    staged = []
    for name, text in texts.items():
        path = os.path.join(out, '.new-' + name.replace(os.sep, '-'))
        if os.path.exists(path):
            os.unlink(path)
        write_private(path, text)
        staged.append([os.path.basename(path), name])
    step('staged')
    journal = {'folders': sorted(folders), 'replace': staged}
    keys = size_of(os.path.join(out, KEYS))
    if key_ends and keys is not None:
        journal['keys'] = [keys, key_ends]
    write_journal(out, journal)
    step('journal')
    finish_removal(out, journal, step)


def finish_removal(out, journal, step=lambda name: None):
    """A removal's journal carried out, from wherever it stopped."""
    if 'keys' in journal:  # first: nobody's link works a moment longer
        size, key_ends = journal['keys']
        os.truncate(os.path.join(out, KEYS), size)  # a line half-written by a kill, or a whole one
        append_synced(os.path.join(out, KEYS), key_ends)
        step(KEYS)
    for staged, name in journal['replace']:
        if os.path.exists(os.path.join(out, staged)):
            os.replace(os.path.join(out, staged), os.path.join(out, name))
        step(name)
    for folder in journal['folders']:
        shutil.rmtree(os.path.join(out, HANDOUT, folder), ignore_errors=True)
    step(HANDOUT)
    os.unlink(os.path.join(out, JOURNAL))


def add_person(out, row, program, key, walk_in=None, step=lambda name: None):
    """Add one person to the set OUT (locked) in place: `row` (complete),
    the path of its `program`, its `key` and, for a walk-in, its WalkIn. `step` is told each step as it is done."""
    sizes = {name: size_of(os.path.join(out, name)) for name in APPENDED}
    write_journal(out, {'folder': row.folder, 'sizes': sizes})
    step('journal')
    staged = tempfile.mkdtemp(prefix='.new-', dir=out)
    shutil.copyfile(program, os.path.join(staged, PROGRAM))
    os.chmod(os.path.join(staged, PROGRAM), 0o600)
    os.rename(staged, os.path.join(out, HANDOUT, row.folder))
    step('program')
    sums.append(out, row)
    step(SUMS)
    append_key(out, row, key)
    step(KEYS)
    if walk_in is not None:
        walkins.append(out, walk_in)
    step(WALK_INS)
    append_row(out, row)
    step(RECORDS)
    os.unlink(os.path.join(out, JOURNAL))
