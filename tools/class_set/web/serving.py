"""`serve`: the page and the board on the room's network, through waitress,
in a process a core, with every request bounded: a body over the page's
limit is refused before it is stored, idle connections close, and one
address cannot take all the connections."""
import gc
import logging
import os

from ..address import addresses
from ..errors import OK, Refusal
from . import create_app
from .processes import end, fork_workers, sockets
from .room import LIMIT


def capped(make_channel, server, per_address):
    """waitress's channel maker, refusing a connection from an address that
    holds `per_address` already: one laptop cannot take the room's."""
    def channel(server_, conn, addr, adj, map=None):
        held = sum(1 for c in server._map.values() if getattr(c, 'addr', None) and c.addr[0] == addr[0]
                   and c is not server)
        if held >= per_address:
            conn.close()
            return None
        return make_channel(server_, conn, addr, adj, map=map)
    return channel


def listen(app, host, port, limits, sock=None):
    """The server, on host:port or on a socket listening already; limits:
    connections, connections_per_address, idle_timeout."""
    import waitress
    where = {'sockets': [sock]} if sock is not None else {'host': host, 'port': port}
    try:
        server = waitress.create_server(
            app, **where, threads=8, ident=None, clear_untrusted_proxy_headers=True,
            max_request_body_size=LIMIT, connection_limit=limits['connections'],
            channel_timeout=limits['idle_timeout'], cleanup_interval=max(1, limits['idle_timeout'] // 3))
    except (OSError, ValueError) as e:
        raise cannot_listen(host, port, e)
    server.channel_class = capped(server.channel_class, server, limits['connections_per_address'])
    return server


def cannot_listen(host, port, e):
    why = getattr(e, 'strerror', None) or e
    more = '; another serve may be running: choose another --port' if 'in use' in str(why) else ''
    return Refusal(f'cannot listen on {host}:{port} ({why}){more}')


def tell(app, hosts, port):
    """Where people and the organiser find the page."""
    print('People hand in their answers at:')
    for address in hosts:
        print(f'  http://{address}:{port}/')
    print(f'The board (keep this address to yourself; it is the address only once, then a cookie):\n'
          f'  http://{hosts[0]}:{port}/board?key={app.extensions["room"].store.key()}')
    if app.config['PLACES']:
        print(f'Open: up to {app.config["PLACES"]} people not on the list may enrol at http://{hosts[0]}:{port}/enrol')
    print(f'Ctrl+C stops it; the answers are kept in {os.path.join(app.config["OUT"], "checkins.sqlite")}', flush=True)


def serve_command(out, host, port, options):
    """options: the limits of create_app and of listen, and BASE."""
    hosts = addresses() if host in ('0.0.0.0', '') else [host]
    # An IPv6 address goes in brackets, or no browser opens it.
    hosts = [f'[{h}]' if ':' in h else h for h in hosts]
    if options.get('PLACES'):
        print('Getting the set ready for walk-ins (the first time in a checkout, a minute or so)...', flush=True)
    app = create_app({**options, 'OUT': out, 'BASE': options.get('BASE') or f'http://{hosts[0]}:{port}/'})
    # A queue of waiting requests is the normal state of a busy room.
    logging.getLogger('waitress.queue').setLevel(logging.ERROR)
    try:
        listening = sockets(host, port, options.get('workers', 1))
    except OSError as e:
        raise cannot_listen(host, port, e)
    app.extensions['room'].store.close()
    gc.freeze()  # what was read stays shared with the workers, untouched by the collector
    mine, workers = fork_workers(listening)
    if workers is not None:
        tell(app, hosts, port)  # once, and when every worker is there
    limits = dict(options, connections=max(1, options['connections'] // len(listening)))
    try:
        listen(app, host, port, limits, mine).run()
    except KeyboardInterrupt:
        pass
    finally:
        end(workers)
    if workers is None:
        os._exit(OK)  # a worker: nothing of serve's own after this
    return OK
