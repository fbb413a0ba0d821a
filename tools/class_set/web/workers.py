"""serve past one process: the same page under gunicorn, whose arbiter
starts the workers and replaces any that dies. Every budget is counted in
checkins.sqlite, so it holds across workers; each worker reads the set
for itself. gunicorn holds a slow sender's request in a thread of its
own: put nginx or Caddy in front, which take requests whole (the guide)."""
import ssl

from gunicorn import util
from gunicorn.app.base import BaseApplication
from gunicorn.http.errors import ParseException
from gunicorn.workers.gthread import ThreadWorker

from . import server_problem
from .room import Unavailable

# Written against gunicorn 20.1.0 (Debian 12); beyond its settings this
# relies on these, which a test checks are there.
GUNICORN = '20.1.0'
RELIED_ON = {
    'ThreadWorker.handle_error': 'called with (req, client, addr, exc) for a request it could not take',
    'ThreadWorker.load_wsgi': 'sets self.wsgi, the application the worker loaded',
    'util.write_nonblock': 'writes bytes to a client socket',
    'BaseApplication.load_config': 'where the settings are set, from self.cfg',
    'BaseApplication.load': 'returns the application, in each worker',
}


class Worker(ThreadWorker):
    """gunicorn's threaded worker, whose answer to a request it could not
    read is the page's own problem page, not gunicorn's English."""

    def handle_error(self, req, client, addr, exc):
        """Answer a request gunicorn could not take with the page's own problem page."""
        code = 400 if isinstance(exc, (ParseException, ssl.SSLError)) else 500
        if code == 500:
            self.log.exception('unexpected error')
        status, headers, body = server_problem(self.wsgi, code)
        head = ''.join(f'{k}: {v}\r\n' for k, v in headers + [('Connection', 'close'),
                                                                ('Content-Length', str(len(body)))])
        try:
            util.write_nonblock(client, f'HTTP/1.1 {status}\r\n{head}\r\n'.encode('latin-1') + body)
        except Exception:
            self.log.debug('could not answer: the client is gone')


class Workers(BaseApplication):
    """gunicorn with settings of ours, and no command line of its own."""

    def __init__(self, make_app, settings):
        self.make_app, self.settings = make_app, settings
        super().__init__()

    def load_config(self):
        """Set gunicorn's settings from ours."""
        for name, value in self.settings.items():
            self.cfg.set(name, value)

    def load(self):
        """Return the page in a new worker, the set read before its first request
        where it can be; a worker that failed to start would stop them all."""
        app = self.make_app()
        try:
            app.extensions['room'].people()
        except Unavailable:
            pass  # a build is swapping the set: the first request tries again
        return app


def run_workers(make_app, host, port, count, options, listening, started):
    """Serve until Ctrl+C; gunicorn ends the process. `listening()` is
    called once gunicorn listens, before its workers start; `started()`
    in each worker as it starts."""
    Workers(make_app, {
        'when_ready': lambda arbiter: listening(),
        'post_worker_init': lambda worker: started(),
        'bind': [f'[{host}]:{port}' if ':' in host else f'{host}:{port}'],
        'workers': count, 'worker_class': f'{__name__}.Worker', 'threads': 8,
        'keepalive': options['idle_timeout'], 'timeout': 30, 'graceful_timeout': 5,
        # The page says which proxy to trust (--trusted-proxy), not gunicorn.
        'forwarded_allow_ips': '', 'secure_scheme_headers': {},
        'proc_name': 'class-set serve', 'accesslog': None, 'errorlog': '-', 'loglevel': 'warning',
    }).run()
