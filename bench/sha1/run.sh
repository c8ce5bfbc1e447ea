#!/bin/sh
# Benchmark (not a test): SHA-1 throughput natively against libcrypto in the same process, then
# under Wine against that same OpenSSL figure, with CryptoAPI beside it.
# Usage: bench/sha1/run.sh <native build dir> <windows build dir> [--large] [--mb=N]
set -e
top=$(cd "$(dirname "$0")/../.." && pwd)
native=${1:?native build dir}
win=${2:?windows build dir}
shift 2
export WINE_TEST_PREFIX="${WINE_TEST_PREFIX:-/tmp/vantorag-bench-sha1}" WINE_TEST_PREFIX64="${WINE_TEST_PREFIX:-/tmp/vantorag-bench-sha1}"
emulator=wine-emulator.sh arch=i686
if grep -q mingw-x86_64 "$win/CMakeCache.txt" 2>/dev/null; then emulator=wine64-emulator.sh arch=x86_64; fi
mb=$(for a in "$@"; do case "$a" in --mb=*) echo "$a";; esac; done)

echo "== native (x86_64)"
out=$("$native/bench/sha1/sha1_bench" $mb)
echo "$out" | grep -v '^openssl_mbps='
ref=$(echo "$out" | sed -n 's/^openssl_mbps=//p')
echo "== for the record: openssl speed -evp sha1 -bytes 1048576 -elapsed"
openssl speed -evp sha1 -bytes 1048576 -seconds 3 -elapsed 2>/dev/null | awk '/^sha1/ {print "  " $2 "B/s"}'
echo "== Windows build ($arch) under Wine, against the native OpenSSL figure above"
"$top/cmake/$emulator" "$win/bench/sha1/sha1_bench.exe" "--reference-mbps=$ref" "$@" | tr -d '\r'
WINEPREFIX="$WINE_TEST_PREFIX" wineserver -k >/dev/null 2>&1 || true
