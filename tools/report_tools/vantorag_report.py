#!/usr/bin/env python3
"""Reads what a vantorag scan leaves behind: the XML report (html, csv, json, diff) and the state
file of a running scan (watch). Python 3 standard library only."""
import argparse
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import html_page  # noqa: E402
import output_file  # noqa: E402
import report_diff  # noqa: E402
import report_exports  # noqa: E402
import report_reader  # noqa: E402
import report_tables  # noqa: E402
import state_watch  # noqa: E402
from tool_errors import EXIT_INPUT, EXIT_INTERRUPTED, EXIT_OK, InputError  # noqa: E402

PROGRAM = "vantorag_report"


def _report_options(parser):
    parser.add_argument("--schema", metavar="XSD",
                        help="report schema to validate against with xmllint (default: the one "
                             "beside the tools, %s)" % os.path.normpath(report_reader.DEFAULT_SCHEMA))
    parser.add_argument("--no-schema", action="store_true",
                        help="skip the xmllint check (the report is still read strictly)")


def _schema(args):
    if args.schema and not os.path.isfile(args.schema):
        raise InputError("%s: no such schema file" % args.schema)
    return args.schema


def run_html(args):
    out = args.output or os.path.splitext(args.report)[0] + ".html"
    with output_file.output_text(out) as stream:
        html_page.write_page(args.report, stream, _schema(args), not args.no_schema)
    return EXIT_OK


def run_csv(args):
    with output_file.output_text(args.output, newline="") as stream:
        report_exports.write_csv(args.report, args.table, stream, _schema(args), not args.no_schema, args.raw)
    return EXIT_OK


def run_json(args):
    with output_file.output_text(args.output) as stream:
        report_exports.write_json(args.report, stream, _schema(args), not args.no_schema)
    return EXIT_OK


def run_diff(args):
    diff = report_diff.compare(args.old, args.new, _schema(args), not args.no_schema)
    with output_file.output_text(args.output) as stream:
        if args.json:
            json.dump(diff, stream, ensure_ascii=False, indent=2)
            stream.write("\n")
        else:
            stream.write("".join(line + "\n" for line in report_diff.text_lines(diff)))
    return EXIT_OK


def run_watch(args):
    if args.interval <= 0:
        raise InputError("--interval must be more than 0 seconds")
    terminal = sys.stdout.isatty() if args.terminal is None else args.terminal
    watcher = state_watch.Watcher(args.state, sys.stdout, interval=args.interval, terminal=terminal,
                                  width=state_watch.terminal_width(sys.stdout), wait=args.wait)
    try:
        return watcher.run()
    except KeyboardInterrupt:
        watcher.finish_line()
        return EXIT_INTERRUPTED


def build_parser():
    parser = argparse.ArgumentParser(
        prog=PROGRAM, description=__doc__.split("\n")[0] + " " + __doc__.split("\n")[1],
        epilog="Exit status: 0 done (watch: the scan finished), 1 bad input or output not written, "
               "2 bad command line, 3 the watched scan failed, 4 it was stopped.")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    page = commands.add_parser("html", help="one self-contained HTML page of a report",
                               description="Writes one HTML page that needs no network and no other file.")
    page.add_argument("report", metavar="REPORT")
    page.add_argument("-o", "--output", metavar="OUT", help="page to write (default: REPORT with .html)")
    _report_options(page)
    page.set_defaults(run=run_html)

    table = commands.add_parser("csv", help="one table of a report as CSV (RFC 4180)",
                                description="Writes one row per element with its module's fields "
                                            "joined in under Module.* columns.")
    table.add_argument("report", metavar="REPORT")
    table.add_argument("--table", required=True, choices=sorted(report_tables.TABLES))
    table.add_argument("-o", "--output", metavar="OUT", help="file to write (default: standard output)")
    table.add_argument("--raw", action="store_true",
                       help="keep text cells that start with = + - @ as they are (by default they "
                            "get a leading ' so that a spreadsheet does not run them)")
    _report_options(table)
    table.set_defaults(run=run_csv)

    whole = commands.add_parser("json", help="a whole report as one JSON document",
                                description="Writes skipGac, the computer and the four tables.")
    whole.add_argument("report", metavar="REPORT")
    whole.add_argument("-o", "--output", metavar="OUT", help="file to write (default: standard output)")
    _report_options(whole)
    whole.set_defaults(run=run_json)

    compare = commands.add_parser("diff", help="what changed between two reports of one machine",
                                  description="Modules added, removed or changed; autoruns added "
                                              "and removed; drivers and processes added.")
    compare.add_argument("old", metavar="OLD")
    compare.add_argument("new", metavar="NEW")
    compare.add_argument("--json", action="store_true", help="write JSON instead of text")
    compare.add_argument("-o", "--output", metavar="OUT", help="file to write (default: standard output)")
    _report_options(compare)
    compare.set_defaults(run=run_diff)

    watch = commands.add_parser("watch", help="follow the state file of a running scan",
                                description="Draws a progress line until the scan has finished, "
                                            "failed or stopped (exit status 0, 3 or 4).")
    watch.add_argument("state", metavar="STATE")
    watch.add_argument("--interval", type=float, default=1.0, metavar="S",
                       help="seconds between two reads of the file (default 1)")
    watch.add_argument("--wait", type=float, default=0.0, metavar="S",
                       help="wait this long for the file to appear (default: not at all)")
    lines = watch.add_mutually_exclusive_group()
    lines.add_argument("--terminal", dest="terminal", action="store_true", default=None,
                       help="redraw the line in place even when the output is not a terminal")
    lines.add_argument("--lines", dest="terminal", action="store_false",
                       help="print a new line for each change even on a terminal")
    watch.set_defaults(run=run_watch)
    return parser


def main(argv=None):
    args = build_parser().parse_args(argv)
    try:
        return args.run(args)
    except InputError as error:
        sys.stdout.flush()
        sys.stderr.write("%s: error: %s\n" % (PROGRAM, error))
        return EXIT_INPUT
    except BrokenPipeError:
        # a reader such as head that stopped early is no failure of ours
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return EXIT_OK


if __name__ == "__main__":
    sys.exit(main())
