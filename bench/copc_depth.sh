#!/usr/bin/env bash
# Times a read of a generated 5 M point COPC file in full against a read limited
# to levels 0 to 2 ("-max_depth 2"), and shows how many bytes each read takes
# from the file. Release build, single-threaded; the file is generated once.
#
#   bash bench/copc_depth.sh           (POINTS=... and BENCH_DIR=... to change)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
points="${POINTS:-5000000}"
data="${BENCH_DIR:-$root/build/bench-data}"
build="$root/build/release-bench"

VOXSIFTER_NO_FUZZ=1 bash "$root/scripts/deps"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVOXSIFTER_TESTS=OFF -DVOXSIFTER_BENCH=ON >/dev/null
cmake --build "$build" -j 3 --target copc_read_bench >/dev/null
mkdir -p "$data"
"$build/bench/copc_read_bench" "$data/copc_${points}.las" "$points"
