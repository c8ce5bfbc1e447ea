#!/bin/sh
# Benchmark (not a test): keys per second through the lookup client under Wine to the reference
# lookup server on 127.0.0.1, beside the server's own answer rate measured in the same run.
# Usage: bench/lookup_client/run.sh <windows build dir> [seconds]
set -e
top=$(cd "$(dirname "$0")/../.." && pwd)
win=${1:?windows build dir}
seconds=${2:-3}
work=$(mktemp -d /tmp/vantorag-bench-lookup.XXXXXX)
# The x64 build runs under the 64-bit loader.
emulator="$top/cmake/wine-emulator.sh"
[ -e "$win/vantorag64.exe" ] && emulator="$top/cmake/wine64-emulator.sh"
export WINE_TEST_PREFIX="${WINE_TEST_PREFIX:-/tmp/vantorag-bench-lookup-prefix}"
. "$top/bench/reference_server.sh"
cleanup() {
  stop_reference_server
  WINEPREFIX="$WINE_TEST_PREFIX" wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "== server alone: parse, look up and answer full packs in one process, one core"
python3 - "$top/tools/lookup_server" "$work/rate.sqlite" <<'PY'
import os, sys, time
sys.path.insert(0, sys.argv[1])
import protocol, server, store
s = store.Store(sys.argv[2])
s.put_hashes([(os.urandom(20), 1, 0, 0, 0) for _ in range(100000)], "bench")
answerer = server.Answerer(s)
requests = [protocol.encode_request(2, i + 1, [os.urandom(20) for _ in range(100)]) for i in range(200)]
start, keys = time.perf_counter(), 0
while time.perf_counter() - start < 3:
    for data in requests:
        answerer.answer(protocol.parse_request(data), "127.0.0.1", "udp")
        keys += 100
    s.flush()
print("server_keys_per_s=%.0f" % (keys / (time.perf_counter() - start)))
PY

echo "== client under Wine against the server on 127.0.0.1"
start_reference_server "$work"
"$emulator" "$win/bench/lookup_client/lookup_client_bench.exe" --udp-port="$udp" --tcp-port="$tcp" \
  --seconds="$seconds" | tr -d '\r'
