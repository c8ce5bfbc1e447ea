#!/bin/sh
# The main job: build the scanner (installing what it needs) and run a real scan of the Wine
# machine, then print where the report and state file are and a one-line summary. It runs the
# 32-bit vantorag.exe where this machine runs 32-bit programs, else the x64 vantorag64.exe.
# Usage: scripts/scan.sh [vantorag options...]
#   default options: --scope="processes|drivers|autoruns|C:\windows\system32\*.exe"
#   VANTORAG_WINE_BUILDS=x64 (or both) forces the build (see scripts/wine-builds.sh)
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
out=${SCAN_OUT:-$top/scan-output}
"$top/scripts/install-deps.sh"
. "$top/scripts/wine-builds.sh"
if [ $runs32 = 1 ]; then
  tree=$build/win toolchain=mingw-i686-posix emulator=wine-emulator.sh exe=vantorag.exe
  echo "scanning with the 32-bit build, vantorag.exe ($why32)"
else
  tree=$build/win64 toolchain=mingw-x86_64-posix emulator=wine64-emulator.sh exe=vantorag64.exe
  echo "scanning with the x64 build, vantorag64.exe ($why32)"
fi
cmake -S "$top" -B "$tree" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/$toolchain.cmake" >/dev/null
cmake --build "$tree" -j"$(nproc)" --target vantorag launcher

mkdir -p "$out"
# The reference lookup server answers the scan's lookups on the default ports (UDP 4447, TCP
# 4442), from a store under the output folder; fill it with tools/lookup_server/lookupd.py's
# import commands (README, "The lookup service").
store="$out/lookup.sqlite"
rm -f "$out/lookupd.ready"
python3 "$top/tools/lookup_server/lookupd.py" --store "$store" serve --ready-file "$out/lookupd.ready" >"$out/lookupd.log" 2>&1 &
lookupd=$!
stop_lookupd() { kill "$lookupd" 2>/dev/null; wait "$lookupd" 2>/dev/null; wineserver -k >/dev/null 2>&1 || true; }
trap stop_lookupd EXIT
while [ ! -s "$out/lookupd.ready" ]; do
  kill -0 "$lookupd" 2>/dev/null || { cat "$out/lookupd.log"; exit 1; }
  sleep 0.1
done
# The x64 emulator adds "64" to the prefix name; the scan uses the prefix as given.
export WINE_TEST_PREFIX="${SCAN_PREFIX:-$build/scanprefix}" WINE_TEST_PREFIX64="${SCAN_PREFIX:-$build/scanprefix}"
export WINEPREFIX="$WINE_TEST_PREFIX"
report="Z:$(echo "$out/report.xml" | tr / '\\')"
state="Z:$(echo "$out/state.txt" | tr / '\\')"
if [ $# -eq 0 ]; then
  set -- "--scope=processes|drivers|autoruns|C:\\windows\\system32\\*.exe"
fi
rm -f "$out/report.xml" "$out/state.txt"
"$top/cmake/$emulator" "$tree/tools/launcher/launcher.exe" -- \
  "$tree/$exe" --output="$report" --status="$state" "$@" | tee "$out/console.txt"
kill "$lookupd" 2>/dev/null; wait "$lookupd" 2>/dev/null || true
python3 "$top/scripts/summary.py" "$out"
