"""The ways the organiser's commands fail, and the exit codes every command uses."""

OK = 0
FAILED = 1        # the system said no (a full disk, a busy store, a port in use); or who found nobody
REFUSED = 2       # bad input, said in one line; also argparse's usage errors
CANNOT_VERIFY = 3  # the set is built, but this machine cannot run 32-bit programs
INTERRUPTED = 130  # Ctrl+C


class Refusal(Exception):
    """Bad input: said in one line, and nothing is written. A message for
    people at the page comes with its parameters apart, so that the page
    can say it in their language."""

    def __init__(self, message, **params):
        super().__init__(message % params if params else message)
        self.message, self.params = message, params


class Failure(Exception):
    """The system said no (a full disk, a store another program holds, a
    port in use): said in one line with the next step; nothing half-done
    is left, and the same command goes on once that is mended."""


def argument(text):
    """`text` as advice writes it in a command to copy: in double quotes,
    or where a shell would read something in those, in single ones."""
    if any(c in text for c in '"$`\\!'):
        return "'" + text.replace("'", "'\\''") + "'"
    return f'"{text}"'
