#!/usr/bin/env bash
# Thinning measured against the cost of reading the input: the floor is `cat`
# of the file twice to /dev/null (the two passes of voxel thinning), timed in
# the same run as the rules, best of three (ROUNDS=1: one run each). Each
# rule's wall time is shown as a multiple of the floor, with input points per
# second and peak memory against the budget of 64 MB + 40 bytes per occupied
# voxel. Runs for each point count of SIZES (default 2 M and 20 M; 60 M needs
# about 1.7 GB of disk and is added with SIZES="2000000 20000000 60000000").
# Single-threaded; the input is read once before the runs so that every run
# finds it in the page cache.
#
#   bash bench/thin_floor.sh            (SIZES=... and BENCH_DIR=... to change)
set -euo pipefail

if [ "${1:-}" != --one ]; then
  for points in ${SIZES:-2000000 20000000}; do
    POINTS="$points" bash "$0" --one
    echo
  done
  exit 0
fi

source "$(dirname "$0")/sample_20m.sh"

# Best of ROUNDS (3) wall times of a command, in seconds.
best_of_three() {
  local best="" t
  for _ in $(seq "${ROUNDS:-3}"); do
    /usr/bin/time -o "$data/time_floor.txt" -f "%e" "$@" >/dev/null 2>&1
    t="$(tail -1 "$data/time_floor.txt")"
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best="$t"; fi
  done
  echo "$best"
}

floor="$(best_of_three bash -c 'cat "$1" >/dev/null; cat "$1" >/dev/null' _ "$input")"
# /usr/bin/time shows hundredths: a floor below that is taken as 0.01 s.
floor="$(awk -v f="$floor" 'BEGIN { print (f > 0 ? f : 0.01) }')"
echo "input: $(du -h "$input" | cut -f1) ($points points); floor (cat twice) $floor s"
printf "%-26s %7s %7s %12s %10s %10s %9s\n" rule seconds "x floor" "M points/s" "peak MB" "budget MB" voxels

run() {  # label, tool arguments...
  local label="$1"
  shift
  local out="$data/out_floor.las" log="$data/log_floor.txt" best="" kb=0
  for _ in $(seq "${ROUNDS:-3}"); do
    rm -f "$out"
    /usr/bin/time -f "TIME %e %M" "$build/tool/voxsifter" -i "$input" -o "$out" -vv "$@" 2>"$log"
    local wall k
    read -r wall k < <(sed -n 's/^TIME //p' "$log")
    if [ -z "$best" ] || awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then best="$wall"; fi
    [ "$k" -gt "$kb" ] && kb="$k"
  done
  local voxels
  voxels="$(sed -n 's/^Marked \([0-9]*\) points for survival$/\1/p' "$log")"
  voxels="${voxels:-0}"
  awk -v l="$label" -v p="$points" -v w="$best" -v f="$floor" -v kb="$kb" -v v="$voxels" 'BEGIN {
    printf "%-26s %7.2f %7.1f %12.1f %10.1f %10.1f %9d\n",
           l, w, w / f, (w > 0 ? p / w / 1e6 : 0), kb / 1024, 64 + 40 * v / 1048576, v }'
}

run default
run highest -highest
run lowest -lowest
run closest -closest
run random_cell_occurrence -random_cell_occurrence
run use_cell_center -use_cell_center
run intensity_max -intensity_max
run attribute_max -attribute_max 0
run count_to_user_byte -count_to_user_byte
run every_nth_10 -every_nth 10
run random_nth_10 -random_nth 10
