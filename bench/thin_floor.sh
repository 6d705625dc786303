#!/usr/bin/env bash
# Thinning measured against the cost of reading the input: the floor is `cat`
# of the file twice to /dev/null (the two passes of voxel thinning), timed in
# the same run as the rules, best of three (ROUNDS=1: one run each). Each
# rule's wall time is shown as a multiple of the floor, with input points per
# second and peak memory against the budget of 64 MB + 40 bytes per occupied
# voxel. Runs for each point count of SIZES (default 2 M and 20 M; 60 M needs
# about 1.7 GB of disk and is added with SIZES="2000000 20000000 60000000").
# One thinning thread (the reader of a LAS file reads ahead on a second one
# where it can: CPU can exceed the wall time); the input is read once before
# the runs so that every run finds it in the page cache. CPU is the user plus system time of the best
# run. BASE=path/to/voxsifter times that program too, its runs alternating
# with those of this build, and adds its seconds and CPU time as the last
# columns: a before and after from one run on a machine that is not quiet.
#
#   bash bench/thin_floor.sh            (SIZES=..., ROUNDS=..., BENCH_DIR=..., BASE=... to change)
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
    /usr/bin/time -o "$scratch.time" -f "%e" "$@" >/dev/null 2>&1
    t="$(tail -1 "$scratch.time")"
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best="$t"; fi
  done
  echo "$best"
}

# Scratch files of this run only: two runs sharing BENCH_DIR must not write
# over each other's output and logs.
scratch="$data/floor_$$"
trap 'rm -f "$scratch".*' EXIT

floor="$(best_of_three bash -c 'cat "$1" >/dev/null; cat "$1" >/dev/null' _ "$input")"
# /usr/bin/time shows hundredths: a floor below that is taken as 0.01 s.
floor="$(awk -v f="$floor" 'BEGIN { print (f > 0 ? f : 0.01) }')"
echo "input: $(du -h "$input" | cut -f1) ($points points); floor (cat twice) $floor s"
printf "%-26s %7s %7s %6s %12s %10s %10s %9s" rule seconds "x floor" CPU "M points/s" "peak MB" "budget MB" voxels
[ -n "${BASE:-}" ] && printf " %7s %7s %6s" "base s" "x floor" CPU
echo

# One timed run of a program: sets wall, cpu and kb.
timed() {  # program, log, tool arguments...
  local program="$1" log="$2" out="$scratch.out.las"
  shift 2
  rm -f "$out"
  if ! /usr/bin/time -f "TIME %e %U %S %M" "$program" -i "$input" -o "$out" -vv "$@" 2>"$log"; then
    echo "failed: $program $* (log: $log)" >&2
    cp "$log" "$data/failed_floor.log"
    exit 1
  fi
  local user sys
  read -r wall user sys kb < <(sed -n 's/^TIME //p' "$log")
  cpu="$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')"
}

# Keeps the better of two (wall, cpu) pairs in best_wall, best_cpu.
better() {
  if [ -z "$best_wall" ] || awk -v a="$wall" -v b="$best_wall" 'BEGIN { exit !(a < b) }'; then
    best_wall="$wall"
    best_cpu="$cpu"
  fi
}

run() {  # label, tool arguments...
  local label="$1"
  shift
  local log="$scratch.log" best_wall="" best_cpu="" peak=0 wall cpu kb
  local base_wall="" base_cpu=""
  for _ in $(seq "${ROUNDS:-3}"); do
    if [ -n "${BASE:-}" ]; then
      local keep_wall="$best_wall" keep_cpu="$best_cpu"
      best_wall="$base_wall" best_cpu="$base_cpu"
      timed "$BASE" "$scratch.base.log" "$@"
      better
      base_wall="$best_wall" base_cpu="$best_cpu"
      best_wall="$keep_wall" best_cpu="$keep_cpu"
    fi
    timed "$build/tool/voxsifter" "$log" "$@"
    better
    [ "$kb" -gt "$peak" ] && peak="$kb"
  done
  local voxels
  voxels="$(sed -n 's/^Marked \([0-9]*\) points for survival$/\1/p' "$log")"
  voxels="${voxels:-0}"
  awk -v l="$label" -v p="$points" -v w="$best_wall" -v c="$best_cpu" -v f="$floor" -v kb="$peak" -v v="$voxels" 'BEGIN {
    printf "%-26s %7.2f %7.1f %6.2f %12.1f %10.1f %10.1f %9d",
           l, w, w / f, c, (w > 0 ? p / w / 1e6 : 0), kb / 1024, 64 + 40 * v / 1048576, v }'
  [ -n "${BASE:-}" ] && awk -v w="$base_wall" -v c="$base_cpu" -v f="$floor" 'BEGIN { printf " %7.2f %7.1f %6.2f", w, w / f, c }'
  echo
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
