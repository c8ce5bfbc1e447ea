"""Reads the scanner's state file: one line of UTF-16LE text without a byte-order mark, ending
with one NUL code unit, whose fields are
Phase;FilesFound;BytesFound;FilesProcessed;BytesProcessed;Unknown;DoesntExist;Error;
HashFailures;Safe;Malware;Skipped;ServerError;ErrorText."""
import collections
import re

# Field name -> width of the unsigned value the scanner prints as a signed decimal.
FIELDS = [
    ("Phase", None), ("FilesFound", 32), ("BytesFound", 64), ("FilesProcessed", 32),
    ("BytesProcessed", 64), ("CountUnknown", 32), ("CountDoesntExist", 32), ("CountError", 32),
    ("HashFailures", 32), ("CountSafe", 32), ("CountMalware", 32), ("Skipped", 32),
    ("CountServerError", 32),
]
State = collections.namedtuple("State", [name for name, _ in FIELDS] + ["ErrorText"])

PHASES = {
    0: "not started",
    1: "collecting processes",
    2: "collecting drivers",
    3: "collecting autorun entries",
    4: "walking the file-system scope",
    5: "hashing and looking up",
    6: "writing the report",
    7: "finished",
    8: "failed",
    9: "stopped",
    10: "paused",
}
FINISHED, FAILED, STOPPED = 7, 8, 9
FINAL_PHASES = frozenset((FINISHED, FAILED, STOPPED))

_NUMBER = re.compile(r"-?\d+\Z")


class Incomplete(Exception):
    """The file does not end with its NUL code unit yet: the scanner may be rewriting it."""


class Malformed(Exception):
    """The file is complete but is no state line; the text says why."""


def phase_name(code):
    return PHASES.get(code, "phase %d" % code)


def parse_state(data):
    """The State of the file's bytes. Raises Incomplete for a file that may still be being
    written (empty, odd length, no final NUL code unit) and Malformed for any other fault."""
    if data.startswith(b"\xff\xfe"):
        data = data[2:]   # a mark the scanner never writes, but harmless
    if not data or len(data) % 2 or data[-2:] != b"\0\0":
        raise Incomplete()
    try:
        line = data[:-2].decode("utf-16-le")
    except UnicodeDecodeError:
        raise Malformed("not UTF-16LE text") from None
    if not line.isascii():
        # a state line is all digits, ';' and "Error 0x..."; UTF-8 or big-endian text read as
        # UTF-16LE turns into other scripts
        raise Malformed("not UTF-16LE text (UTF-8 or big-endian?)")
    fields = line.split(";", len(FIELDS))
    if len(fields) != len(FIELDS) + 1 or "\0" in line or "\n" in line or "\r" in line:
        raise Malformed("not one line of %d fields separated by ';'" % (len(FIELDS) + 1))
    values = []
    for (name, width), text in zip(FIELDS, fields):
        if not _NUMBER.match(text):
            raise Malformed("field %s is %r, not a decimal number" % (name, text[:20]))
        value = int(text)
        values.append(value % (1 << width) if width else value)
    return State(*values, ErrorText=fields[-1])
