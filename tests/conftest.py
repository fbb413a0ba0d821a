"""What the tests of the organiser's tools share: sets laid out by hand
(stand-in programs that agree with their records), the page on such a set
through Flask's test client, and class-set's command line run in process."""
import csv
import os
import socket

import pytest

from stand_in_set import lay_out

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COMMAND = ['bash', os.path.join(ROOT, 'scripts', 'class-set')]
# name, password; the folder is the name.
PEOPLE = [('Анна Петрова', 'Ab3De'), ('Bob', 'Fg4Hj'), ('<b>Carl</b>', 'Km5Np')]


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def read_csv(text):
    return list(csv.DictReader(text.splitlines()))


@pytest.fixture
def make_set(tmp_path):
    """make_set(people=PEOPLE, name='set'): OUT laid out for [(name, password)]."""
    def make(people=PEOPLE, name='set'):
        out = str(tmp_path / name)
        lay_out(out, people, size=256)
        return out
    return make


@pytest.fixture
def class_set(capsys):
    """class_set(*args) -> (status, stdout, stderr) of the command line, in process."""
    from class_set.__main__ import main

    def run(*args):
        try:
            status = main(list(args))
        except SystemExit as e:  # argparse's usage errors
            status = e.code
        said = capsys.readouterr()
        return status, said.out, said.err
    return run


@pytest.fixture
def app(make_set):
    from class_set.web import create_app
    return create_app({'OUT': make_set()})


@pytest.fixture
def client(app):
    return app.test_client()


@pytest.fixture
def board_key(app):
    return app.config['BOARD_KEY']
