# Sourced by the scan benchmark scripts: the Wine prefix and loader for a build, Windows forms of
# Linux paths, and the wall and CPU time of one run of a Windows program.
# The caller sets top (the source tree), work (its work dir) and build (empty: the x64 loader).
export WINE_TEST_PREFIX="${WINE_TEST_PREFIX:-$work/prefix}" WINE_TEST_PREFIX64="${WINE_TEST_PREFIX:-$work/prefix}"
export WINEPREFIX="$WINE_TEST_PREFIX"
# The build dir's toolchain tells which program and Wine loader to use.
emulator=wine64-emulator.sh exe=vantorag64.exe
if [ -n "$build" ] && ! grep -q mingw-x86_64 "$build/CMakeCache.txt" 2>/dev/null; then
  emulator=wine-emulator.sh exe=vantorag.exe
fi
run() { "$top/cmake/$emulator" "$@"; }
w() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
now() { date +%s.%N; }

# CPU time besides wall time: the machine is shared, and what a run costs is its own CPU time plus
# what this prefix's wineserver, which serves no other programs, spent meanwhile. Call once the
# server is up.
find_server() {
  server_pid=$(python3 - "$WINEPREFIX" <<'PY'
import os, sys
st = os.stat(sys.argv[1])
want = "server-%x-%x" % (st.st_dev, st.st_ino)
for pid in filter(str.isdigit, os.listdir("/proc")):
    try:
        if os.path.basename(os.readlink("/proc/%s/cwd" % pid)) == want:
            print(pid)
            break
    except OSError:
        pass
PY
)
}
server_ticks() { if [ -n "$server_pid" ]; then awk '{print $14 + $15}' "/proc/$server_pid/stat"; else echo 0; fi; }
timed() {  # windows program and arguments: runs it (output to $work/out.txt), prints "<wall s>,<cpu s>"
  s0=$(server_ticks) a=$(now)
  /usr/bin/time -f "%U %S" -o "$work/time.txt" "$top/cmake/$emulator" "$@" >"$work/out.txt"
  b=$(now) s1=$(server_ticks)
  read -r u sy <"$work/time.txt"
  printf '%s,%s\n' "$(echo "$b - $a" | bc)" "$(echo "$u + $sy + ($s1 - $s0) / $(getconf CLK_TCK)" | bc -l)"
}
