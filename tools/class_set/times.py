"""One kind of time. An instant is an aware datetime, in UTC inside (the
store keeps seconds since the epoch, which are UTC too); it goes to a file
in one ISO 8601 form with its offset, and is shown in this machine's
zone. Times that older sets wrote without a zone are read as this
machine's local time, here and nowhere else."""
import datetime
import functools
import os
import re
import time
import zoneinfo

UTC = datetime.timezone.utc


def local_zone():
    """This machine's zone, daylight saving and all: TZ where it names one,
    else the system's (/etc/localtime), else its offset now."""
    with_name = os.environ.get('TZ', '').lstrip(':')
    try:
        if with_name:
            return zoneinfo.ZoneInfo(with_name)
        found = os.stat(SYSTEM_ZONE)
        return system_zone(found.st_dev, found.st_ino, found.st_mtime_ns)
    except (OSError, ValueError, zoneinfo.ZoneInfoNotFoundError):
        return datetime.timezone(datetime.timedelta(seconds=-time.timezone), time.tzname[0])


SYSTEM_ZONE = '/etc/localtime'


@functools.lru_cache(maxsize=4)
def system_zone(*version):
    """The system's zone, read once for each `version` of its file (every page shows it)."""
    with open(SYSTEM_ZONE, 'rb') as f:
        return zoneinfo.ZoneInfo.from_file(f, key='localtime')


def now():
    """This instant."""
    return datetime.datetime.now(UTC)


def at(seconds):
    """Return the instant of seconds since the epoch (the store's); None for None."""
    return None if seconds is None else datetime.datetime.fromtimestamp(seconds, UTC)


def stamp(instant=None):
    """Return an instant as files hold it: ISO 8601, to the second, with the
    offset of this machine's zone then (2026-12-08T14:05:31+03:00)."""
    return (instant or now()).astimezone(local_zone()).replace(microsecond=0).isoformat()


def read(text):
    """Return the instant a file's time says; None where it says none. A time
    without an offset (written by an older set) is this machine's local time,
    the first of the two in the hour a clock goes back."""
    try:
        found = datetime.datetime.fromisoformat(text.strip())
    except (AttributeError, ValueError):
        return None
    if found.tzinfo is None:
        found = found.replace(tzinfo=local_zone(), fold=0)
    return found.astimezone(UTC)


def local(instant):
    """Return an instant in this machine's zone, to the second; None for None."""
    return None if instant is None else instant.astimezone(local_zone()).replace(microsecond=0)


def clock(instant, seconds=True):
    """Return the time of day of an instant in this machine's zone: 14:05:31 (or 14:05); '' for None."""
    return '' if instant is None else local(instant).strftime('%H:%M:%S' if seconds else '%H:%M')


def said(text):
    """Return a file's time as a message says it: 2026-12-08 14:05:31, this
    machine's clock; the text as it is where it is no time."""
    found = read(text)
    return local(found).strftime('%Y-%m-%d %H:%M:%S') if found else text


def kept(text):
    """Return a file's time as a report holds it: the instant where it says one,
    else its text ('?': a time not kept)."""
    return read(text) or text


def seconds():
    """This instant in seconds since the epoch, as the store keeps times."""
    return now().timestamp()


CLOCK = re.compile(r'(\d{1,2}):(\d{2})')
DURATION = re.compile(r'(?:(\d+)\s*h)?\s*(?:(\d+)\s*m(?:in)?)?')


def parse(text, today=None):
    """The instant a person wrote: HH:MM (today, this machine's clock) or an
    ISO 8601 date and time, with or without an offset (without: this
    machine's clock). ValueError where it is neither."""
    text = text.strip()
    found = CLOCK.fullmatch(text)
    if found:
        hour, minute = int(found.group(1)), int(found.group(2))
        if hour > 23 or minute > 59:
            raise ValueError(text)
        day = (today or now()).astimezone(local_zone()).date()
        return datetime.datetime.combine(day, datetime.time(hour, minute), local_zone()).astimezone(UTC)
    found = read(text)
    if found is None or not re.match(r'\d{4}-\d\d-\d\d[T ]\d', text):
        raise ValueError(text)
    return found


def duration(text):
    """The length a person wrote: 90m, 1h30m, 2h. ValueError where it is no
    length of more than nothing."""
    found = DURATION.fullmatch(text.strip().lower())
    if not found or not (found.group(1) or found.group(2)):
        raise ValueError(text)
    length = datetime.timedelta(hours=int(found.group(1) or 0), minutes=int(found.group(2) or 0))
    if length <= datetime.timedelta(0):
        raise ValueError(text)
    return length


def zone_name(instant=None):
    """This machine's zone as people read it: its name and its offset then (Europe/Moscow, UTC+03:00)."""
    here = local(instant or now())
    offset = here.strftime('%z')
    said = f'UTC{offset[:3]}:{offset[3:]}'
    key = getattr(local_zone(), 'key', None)
    return f'{key}, {said}' if key and key not in ('localtime', 'UTC') else said
