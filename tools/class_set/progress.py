"""Progress of a long step on standard error."""
import sys
import time


class Progress:
    """done/total, the rate and the time left: in place on a terminal, else
    a line at every tenth."""

    def __init__(self, what, total):
        self.what, self.total, self.done, self.start = what, total, 0, time.monotonic()
        self.tty = sys.stderr.isatty()

    def step(self):
        """One more done; said where a tenth more is, or on a terminal each time."""
        self.done += 1
        if not self.tty and self.done != self.total and self.done % max(1, self.total // 10):
            return
        spent = time.monotonic() - self.start
        rate = self.done / spent if spent else 0
        left = f', {(self.total - self.done) / rate:.0f} s left' if rate and self.done != self.total else ''
        print(f'{self.what}: {self.done}/{self.total}, {rate:.1f} a second, {spent:.0f} s{left}',
              end='\r' if self.tty and self.done != self.total else '\n', file=sys.stderr, flush=True)


class Reading:
    """Rows of a long file read so far, on standard error: nothing for the
    first few seconds, then a line every few seconds."""
    QUIET, EVERY = 3, 5  # seconds

    def __init__(self, path, clock=time.monotonic):
        self.path, self.clock, self.rows = path, clock, 0
        self.start = self.next = clock() + self.QUIET

    def step(self):
        """One more row read; said past the first seconds, every few seconds."""
        self.rows += 1
        if self.rows % 1000 == 0 and self.clock() >= self.next:
            self.next = self.clock() + self.EVERY
            print(f'reading {self.path}: {self.rows:,} rows so far', file=sys.stderr, flush=True)
