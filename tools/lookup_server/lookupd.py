#!/usr/bin/env python3
"""lookupd: a self-hosted lookup service for vantorag scanners.

Serves the scanner's binary lookup protocol on UDP and TCP from one SQLite store, fills the
store from hash lists, CSV files, NSRL RDS v3 databases, scanner reports and vendor-name lists,
and lists the hashes scanners asked about that the store does not know, rarest first."""
import argparse
import asyncio
import os
import signal
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import importers  # noqa: E402
import server  # noqa: E402
import store as store_module  # noqa: E402
import verdicts  # noqa: E402

DEFAULT_STORE = "lookup.sqlite"


class UsageError(Exception):
    pass


def _verdict(words):
    def parse(text):
        try:
            return verdicts.parse_code(text, words)
        except ValueError as e:
            raise argparse.ArgumentTypeError(str(e))
    return parse


def _ports(text):
    try:
        ports = [int(p) for p in text.split(",")]
    except ValueError:
        raise argparse.ArgumentTypeError("%r is not a comma-separated list of ports" % text)
    if not ports or any(not 0 <= p <= 65535 for p in ports):
        raise argparse.ArgumentTypeError("ports must be 0..65535: %r" % text)
    return ports


def _port(text):
    ports = _ports(text)
    if len(ports) != 1:
        raise argparse.ArgumentTypeError("one port is expected: %r" % text)
    return ports[0]


def build_parser():
    parser = argparse.ArgumentParser(prog="lookupd.py", description=__doc__.split("\n\n")[0])
    parser.add_argument("--store", default=DEFAULT_STORE, help="the SQLite store (default %(default)s)")
    sub = parser.add_subparsers(dest="command", metavar="command")
    sub.required = True

    serve = sub.add_parser("serve", help="answer lookups on UDP and TCP until stopped (SIGTERM/SIGINT)")
    serve.add_argument("--host", default="127.0.0.1", help="address to listen on (default %(default)s)")
    serve.add_argument("--udp-port", type=_port, default=4447, help="UDP port (default %(default)s)")
    serve.add_argument("--tcp-ports", type=_ports, default=[4442, 4448],
                       help="TCP ports, comma-separated (default 4442,4448)")
    serve.add_argument("--http-port", type=_port, default=80,
                       help="HTTP port serving av/tvl/deletedvendors.txt, the withdrawn vendors (default %(default)s)")
    serve.add_argument("--no-http", action="store_true", help="do not serve the withdrawn-vendor list")
    serve.add_argument("--zero-word", action="store_true", help="start every answer with four zero bytes")
    serve.add_argument("--ready-file", help="write the bound ports (udp tcp...) to this file once listening")
    serve.add_argument("--request-log", metavar="FILE",
                       help="append one line per request answered to FILE: hash or vendor, udp or tcp and the keys "
                            "in hex, or http, the method, the path and the status")

    def add_import(name, help_, what, verdict_words, default, verdict_help):
        p = sub.add_parser(name, help=help_)
        p.add_argument("file", help=what)
        p.add_argument("--verdict", type=_verdict(verdict_words), default=default, help=verdict_help)
        return p

    fls_help = "verdict for entries without one: doesntexist, safe, malware, unknown, servererror or a code"
    add_import("import-hashes", "import a list of SHA-1s, one a line, each optionally followed by a verdict",
               "the list file", verdicts.FLS, verdicts.FLS["unknown"], fls_help + " (default unknown)")
    add_import("import-csv", "import a CSV file with a header: sha1[,verdict][,lumen][,aux][,date]",
               "the CSV file", verdicts.FLS, verdicts.FLS["unknown"], fls_help + " (default unknown)")
    add_import("import-nsrl", "import the SHA-1s of an NSRL RDS v3 SQLite database as safe",
               "the RDS database", verdicts.FLS, verdicts.FLS["safe"], "verdict (default safe)")
    add_import("import-report", "import every module Sha1 of a vantorag report (AptReport XML)",
               "the report", verdicts.FLS, verdicts.FLS["safe"], "verdict (default safe: a clean machine's baseline)")
    add_import("import-vendors", "import signer names, one a line", "the name list", verdicts.VENDOR,
               verdicts.VENDOR["trusted"], "trusted (1, default) or withdrawn (2), or a code")

    unknown = sub.add_parser("unknown", help="list asked-for hashes the store does not know, rarest first")
    unknown.add_argument("--limit", type=int, help="at most this many lines")
    sub.add_parser("stats", help="counts of the store and of what the server answered")
    return parser


