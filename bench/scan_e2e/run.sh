#!/bin/sh
# Benchmark (not a test): a real scan of a generated folder of 10,000 small PE files and 50 large
# ones (over 1 GB in all) under Wine, against the reference lookup server on 127.0.0.1, timed
# against the platform's floor for the same files measured in the same run (scan_floor: walk,
# open, read and hash each file once) and against native sha1sum. Then the same scan split by
# step (scan_phases).
# Usage: bench/scan_e2e/run.sh <windows build dir> [work dir]
#   RUNS=n (default 1): floor and scan n times each, alternately; the fastest of each counts, as
#   the machine's load changes from one run to the next.
#   BASELINE=<another vantorag exe>: timed alternately with this build, for a before/after figure.
# The server listens on ports the system picks; run under flock /tmp/vantorag-ports.lock all the same.
set -e
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?windows build dir}
work=${2:-/tmp/vantorag-bench-scan}
. "$top/bench/scan_e2e/wine_timing.sh"
for program in "$build/$exe" "$build/bench/scan_e2e/scan_floor.exe" \
               "$build/bench/scan_e2e/scan_phases.exe"; do
  [ -f "$program" ] || { echo "run.sh: $program is not built (targets vantorag scan_floor scan_phases)" >&2; exit 2; }
done
mkdir -p "$work"
. "$top/bench/reference_server.sh"
cleanup() {
  stop_reference_server
  wineserver -k >/dev/null 2>&1 || true
}
trap cleanup EXIT

python3 - "$work/tree" <<'PY'
import os, sys
root = sys.argv[1]
if not os.path.exists(os.path.join(root, "done")):
    os.makedirs(root, exist_ok=True)
    head = b"MZ" + bytes(62)
    for i in range(10000):
        d = os.path.join(root, "small", "%02d" % (i % 100))
        os.makedirs(d, exist_ok=True)
        with open(os.path.join(d, "f%05d.exe" % i), "wb") as f:
            f.write(head + os.urandom(2048 + (i % 7) * 512))
    chunk = os.urandom(1 << 20)
    os.makedirs(os.path.join(root, "large"), exist_ok=True)
    for i in range(50):
        with open(os.path.join(root, "large", "big%02d.dll" % i), "wb") as f:
            f.write(head)
            for _ in range(21):
                f.write(chunk)
    open(os.path.join(root, "done"), "w").close()
PY
total=$(du -sb "$work/tree" | cut -f1)
echo "tree: $(find "$work/tree" -type f -name '*.exe' -o -type f -name '*.dll' | wc -l) files, $total bytes"

# The reference lookup server, from an empty store: every file is looked up and answered.
start_reference_server "$work"

# Warm the page cache for every side alike.
find "$work/tree" -type f -exec cat {} + >/dev/null

t0=$(now)
find "$work/tree" -type f \( -name '*.exe' -o -name '*.dll' \) -print0 | xargs -0 sha1sum >/dev/null
t1=$(now)

run cmd /c exit 0 >/dev/null 2>&1   # prefix and wineserver up before timing
sleep 5   # let Wine's own services finish starting
tree=$(w "$work/tree")
options="--scope=$tree --flsUdpPort=$udp --flsTcpPort=$tcp"

find_server
scan_once() {  # exe, report name: "<wall s>,<cpu s>" of one scan of the tree
  rm -f "$work/$2.xml" "$work/s.txt"
  # shellcheck disable=SC2086
  timed "$1" $options "--output=$(w "$work/$2.xml")" "--status=$(w "$work/s.txt")"
}
run "$build/bench/scan_e2e/scan_floor.exe" "$tree" >/dev/null   # the first Wine pass over the tree
floors="" scans="" baselines=""
i=0
while [ $i -lt "${RUNS:-1}" ]; do
  floors="$floors $(timed "$build/bench/scan_e2e/scan_floor.exe" "$tree")"
  floor_line=$(tr -d '\r' <"$work/out.txt")
  scans="$scans $(scan_once "$build/$exe" r)"
  state=$(python3 -c "import sys; print(open(sys.argv[1],'rb').read()[:-2].decode('utf-16-le'))" "$work/s.txt")
  [ -n "$BASELINE" ] && baselines="$baselines $(scan_once "$BASELINE" r0)"
  i=$((i + 1))
done
map_line=$(run "$build/bench/scan_e2e/scan_floor.exe" --map "$tree" | tr -d '\r')
# shellcheck disable=SC2086
steps=$(run "$build/bench/scan_e2e/scan_phases.exe" $options "--output=$(w "$work/r2.xml")" \
  "--status=$(w "$work/s2.txt")" | tr -d '\r' | grep '^step ')

python3 - "$t0" "$t1" "$floors" "$scans" "$baselines" "$state" "$floor_line" "$map_line" "$steps" <<'PY'
import sys
t0, t1 = map(float, sys.argv[1:3])
# Each run is "wall,cpu"; the fastest run of each counts, by either clock.
floors, scans, baselines = ([tuple(map(float, r.split(","))) for r in a.split()] for a in sys.argv[3:6])
state, floor_line, map_line, steps = sys.argv[6:10]
native = t1 - t0
best = lambda runs: (min(r[0] for r in runs), min(r[1] for r in runs))
listed = lambda runs: " ".join("%.2f/%.2f" % r for r in runs)
floor, scan = best(floors), best(scans)
print("state line: " + state)
print(floor_line + "  (in-process time)")
print(map_line + "  (in-process time)")
print("sha1sum (native):      %.2f s" % native)
print("                       wall s   cpu s  (runs wall/cpu)")
print("floor (Wine):          %6.2f  %6.2f  (%s)  walk, open, read, hash each file once" % (floor + (listed(floors),)))
print("vantorag scan (Wine):  %6.2f  %6.2f  (%s)  walk, filters, version, signer, hash, lookups, report" % (scan + (listed(scans),)))
if baselines:
    base = best(baselines)
    print("baseline scan (Wine):  %6.2f  %6.2f  (%s)" % (base + (listed(baselines),)))
    print("this build/baseline:   %6.2fx %6.2fx" % (scan[0] / base[0], scan[1] / base[1]))
print("ratio scan/floor:      %6.2fx %6.2fx" % (scan[0] / floor[0], scan[1] / floor[1]))
print("ratio scan/sha1sum:    %6.2fx (wall)" % (scan[0] / native))
print("the scan by step (one more scan, each step clocked):")
for line in steps.splitlines():
    print("  " + line[5:])
PY
