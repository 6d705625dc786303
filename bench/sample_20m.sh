# Sourced by the benchmarks on the generated file of 20 M format-1 points:
# builds the release program and the sample generator, generates the file
# once (POINTS=... and BENCH_DIR=... to change) and reads it so that every
# run finds it in the page cache. Sets root, points, data, build and input.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
points="${POINTS:-20000000}"
data="${BENCH_DIR:-$root/build/bench-data}"
build="$root/build/release"

VOXSIFTER_NO_FUZZ=1 bash "$root/scripts/deps"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVOXSIFTER_TESTS=OFF >/dev/null
cmake --build "$build" -j 3 --target voxsifter make_sample >/dev/null

mkdir -p "$data"
input="$data/in_${points}.las"
if [ ! -f "$input" ]; then
  echo "generating $points points into $input"
  "$build/samples/make_sample" "$input" "$points" 7
fi
cat "$input" >/dev/null
