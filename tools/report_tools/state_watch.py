"""Follows a state file while the scanner rewrites it and draws one progress line: redrawn in place
on a terminal, printed as a new line whenever the state changes otherwise. Ends with the scan:
finished, failed or stopped, each with its own exit status."""
import os
import time

import state_file
from tool_errors import EXIT_FAILED, EXIT_OK, EXIT_STOPPED, InputError

_EXIT_OF_PHASE = {state_file.FINISHED: EXIT_OK, state_file.FAILED: EXIT_FAILED,
                  state_file.STOPPED: EXIT_STOPPED}
# The scanner truncates the file and then writes it in one go; a cut-off file that stays the same
# for this many reads in a row is not being rewritten but is no state file.
_INCOMPLETE_READS = 3
_COLLECTING = frozenset((0, 1, 2, 3, 4))


def format_bytes(count):
    if count < 1024:
        return "%d B" % count
    for unit in ("KiB", "MiB", "GiB", "TiB", "PiB"):
        count /= 1024.0
        if count < 1024 or unit == "PiB":
            return "%.1f %s" % (count, unit)


def progress_line(state, rate):
    """The progress line of `state`; `rate` is files per second, or None when not yet known."""
    if state.Phase in _COLLECTING:
        files = "%d files found, %s" % (state.FilesFound, format_bytes(state.BytesFound))
    else:
        files = "%d of %d files, %s of %s" % (
            state.FilesProcessed, state.FilesFound, format_bytes(state.BytesProcessed),
            format_bytes(state.BytesFound))
    line = ("%s: %s; malware %d, unknown %d, safe %d, doesntexist %d, error %d, servererror %d; "
            "hash failures %d, skipped %d" % (
                state_file.phase_name(state.Phase), files, state.CountMalware, state.CountUnknown,
                state.CountSafe, state.CountDoesntExist, state.CountError, state.CountServerError,
                state.HashFailures, state.Skipped))
    if state.Phase not in state_file.FINAL_PHASES:
        line += "; %s files/s" % ("-" if rate is None else "%.1f" % rate)
    if state.ErrorText:
        line += "; " + state.ErrorText
    return line


class Watcher:
    """Polls `path` every `interval` seconds and writes progress to `out`. `clock`, `sleep` and
    `read` (path -> bytes) are the real ones unless a test gives its own."""

    def __init__(self, path, out, interval=1.0, terminal=False, width=80, wait=0.0,
                 clock=time.monotonic, sleep=time.sleep, read=None):
        self.path = path
        self.out = out
        self.interval = interval
        self.terminal = terminal
        self.width = width
        self.wait = wait
        self.clock = clock
        self.sleep = sleep
        self.read = read or _read_file
        self.base = None      # (time, files counted, counting processed?) the rate is taken from
        self.printed = None   # the state of the last plain line
        self.drawn = False

    def rate(self, state, now):
        processed = state.Phase not in _COLLECTING
        count = state.FilesProcessed if processed else state.FilesFound
        if self.base is None or self.base[2] != processed:
            self.base = (now, count, processed)
            return None
        elapsed = now - self.base[0]
        return (count - self.base[1]) / elapsed if elapsed > 0 else None

    def show(self, state, now):
        line = progress_line(state, self.rate(state, now))
        final = state.Phase in state_file.FINAL_PHASES
        if self.terminal:
            self.out.write("\r" + line[:max(self.width - 1, 1)] + "\x1b[K" + ("\n" if final else ""))
            self.drawn = not final
        elif state != self.printed or final:
            self.out.write(line + "\n")
            self.printed = state
        self.out.flush()

    def finish_line(self):
        """Ends a line drawn in place, as an interrupted watch does before it exits."""
        if self.drawn:
            self.out.write("\n")
            self.out.flush()
            self.drawn = False

    def run(self):
        """Follows the file until the scan's phase is final; returns the matching exit status.
        Raises InputError for a missing or malformed state file."""
        start = self.clock()
        seen = False
        incomplete, last_incomplete = 0, None
        while True:
            now = self.clock()
            try:
                data = self.read(self.path)
            except FileNotFoundError:
                if seen or now - start >= self.wait:
                    raise InputError("%s: can't open the state file: No such file or directory" % self.path) from None
                self.sleep(self.interval)
                continue
            except OSError as error:
                raise InputError("%s: can't read the state file: %s" % (self.path, error.strerror or error)) from None
            seen = True
            try:
                state = state_file.parse_state(data)
            except state_file.Incomplete:
                incomplete = incomplete + 1 if data == last_incomplete else 1
                last_incomplete = data
                if incomplete >= _INCOMPLETE_READS:
                    raise InputError("%s: not a state file: no NUL code unit at its end "
                                     "(not UTF-16LE text?)" % self.path) from None
                self.sleep(self.interval)
                continue
            except state_file.Malformed as fault:
                raise InputError("%s: not a state file: %s" % (self.path, fault)) from None
            incomplete, last_incomplete = 0, None
            self.show(state, now)
            if state.Phase in state_file.FINAL_PHASES:
                return _EXIT_OF_PHASE[state.Phase]
            self.sleep(self.interval)


def _read_file(path):
    with open(path, "rb") as stream:
        return stream.read()


def terminal_width(stream):
    try:
        return os.get_terminal_size(stream.fileno()).columns
    except (OSError, ValueError, AttributeError):
        return 80
