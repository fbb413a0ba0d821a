"""`serve`: the page and the board on the room's network, through waitress."""
import logging
import os
import socket

from ..errors import OK, Refusal
from . import create_app


def addresses():
    """This machine's IPv4 addresses, one per network interface."""
    import psutil
    return [a.address for found in psutil.net_if_addrs().values() for a in found if a.family == socket.AF_INET]


def tell(app, hosts, port):
    """Where people and the organiser find the page."""
    print('People hand in their answers at:')
    for address in hosts:
        print(f'  http://{address}:{port}/')
    print(f'The board (keep this address to yourself):\n  http://{hosts[0]}:{port}/board?key={app.config["BOARD_KEY"]}')
    if app.config['PLACES']:
        print(f'Open: up to {app.config["PLACES"]} people not on the list may enrol at http://{hosts[0]}:{port}/enrol')
    print(f'Ctrl+C stops it; the answers are kept in {os.path.join(app.config["OUT"], "checkins.sqlite")}', flush=True)


def serve_command(out, host, port, rate, client_rate, places=0, enrol_rate=3):
    import waitress
    app = create_app({'OUT': out, 'RATE': rate, 'CLIENT_RATE': client_rate, 'PLACES': places,
                      'ENROL_RATE': enrol_rate})
    # A queue of waiting requests is the normal state of a busy room.
    logging.getLogger('waitress.queue').setLevel(logging.ERROR)
    try:
        server = waitress.create_server(app, host=host, port=port, threads=8, ident=None,
                                        clear_untrusted_proxy_headers=True)
    except (OSError, ValueError) as e:
        raise Refusal(f'cannot listen on {host}:{port} ({getattr(e, "strerror", None) or e})')
    hosts = addresses() if host in ('0.0.0.0', '') else [host]
    # An IPv6 address goes in brackets, or no browser opens it.
    tell(app, [f'[{h}]' if ':' in h else h for h in hosts], port)
    try:
        server.run()
    except KeyboardInterrupt:
        pass
    return OK
