#!/bin/sh
# Runs every fuzz target of a fuzz build for a bounded time, from its seed corpus.
# Usage: scripts/fuzz.sh <fuzz build dir> [seconds per target]   (long runs: seconds=3600)
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$1
seconds=${2:-10}
status=0
for target in "$dir"/fuzz/*_fuzz; do
  [ -x "$target" ] || continue
  name=$(basename "$target" _fuzz)
  work="$dir/corpus/$name"
  mkdir -p "$work"
  seeds="$top/fuzz/corpus/$name"
  [ -d "$seeds" ] || seeds=""
  echo "fuzzing $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -print_final_stats=1 "$work" $seeds 2>"$dir/$name.log" \
    || { status=1; tail -40 "$dir/$name.log"; }
  grep -E "stat::number_of_executed_units" "$dir/$name.log" || true
done
exit $status
