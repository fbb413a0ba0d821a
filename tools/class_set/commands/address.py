"""`address`: this machine's address on the room's network."""

from ..address import addresses
from ..errors import OK, Refusal


def address_command(port):
    found = addresses()
    if not found:
        raise Refusal('this machine has no IPv4 address: is it on the room\'s network?')
    print(f'The room reaches serve --host 0.0.0.0 --port {port} at:')
    for address in found:
        print(f'  http://{address}:{port}/')
    if len(found) > 1:
        print('(one address for each network this machine is on: the room\'s is the one of its Wi-Fi)')
    return OK
