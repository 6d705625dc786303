#!/usr/bin/env bash
# Times voxsifter end to end on a generated file of 20 M format-1 points:
# default voxel thinning (two passes and the write), -every_nth and
# -random_nth (one pass). Prints wall time, input points per second, peak
# memory against the budget of 64 MB + 48 bytes per occupied voxel, and the
# tool's own -v/-vv timing lines, so that the passes and the write can be
# told apart. One thinning thread (the reader of a LAS file reads ahead on a
# second one where it can); the input is read once before the runs so that
# every run sees it in the page cache.
#
#   bash bench/thin_20m.sh            (POINTS=... and BENCH_DIR=... to change)
set -euo pipefail
source "$(dirname "$0")/sample_20m.sh"

run() {  # label, tool arguments...
  local label="$1"
  shift
  local out="$data/out_${label}.las" log="$data/log_${label}.txt"
  rm -f "$out"
  /usr/bin/time -f "TIME %e %M" "$build/tool/voxsifter" -i "$input" -o "$out" -vv "$@" 2>"$log"
  local wall kb
  read -r wall kb < <(sed -n 's/^TIME //p' "$log")
  local voxels
  voxels="$(sed -n 's/^Marked \([0-9]*\) points for survival$/\1/p' "$log")"
  voxels="${voxels:-0}"
  local budget_mb
  budget_mb="$(awk -v v="$voxels" 'BEGIN { printf "%.1f", 64 + 48 * v / 1048576 }')"
  awk -v l="$label" -v p="$points" -v w="$wall" -v kb="$kb" -v b="$budget_mb" -v v="$voxels" 'BEGIN {
    printf "%-14s %7.2f s  %6.1f M points/s  peak %7.1f MB  (budget %s MB, %d occupied voxels)\n",
           l, w, (w > 0 ? p / w / 1e6 : 0), kb / 1024, b, v }'
  grep -E "took|Writing|processing|Processing|Marked" "$log" | sed 's/^/    /'
}

echo "input: $(du -h "$input" | cut -f1) ($points points)"
run default
# The same with the output only counted (-nil): the difference is the file write.
run default_nil -nil
run every_nth_10 -every_nth 10
run random_nth_10 -random_nth 10

# PERF=1: where the time of the default run goes, by function.
if [ "${PERF:-0}" = 1 ] && command -v perf >/dev/null; then
  perf record -q -o "$data/perf.data" "$build/tool/voxsifter" -i "$input" -o "$data/out_perf.las" 2>/dev/null
  perf report -i "$data/perf.data" --no-children --stdio 2>/dev/null | grep -E '^ +[0-9]' | head -15
fi
