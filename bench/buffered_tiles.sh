#!/usr/bin/env bash
# Times voxsifter on 9 tiles of about 1 M points each (a 3 x 3 cut of one
# generated 9 M point square of 1.5 km), default voxel thinning, without a
# buffer and with "-buffered 10": once with every other tile named as a
# neighbour, once from a list file with bounds, where the kd-tree picks the
# neighbours. Prints wall time (best of 3 runs), points per second of tile
# input, peak memory and the buffer points added. One thinning thread (the
# reader of a LAS file reads ahead on a second one where it can); the tiles
# are read once before the runs so that every run sees them in the page cache.
# As .lax files are not read, each tile reads its touching neighbours in full
# to find the buffer points: that is where the extra time goes.
#
#   bash bench/buffered_tiles.sh      (POINTS=..., RUNS=... and BENCH_DIR=... to change)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
points="${POINTS:-9000000}"
data="${BENCH_DIR:-$root/build/bench-data}/tiles_${points}"
build="$root/build/release"

VOXSIFTER_NO_FUZZ=1 bash "$root/scripts/deps"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVOXSIFTER_TESTS=OFF >/dev/null
cmake --build "$build" -j 3 --target voxsifter make_sample >/dev/null
voxsifter="$build/tool/voxsifter"

mkdir -p "$data"
# The cut: 3 x 3 equal parts of the generated square's box, one line per tile
# ("i j min_x min_y max_x max_y"; the outer tiles reach a metre beyond it).
cuts="$data/cuts.txt"
if [ ! -f "$data/t22.las" ] || [ ! -f "$cuts" ]; then
  echo "generating $points points and cutting them into 3 x 3 tiles"
  "$build/samples/make_sample" "$data/all.las" "$points" 7
  # max_x, min_x, max_y, min_y of the LAS 1.2 header.
  read -r max_x min_x max_y min_y < <(od -A n -t f8 -j 179 -N 32 "$data/all.las" | tr -s ' \n' '  ' && echo)
  awk -v x0="$min_x" -v x1="$max_x" -v y0="$min_y" -v y1="$max_y" 'BEGIN {
    dx = (x1 - x0) / 3; dy = (y1 - y0) / 3;
    for (i = 0; i < 3; i++) for (j = 0; j < 3; j++)
      printf "%d %d %.2f %.2f %.2f %.2f\n", i, j, (i ? x0 + i * dx : x0 - 1), (j ? y0 + j * dy : y0 - 1),
             (i < 2 ? x0 + (i + 1) * dx : x1 + 1), (j < 2 ? y0 + (j + 1) * dy : y1 + 1) }' >"$cuts"
  while read -r i j a b c d; do
    "$voxsifter" -i "$data/all.las" -inside "$a" "$b" "$c" "$d" -every_nth 1 -o "$data/t$i$j.las" -quiet
  done <"$cuts"
  rm "$data/all.las"
fi
tiles=("$data"/t??.las)
cat "${tiles[@]}" >/dev/null

# A list file with each tile's rectangle, as "ID,points,min_x,min_y,max_x,max_y,name".
list="$data/tiles.txt"
while read -r i j a b c d; do
  t="$data/t$i$j.las"
  n="$(od -A n -t u4 -j 107 -N 4 "$t" | tr -d ' ')"  # the LAS 1.2 point count
  echo "$((3 * i + j)),$n,$a,$b,$c,$d,$t"
done <"$cuts" >"$list"
total="$(awk -F, '{ s += $2 } END { print s }' "$list")"

run() {  # label, input arguments...; the best of RUNS runs (default 3)
  local label="$1"
  shift
  local log="$data/log_${label}.txt" wall="" kb="" buffered
  for _ in $(seq "${RUNS:-3}"); do
    rm -f "$data"/*_"$label".las
    /usr/bin/time -f "TIME %e %M" "$voxsifter" "$@" -odix "_$label" -v 2>"$log"
    local w k
    read -r w k < <(sed -n 's/^TIME //p' "$log")
    if [ -z "$wall" ] || awk -v a="$w" -v b="$wall" 'BEGIN { exit !(a < b) }'; then
      wall="$w"
      kb="$k"
    fi
  done
  buffered="$(sed -n 's/^LASreaderBuffered: adding \([0-9]*\) buffer points.$/\1/p' "$log" | awk '{ s += $1 } END { print s + 0 }')"
  awk -v l="$label" -v p="$total" -v w="$wall" -v kb="$kb" -v b="$buffered" 'BEGIN {
    printf "%-12s %7.2f s  %6.2f M tile points/s  peak %7.1f MB  %d buffer points\n",
           l, w, (w > 0 ? p / w / 1e6 : 0), kb / 1024, b }'
}

echo "input: ${#tiles[@]} tiles, $total points"
run plain -i "${tiles[@]}"
run buffered -i "${tiles[@]}" -buffered 10
run listed -lof "$list" -buffered 10
