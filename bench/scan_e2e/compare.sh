#!/bin/sh
# Benchmark companion (not a test): two builds of the scanner timed alternately over the same
# 1,000 small files of run.sh's tree (lookups off: what a cut of the per-file cost changes), many
# times, so that a change of a few percent shows through a shared machine's changing load. Prints
# the fastest and the median run of each, by wall and by CPU time (the program's own plus this
# prefix's wineserver's), and their ratios.
# Usage: bench/scan_e2e/compare.sh <before.exe> <after.exe> [runs (default 9)] [work dir]
set -e
top=$(cd "$(dirname "$0")/../.." && pwd)
before=${1:?before.exe} after=${2:?after.exe} runs=${3:-9}
work=${4:-/tmp/vantorag-bench-scan}
[ -f "$before" ] && [ -f "$after" ] || { echo "compare.sh: no such program" >&2; exit 2; }
[ -f "$work/tree/done" ] || { echo "compare.sh: run run.sh first to make $work/tree" >&2; exit 2; }
build=""
. "$top/bench/scan_e2e/wine_timing.sh"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
run cmd /c exit 0 >/dev/null 2>&1
find_server
scope="--scope=$(for d in 00 01 02 03 04 05 06 07 08 09; do printf '%s|' "$(w "$work/tree/small/$d")"; done)"
once() {  # exe: prints "<wall s>,<cpu s> "
  printf '%s ' "$(timed "$1" "${scope%|}" --flsUdp=off --flsTcp=off "--output=$(w "$work/c.xml")" "--status=$(w "$work/c.txt")")"
}
once "$after" >/dev/null   # warm
a_runs="" b_runs="" i=0
while [ $i -lt "$runs" ]; do
  a_runs="$a_runs$(once "$before")"
  b_runs="$b_runs$(once "$after")"
  i=$((i + 1))
done
python3 - "$a_runs" "$b_runs" <<'PY'
import statistics, sys
def parse(text):
    runs = [tuple(map(float, r.split(","))) for r in text.split()]
    return [r[0] for r in runs], [r[1] for r in runs]
(aw, ac), (bw, bc) = parse(sys.argv[1]), parse(sys.argv[2])
print("1,000 small files, %d runs each     fastest wall  median wall  fastest cpu  median cpu" % len(aw))
for name, w, c in (("before", aw, ac), ("after", bw, bc)):
    print("  %-32s %8.2f s   %8.2f s   %8.2f s  %8.2f s" % (name, min(w), statistics.median(w), min(c), statistics.median(c)))
print("  %-32s %8.2fx    %8.2fx    %8.2fx   %8.2fx" % ("after/before", min(bw) / min(aw),
      statistics.median(bw) / statistics.median(aw), min(bc) / min(ac), statistics.median(bc) / statistics.median(ac)))
PY
