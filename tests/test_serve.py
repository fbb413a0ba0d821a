"""serve as a command, in process: a port in use said in one line, the
workers that need a proxy in front and take no option they would ignore,
and what of waitress and gunicorn the page relies on."""
import os
import socket

import pytest

from conftest import page_app
from stand_in_set import free_port

LIMITS = {'connections': 100, 'deadline': 2, 'slow': 10, 'idle_timeout': 15}


@pytest.mark.parametrize('engine', [[], ['--workers', '2', '--trusted-proxy', '127.0.0.1']],
                         ids=['one process', 'workers'])
def test_a_port_in_use_is_said_in_one_line_with_who_holds_it(make_set, class_set, engine):
    with socket.socket() as taken:
        taken.bind(('127.0.0.1', 0))
        taken.listen()
        port = taken.getsockname()[1]
        status, printed, said = class_set('serve', make_set(), '--port', str(port), *engine)
    assert status == 1 and said.count('\n') == 1, said
    assert f'127.0.0.1:{port}: the port is in use by process {os.getpid()}' in said and '--port' in said
    assert 'Traceback' not in said + printed


@pytest.mark.parametrize('options, said', [
    (['--workers', '2'], '--workers runs gunicorn, which holds a slow sender\'s request in a thread of its own: put a '
                         'proxy in front that takes requests whole (nginx, as the guide shows), and name it with '
                         '--trusted-proxy ADDRESS'),
    (['--workers', '2', '--trusted-proxy', '127.0.0.1', '--deadline', '3'],
     "--deadline does not apply with --workers: the proxy in front bounds that; set nginx's client_header_timeout"),
    (['--workers', '2', '--trusted-proxy', '127.0.0.1', '--slow-per-address', '2'], "set nginx's limit_conn there"),
    (['--workers', '2', '--trusted-proxy', '127.0.0.1', '--connections', '10'], "nginx's worker_connections"),
], ids=['no proxy', 'deadline', 'slow', 'connections'])
def test_workers_need_a_proxy_and_take_no_option_they_would_ignore(make_set, class_set, options, said):
    status, printed, problems = class_set('serve', make_set(), '--port', str(free_port()), *options)
    assert status == 2 and problems.count('\n') == 1 and said in problems and printed == '', problems


def test_what_the_servers_rely_on_is_there(make_set):
    """An upgrade of waitress or gunicorn that takes away what the page
    relies on fails here, naming it."""
    from gunicorn import util
    from gunicorn.app.base import BaseApplication
    from gunicorn.workers.gthread import ThreadWorker
    from waitress.task import ErrorTask
    from class_set.web import serving, workers
    server = serving.listen(page_app({'OUT': make_set()}), '127.0.0.1', free_port(), LIMITS)
    mine, theirs = socket.socketpair()
    try:
        channel = serving.RoomChannel(server, mine, ('127.0.0.1', 1), server.adj, map={})
        found = {'HTTPChannel': channel, 'BaseWSGIServer': server, 'ErrorTask': ErrorTask}
        missing = [what for what in serving.RELIED_ON if not hasattr(found[what.split('.')[0]], what.split('.')[1])]
        assert missing == [], f'waitress (written against {serving.WAITRESS}) no longer has {missing}'
    finally:
        channel.close()
        theirs.close()
        server.close()
    found = {'ThreadWorker': ThreadWorker, 'util': util, 'BaseApplication': BaseApplication}
    missing = [what for what in workers.RELIED_ON if not hasattr(found[what.split('.')[0]], what.split('.')[1])]
    assert missing == [], f'gunicorn (written against {workers.GUNICORN}) no longer has {missing}'
