"""`serve`: the check-in page and the board on the room's network."""

import logging
import os

from ..address import addresses, only_here, unreachable
from ..errors import OK
from ..set.store import space
from ..web import create_app
from ..web.serving import free, listen, prepare, quick_turns, ready


def tell(app, hosts, port, key):
    """Where people and the organiser find the page; `key`: the board's."""
    print('People hand in their answers at:')
    for address in hosts:
        print(f'  http://{address}:{port}/')
    print(f'The board (keep this address to yourself; it is the address only once, then a cookie):\n'
          f'  http://{hosts[0]}:{port}/board?key={key}')
    if app.config['PLACES']:
        print(f'Open: up to {app.config["PLACES"]} people not on the list may enrol at http://{hosts[0]}:{port}/enrol')
    print(f'Ctrl+C stops it; the answers are kept in {os.path.join(app.config["OUT"], "checkins.sqlite")}', flush=True)
    room = app.extensions['room']
    found = space(room.store, len(room.people().rows))
    if found.short:
        print(f'Little room left on the disk of {app.config["OUT"]}: {found.free // 2**20} MiB, less than an hour of '
              f'answers at this room\'s rate takes ({found.hour // 2**20} MiB). Free some space before people '
              'hand in; the board says so too.', flush=True)
    if all(only_here(h) for h in hosts):
        print(unreachable(f'http://{hosts[0]}:{port}/', 'The page at'), flush=True)


def serve_command(out, host, port, options):
    """options: the page's config (see create_app's DEFAULTS), and the
    server's: workers, connections, deadline, slow, idle_timeout."""
    hosts = addresses() if host in ('0.0.0.0', '') else [host]
    # An IPv6 address goes in brackets, or no browser opens it.
    hosts = [f'[{h}]' if ':' in h else h for h in hosts]
    config = {k: v for k, v in options.items() if k.isupper()}
    config.update(OUT=out, BASE=options.get('BASE') or f'http://{hosts[0]}:{port}/')
    if config.get('PLACES'):
        print('Getting the set ready for walk-ins (the first time in a checkout, a minute or so)...', flush=True)
    prepare(out, config.get('PLACES'), config.get('JOBS', os.cpu_count() or 2))
    app = ready(create_app(config))
    app.extensions['room'].store.remember_base(config['BASE'])
    workers = options.get('workers', 1)
    if workers > 1:
        from ..web.workers import run_workers
        free(host, port)
        key = app.extensions['room'].store.key()
        app.extensions['room'].store.close()  # each worker opens its own, and none is carried across a fork
        return run_workers(lambda: create_app(config), host, port, workers, options,
                           lambda: tell(app, hosts, port, key), quick_turns)
    server = listen(app, host, port, options)
    app.extensions['standing'].warm()
    quick_turns()
    # A queue of waiting requests is the normal state of a busy room.
    logging.getLogger('waitress.queue').setLevel(logging.ERROR)
    tell(app, hosts, port, app.extensions['room'].store.key())
    try:
        server.run()
    except KeyboardInterrupt:
        pass
    finally:
        server.close()
    return OK
