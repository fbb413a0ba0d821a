#!/usr/bin/env python3
"""A room under a slow attack (tests/slow_room.py): 29 students load their
pages and hand in answers while connections trickle their requests a byte
a second: 17 from one address, then 200 from one, then 1,200 from as many.
For serve in one process, and for serve --workers 2 behind nginx as the
guide sets it up (ENGINES: one, nginx). For each: how many of the
students' requests were served, and how many within 2 s.
Run: bash bench/slow.sh"""
import os
import resource

import sys
import tempfile
import time

import proxy_test
import stand_in_set
from slow_room import ATTACKS, attacked

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COMMAND = [sys.executable, '-m', 'class_set', 'serve']
SECONDS = int(os.environ.get('SECONDS_EACH', 40))


def report(engine, attack, waits):
    served = [w for w in waits if w is not None]
    quick = sum(1 for w in served if w <= 2)
    print(f'{engine}, {attack}: {len(waits)} student requests, {len(served)} served, {quick} within 2 s '
          f'({100 * quick / len(waits):.0f}%), the slowest {max(served, default=0):.2f} s', flush=True)


def engine(name, out, top):
    """The port the students reach, and the processes to stop."""
    back = stand_in_set.free_port()
    serve = COMMAND + [out, '--port', str(back), '--rate', '100000']
    if name == 'one':
        return back, [proxy_test.started(serve, back)]
    processes = [proxy_test.started(serve + ['--workers', '2', '--trusted-proxy', '127.0.0.1'], back)]
    front = stand_in_set.free_port()
    with open(os.path.join(top, 'nginx.conf'), 'w') as f:
        f.write(proxy_test.nginx_config(top, front, back))
    processes.append(proxy_test.started([proxy_test.NGINX, '-c', os.path.join(top, 'nginx.conf'), '-g', 'daemon off;'],
                                        front))
    return front, processes


def main():
    resource.setrlimit(resource.RLIMIT_NOFILE, (8192, 8192))
    print(f'date: {time.strftime("%Y-%m-%d")}; {os.cpu_count()} cores; {SECONDS} s of each attack')
    with tempfile.TemporaryDirectory(dir=os.path.join(ROOT, 'build')) as top:
        out = os.path.join(top, 'set')
        stand_in_set.lay_out(out, proxy_test.STUDENTS, size=4096)
        for name in os.environ.get('ENGINES', 'one nginx').split():
            port, processes = engine(name, out, top)
            try:
                links = proxy_test.links_of(out)
                for attack, addresses in ATTACKS:
                    report('one process' if name == 'one' else 'gunicorn, 2 workers, behind nginx', attack,
                           attacked(port, links, addresses, SECONDS))
            finally:
                for process in reversed(processes):
                    proxy_test.stopped(process)


if __name__ == '__main__':
    main()
