#!/bin/sh
# The whole test suite: the Windows build with its tests under Wine, the native build of the
# portable code with its tests, and a short bounded run of every fuzz target.
# Usage: scripts/test.sh            (FUZZ_SECONDS=n sets each fuzz run's length, default 10)
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
"$top/scripts/install-deps.sh"
jobs=$(nproc)

export WINE_TEST_PREFIX="${WINE_TEST_PREFIX:-$build/wineprefix}"
export WINEPREFIX="$WINE_TEST_PREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'WINEPREFIX="$WINE_TEST_PREFIX" wineserver -k >/dev/null 2>&1 || true' EXIT

status=0
cmake -S "$top" -B "$build/win" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686-posix.cmake" >/dev/null
cmake --build "$build/win" -j"$jobs"
# Create the test prefix and start its wineserver once, before tests run side by side.
"$top/cmake/wine-emulator.sh" cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
(cd "$build/win" && ctest -j"$jobs" --output-on-failure) || status=1

cmake -S "$top" -B "$build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build/native" -j"$jobs"
(cd "$build/native" && ctest -j"$jobs" --output-on-failure) || status=1

CC=clang CXX=clang++ cmake -S "$top" -B "$build/fuzz" -DVANTORAG_FUZZ=ON -DVANTORAG_TESTS=OFF >/dev/null
cmake --build "$build/fuzz" -j"$jobs"
"$top/scripts/fuzz.sh" "$build/fuzz" "${FUZZ_SECONDS:-10}" || status=1

[ $status = 0 ] && echo "ALL TESTS PASSED" || echo "SOME TESTS FAILED"
exit $status
