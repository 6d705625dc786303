#!/usr/bin/env bash
# Times a small area query (-inside over 50 x 50 units in the middle of the
# file) on the generated 20 M point file with and without its .lax index:
# with the index only the runs of the cells under the area are read. Release
# build, single-threaded, best of three; the file is read once first so that
# both runs see it in the page cache.
#
#   bash bench/lax_query.sh       (POINTS=..., LEVELS=..., BENCH_DIR=... to change)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
points="${POINTS:-20000000}"
levels="${LEVELS:-6}"
data="${BENCH_DIR:-$root/build/bench-data}"
build="$root/build/release-bench"

VOXSIFTER_NO_FUZZ=1 bash "$root/scripts/deps"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVOXSIFTER_TESTS=OFF -DVOXSIFTER_BENCH=ON >/dev/null
cmake --build "$build" -j 3 --target voxsifter make_sample lax_make >/dev/null

mkdir -p "$data"
input="$data/in_${points}.las"
if [ ! -f "$input" ]; then
  echo "generating $points points into $input"
  "$build/samples/make_sample" "$input" "$points" 7
fi
indexed="$data/lax_${points}.las"
plain="$data/nolax_${points}.las"
ln -sf "$input" "$indexed"
ln -sf "$input" "$plain"
rm -f "$data/nolax_${points}.lax"
"$build/bench/lax_make" "$indexed" "$levels"
cat "$input" >/dev/null

# The query: 50 x 50 around the middle of the header's bounding box.
read -r x y < <(od -A n -t f8 -j 179 -N 32 "$input" | tr -s ' ' '\n' | sed '/^$/d' | tr '\n' ' ' |
  awk '{ printf "%.2f %.2f\n", ($1 + $2) / 2 - 25, ($3 + $4) / 2 - 25 }')
area=(-inside "$x" "$y" "$(awk -v v="$x" 'BEGIN { printf "%.2f", v + 50 }')" "$(awk -v v="$y" 'BEGIN { printf "%.2f", v + 50 }')")

time_query() {  # label, input
  local best=""
  for _ in 1 2 3; do
    local t
    t="$( { /usr/bin/time -f "%e" "$build/tool/voxsifter" -i "$2" "${area[@]}" -every_nth 1 -o "$data/out_lax.las" \
          -quiet 2>&1 1>/dev/null; } | tail -1)"
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best="$t"; fi
  done
  local kept
  kept="$(od -A n -t u4 -j 107 -N 4 "$data/out_lax.las" | tr -d ' ')"
  printf "%-12s %6.2f s  (%s points in the area)\n" "$1" "$best" "$kept"
}

echo "input: $(du -hL "$input" | cut -f1) ($points points), index: $levels levels, $(du -h "$data/lax_${points}.lax" | cut -f1)"
echo "area: ${area[*]}"
time_query "with .lax" "$indexed"
time_query "without" "$plain"
