"""Changes of one person made in place, so that they cost one person
however large the set. A walk-in: their program moved into handout/, and
a line each appended to SHA256SUMS, keys.csv, walkins.csv and, last,
answers.csv; OUT/.change, written first, names the change and the sizes
the files had, and a change interrupted before its answers.csv line is
whole is rolled back from it by the next that locks the set. A removal:
the records' new texts written beside them, then OUT/.change naming them,
then a line appended to keys.csv that ends each one's key, each text put
in place and the programs removed; interrupted after its journal is
whole, the next that locks the set finishes it. Readers
meanwhile pass over the folders a journal names."""
import csv
import io
import json
import os
import shutil
import tempfile

from .files import leftovers

JOURNAL = '.change'
FILES = ('answers.csv', 'keys.csv', 'walkins.csv', os.path.join('handout', 'SHA256SUMS'))


def in_flight(out):
    """The folders of a change under way (or interrupted): none, a walk-in's, or those removed."""
    try:
        with open(os.path.join(out, JOURNAL), encoding='utf-8') as f:
            journal = json.load(f)
        return frozenset(journal.get('folders') or [journal['folder']])
    except (FileNotFoundError, ValueError, KeyError, TypeError, AttributeError):
        return frozenset()


def size_of(path):
    try:
        return os.path.getsize(path)
    except FileNotFoundError:
        return None


def synced(path, text):
    """Appends text to path and waits until it is on disk."""
    with open(path, 'a', encoding='utf-8', newline='') as f:
        f.write(text)
        f.flush()
        os.fsync(f.fileno())


def line(fields):
    text = io.StringIO()
    csv.writer(text, lineterminator='\r\n').writerow(fields)
    return text.getvalue()


def recover(out):
    """Rolls back a walk-in that did not reach its answers.csv line whole,
    or finishes a removal whose journal is whole; call with the set locked."""
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
        put_in_place(out, journal)
        journal = None
    for stale in leftovers(out, '.new-'):  # a program or a file not yet in place
        if os.path.isdir(stale):
            shutil.rmtree(stale, ignore_errors=True)
        else:
            os.unlink(stale)
    if journal is None:
        return
    answers = os.path.join(out, 'answers.csv')
    with open(answers, 'rb') as f:
        f.seek(journal['sizes']['answers.csv'])
        tail = f.read()
    if not tail.endswith(b'\r\n'):
        for name, size in journal['sizes'].items():
            target = os.path.join(out, name)
            if size is None:
                if os.path.exists(target):
                    os.unlink(target)
            elif size_of(target) is not None:
                os.truncate(target, size)
        shutil.rmtree(os.path.join(out, 'handout', journal['folder']), ignore_errors=True)
    os.unlink(path)


def remove_people(out, texts, folders, unkeyed='', step=lambda name: None):
    """Takes people out of the set OUT, locked, in place: `texts` {file of
    OUT: its new text}, put in place in that order, and the `folders` of
    handout/ that go, after `unkeyed`, the lines that end their keys, is
    appended to keys.csv. `step` is told each step as it is done."""
    staged = []
    for name, text in texts.items():
        path = os.path.join(out, '.new-' + name.replace(os.sep, '-'))
        with open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), 'w', encoding='utf-8',
                  newline='') as f:
            f.write(text)
            f.flush()
            os.fsync(f.fileno())
        staged.append([os.path.basename(path), name])
    step('staged')
    journal = {'folders': sorted(folders), 'replace': staged}
    keys = size_of(os.path.join(out, 'keys.csv'))
    if unkeyed and keys is not None:
        journal['keys'] = [keys, unkeyed]
    with open(os.open(os.path.join(out, JOURNAL), os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), 'w',
              encoding='utf-8') as f:
        json.dump(journal, f)
        f.flush()
        os.fsync(f.fileno())
    step('journal')
    put_in_place(out, journal, step)


def put_in_place(out, journal, step=lambda name: None):
    """A removal's journal carried out, from wherever it stopped."""
    if 'keys' in journal:  # first: nobody's link works a moment longer
        size, unkeyed = journal['keys']
        os.truncate(os.path.join(out, 'keys.csv'), size)  # a line half-written by a kill, or a whole one
        synced(os.path.join(out, 'keys.csv'), unkeyed)
        step('keys.csv')
    for staged, name in journal['replace']:
        if os.path.exists(os.path.join(out, staged)):
            os.replace(os.path.join(out, staged), os.path.join(out, name))
        step(name)
    for folder in journal['folders']:
        shutil.rmtree(os.path.join(out, 'handout', folder), ignore_errors=True)
    step('handout')
    os.unlink(os.path.join(out, JOURNAL))


def append_person(out, row, program, key, walk_in, step=lambda name: None):
    """Adds one person to the set OUT, locked, in place: `row` (complete),
    the path of its `program`, its `key` and, for a walk-in, its
    walkins.csv fields.
    `step` is told each step as it is done, for the tests that stop it there."""
    sizes = {name: size_of(os.path.join(out, name)) for name in FILES}
    journal = os.path.join(out, JOURNAL)
    with open(os.open(journal, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), 'w', encoding='utf-8') as f:
        json.dump({'folder': row.folder, 'sizes': sizes}, f)
        f.flush()
        os.fsync(f.fileno())
    step('journal')
    staged = tempfile.mkdtemp(prefix='.new-', dir=out)
    shutil.copyfile(program, os.path.join(staged, 'PassWord.exe'))
    os.chmod(os.path.join(staged, 'PassWord.exe'), 0o600)
    os.rename(staged, os.path.join(out, 'handout', row.folder))
    step('program')
    synced(os.path.join(out, 'handout', 'SHA256SUMS'), f'{row.sha256}  {row.folder}/PassWord.exe\n')
    step('SHA256SUMS')
    synced(os.path.join(out, 'keys.csv'), line([row.name, key, row.folder]))
    step('keys.csv')
    walk_ins = os.path.join(out, 'walkins.csv')
    if walk_in is not None:
        if sizes['walkins.csv'] is None:
            with open(os.open(walk_ins, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600), 'w', encoding='utf-8') as f:
                f.write(line(['name', 'time', 'address']))
        synced(walk_ins, line(walk_in))
    step('walkins.csv')
    synced(os.path.join(out, 'answers.csv'), line(row.fields()))
    step('answers.csv')
    os.unlink(journal)
