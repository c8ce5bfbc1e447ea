#!/bin/sh
# The main job: build vantorag.exe (installing what it needs) and run a real scan of the Wine
# machine, then print where the report and state file are and a one-line summary.
# Usage: scripts/scan.sh [vantorag options...]
#   default options: --scope="processes|drivers|C:\windows\system32\*.exe"
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
out=${SCAN_OUT:-$top/scan-output}
"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$build/win" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686-posix.cmake" >/dev/null
cmake --build "$build/win" -j"$(nproc)" --target vantorag launcher

mkdir -p "$out"
export WINE_TEST_PREFIX="${SCAN_PREFIX:-$build/scanprefix}"
export WINEPREFIX="$WINE_TEST_PREFIX"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
report="Z:$(echo "$out/report.xml" | tr / '\\')"
state="Z:$(echo "$out/state.txt" | tr / '\\')"
if [ $# -eq 0 ]; then
  set -- "--scope=processes|drivers|C:\\windows\\system32\\*.exe"
fi
rm -f "$out/report.xml" "$out/state.txt"
"$top/cmake/wine-emulator.sh" "$build/win/tools/launcher/launcher.exe" -- \
  "$build/win/vantorag.exe" --output="$report" --status="$state" "$@" | tee "$out/console.txt"
python3 "$top/scripts/summary.py" "$out"
