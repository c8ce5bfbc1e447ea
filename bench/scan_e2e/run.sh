#!/bin/sh
# Benchmark (not a test): a real scan of a generated folder of 10,000 small PE files and 50 large
# ones (over 1 GB in all) under Wine, timed against native sha1sum over the same files.
# Usage: bench/scan_e2e/run.sh <windows build dir> [work dir]
set -e
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?windows build dir}
work=${2:-/tmp/vantorag-bench-scan}
export WINE_TEST_PREFIX="${WINE_TEST_PREFIX:-$work/prefix}" WINE_TEST_PREFIX64="${WINE_TEST_PREFIX:-$work/prefix}"
export WINEPREFIX="$WINE_TEST_PREFIX"
# The build dir's toolchain tells which program and Wine loader to use.
emulator=wine-emulator.sh exe=vantorag.exe
if grep -q mingw-x86_64 "$build/CMakeCache.txt" 2>/dev/null; then emulator=wine64-emulator.sh exe=vantorag64.exe; fi

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

# Warm the page cache for both sides alike.
find "$work/tree" -type f -exec cat {} + >/dev/null

t0=$(date +%s.%N)
find "$work/tree" -type f \( -name '*.exe' -o -name '*.dll' \) -print0 | xargs -0 sha1sum >/dev/null
t1=$(date +%s.%N)

"$top/cmake/$emulator" cmd /c exit 0 >/dev/null 2>&1   # prefix and wineserver up before timing
sleep 5   # let Wine's own services finish starting
tree="Z:$(echo "$work/tree" | tr / '\\')"
t2=$(date +%s.%N)
"$top/cmake/$emulator" "$build/tools/launcher/launcher.exe" -- "$build/$exe" \
  "--scope=$tree" "--output=Z:$(echo "$work/r.xml" | tr / '\\')" "--status=Z:$(echo "$work/s.txt" | tr / '\\')" \
  >/dev/null
t3=$(date +%s.%N)
state=$(python3 -c "import sys; print(open(sys.argv[1],'rb').read()[:-2].decode('utf-16-le'))" "$work/s.txt")
python3 - "$t0" "$t1" "$t2" "$t3" "$state" <<'PY'
import sys
t0, t1, t2, t3 = map(float, sys.argv[1:5])
state = sys.argv[5].split(";")
native, scan = t1 - t0, t3 - t2
print("state line: " + ";".join(state))
print("sha1sum (native):      %.2f s" % native)
print("vantorag scan (Wine):  %.2f s  (walk, filters, hashing, lookup batches, report)" % scan)
print("ratio scan/sha1sum:    %.2fx" % (scan / native))
PY
WINEPREFIX="$WINE_TEST_PREFIX" wineserver -k >/dev/null 2>&1 || true
