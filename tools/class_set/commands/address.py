"""`address`: this machine's address on the room's network."""
from ..address import addresses
from ..errors import OK, Refusal
from .options import port


NAME = 'address'
SUMMARY = "this machine's address on the room's network"
DESCRIPTION = ("Prints the address that the room's browsers reach serve --host 0.0.0.0 at: the one to print on the "
               'slips (links --base).')


def options(parser):
    """address' options."""
    parser.add_argument('--port', type=port, default=8000, metavar='N', help='default: %(default)s')


def run(args):
    """Say this machine's address on the room's network."""
    return address_command(port=args.port)


def address_command(port):
    """Print the addresses the room reaches serve --host 0.0.0.0 at, on `port`."""
    found = addresses()
    if not found:
        raise Refusal('this machine has no IPv4 address: is it on the room\'s network?')
    print(f'The room reaches serve --host 0.0.0.0 --port {port} at:')
    for address in found:
        print(f'  http://{address}:{port}/')
    if len(found) > 1:
        print('(one address for each network this machine is on: the room\'s is the one of its Wi-Fi)')
    return OK
