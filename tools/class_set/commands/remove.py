"""`remove`: people out of a set, in place, all or nothing. Their program,
folder, key and place go; what they handed in stays in checkins.sqlite,
their roster columns in details.csv, and OUT/removed.csv keeps who they
were and their password, so that grade reports their record as it was
and a later build keeps them out. `restore` brings them back."""



from ..errors import OK, argument
from ..set.details import one_person, read_details
from ..set.folder import locked
from ..set.in_place import remove_people
from ..set.keys import end_keys
from ..set.removals import removal_texts



def remove_command(out, wanted, by=None):
    with locked(out):
        details = read_details(out)
        gone = {}
        for text in wanted:
            row = one_person(out, details, text, by)
            gone[row.folder] = row
        remove_people(out, removal_texts(out, details, gone), list(gone), end_keys(gone.values()))
    for row in gone.values():
        print(f'removed {row.name} ({row.folder}): their link no longer works; what they handed in stays, '
              f'and grade reports it as removed. class-set restore {out} --by folder {argument(row.folder)} brings '
              'them back.')
    return OK


