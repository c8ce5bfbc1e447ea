#!/bin/sh
# The main job: build the scanner (installing what it needs) and run a real scan of the Wine
# machine, then print where the report and state file are and a one-line summary. It runs the
# 32-bit vantorag.exe where this machine runs 32-bit programs, else the x64 vantorag64.exe.
# Usage: scripts/scan.sh [vantorag options...]
#   default options: --scope="processes|drivers|C:\windows\system32\*.exe"
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
# The x64 emulator adds "64" to the prefix name; the scan uses the prefix as given.
export WINE_TEST_PREFIX="${SCAN_PREFIX:-$build/scanprefix}" WINE_TEST_PREFIX64="${SCAN_PREFIX:-$build/scanprefix}"
export WINEPREFIX="$WINE_TEST_PREFIX"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
report="Z:$(echo "$out/report.xml" | tr / '\\')"
state="Z:$(echo "$out/state.txt" | tr / '\\')"
if [ $# -eq 0 ]; then
  set -- "--scope=processes|drivers|C:\\windows\\system32\\*.exe"
fi
rm -f "$out/report.xml" "$out/state.txt"
"$top/cmake/$emulator" "$tree/tools/launcher/launcher.exe" -- \
  "$tree/$exe" --output="$report" --status="$state" "$@" | tee "$out/console.txt"
python3 "$top/scripts/summary.py" "$out"
