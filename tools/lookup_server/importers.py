"""Readers of the hash and vendor lists a store is filled from. Each reads the whole input first
and raises ImportError_ with the file, line and reason of the first bad entry, so that a store
gets all of a file or nothing of it."""
import calendar
import csv
import re
import sqlite3
import time
import xml.etree.ElementTree as ET

import verdicts

_SHA1 = re.compile(r"^[0-9A-Fa-f]{40}$")


class ImportError_(Exception):
    def __init__(self, path, line, reason):
        Exception.__init__(self, "%s:%s: %s" % (path, line, reason) if line else "%s: %s" % (path, reason))


def _key(text, path, line):
    text = text.strip()
    if not _SHA1.match(text):
        raise ImportError_(path, line, "not a SHA-1 (40 hex digits): %r" % text[:60])
    return bytes.fromhex(text)


def _date_ms(text, path, line):
    """Seconds since 1970 or "YYYY-MM-DDTHH:MM:SSZ"; empty = none."""
    text = text.strip()
    if not text:
        return 0
    if text.isdigit():
        return int(text) * 1000
    try:
        return calendar.timegm(time.strptime(text, "%Y-%m-%dT%H:%M:%SZ")) * 1000
    except ValueError:
        raise ImportError_(path, line, "date %r is neither seconds nor YYYY-MM-DDTHH:MM:SSZ" % text)


def _int(text, low, high, what, path, line):
    text = text.strip()
    if not text:
        return 0
    try:
        value = int(text, 10)
    except ValueError:
        raise ImportError_(path, line, "%s %r is not a number" % (what, text))
    if not low <= value <= high:
        raise ImportError_(path, line, "%s %d is outside %d..%d" % (what, value, low, high))
    return value


def _lines(path):
    try:
        with open(path, "r", encoding="utf-8-sig") as f:
            for number, line in enumerate(f, 1):
                yield number, line.rstrip("\r\n")
    except UnicodeDecodeError as e:
        raise ImportError_(path, None, "not UTF-8 text (%s)" % e.reason)


def read_hash_list(path, default_verdict):
    """One SHA-1 a line, optionally followed by a verdict word or code; '#' starts a comment."""
    rows = []
    for number, line in _lines(path):
        text = line.split("#", 1)[0].strip()
        if not text:
            continue
        parts = text.split()
        if len(parts) > 2:
            raise ImportError_(path, number, "expected a SHA-1 and at most one verdict")
        fls = default_verdict
        if len(parts) == 2:
            try:
                fls = verdicts.parse_code(parts[1], verdicts.FLS)
            except ValueError as e:
                raise ImportError_(path, number, str(e))
        rows.append((_key(parts[0], path, number), fls, 0, 0, 0))
    return rows


CSV_COLUMNS = ("sha1", "verdict", "lumen", "aux", "date")


def read_csv(path, default_verdict):
    """A header naming at least sha1; optional verdict, lumen, aux and date columns."""
    rows = []
    try:
        with open(path, "r", encoding="utf-8-sig", newline="") as f:
            reader = csv.reader(f)
            header = next(reader, None)
            if header is None:
                raise ImportError_(path, 1, "empty file: a header line is needed")
            names = [h.strip().lower() for h in header]
            if "sha1" not in names:
                raise ImportError_(path, 1, "the header has no sha1 column")
            unknown = [n for n in names if n not in CSV_COLUMNS]
            if unknown:
                raise ImportError_(path, 1, "unknown column %r (known: %s)" % (unknown[0], ", ".join(CSV_COLUMNS)))
            for record in reader:
                number = reader.line_num
                if not any(field.strip() for field in record):
                    continue
                if len(record) != len(names):
                    raise ImportError_(path, number, "%d fields, the header has %d" % (len(record), len(names)))
                row = dict(zip(names, record))
                fls = default_verdict
                if row.get("verdict", "").strip():
                    try:
                        fls = verdicts.parse_code(row["verdict"], verdicts.FLS)
                    except ValueError as e:
                        raise ImportError_(path, number, str(e))
                rows.append((_key(row["sha1"], path, number), fls,
                             _int(row.get("lumen", ""), -128, 127, "lumen", path, number),
                             _int(row.get("aux", ""), 0, 0xFFFFFFFF, "aux", path, number),
                             _date_ms(row.get("date", ""), path, number)))
    except UnicodeDecodeError as e:
        raise ImportError_(path, None, "not UTF-8 text (%s)" % e.reason)
    return rows


def read_nsrl(path, verdict):
    """The SHA-1s of an NSRL RDS v3 database (table FILE, column sha1)."""
    try:
        db = sqlite3.connect("file:%s?mode=ro" % path, uri=True)
        try:
            keys = db.execute("SELECT DISTINCT sha1 FROM FILE").fetchall()
        finally:
            db.close()
    except sqlite3.DatabaseError as e:
        raise ImportError_(path, None, "not an RDS v3 database with a FILE table: %s" % e)
    rows = []
    for number, (text,) in enumerate(keys, 1):
        if not isinstance(text, str) or not _SHA1.match(text):
            raise ImportError_(path, "row %d" % number, "sha1 %r is not 40 hex digits" % (text,))
        rows.append((bytes.fromhex(text), verdict, 0, 0, 0))
    return rows


def read_report(path, verdict):
    """Every Sha1 attribute of a scanner report (AptReport), e.g. a clean machine's as a baseline."""
    try:
        with open(path, "rb") as f:
            data = f.read()
        root = ET.fromstring(data)
    except (OSError, ET.ParseError) as e:
        raise ImportError_(path, getattr(e, "position", (None,))[0], "not a readable report: %s" % e)
    if root.tag != "AptReport":
        raise ImportError_(path, None, "the root element is %r, not AptReport" % root.tag)
    rows, seen = [], set()
    for element in root.iter():
        text = element.get("Sha1")
        if text is None or text == "" or text in seen:
            continue
        seen.add(text)
        if not _SHA1.match(text):
            raise ImportError_(path, None, "%s has Sha1 %r, not 40 hex digits" % (element.tag, text))
        rows.append((bytes.fromhex(text), verdict, 0, 0, 0))
    return rows


def read_vendor_list(path, verdict):
    """One signer name a line, exactly as the scanner reads it; blank lines are skipped."""
    rows = []
    for number, line in _lines(path):
        if not line.strip():
            continue
        if "\0" in line:
            raise ImportError_(path, number, "a name holds a NUL character")
        rows.append((line, verdict))
    return rows
