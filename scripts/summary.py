#!/usr/bin/env python3
"""Prints where a scan's outputs are and a one-line summary of its state file and report."""
import os
import xml.etree.ElementTree as ET
import sys

out = sys.argv[1]
state_path = os.path.join(out, "state.txt")
report_path = os.path.join(out, "report.xml")
phases = {7: "finished", 8: "failed", 9: "stopped"}
if not os.path.exists(state_path):
    print("no state file was written")
    sys.exit(1)
with open(state_path, "rb") as f:
    data = f.read()
if data.endswith(b"\0\0"):
    data = data[:-2]  # the line's terminating NUL code unit
fields = data.decode("utf-16-le").split(";")
phase = int(fields[0])
print("state file:  " + state_path)
if os.path.exists(report_path):
    with open(report_path, "rb") as f:
        text = f.read().decode("utf-16", "replace")
    root = ET.fromstring(text)
    sections = {"Module": "Modules", "Process": "Processes", "Driver": "Drivers", "Autorun": "Autoruns"}
    counts = {tag: len(root.findall("./%s/%s" % (section, tag))) for tag, section in sections.items()}
    print("report:      %s (%d bytes)" % (report_path, os.path.getsize(report_path)))
else:
    counts = None
    print("report:      none written")
summary = "scan %s: %s files found (%s bytes), %s processed, %s hash failures; verdicts: %s safe, %s malware, " \
          "%s unknown, %s doesntexist, %s error, %s servererror" % (
              phases.get(phase, "phase %d" % phase), fields[1], fields[2], fields[3], fields[8], fields[9],
              fields[10], fields[5], fields[6], fields[7], fields[12])
if counts:
    summary += "; report lists %d modules, %d processes, %d drivers, %d autoruns" % (
        counts["Module"], counts["Process"], counts["Driver"], counts["Autorun"])
if fields[13]:
    summary += "; " + fields[13]
print(summary)
sys.exit(0 if phase == 7 else 1)
