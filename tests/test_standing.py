"""The board's standing, kept up as answers come and people come, go and
come back, says what counting everything afresh says; and a change of
the people costs the answers it touches, not everyone's."""
import time

from class_set.set import grading
from class_set.web.standing import Standing
from conftest import organiser, page_app
from stand_in_set import numbered

EXPORT = ('ФИО;Группа;Номер\r\nАнна Петрова;ИБ-21;1001\r\nИванов Иван Иванович;ИБ-21;1002\r\n'
          'Иванов Иван Иванович;ИБ-22;1003\r\nBob;ИБ-22;1004\r\n')


def seen(standing):
    """Everything the board and the wall show."""
    return standing.board('', 1), standing.wall()


def test_the_standing_kept_up_is_the_standing_counted_afresh(built_from, stand_in_builds, class_set):
    out, rows = built_from(EXPORT, 'Номер')
    password = {folder: row['password'] for folder, row in rows.items()}
    app = page_app({'OUT': out, 'PLACES': 5, 'NAME_RATE': 100, 'CLIENT_RATE': 100})
    client, store = organiser(app), app.extensions['room'].store
    links = {row.folder: f'/p/{key}' for key, row in app.extensions['room'].people().by_key.items()}

    def by_name(name, word):
        assert client.post('/', data={'name': name, 'word': word}).status_code == 200

    def later(name, folder, word):
        """An answer an hour from now, after the removals stamped meanwhile."""
        with store.writing():
            store.db.execute("INSERT INTO answers (time, typed, person, client, word, correct, via, folder) "
                             "VALUES (?, ?, ?, '127.0.0.1', ?, 0, 'name', ?)", (time.time() + 3600, name, name, word,
                                                                                  folder))

    def command(*args):
        assert class_set(*args)[0] == 0, args
    steps = [
        ('answers', lambda: (by_name('Анна Петрова', password['Анна Петрова']), by_name('Bob', 'guess'),
                             client.post(links['Bob'], data={'word': password['Анна Петрова']}),
                             by_name('Иванов Иван Иванович', password['Иванов Иван Иванович (1002)']),
                             by_name('Zed', password['Bob']), by_name('zed', 'other'))),
        ('a walk-in takes a name tried', lambda: client.post('/enrol', data={'name': 'Zed'})),
        ('a namesake goes: the name is the other one\'s', lambda: command('remove', out, '1002')),
        ('the one who passed a password goes', lambda: command('remove', out, 'Bob')),
        ('his password, handed in after', lambda: later('Анна Петрова', 'Анна Петрова', password['Bob'])),
        ('he comes back: his password is his again', lambda: command('restore', out, 'Bob')),
        ('the walk-in goes', lambda: command('remove', out, 'Zed')),
        ('the one whose password was passed goes', lambda: command('remove', out, '1001')),
        ('answers under the names gone', lambda: (by_name('Zed', 'x'), by_name('Анна Петрова', 'y'))),
    ]
    for what, step in steps:
        step()
        assert seen(app.extensions['standing']) == seen(Standing(app.extensions['room'])), what


def test_a_change_of_the_people_costs_the_answers_it_touches(make_set, class_set, monkeypatch):
    people = numbered(100)
    app = page_app({'OUT': make_set(people), 'NAME_RATE': 10**6, 'CLIENT_RATE': 10**6})
    client = organiser(app)
    for i in range(800):
        name, password = people[i % 100]
        client.post('/', data={'name': name, 'word': password if i % 5 == 0 else f'guess {i}'})
    client.get('/board')
    looked = []
    whose = grading.whose
    monkeypatch.setattr(grading, 'whose', lambda answer, found: looked.append(answer) or whose(answer, found))
    assert class_set('remove', app.config['OUT'], 'Person 7')[0] == 0
    assert '<td>Person 7</td>' not in client.get('/board?q=Person+7').text
    assert 0 < len(looked) <= 10, f'{len(looked)} answers of 800 looked at again for one person of 100'


def test_the_board_shows_the_first_passwords_passed_and_how_many(make_set):
    people = numbered(60)
    client = organiser(page_app({'OUT': make_set(people), 'CLIENT_RATE': 10**6}))
    for (name, _), (_, theirs) in zip(people, people[1:] + people[:1]):
        client.post('/', data={'name': name, 'word': theirs})
    page = client.get('/board').text
    passed = page.split('id="passed"')[1].split('</ul>')[0]
    assert passed.count('<li>') == 50 and '60 in all' in page
    assert "unconfirmed, by name: Person 1's name came with Person 2's password" in passed
