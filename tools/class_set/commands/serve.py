"""`serve`: the check-in page and the board on the room's network. The
page itself is web's; only this command needs Flask, which it imports
when it runs."""
import logging
import os

from ..address import addresses, only_here, unreachable
from .. import times
from ..errors import OK, Refusal
from ..limits import LIMITS
from ..set.store import space
from .links import checked_base
from .options import clock_of, clock_options, language_option, out_argument, port, positive

NAME = 'serve'
SUMMARY = 'a check-in page for the group, and a board for the organiser'
DESCRIPTION = ('Serves a page where people hand in the password they found, and a board behind a key that this '
               'command prints. Answers are kept in OUT/checkins.sqlite.')


def options(parser):
    """serve's options: where it listens, who may enrol, and its limits."""
    out_argument(parser)
    parser.add_argument('--host', default='127.0.0.1', metavar='ADDR',
                        help='the address to listen on; 0.0.0.0 opens it to the room (default: %(default)s)')
    parser.add_argument('--port', type=port, default=8000, metavar='N', help='default: %(default)s')
    parser.add_argument('--open', type=positive, default=0, metavar='N',
                        help='let at most N people not on the list enrol through the page (default: closed); OUT '
                             'may then be missing or empty')
    parser.add_argument('--links-only', action='store_true',
                        help='answers only through personal links: no form that asks for a name')
    language_option(parser, 'the pages')
    clock_options(parser)
    parser.add_argument('--base', metavar='URL',
                        help="the page's address as the room reaches it, for the board's links and slips, and behind "
                             'a proxy the origin its forms come from (default: http://the first address serve '
                             'prints:PORT/)')
    parser.add_argument('--trusted-proxy', metavar='ADDR', action='append', default=[],
                        help="a proxy in front (nginx, Caddy) whose X-Forwarded-For and -Proto say the client's "
                             'address and scheme; again for more than one (default: none: those headers are ignored)')
    for limit in LIMITS:
        # None: not given, so that one that does not apply (--workers) is refused, never ignored.
        parser.add_argument(limit.flag, dest=limit.key, type=positive, metavar=limit.unit,
                            help=f'{limit.meaning} (default: {limit.default}' +
                                 (f'; with --workers, set {limit.proxy} instead)' if limit.proxy else ')'))


def run(args):
    """Serve the page; --workers only behind a proxy, and no limit given that it would ignore."""
    if args.workers and args.workers > 1:
        if not args.trusted_proxy:
            raise Refusal('--workers runs gunicorn, which holds a slow sender\'s request in a thread of its own: put a '
                          'proxy in front that takes requests whole (nginx, as the guide shows), and name it with '
                          '--trusted-proxy ADDRESS')
        for limit in LIMITS:
            if limit.proxy and getattr(args, limit.key) is not None:
                raise Refusal(f'{limit.flag} does not apply with --workers: the proxy in front bounds that; set '
                              f'{limit.proxy} there')
    limits = {limit.key: limit.default if getattr(args, limit.key) is None else getattr(args, limit.key)
              for limit in LIMITS}
    limits.update(PLACES=args.open, LINKS_ONLY=args.links_only, BASE=args.base and checked_base(args.base),
                  LANGUAGE=args.language, TRUSTED_PROXY=tuple(args.trusted_proxy),
                  clock=lambda kept: clock_of(args, kept))
    return serve_command(os.path.realpath(args.out), host=args.host, port=args.port, options=limits)


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
    print(said_of(room.store.clock(), app.config['OUT']), flush=True)
    found = space(room.store, len(room.people().here))
    if found.short:
        print(f'Little room left on the disk of {app.config["OUT"]}: {found.free // 2**20} MiB, less than an hour of '
              f'answers at this room\'s rate takes ({found.hour // 2**20} MiB). Free some space before people '
              'hand in; the board says so too.', flush=True)
    if all(only_here(h) for h in hosts):
        print(unreachable(f'http://{hosts[0]}:{port}/', 'The page at'), flush=True)


def said_of(clock, out):
    """What the room's Clock is, in a line for the organiser of the set OUT."""
    now, zone = times.now(), times.zone_name()
    if clock.closes and now >= clock.closes:
        return (f'The room is already closed: it closed at {times.said(times.stamp(clock.closes))} ({zone}); the board '
                f'shows what was handed in. class-set clock {out} --opens now --for 30m opens it again for half an '
                'hour.')
    opens = f'opens at {times.said(times.stamp(clock.opens))}' if clock.opens and now < clock.opens else 'is open'
    closes = f'closes at {times.said(times.stamp(clock.closes))}' if clock.closes else 'never closes'
    after = ('; answers after it are refused' if clock.refuse_late else '; answers after it are kept, marked late') \
        if clock.closes else ''
    return f'The room {opens} and {closes} ({zone}){after}.'


def serve_command(out, host, port, options):
    """options: the page's config (see create_app's DEFAULTS), and the
    server's: workers, connections, deadline, slow, idle_timeout."""
    from ..web import create_app, serving
    hosts = addresses() if host in ('0.0.0.0', '') else [host]
    # An IPv6 address goes in brackets, or no browser opens it.
    hosts = [f'[{h}]' if ':' in h else h for h in hosts]
    config = {k: v for k, v in options.items() if k.isupper()}
    config.update(OUT=out, BASE=options.get('BASE') or f'http://{hosts[0]}:{port}/')
    if config.get('PLACES'):
        print('Getting the set ready for walk-ins (the first time in a checkout, a minute or so)...', flush=True)
    serving.prepare(out, config.get('PLACES'), config.get('JOBS', os.cpu_count() or 2))
    app = serving.ready(create_app(config))
    store = app.extensions['room'].store
    store.remember('base', config['BASE'])
    kept = store.clock()
    changed = options['clock'](kept) if options.get('clock') else kept
    if changed != kept:
        store.set_clock(changed)
    workers = options.get('workers', 1)
    if workers > 1:
        from ..web.workers import run_workers
        serving.free(host, port)
        key = app.extensions['room'].store.key()
        app.extensions['room'].store.close()  # each worker opens its own, and none is carried across a fork
        return run_workers(lambda: create_app(config), host, port, workers, options,
                           lambda: tell(app, hosts, port, key), serving.quick_turns)
    server = serving.listen(app, host, port, options)
    app.extensions['standing'].warm()
    serving.quick_turns()
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
