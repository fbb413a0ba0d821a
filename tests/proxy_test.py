"""A room under a slow attack, served for real: serve --workers 2 behind
nginx with the configuration the guide shows, and serve in one process
with its own defences; 17 and then 200 connections trickling a byte a
second from one address, then 1,200 from as many, while 29 students load
their pages and hand in answers. Every student's request is served. How
fast is the benchmarks' (bench/slow.sh): no time is asserted here."""
import contextlib
import os
import re

import subprocess
import sys
import time
import urllib.request

import pytest

from conftest import ROOT, TOOLS
from slow_room import ATTACKS, attacked
from stand_in_set import free_port, lay_out

NGINX = '/usr/sbin/nginx'
STUDENTS = 29


def guide_nginx():
    """The two nginx blocks of the guide: nginx.conf's, and the room's server."""
    with open(os.path.join(ROOT, 'docs', 'organiser.md'), encoding='utf-8') as f:
        blocks = re.findall(r'```nginx\n(.*?)```', f.read(), re.S)
    return blocks[-2], blocks[-1]


def nginx_config(folder, front, back):
    main, server = guide_nginx()
    server = server.replace('listen 8000;', f'listen 127.0.0.1:{front};').replace('127.0.0.1:8001', f'127.0.0.1:{back}')
    temporary = ' '.join(f'{kind}_temp_path {folder}/{kind};' for kind in ('client_body', 'proxy', 'fastcgi', 'uwsgi',
                                                                           'scgi'))
    return (f'{main}\npid {folder}/nginx.pid;\nerror_log {folder}/error.log;\n'
            f'{"user root;" if os.geteuid() == 0 else ""}\nworker_processes 2;\n'
            f'http {{\n    access_log off;\n    {temporary}\n{server}\n}}\n')


def started(command, port):
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                               env=dict(os.environ, PYTHONPATH=TOOLS))
    deadline = time.monotonic() + 60
    while True:
        with contextlib.suppress(OSError):
            urllib.request.urlopen(f'http://127.0.0.1:{port}/', timeout=5).close()
            return process
        if process.poll() is not None or time.monotonic() > deadline:
            process.kill()
            pytest.fail(f'{command[0]} did not start: {process.stderr.read()}')
        time.sleep(0.2)


def stopped(process):
    process.terminate()
    try:
        process.wait(30)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
    process.stderr.close()


@pytest.fixture(scope='module')
def room(tmp_path_factory):
    """A set of 29."""
    out = str(tmp_path_factory.mktemp('room') / 'set')
    lay_out(out, STUDENTS, size=4096)
    return out


def links_of(out):
    from class_set.set.keys import read_keys
    from class_set.set.folder import read_records
    return [f'/p/{key}' for key in read_keys(out, read_records(out)).values()]


@pytest.fixture(scope='module', params=['workers behind nginx', 'one process'])
def served(request, room, tmp_path_factory):
    """The room served one way or the other: the port the students reach."""
    back = free_port()
    serve = [sys.executable, '-m', 'class_set', 'serve', room, '--port', str(back), '--rate', '100000']
    with contextlib.ExitStack() as stack:
        if request.param == 'one process':
            stack.callback(stopped, started(serve, back))
            yield back
            return
        if not os.access(NGINX, os.X_OK):
            pytest.skip(f'no nginx here ({NGINX})')
        stack.callback(stopped, started(serve + ['--workers', '2', '--trusted-proxy', '127.0.0.1'], back))
        front, folder = free_port(), tmp_path_factory.mktemp('nginx')
        (folder / 'nginx.conf').write_text(nginx_config(folder, front, back))
        stack.callback(stopped, started([NGINX, '-c', str(folder / 'nginx.conf'), '-g', 'daemon off;'], front))
        yield front


@pytest.mark.parametrize('attack, addresses', ATTACKS, ids=[a for a, _ in ATTACKS])
def test_every_student_is_served_through_a_slow_attack(served, room, attack, addresses):
    waits = attacked(served, links_of(room), addresses, seconds=6, settle=3)
    refused = sum(1 for w in waits if w is None)
    print(f'{attack}: {len(waits)} requests, the slowest {max(w for w in waits if w is not None):.2f} s')
    assert len(waits) >= STUDENTS * 2 and refused == 0, f'{refused} of {len(waits)} requests not served'
