// Arbitrary bytes read as `.lax` index data; an index that reads is queried
// with a rectangle, a tile and a circle over its root and a quarter of it, and
// every run of each query is walked. Halting is off and messages are silenced.
#include <cstddef>
#include <cstdint>

#include "core/bytestreamin_array.hpp"
#include "index/lasindex.hpp"
#include "fuzz_quiet.hpp"

static void walk(LASindex& index) {
  LASinterval* intervals = index.get_intervals();
  while (intervals->has_intervals()) {
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_quiet();
  ByteStreamInArrayLE stream(data, (I64)size);
  LASindex index;
  if (!index.read(&stream)) return 0;
  const LASquadtree& q = *index.get_quadtree();
  const F64 mid_x = ((F64)q.min_x + q.max_x) / 2, mid_y = ((F64)q.min_y + q.max_y) / 2;
  index.intersect_rectangle(q.min_x, q.min_y, q.max_x, q.max_y);
  walk(index);
  index.intersect_rectangle(q.min_x, q.min_y, mid_x, mid_y);
  walk(index);
  index.intersect_tile(q.min_x, q.min_y, (F32)(mid_x - q.min_x));
  walk(index);
  index.intersect_circle(mid_x, mid_y, (mid_x - q.min_x) / 2);
  walk(index);
  return 0;
}
