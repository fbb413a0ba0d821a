"""What the page and the board share: the set as it is now (a build may
grow it, a key may be replaced, while serve runs), the answers, the limits."""
import collections
import dataclasses
import os
import threading
import time

from ..checkins import Checkins
from ..errors import Refusal
from ..keys import read_keys
from ..names import name_key
from ..rows import Row
from ..set_folder import read_set
from ..walkin_list import read_walk_ins

LIMIT = 4096  # bytes of a request body; the form sends far less


class RateLimit:
    """At most `rate` in any 60 seconds for one key (a person, an address):
    a moving window, so no burst slips through at a minute's turn."""

    def __init__(self, rate, clock=time.monotonic):
        self.rate, self.clock = rate, clock
        self.seen, self.lock = collections.defaultdict(collections.deque), threading.Lock()

    def wait(self, key):
        """0 and this one is counted, or the seconds until one may be."""
        now = self.clock()
        with self.lock:
            times = self.seen[key]
            while times and now - times[0] >= 60:
                times.popleft()
            if len(times) >= self.rate:
                return int(60 - (now - times[0])) + 1
            times.append(now)
            return 0


class Unavailable(Exception):
    """The set could not be read just now: a build is swapping it."""


@dataclasses.dataclass(frozen=True)
class People:
    """The set as the page sees it: its rows, the rows under each name as
    people type it, the row of each personal key, and the walk-ins."""
    rows: list[Row]
    by_name: dict[str, list[Row]]
    by_key: dict[str, Row]
    walk_ins: list[str]


class Room:
    """The limits: answers through a person's own link count against that
    person's budget and that address's alone; answers by name against the
    name's and the address's own, so that nobody can spend anybody's."""

    def __init__(self, out, config):
        self.out, self.store, self.places = out, Checkins(out), config['PLACES']
        self.link_person, self.link_client = RateLimit(config['RATE']), RateLimit(config['CLIENT_RATE'])
        self.name_person, self.name_client = RateLimit(config['NAME_RATE']), RateLimit(config['CLIENT_RATE'])
        self.enrolments, self.per_address = RateLimit(config['ENROL_RATE']), config['ENROL_PER_ADDRESS']
        self.stamp, self.lock, self.current = None, threading.Lock(), None

    def stamp_of(self, name):
        try:
            here = os.stat(os.path.join(self.out, name))
        except FileNotFoundError:
            return None
        except OSError:
            raise Unavailable()
        return here.st_ino, here.st_mtime_ns, here.st_size

    def people(self):
        """People, each part read again only where its file changed: a new
        key (rekey) costs the keys, not the set."""
        stamp = tuple(self.stamp_of(name) for name in ('answers.csv', 'keys.csv', 'walkins.csv'))
        with self.lock:
            if stamp == self.stamp:
                return self.current
            old = self.stamp or (None, None, None)
            try:
                if stamp[0] != old[0]:
                    self.rows = read_set(self.out, new_ok=False, trusted=True)  # build checked every program
                    by_name = collections.defaultdict(list)
                    for row in self.rows:
                        by_name[name_key(row.name)].append(row)
                    self.by_name = dict(by_name)
                if stamp[:2] != old[:2]:
                    keys = read_keys(self.out, self.rows)
                    self.by_key = {keys[r.folder]: r for r in self.rows if r.folder in keys}
                if stamp != old:
                    self.walk_ins = [w.name for w in read_walk_ins(self.out)]
            except (Refusal, OSError):
                self.stamp = None  # read it all again next time
                raise Unavailable()
            self.stamp, self.current = stamp, People(self.rows, self.by_name, self.by_key, self.walk_ins)
            return self.current
