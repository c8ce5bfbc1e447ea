#!/bin/sh
# Benchmark companion (not a test): system calls per file of the scan and of the floor, by kind,
# from Wine relay traces of runs over two small generated trees (100 and 200 small PE files);
# count_calls.py takes the difference, so start-up and report costs cancel out. Lookups are off
# (no server) so that only file work remains.
# Usage: bench/scan_e2e/calls.sh <windows build dir> [work dir]
set -e
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?windows build dir}
work=${2:-/tmp/vantorag-bench-calls}
. "$top/bench/scan_e2e/wine_timing.sh"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
mkdir -p "$work"
python3 - "$work" <<'PY'
import os, sys
for n in (100, 200):
    root = os.path.join(sys.argv[1], "t%d" % n)
    if os.path.exists(os.path.join(root, "done")):
        continue
    head = b"MZ" + bytes(62)
    for i in range(n):
        d = os.path.join(root, "%02d" % (i % 10))
        os.makedirs(d, exist_ok=True)
        with open(os.path.join(d, "f%05d.exe" % i), "wb") as f:
            f.write(head + os.urandom(2048 + (i % 7) * 512))
    open(os.path.join(root, "done"), "w").close()
PY
WINEDEBUG=-all run cmd /c exit 0 >/dev/null 2>&1
for n in 100 200; do
  WINEDEBUG=+relay run "$build/$exe" "--scope=$(w "$work/t$n")" "--output=$(w "$work/r$n.xml")" \
    "--status=$(w "$work/s$n.txt")" --flsUdp=off --flsTcp=off >/dev/null 2>"$work/scan$n.log"
  WINEDEBUG=+relay run "$build/bench/scan_e2e/scan_floor.exe" "$(w "$work/t$n")" >/dev/null 2>"$work/floor$n.log"
done
python3 "$top/bench/scan_e2e/count_calls.py" --extra-files 100 --label "scan, per file" "$work/scan100.log" "$work/scan200.log"
python3 "$top/bench/scan_e2e/count_calls.py" --extra-files 100 --label "floor, per file" --top 12 \
  "$work/floor100.log" "$work/floor200.log"
rm -f "$work"/*.log
