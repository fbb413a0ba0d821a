"""What the pages say of the room's clock: when it opens and closes, in
this machine's zone, and how many seconds are left by the server's clock.
A page counts down from those seconds (static/countdown.js), whatever the
browser's own clock says, and a reload sets it right; without scripts it
still says the time."""
import dataclasses

from .. import times
from ..set.clock import State


@dataclasses.dataclass(frozen=True)
class Face:
    """The clock as a page shows it to a person (or to the room): its
    State, the opening and their own closing as the clock shows them, the
    zone, whole seconds until the opening and until their closing (None
    where it never closes), whether late answers are refused, and their
    minutes of extra time."""
    state: State
    opens: str
    closes: str
    zone: str
    until_open: int
    left: int | None
    refuse: bool
    extra: int

    @property
    def before(self):
        """Whether the room is not open yet."""
        return self.state is State.BEFORE

    @property
    def closed(self):
        """Whether the room has closed for them."""
        return self.state is State.CLOSED

    @property
    def taking(self):
        """Whether answers are taken now (in time, or kept as late)."""
        return self.state is State.OPEN or self.state is State.CLOSED and not self.refuse


def shown(instant):
    """An instant as a page says it: the time of day, and the date where it is not today."""
    if instant is None:
        return ''
    here, today = times.local(instant), times.local(times.now())
    return here.strftime('%H:%M') if here.date() == today.date() else here.strftime('%Y-%m-%d %H:%M')


def face(store, folder=None):
    """The Face of the room's clock now, for the person of `folder` (or the room)."""
    clock, extra = store.clock_for(folder)
    now = times.now()
    return Face(clock.state(now, extra), shown(clock.opens), shown(clock.closing(extra)), times.zone_name(now),
                clock.until_open(now), clock.left(now, extra), clock.refuse_late, extra)
