#!/bin/sh
# Benchmark (not a test): report writing time and peak memory under Wine, the MSXML document
# against the stream writer, for 100,000, 300,000 and 1,000,000 modules; then the stream writer's
# million-module report is checked on the Linux side: the byte-order mark, the number of Module
# elements, and the schema (xmllint reading it as a stream, so that the check needs no DOM either).
# Usage: bench/report_writer/run.sh <windows build dir>
set -e
top=$(cd "$(dirname "$0")/../.." && pwd)
win=${1:?windows build dir}
bench="$win/bench/report_writer/report_writer_bench.exe"
[ -e "$bench" ] || { echo "run.sh: $bench not built (target report_writer_bench)" >&2; exit 2; }
work=$(mktemp -d /tmp/vantorag-bench-report.XXXXXX)
# An x64 program (PE machine 8664) runs under the 64-bit loader.
pe=$(od -An -j60 -N4 -tu4 "$bench" | tr -d ' ')
emulator="$top/cmake/wine-emulator.sh"
[ "$(od -An -j$((pe + 4)) -N2 -tx2 "$bench" | tr -d ' ')" = "8664" ] && emulator="$top/cmake/wine64-emulator.sh"
export WINE_TEST_PREFIX="${WINE_TEST_PREFIX:-/tmp/vantorag-bench-report-prefix}"
export WINE_TEST_PREFIX64="${WINE_TEST_PREFIX64:-$WINE_TEST_PREFIX}"
cleanup() {
  WINEPREFIX="$WINE_TEST_PREFIX64" wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX="$WINE_TEST_PREFIX" wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# Wine's drive Z: is the Linux root.
"$emulator" "$bench" --keep "Z:$(printf '%s' "$work" | tr / '\\')"

report="$work/million.xml"
echo "== the stream writer's million-module report"
mark=$(head -c 2 "$report" | od -An -tx1 | tr -d ' \n')
echo "size_bytes=$(stat -c %s "$report") byte_order_mark=$mark"
[ "$mark" = "fffe" ] || { echo "not the byte-order mark ff fe"; exit 1; }
python3 - "$report" <<'PY'
import sys
# Module elements of the Modules section (a process's own list has no Id), counted on the raw bytes.
needle, count, tail = "<Module Id=".encode("utf-16-le"), 0, b""
with open(sys.argv[1], "rb") as report:
    while True:
        chunk = report.read(1 << 24)
        if not chunk:
            break
        data = tail + chunk
        count += data.count(needle)
        tail = data[-(len(needle) - 1):]
print("module_elements=%d" % count)
PY
start=$(date +%s)
xmllint --noout --stream --schema "$top/schema/AptReport.xsd" "$report"
echo "schema_check_s=$(( $(date +%s) - start ))"
