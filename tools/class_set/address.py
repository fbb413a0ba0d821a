"""This machine's addresses on the room's network: for the slips before
the day (links --base auto, the address command), and for serve to say
where it is, or that the room cannot reach it."""
import ipaddress
import socket
import urllib.parse

from .errors import Refusal



def addresses():
    """This machine's IPv4 addresses, those the room can reach first; loopback
    only where there is nothing else."""
    import psutil
    found = [a.address for found in psutil.net_if_addrs().values() for a in found if a.family == socket.AF_INET]
    room = [a for a in found if not a.startswith('127.')]
    return room or found


def only_here(host):
    """Return whether only this machine can open an address: loopback, or localhost."""
    host = host.strip('[]')
    if host.casefold() in ('localhost', 'localhost.'):
        return True
    try:
        return ipaddress.ip_address(host).is_loopback
    except ValueError:
        return False


def unreachable(url, what):
    """Return one line that says the room cannot open `url` and what to use instead; None where it can."""
    if not only_here(urllib.parse.urlsplit(url).hostname or ''):
        return None
    return (f'{what} {url} is this computer\'s own address: no phone or PC in the room can open it. '
            'Use --host 0.0.0.0 for serve and --base auto for links (class-set address prints the room\'s).')


def room_base(port):
    """http://ADDRESS:PORT/ of the first address the room can reach."""
    found = addresses()
    if not found:
        raise Refusal('this machine has no IPv4 address; give --base http://ADDRESS:PORT/')
    return f'http://{found[0]}:{port}/'


