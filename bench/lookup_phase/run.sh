#!/bin/sh
# Benchmark (not a test): the lookup phase of a run over 100,000 and 1,000,000 synthetic modules
# under Wine, against the reference lookup server on 127.0.0.1 with an empty store.
# Usage: bench/lookup_phase/run.sh <windows build dir> [module counts...]
set -e
top=$(cd "$(dirname "$0")/../.." && pwd)
win=${1:?windows build dir}
shift
[ $# -gt 0 ] || set -- 100000 1000000
work=$(mktemp -d /tmp/vantorag-bench-lookup-phase.XXXXXX)
emulator="$top/cmake/wine-emulator.sh"
[ -e "$win/vantorag64.exe" ] && emulator="$top/cmake/wine64-emulator.sh"
export WINE_TEST_PREFIX="${WINE_TEST_PREFIX:-/tmp/vantorag-bench-lookup-phase-prefix}"
export WINE_TEST_PREFIX64="$WINE_TEST_PREFIX"
. "$top/bench/reference_server.sh"
cleanup() {
  stop_reference_server
  WINEPREFIX="$WINE_TEST_PREFIX" wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

start_reference_server "$work"
"$emulator" cmd /c exit 0 >/dev/null 2>&1
for modules in "$@"; do
  "$emulator" "$win/bench/lookup_phase/lookup_phase_bench.exe" --modules="$modules" --udp-port="$udp" \
    --tcp-port="$tcp" | tr -d '\r'
done
