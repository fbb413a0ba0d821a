"""The page and the board on the room's network. One process, waitress
with its threads, serves a room; past one process, gunicorn (workers.py).
In one process every connection is bounded by what it holds: a request
must arrive whole within a deadline however slowly it trickles, a body
over the page's limit is refused before it is stored, an idle connection
is closed, and a full room makes place by closing the request that crawls
slowest, or its longest idle connection, rather than keeping anyone out."""
import errno
import resource
import socket
import sys
import time

from waitress.adjustments import Adjustments
from waitress.channel import HTTPChannel
from waitress.server import TcpWSGIServer
from waitress.task import ErrorTask, ThreadedTaskDispatcher

from ..errors import Failure, Refusal
from ..set.folder import locked, read_records
from ..set.keys import with_keys
from . import server_problem
from .enrolment import open_set
from .room import LIMIT, Unavailable



# Written against waitress 2.1.2 (Debian 12). Beyond its documented
# options, the server below relies on these of its classes and instances;
# a test checks each is there, naming what an upgrade took away.
WAITRESS = '2.1.2'
RELIED_ON = {
    'HTTPChannel.received': 'called with each piece of a request as it arrives; returns the bytes it took',
    'HTTPChannel.request': 'the request still arriving, None between requests',
    'HTTPChannel.requests': 'the requests being served',
    'HTTPChannel.total_outbufs_len': 'bytes still to send',
    'HTTPChannel.will_close': 'set, the channel is closed at the next turn of the loop',
    'HTTPChannel.last_activity': 'when it last sent or received',
    'HTTPChannel.handle_close': 'closes it now',
    'BaseWSGIServer.active_channels': 'the open channels, by descriptor',
    'BaseWSGIServer.maintenance': 'called every cleanup_interval with the time',
    'BaseWSGIServer.handle_accept': 'takes a new connection and makes its channel',
    'BaseWSGIServer.accept': 'the new connection, to refuse it',
    'ErrorTask.execute': "writes the answer to a request waitress could not take (status, headers, body)",
}


class RoomErrorTask(ErrorTask):
    """waitress's answer to a request it could not take, in the page's own
    words and the reader's language, not waitress's English."""

    def execute(self):
        """Write the page's problem page for the request waitress could not take."""
        status, headers, body = server_problem(self.channel.server.page, self.request.error.code,
                                               self.request.headers.get('ACCEPT_LANGUAGE', ''))
        self.status = status
        self.response_headers.extend(headers)
        self.response_headers.append(('Connection', 'close'))
        self.close_on_finish = True
        self.content_length = len(body)
        self.write(body)


class RoomChannel(HTTPChannel):
    """A connection that knows since when its request has been arriving
    (`started`: None between requests), and how much of it has come."""
    started = None
    arrived = 0
    error_task_class = RoomErrorTask

    def received(self, data):
        """Take bytes of a request, noting when it began to arrive and how much has come."""
        before = self.request
        taken = super().received(data)
        if self.request is None:
            self.started = None
        elif self.request is not before or self.started is None:
            self.started, self.arrived = time.time(), 0  # a request begun, not yet whole
            self.server.slow_from(self)
        self.arrived += taken
        return taken

    def pace(self, now):
        """Return bytes a second that its request has been arriving at."""
        return self.arrived / max(now - self.started, 0.001)

    def idle(self):
        """Between requests, with nothing to send: a browser's kept-alive connection."""
        return not self.requests and self.request is None and not self.total_outbufs_len and not self.will_close


class RoomServer(TcpWSGIServer):
    """waitress's server, with a deadline for each request, at most
    `slow` requests arriving at once from one address (the oldest gives
    way), and a room of `room` connections that makes place for a new
    one when full (see giving_way). waitress's own connection_limit is
    set above the room's: it stops taking connections only past that."""
    channel_class = RoomChannel

    def __init__(self, page, *args, room, deadline, slow, **kw):
        self.page, self.room, self.deadline, self.slow = page, room, deadline, slow
        super().__init__(page, *args, **kw)

    def channels(self):
        """Return the open connections."""
        return [c for c in list(self.active_channels.values()) if isinstance(c, RoomChannel)]

    def handle_accept(self):
        """Take a new connection; where the room is full, one gives way first, or it is refused."""
        held = self.channels()
        if len(held) >= self.room:
            way = giving_way(held, time.time())
            if way is None:
                self.refuse()
                return
            way.handle_close()
        super().handle_accept()

    def refuse(self):
        """A new connection closed at once: the room is full of requests under way."""
        try:
            conn, _ = self.accept() or (None, None)
        except OSError:
            return
        if conn is not None:
            conn.close()

    def slow_from(self, channel):
        """A request begun on `channel`: where its address has more under way, the oldest goes."""
        arriving = [c for c in self.channels() if c.started is not None and c.addr[0] == channel.addr[0]]
        if len(arriving) > self.slow:
            min(arriving, key=lambda c: c.started).will_close = True

    def maintenance(self, now):
        """waitress's maintenance, and a request past its deadline closed."""
        super().maintenance(now)
        for channel in self.channels():
            if channel.started is not None and now - channel.started > self.deadline:
                channel.will_close = True


