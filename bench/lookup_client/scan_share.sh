#!/bin/sh
# Benchmark (not a test): the lookup phase's share of a scan of 10,000 small PE files under Wine,
# as the difference between a scan against the reference server on 127.0.0.1 and the same scan
# offline (both channels off, so no lookup is attempted).
# Usage: bench/lookup_client/scan_share.sh <windows build dir> [work dir]
set -e
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?windows build dir}
work=${2:-/tmp/vantorag-bench-lookup-share}
# The x64 build runs under the 64-bit loader.
emulator="$top/cmake/wine-emulator.sh"
[ -e "$build/vantorag64.exe" ] && emulator="$top/cmake/wine64-emulator.sh"
export WINE_TEST_PREFIX="${WINE_TEST_PREFIX:-$work/prefix}"
export WINEPREFIX="$WINE_TEST_PREFIX"
exe=$(ls "$build"/vantorag*.exe | head -n 1)
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
    head = b"MZ" + bytes(62)
    for i in range(10000):
        d = os.path.join(root, "%02d" % (i % 100))
        os.makedirs(d, exist_ok=True)
        with open(os.path.join(d, "f%05d.exe" % i), "wb") as f:
            f.write(head + os.urandom(2048))
    open(os.path.join(root, "done"), "w").close()
PY
start_reference_server "$work"
"$emulator" cmd /c exit 0 >/dev/null 2>&1 || true

w() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
scan() {
  start=$(date +%s.%N)
  "$emulator" "$exe" --scope="$(w "$work/tree")" --output="$(w "$work/r.xml")" \
    --status="$(w "$work/s.txt")" "$@" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
scan --flsUdp=off --flsTcp=off >/dev/null  # warm the file cache
offline=$(scan --flsUdp=off --flsTcp=off)
online=$(scan --flsUdpPort="$udp" --flsTcpPort="$tcp")
echo "scan_offline_s=$offline"
echo "scan_with_local_server_s=$online"
echo "lookup_share_percent=$(echo "scale=1; ($online - $offline) * 100 / $offline" | bc)"
