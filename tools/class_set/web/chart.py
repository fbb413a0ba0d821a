"""The wall's chart of solutions over time, as pygal draws it: an SVG that
scales with its box, whose time labels are spaced to the session's length
(minutes for an hour, hours for a day) and never repeat, and whose text
is large enough for the back of a room where the wall lays it out."""
import datetime
import math

from .. import times

# The chart's own units; the wall shows it at least this wide, so that
# its text is no smaller on the screen than in these units.
WIDTH, HEIGHT = 800, 300
LABEL_SIZE, TITLE_SIZE = 24, 28
PLOT_WIDTH, LABEL_GAP = WIDTH - 120, 40  # what the time labels share, and the room between two
MOST_COUNTS = 5
# Steps between time labels, in minutes: the first whose labels fit.
STEPS = (1, 2, 5, 10, 15, 20, 30, 60, 120, 180, 240, 360, 720, 1440, 2880, 10080)


def time_axis(start, end):
    """Return (the labels' times, their format) of a time axis from `start`
    to `end` (naive, as the wall's clock shows them): on whole multiples of
    a step from the day's start, covering both ends, no two alike, each
    clear of the next."""
    for step in (*STEPS, *(STEPS[-1] * 2 ** k for k in range(1, 20))):  # then weeks apart, doubled
        labels = steps(start, end, step)
        within_a_day = labels[-1] - labels[0] < datetime.timedelta(days=1)
        form = '%H:%M' if within_a_day else '%Y-%m-%d' if step >= 1440 else '%Y-%m-%d %H:%M'
        if len(labels) * (len(labels[0].strftime(form)) * 0.6 * LABEL_SIZE + LABEL_GAP) <= PLOT_WIDTH:
            return labels, form
    return labels[::len(labels) - 1], form


def steps(start, end, step):
    """Return the times from `start` to `end`, both covered, on whole multiples of `step` minutes from midnight."""
    midnight = start.replace(hour=0, minute=0, second=0, microsecond=0)
    first = midnight + datetime.timedelta(minutes=step * math.floor((start - midnight).total_seconds() / 60 / step))
    count = max(1, math.ceil((end - first).total_seconds() / 60 / step))
    return [first + datetime.timedelta(minutes=step * i) for i in range(count + 1)]


def count_axis(most):
    """Return the whole numbers that label a count from 0 to `most`: 1, 2 or 5 times a power of ten apart."""
    most = max(most, 1)
    step = next(m * 10 ** k for k in range(16) for m in (1, 2, 5) if math.ceil(most / (m * 10 ** k)) <= MOST_COUNTS)
    return list(range(0, step * math.ceil(most / step) + 1, step))


def solutions_chart(solved, gettext, opens=None, closes=None, now=None):
    """Return the solutions so far (seconds since the epoch, in order) over
    time as SVG: from the room's opening (else the first solution) to its
    closing (or now, where it has none), late solutions too; in the times
    of the wall's clock."""
    import pygal
    from pygal.style import Style
    style = Style(font_family='sans-serif', background='white', plot_background='white', colors=('#1b6e20',),
                  title_font_size=TITLE_SIZE, label_font_size=LABEL_SIZE, major_label_font_size=LABEL_SIZE,
                  no_data_font_size=TITLE_SIZE)

    def shown(at):  # pygal takes a time without a zone as it is: the wall's clock
        return times.local(times.at(at)).replace(tzinfo=None)
    points = ([(opens.timestamp(), 0)] if opens and solved else []) + [(at, i) for i, at in enumerate(solved, 1)]
    chart = pygal.DateTimeLine(width=WIDTH, height=HEIGHT, explicit_size=False, show_legend=False, js=[],
                               style=style, fill=True, dots_size=4, title=gettext('Solutions over time'),
                               no_data_text=gettext("No solutions yet"), margin=8, margin_right=56, spacing=12)
    if points:
        last = max(points[-1][0], closes.timestamp() if closes else (now or times.now()).timestamp())
        labels, form = time_axis(shown(points[0][0]), shown(last))
        chart.x_labels = labels
        chart.x_value_formatter = lambda at: at.strftime(form)
        chart.xrange = tuple(at.replace(tzinfo=datetime.timezone.utc).timestamp() for at in (labels[0], labels[-1]))
        counts = count_axis(len(solved))
        chart.y_labels, chart.range = counts, (0, counts[-1])
    chart.add(gettext('Solved'), [(shown(at), i) for at, i in points])
    return chart.render()
