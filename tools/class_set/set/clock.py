"""The room's clock: when it opens, when it closes, what becomes of an
answer after, and how long someone with extra time has. Kept in the store
(checkins.sqlite), so that a restart of serve, every process serving the
set, and grade read the same. Instants are UTC inside; minutes of extra
time are whole."""
import dataclasses
import datetime
import enum

from .. import times


class State(enum.Enum):
    """Where a person's room stands."""
    BEFORE = 'before'  # not open yet: no program, no answers
    OPEN = 'open'
    CLOSED = 'closed'  # answers are kept as late, or refused


@dataclasses.dataclass(frozen=True)
class Clock:
    """When the room opens (None: open from the start) and closes (None:
    never), and whether an answer after its person's closing is refused
    rather than kept as late."""
    opens: datetime.datetime | None = None
    closes: datetime.datetime | None = None
    refuse_late: bool = False

    def closing(self, extra=0):
        """When the room closes for someone with `extra` minutes; None where it never closes."""
        return self.closes and self.closes + datetime.timedelta(minutes=extra)

    def state(self, at, extra=0):
        """The State at instant `at` for someone with `extra` minutes."""
        if self.opens and at < self.opens:
            return State.BEFORE
        closing = self.closing(extra)
        return State.CLOSED if closing and at >= closing else State.OPEN

    def left(self, at, extra=0):
        """Whole seconds from `at` to the closing for someone with `extra`
        minutes (0 where it is past); None where it never closes."""
        closing = self.closing(extra)
        return None if closing is None else max(0, int((closing - at).total_seconds()))

    def until_open(self, at):
        """Whole seconds from `at` to the opening; 0 where it is open."""
        return 0 if not self.opens or at >= self.opens else int((self.opens - at).total_seconds()) + 1

    def late(self, seconds, extra=0):
        """Whether an answer at `seconds` since the epoch came after the closing for `extra` minutes."""
        closing = self.closing(extra)
        return closing is not None and seconds >= closing.timestamp()

    def settings(self):
        """The store's settings of it: {name: text}."""
        return {'opens': self.opens and times.stamp(self.opens), 'closes': self.closes and times.stamp(self.closes),
                'after_close': 'refuse' if self.refuse_late else 'keep'}


def of(settings):
    """The Clock of the store's settings ({name: text})."""
    return Clock(times.read(settings.get('opens') or ''), times.read(settings.get('closes') or ''),
                 settings.get('after_close') == 'refuse')


def refused(opens, closes):
    """Why an opening and a closing cannot be, or None: a closing before
    (or at) the opening."""
    if opens and closes and closes <= opens:
        return f'closes at {times.said(times.stamp(closes))}, which is not after it opens at ' \
               f'{times.said(times.stamp(opens))}'
    return None
