#!/bin/sh
# Runs every fuzz target of a fuzz build for a bounded time, from its seed corpus, as many at once
# as the machine has cores (each target is one process on one core).
# Usage: scripts/fuzz.sh <fuzz build dir> [seconds per target]   (long runs: seconds=3600)
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$1
seconds=${2:-10}
jobs=${FUZZ_JOBS:-$(nproc)}

# fuzz_one <target>: one bounded run; its log is kept beside the build, and its tail is printed
# when the target fails.
fuzz_one() {
  name=$(basename "$1" _fuzz)
  work="$dir/corpus/$name"
  mkdir -p "$work"
  seeds="$top/fuzz/corpus/$name"
  [ -d "$seeds" ] || seeds=""
  if "$1" -max_total_time="$seconds" -print_final_stats=1 "$work" $seeds 2>"$dir/$name.log"; then
    echo "fuzzed $name for ${seconds}s: $(grep -E 'stat::number_of_executed_units' "$dir/$name.log" | tr -s ' ')"
  else
    echo "FUZZ FAILURE in $name:"; tail -40 "$dir/$name.log"; return 1
  fi
}

status=0 running=0 pids=""
for target in "$dir"/fuzz/*_fuzz; do
  [ -x "$target" ] || continue
  fuzz_one "$target" & pids="$pids $!"
  running=$((running + 1))
  if [ $running -ge "$jobs" ]; then
    for pid in $pids; do wait "$pid" || status=1; done
    running=0 pids=""
  fi
done
for pid in $pids; do wait "$pid" || status=1; done
exit $status
