"""Flat exports of a report for spreadsheets and log pipelines: one table as RFC 4180 CSV, or the
whole report as one JSON document, both written row by row as the report is read."""
import csv
import json

import report_schema
import report_tables
from report_reader import AUTORUN, COMPUTER, DRIVER, MODULE, PROCESS, REPORT

# A spreadsheet runs a cell that starts like a formula; text from the scanned machine (paths,
# command lines, version strings) is the attacker's, so such cells get a leading apostrophe.
_FORMULA_STARTS = ("=", "+", "-", "@", "\t", "\r")


def _cell(kind, column, value, raw):
    if value is None:
        return ""
    if isinstance(value, list):
        return " ".join(str(item) for item in value)
    if (not raw and value.startswith(_FORMULA_STARTS)
            and report_tables.column_type(kind, column) == "string"):
        return "'" + value
    return value


def write_csv(report, table, out, schema=None, validate=True, raw=False):
    """Writes `table` of `report` to the text stream `out` (opened with newline="") as CSV:
    a header row of the table's columns, then one row per element."""
    kind, columns = report_tables.TABLES[table]
    writer = csv.writer(out, dialect="excel", lineterminator="\r\n")
    records = report_tables.joined_records(report, {kind, REPORT}, schema, validate)
    next(records, None)   # the root: the checks that come before any record are done by now
    writer.writerow(columns)
    for record_kind, fields in records:
        if record_kind != kind:
            continue
        values = report_tables.row(kind, fields)
        writer.writerow([_cell(kind, column, values[column], raw) for column in columns])


_SECTIONS = [(MODULE, "modules"), (PROCESS, "processes"), (DRIVER, "drivers"), (AUTORUN, "autoruns")]
_SECTION_INDEX = {kind: index for index, (kind, _) in enumerate(_SECTIONS)}


def _computer(fields):
    out = {name: fields[name] for name, _, _ in report_schema.ATTRIBUTES["AptReport/Computer"]}
    os_types = report_schema.ATTRIBUTE_TYPES["AptReport/Computer/OperatingSystem"]
    out["OperatingSystem"] = {name: report_schema.typed_value(kind, fields["OperatingSystem"].get(name))
                              for name, kind in os_types.items()}
    connection_types = report_schema.ATTRIBUTE_TYPES["AptReport/Computer/Connections/Connection"]
    out["Connections"] = [{name: report_schema.typed_value(kind, connection.get(name))
                           for name, kind in connection_types.items()}
                          for connection in fields["Connections"]]
    return out


def write_json(report, out, schema=None, validate=True):
    """Writes the whole report to the text stream `out` as one JSON object: "skipGac",
    "computer", then the lists "modules", "processes", "drivers" and "autoruns" (empty when the
    report has no such section), each row with every column of its table."""
    kinds = {REPORT, COMPUTER, MODULE, PROCESS, DRIVER, AUTORUN}
    opened = -1   # index of the section whose list is open
    first = True

    def open_until(index):
        nonlocal opened, first
        while opened < index:
            if opened >= 0:
                out.write("\n  ]" if not first else "]")
            opened += 1
            if opened < len(_SECTIONS):
                out.write(',\n  "%s": [' % _SECTIONS[opened][1])
            first = True

    for kind, fields in report_tables.joined_records(report, kinds, schema, validate):
        if kind == REPORT:
            out.write('{\n  "skipGac": %s' % json.dumps(fields["skipGac"] == "true"))
        elif kind == COMPUTER:
            out.write(',\n  "computer": %s' % json.dumps(_computer(fields), ensure_ascii=False))
        else:
            open_until(_SECTION_INDEX[kind])
            out.write(("\n    " if first else ",\n    ")
                      + json.dumps(report_tables.typed_row(kind, fields), ensure_ascii=False))
            first = False
    open_until(len(_SECTIONS))
    out.write("\n}\n")