CRAWL = 1024  # bytes a second: a request arriving slower makes hardly any progress
GRACE = 1  # seconds a request may take to arrive before its pace counts


def giving_way(held, now):
    """Return the connection of a full room that gives way to a new one: the
    request that makes the least progress, where it crawls; else the longest
    idle; else the slowest request; None where every request has only just
    begun."""
    arriving = sorted((c for c in held if c.started is not None and now - c.started >= GRACE),
                      key=lambda c: c.pace(now))
    if arriving and arriving[0].pace(now) < CRAWL:
        return arriving[0]
    idle = [c for c in held if c.idle()]
    if idle:
        return min(idle, key=lambda c: c.last_activity)
    return arriving[0] if arriving else None


def listen(app, host, port, limits):
    """Return the server on host:port, not yet running. limits: connections (the
    room's), deadline (seconds for a request to arrive whole), slow (requests
    arriving at once from one address), idle_timeout."""
    room, dispatcher = {}, ThreadedTaskDispatcher()
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    wanted = 2 * limits['connections'] + 64  # and the set's files, the store, the threads' own
    if soft < wanted:
        resource.setrlimit(resource.RLIMIT_NOFILE, (wanted if hard == resource.RLIM_INFINITY else min(hard, wanted),
                                                    hard))
    try:
        adj = Adjustments(host=host, port=port, threads=8, ident=None,
                          # The page reads a proxy's headers only from the one --trusted-proxy names.
                          clear_untrusted_proxy_headers=False,
                          # waitress refuses a body of max_request_body_size bytes or more
                          max_request_body_size=LIMIT + 1, connection_limit=2 * limits['connections'],
                          channel_timeout=limits['idle_timeout'], cleanup_interval=1, asyncore_use_poll=True)
        dispatcher.set_thread_count(adj.threads)
        servers = [RoomServer(app, room, dispatcher=dispatcher, adj=adj, sockinfo=info, room=limits['connections'],
                              deadline=limits['deadline'], slow=limits['slow']) for info in adj.listen]
    except (OSError, ValueError) as e:
        for server in list(room.values()):  # each closed leaves the map
            server.close()
        raise cannot_listen(host, port, e)
    return servers[0]


def cannot_listen(host, port, e):
    """Return what to say where host:port cannot be listened on: a port in use
    is the system's no (and who holds it, where the system says); any other
    reason is a --host or --port that cannot be."""
    if getattr(e, 'errno', None) == errno.EADDRINUSE:
        return Failure(f'cannot listen on {host}:{port}: the port is in use{holder_of(port)}; choose another --port, '
                       'or stop that one')
    return Refusal(f'cannot listen on {host}:{port} ({getattr(e, "strerror", None) or e}); check --host and --port')


def holder_of(port):
    """' by process PID (its command line)' of whoever listens on `port`, where the system tells us."""
    import psutil
    try:
        pids = {c.pid for c in psutil.net_connections('inet')
                if c.laddr and c.laddr.port == port and c.status == psutil.CONN_LISTEN and c.pid}
        if not pids:
            return ''
        pid = min(pids)
        return f' by process {pid} ({" ".join(psutil.Process(pid).cmdline())[:100]})'
    except (psutil.Error, OSError):
        return ''


def ready(app):
    """Return the set read, and everyone given a key, before the first person
    waits for it; a Refusal that says why where the set cannot be read."""
    room = app.extensions['room']
    try:
        people = room.people()
        if len(people.by_key) < len(people.here):
            with locked(room.out):
                with_keys(room.out, [p.row for p in room.people().here])  # the set as it is now that it is locked
            room.people()
    except Unavailable as problem_reading:
        raise problem_reading.__cause__  # at the start it is no passing moment: say why
    room.store.key()
    return app


def prepare(out, places, jobs):
    """OUT as serve takes it: a set of people, or with `places` for
    walk-ins, a set that may start empty (made where it is missing)."""
    if places:
        open_set(out, jobs)
    elif not read_records(out):
        raise Refusal(f'{out}: nobody is in the set; build it from a roster, or let up to 30 people enrol at the '
                      f'page: class-set serve {out} --open 30')


def free(host, port):
    """A Refusal where host:port cannot be listened on."""
    try:
        with socket.socket(socket.AF_INET6 if ':' in host else socket.AF_INET) as probe:
            probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            probe.bind((host, port))
    except (OSError, OverflowError) as e:
        raise cannot_listen(host, port, e)


def quick_turns():
    """Threads that take turns at Python's lock often. A thread back from
    the system (a socket, the store) waits for the lock up to the switch
    interval, 5 ms by default, while another computes; a request makes
    dozens of such calls, so with the default a busy room's answers queue
    behind each other (about 120 a second here, against 800 with this)."""
    sys.setswitchinterval(0.00001)


