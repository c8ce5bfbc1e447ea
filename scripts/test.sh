#!/bin/sh
# The whole test suite: both Windows builds (32-bit and x64) with their tests under Wine, the
# native build of the portable code with its tests, a short bounded run of every fuzz target, and
# the Python tools' tests.
# Usage: scripts/test.sh            (FUZZ_SECONDS=n sets each fuzz run's length, default 10)
#   Both Windows builds are always built. The 32-bit build's tests run where the machine runs
#   32-bit programs; VANTORAG_WINE_BUILDS=both|x64 forces the choice (see scripts/wine-builds.sh).
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
"$top/scripts/install-deps.sh"
jobs=$(nproc)
start=$(date +%s)
# step <what>: a heading with the time since the start, so a slow part shows in the log.
step() { echo "== [$(( ($(date +%s) - start) / 60 ))m$(( ($(date +%s) - start) % 60 ))s] $*"; }
. "$top/scripts/wine-builds.sh"
if [ $runs32 = 1 ]; then
  echo "Windows tests: 32-bit and x64 builds ($why32)"
else
  echo "Windows tests: x64 build only; the 32-bit build's tests do not run: $why32"
fi

export WINE_TEST_PREFIX="${WINE_TEST_PREFIX:-$build/wineprefix}"   # the x64 build's: ${WINE_TEST_PREFIX}64
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export VANTORAG_MACHINE_RUNS_32BIT=$runs32
# The end-to-end suites each make a prefix of their own beside these (<prefix>-<suite>).
trap 'for p in "$WINE_TEST_PREFIX" "${WINE_TEST_PREFIX}64" "$WINE_TEST_PREFIX"-* "${WINE_TEST_PREFIX}64"-*; do
  [ -d "$p" ] && WINEPREFIX="$p" wineserver -k >/dev/null 2>&1 || true; done' EXIT

# One build's Wine suite. It runs beside builds, so a test whose timing the load upset gets one
# more run, one at a time; a test that fails twice fails the suite, and both runs are printed.
wine_suite() {
  (cd "$1" && ctest -j"$jobs" --output-on-failure) && return 0
  echo "rerunning the failed tests once, one at a time"
  (cd "$1" && ctest --rerun-failed --output-on-failure)
}

status=0
# The Windows trees are built optimised as shipped but without debug information: the same code,
# and much less to compile and link for some sixty statically linked programs.
step "x64 build"
cmake -S "$top" -B "$build/win64" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-x86_64-posix.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/win64" -j"$jobs"

# The Wine suite spends much of its time waiting on Wine, so the x64 build's runs while the rest is
# built and tested; its output follows when it ends. Each build's tests run in a prefix of their
# own, made once before tests run side by side.
step "x64 build (vantorag64.exe) under 64-bit Wine: started, its output follows when it ends"
wine64_log="$build/wine64-suite.log"
("$top/cmake/wine64-emulator.sh" cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
 wine_suite "$build/win64") >"$wine64_log" 2>&1 &
wine64_pid=$!

# Where the 32-bit tests cannot run, the 32-bit tree builds what ships (the program, the tools,
# the benchmarks) and not the test programs no one could start.
step "32-bit build"
cmake -S "$top" -B "$build/win" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686-posix.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DVANTORAG_TESTS=$([ $runs32 = 1 ] && echo ON || echo OFF) >/dev/null
cmake --build "$build/win" -j"$jobs"

step "native build of the portable code"
cmake -S "$top" -B "$build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build/native" -j"$jobs"
(cd "$build/native" && ctest -j"$jobs" --output-on-failure) || status=1

step "fuzz targets"
CC=clang CXX=clang++ cmake -S "$top" -B "$build/fuzz" -DVANTORAG_FUZZ=ON -DVANTORAG_TESTS=OFF >/dev/null
cmake --build "$build/fuzz" -j"$jobs"
"$top/scripts/fuzz.sh" "$build/fuzz" "${FUZZ_SECONDS:-10}" || status=1

# Debian's python3 with its pytest package, whatever python3 comes first on PATH. One run per
# tool: each tool's tests have a conftest of their own, and one run would import only the first.
for suite in "$top"/tests/tools/*/ "$top"/tests/tools/test_*.py; do
  [ -e "$suite" ] || continue
  step "pytest ${suite#$top/}"
  (cd "$top" && /usr/bin/python3 -m pytest -q -p no:cacheprovider "$suite") || status=1
done

wine64_status=0
wait $wine64_pid || wine64_status=1
step "x64 build (vantorag64.exe) under 64-bit Wine: ended"
cat "$wine64_log"
[ $wine64_status = 0 ] || status=1

if [ $runs32 = 1 ]; then
  step "32-bit build (vantorag.exe) under Wine"
  "$top/cmake/wine-emulator.sh" cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
  wine_suite "$build/win" || status=1
fi

step "done"
[ $runs32 = 1 ] || echo "NOTE: the 32-bit build was built but its tests did not run: $why32"
[ $status = 0 ] && echo "ALL TESTS PASSED" || echo "SOME TESTS FAILED"
exit $status
