"""The numbers that bound serve: each person's budgets, each address's,
the places for walk-ins, and what the server holds; with their defaults,
which fit a class of 60 behind one address, and what each means. serve's
options are made from them, and the page takes its defaults from them."""
import dataclasses


@dataclasses.dataclass(frozen=True)
class Limit:
    """A limit of serve's: its option, its key in the config, its default, what it means; and where,
    under --workers, nginx keeps it instead."""
    flag: str
    key: str  # the page's config (upper case), or the server's (lower case)
    default: int
    meaning: str
    unit: str = 'N'
    proxy: str = ''  # where the limit is set instead under --workers, behind nginx; '' where it still holds


LIMITS = [
    Limit('--rate', 'RATE', 10, "answers through one person's own link in any 60 seconds at most"),
    Limit('--name-rate', 'NAME_RATE', 10, 'answers by name for one person in any 60 seconds at most; answers '
                                          'through their own link have a budget of their own, --rate'),
    Limit('--download-rate', 'DOWNLOAD_RATE', 5, "downloads of one person's program in any 60 seconds at most"),
    Limit('--client-rate', 'CLIENT_RATE', 120, "answers under names on nobody's list from one client address in "
                                               'any 60 seconds at most; answers of people on the list spend their '
                                               'own budgets'),
    Limit('--enrol-rate', 'ENROL_RATE', 10, 'enrolment attempts from one client address in any 60 seconds at most'),
    Limit('--enrol-per-address', 'ENROL_PER_ADDRESS', 5, 'walk-ins enrolled from one client address in all'),
    Limit('--workers', 'workers', 1, 'processes under gunicorn, whose arbiter replaces one that dies; for more '
                                     'than a room, behind a proxy (1: one process with threads)'),
    Limit('--connections', 'connections', 1000, 'connections at once, the whole room; when full, the request that '
                                                'crawls slowest, or else the longest idle connection, gives way',
          proxy="nginx's worker_connections"),
    Limit('--deadline', 'deadline', 10, 'a request must arrive whole within this, however slowly it comes',
          'SECONDS', proxy="nginx's client_header_timeout and client_body_timeout"),
    Limit('--slow-per-address', 'slow', 20, 'requests arriving at once from one client address; past it, its '
                                            'oldest is closed', proxy="nginx's limit_conn"),
    Limit('--idle-timeout', 'idle_timeout', 15, 'a connection that sends nothing between requests for this long '
                                                'is closed', 'SECONDS'),
]
DEFAULTS = {limit.key: limit.default for limit in LIMITS}
