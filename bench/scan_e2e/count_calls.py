#!/usr/bin/env python3
"""Calls per file of a Wine run, from two relay traces (WINEDEBUG=+relay) of the same program over
trees that differ only in their number of files: what the larger run called more, divided by the
number of extra files, is what one file costs; start-up and report costs cancel out.

Prints the system calls (ntdll Nt*/Zw*) by kind and by name, then the program's own calls into
the system DLLs (kernel32, version, advapi32 ...) by name."""
import argparse
import collections
import re
import sys

CALL = re.compile(rb"^[0-9a-f]+:Call ([A-Za-z0-9_]+)\.([A-Za-z0-9_@]+)\(")

# System calls by what they do to a file; the rest are listed under their own names.
KINDS = [
    ("open", {"NtCreateFile", "NtOpenFile"}),
    ("close", {"NtClose"}),
    ("read", {"NtReadFile"}),
    ("query file", {"NtQueryInformationFile", "NtQueryAttributesFile", "NtQueryFullAttributesFile",
                    "NtQueryVolumeInformationFile", "NtSetInformationFile", "NtFsControlFile",
                    "NtDeviceIoControlFile"}),
    ("directory", {"NtQueryDirectoryFile"}),
    ("section/view", {"NtCreateSection", "NtOpenSection", "NtMapViewOfSection", "NtUnmapViewOfSection",
                      "NtQuerySection"}),
    ("event/wait", {"NtCreateEvent", "NtSetEvent", "NtResetEvent", "NtWaitForSingleObject",
                    "NtWaitForMultipleObjects", "NtSignalAndWaitForSingleObject"}),
    ("memory", {"NtAllocateVirtualMemory", "NtFreeVirtualMemory", "NtProtectVirtualMemory",
                "NtQueryVirtualMemory"}),
    ("system info", {"NtQuerySystemInformation", "NtQueryPerformanceCounter", "NtQuerySystemTime"}),
]
SYSTEM_MODULES = {"kernel32", "kernelbase", "version", "advapi32", "crypt32", "wintrust", "imagehlp",
                  "ws2_32", "shlwapi", "ole32", "oleaut32", "msvcrt", "ucrtbase", "user32"}


def count(path):
    calls = collections.Counter()
    try:
        with open(path, "rb") as log:
            for line in log:
                m = CALL.match(line)
                if m:
                    calls[(m.group(1).decode().lower(), m.group(2).decode())] += 1
    except OSError as e:
        sys.exit("count_calls.py: can't read %s: %s" % (path, e.strerror))
    return calls


def is_syscall(module, name):
    return module == "ntdll" and (name.startswith("Nt") or name.startswith("Zw"))


def kind_of(name):
    for kind, names in KINDS:
        if name in names:
            return kind
    return "other"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("small", help="relay trace of the run over the smaller tree")
    parser.add_argument("large", help="relay trace of the run over the larger tree")
    parser.add_argument("--extra-files", type=int, required=True,
                        help="how many more files the larger tree holds")
    parser.add_argument("--label", default="per file", help="heading of the figures")
    parser.add_argument("--top", type=int, default=25, help="how many named calls to list (default 25)")
    args = parser.parse_args()
    if args.extra_files <= 0:
        parser.error("--extra-files must be positive")
    small, large = count(args.small), count(args.large)
    if not large:
        sys.exit("count_calls.py: %s holds no relay lines (was WINEDEBUG=+relay set?)" % args.large)
    per = {key: (large[key] - small.get(key, 0)) / args.extra_files for key in large}

    syscalls = {k: v for k, v in per.items() if is_syscall(*k) and v > 0.005}
    by_kind = collections.Counter()
    for (_, name), v in syscalls.items():
        by_kind[kind_of(name)] += v
    print("%s: system calls %.1f" % (args.label, sum(syscalls.values())))
    for kind, v in sorted(by_kind.items(), key=lambda kv: -kv[1]):
        print("  %-14s %7.2f" % (kind, v))
    print("  by name:")
    for (_, name), v in sorted(syscalls.items(), key=lambda kv: -kv[1])[:args.top]:
        print("    %-34s %7.2f" % (name, v))
    api = {k: v for k, v in per.items() if k[0] in SYSTEM_MODULES and v > 0.005}
    print("%s: calls into system DLLs (relayed, any caller) %.1f" % (args.label, sum(api.values())))
    for (module, name), v in sorted(api.items(), key=lambda kv: -kv[1])[:args.top]:
        print("    %-34s %7.2f" % (module + "." + name, v))
    return 0


if __name__ == "__main__":
    sys.exit(main())
