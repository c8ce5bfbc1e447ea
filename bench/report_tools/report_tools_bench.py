#!/usr/bin/env python3
"""Times the report tools on a large report and prints, for each command, its wall time and the
peak memory of its process. The report is made here, in the scanner's form (UTF-16LE with the
mark FF FE): MODULES modules (default 100,000), a process, a driver and an autorun per 100
modules. Usage: report_tools_bench.py [--modules N] [--keep DIR]"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

TOP = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
COMMAND = os.path.join(TOP, "tools", "report_tools", "vantorag_report.py")
VERDICTS = ("safe", "safe", "safe", "safe", "unknown", "malware", "doesntexist", "error")


def write_report(path, modules, changed=False):
    with open(path, "w", encoding="utf-16", newline="") as out:   # utf-16 writes the mark first
        out.write('<?xml version="1.0" encoding="utf-16"?>\n<AptReport skipGac="false">'
                  '<Computer Name="BENCH" SID="S-1-5-18"><OperatingSystem MajorVer="10" MinorVer="0" '
                  'BuildNumber="19045" ServicePackMajor="0" ServicePackMinor="0" SuiteMask="256" '
                  'IsServerR2="false" ProductType="1" BitSystem="64"/><Connections/></Computer><Modules>')
        for i in range(1, modules + 1):
            sha1 = "%040X" % (i * 2654435761 + (7 if changed and i % 50 == 0 else 0))
            out.write('<Module Id="%d" Path="C:\\Program Files\\Vendor %d\\bin\\module%d.dll" Size="%d" '
                      'Attributes="32" Created="2016-03-01T09:05:07Z" Modified="2016-03-01T09:05:07Z" '
                      'Accessed="2016-03-01T09:05:07Z" Sha1="%s" Cloud="%s" CloudFls="%s" '
                      'CloudSigner="safe" CloudLumen="Undetected" Signer="Vendor %d Ltd" '
                      'Description="Module number %d" Version="1.0.%d" Product="Product %d" '
                      'Clr="false" Gac="false"/>' % (
                          i, i % 300, i, i * 37 % 9000000, sha1, VERDICTS[i % 8], VERDICTS[i % 8], i % 300,
                          i, i, i % 300))
        out.write("</Modules><Processes>")
        for i in range(1, modules + 1, 100):
            refs = "".join('<Module ModuleRefId="%d"/>' % (i + k) for k in range(min(20, modules - i + 1)))
            out.write('<Process Pid="%d" ParentPid="4" ModuleRefId="%d" User="BENCH\\user" '
                      'Cmd="module%d.exe --run" Created="2016-03-01T09:05:07Z" CpuTime="0T00:00:01" '
                      'Elevated="false" UacVirtualization="false"><Modules>%s</Modules></Process>' % (
                          i * 4, i, i, refs))
        out.write("</Processes><Drivers>")
        for i in range(2, modules + 1, 100):
            out.write('<Driver ModuleRefId="%d"/>' % i)
        out.write("</Drivers><Autoruns>")
        for i in range(3, modules + 1, 100):
            out.write('<Autorun ModuleRefId="%d" Scope="Logon" Where="HKLM\\Run\\entry%d"/>' % (i, i))
        out.write("</Autoruns></AptReport>")


def measure(args, env=None):
    """(wall seconds, processor seconds, peak resident kilobytes) of one run of the command and
    of the xmllint it starts."""
    start = time.perf_counter()
    process = subprocess.Popen([sys.executable, COMMAND] + args, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, env=env)
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    error = process.stderr.read().decode()
    process.stderr.close()
    if process.returncode != 0:
        raise SystemExit("%s failed: %s" % (" ".join(args), error))
    return seconds, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--modules", type=int, default=100000)
    parser.add_argument("--keep", metavar="DIR", help="write the reports here and keep them")
    options = parser.parse_args()
    folder = options.keep or tempfile.mkdtemp(prefix="vantorag-report-bench-")
    os.makedirs(folder, exist_ok=True)
    try:
        old, new = os.path.join(folder, "old.xml"), os.path.join(folder, "new.xml")
        write_report(old, options.modules)
        write_report(new, options.modules, changed=True)
        print("report: %d modules, %.1f MB (UTF-16LE)" % (options.modules, os.path.getsize(new) / 1e6))
        own_reader = dict(os.environ, PATH="/nonexistent")
        runs = [
            ("csv modules", ["csv", new, "--table", "modules", "-o", os.path.join(folder, "m.csv")], None),
            ("csv autoruns", ["csv", new, "--table", "autoruns", "-o", os.path.join(folder, "a.csv")], None),
            ("json", ["json", new, "-o", os.path.join(folder, "r.json")], None),
            ("html", ["html", new, "-o", os.path.join(folder, "r.html")], None),
            ("diff", ["diff", old, new, "-o", os.path.join(folder, "d.txt")], None),
            ("csv modules, no xmllint", ["csv", new, "--table", "modules", "-o", os.path.join(folder, "m.csv")],
             own_reader),
            ("html, no xmllint", ["html", new, "-o", os.path.join(folder, "r.html")], own_reader),
        ]
        if not shutil.which("xmllint"):
            print("(xmllint is not installed: every run reads with the tools' own checks only)")
        for name, args, env in runs:
            seconds, processor, peak = measure(args, env)
            print("%-26s %7.2f s wall  %7.2f s processor  %8.1f MB peak  %8.0f modules/s" % (
                name, seconds, processor, peak / 1024.0, options.modules / seconds))
    finally:
        if not options.keep:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