def cmd_serve(args, store):
    def ready(bound):
        udp, tcp = bound
        print("lookupd: serving %s udp %d tcp %s" % (args.host, udp, ",".join(map(str, tcp))), flush=True)
        if args.ready_file:
            tmp = args.ready_file + ".tmp"
            with open(tmp, "w") as f:
                f.write("%d %s\n" % (udp, " ".join(map(str, tcp))))
            os.replace(tmp, args.ready_file)

    def http_ready(port):
        print("lookupd: serving the withdrawn-vendor list on http://%s:%d/av/tvl/deletedvendors.txt"
              % (args.host, port), flush=True)

    request_log = None
    if args.request_log:
        try:
            request_log = server.RequestLog(args.request_log)
        except OSError as e:
            raise UsageError("can't open the request log %s: %s" % (args.request_log, e.strerror or e))

    async def main():
        stop = asyncio.Event()
        loop = asyncio.get_running_loop()
        for sig in (signal.SIGTERM, signal.SIGINT):
            loop.add_signal_handler(sig, stop.set)
        try:
            counters = await server.serve(store, args.host, args.udp_port, args.tcp_ports, args.zero_word,
                                          ready=ready, stop=stop, http_port=None if args.no_http else args.http_port,
                                          http_ready=http_ready, request_log=request_log)
        except OSError as e:
            raise UsageError("can't listen on %s: %s" % (args.host, e.strerror or e))
        print("lookupd: stopped after %d requests (%d keys), %d datagrams dropped, %d connections closed"
              % (counters.requests, counters.keys, counters.dropped_datagrams, counters.closed_connections))

    try:
        asyncio.run(main())
    finally:
        if request_log:
            request_log.close()


READERS = {
    "import-hashes": importers.read_hash_list,
    "import-csv": importers.read_csv,
    "import-nsrl": importers.read_nsrl,
    "import-report": importers.read_report,
}


def cmd_import(args, store):
    if not os.path.isfile(args.file):
        raise UsageError("%s: no such file" % args.file)
    if args.command == "import-vendors":
        rows = importers.read_vendor_list(args.file, args.verdict)
        store.put_vendors(rows)
        print("imported %d vendor names" % len(rows))
    else:
        rows = READERS[args.command](args.file, args.verdict)
        store.put_hashes(rows, "%s %s" % (args.command, os.path.basename(args.file)))
        print("imported %d hashes" % len(rows))


def _time(seconds):
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(seconds))


def cmd_unknown(args, store):
    print("sha1;sources;asked;first_seen;last_seen")
    for key, sources, asked, first, last in store.unknown_hashes(args.limit):
        print("%s;%d;%d;%s;%s" % (key.hex().upper(), sources, asked, _time(first), _time(last)))


def cmd_stats(args, store):
    for name, value in store.counts().items():
        print("%s=%d" % (name, value))
    for name in ("requests", "keys", "dropped_datagrams", "closed_connections", "connections"):
        print("served_%s=%s" % (name, store.get_meta("served_" + name, "0")))


def main(argv=None):
    args = build_parser().parse_args(argv)
    try:
        if args.command in ("unknown", "stats") and not os.path.exists(args.store):
            raise UsageError("%s: no such store" % args.store)
        try:
            store = store_module.Store(args.store)
        except store_module.StoreError as e:
            raise UsageError(str(e))
        except Exception as e:  # sqlite3 errors about the file itself
            raise UsageError("%s: can't open the store: %s" % (args.store, e))
        try:
            if args.command == "serve":
                cmd_serve(args, store)
            elif args.command.startswith("import-"):
                cmd_import(args, store)
            elif args.command == "unknown":
                cmd_unknown(args, store)
            else:
                cmd_stats(args, store)
        finally:
            store.close()
    except (UsageError, importers.ImportError_) as e:
        print("lookupd.py: error: %s" % e, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
