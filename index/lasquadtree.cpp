// The quadtree of a `.lax` index: reading its block, the adaptive bitmap of
// subdivided cells and the descents that find the cells of an area. Midpoints
// are computed in single precision, as the index was built with them.
#include "index/lasquadtree.hpp"

#include <algorithm>
#include <cstring>

#include "core/lasmessage.hpp"
#include "index/lasindexread.hpp"

bool LASquadtree::read(ByteStreamIn* stream) {
  const char* owner = "(LASquadtree)";
  char signature[5];
  if (!lasindex_read_signature(stream, signature, owner, "LASspatial signature") ||
      !lasindex_check_signature(signature, "LASS", owner, "LASspatial signature")) {
    return false;
  }
  U32 type = 0;
  if (!lasindex_read_field(stream, type, owner, "LASspatial type")) return false;
  if (type != 0) {
    laserror("(LASquadtree): unknown LASspatial type %u", type);
    return false;
  }
  if (!lasindex_read_signature(stream, signature, owner, "signature")) return false;
  if (strncmp(signature, "LASQ", 4) == 0) {
    U32 version = 0;
    if (!lasindex_read_field(stream, version, owner, "version") || !lasindex_read_field(stream, levels, owner, "levels")) {
      return false;
    }
  } else {
    // An older block: those four bytes were the levels.
    memcpy(&levels, signature, 4);
  }
  U32 level_index = 0, implicit_levels = 0;
  if (!lasindex_read_field(stream, level_index, owner, "level_index") ||
      !lasindex_read_field(stream, implicit_levels, owner, "implicit_levels") ||
      !lasindex_read_field(stream, min_x, owner, "min_x") || !lasindex_read_field(stream, max_x, owner, "max_x") ||
      !lasindex_read_field(stream, min_y, owner, "min_y") || !lasindex_read_field(stream, max_y, owner, "max_y")) {
    return false;
  }
  // Deeper trees have cell indices past the level table; their uniform
  // descent alone would visit more than 4^15 cells.
  if (levels > LAS_QUADTREE_MAX_LEVELS) {
    laserror("(LASquadtree): %u levels are more than the %u supported", levels, LAS_QUADTREE_MAX_LEVELS);
    return false;
  }
  return true;
}

U32 LASquadtree::level_of(const U32 cell_index) {
  U32 level = 0;
  while (level < 16 && level_start[level + 1] <= cell_index) level++;
  return level;
}

bool LASquadtree::manage_cell(const U32 cell_index) {
  U32 level = level_of(cell_index);
  if (level > levels) return false;
  adaptive_on = true;
  // Only ancestors get bits, and they all lie below the finest level's start.
  const size_t most_words = (level_start[levels] >> 5) + 1;
  U32 index = cell_index;
  U32 local = cell_index - level_start[level];
  const U32 own_word = index >> 5;
  if (own_word < adaptive.size()) adaptive[own_word] &= ~(1u << (index & 31));
  while (level > 0) {
    level--;
    local >>= 2;
    index = level_start[level] + local;
    const U32 word = index >> 5;
    if (word >= adaptive.size()) {
      adaptive.resize(std::min(most_words, std::max<size_t>(word + 1, 2 * (size_t)word)), 0u);
    }
    const U32 bit = 1u << (index & 31);
    if (adaptive[word] & bit) break;
    adaptive[word] |= bit;
  }
  return true;
}

namespace {

// The query's bounding box, in the precision its kind compares in.
template <typename T>
struct QueryBox {
  T min_x, min_y, max_x, max_y;
};

// The halves of a cell a query range needs: 1 the lower, 2 the upper, 3 both.
template <typename T>
int halves(const F32 mid, const T q_min, const T q_max) {
  if ((T)mid >= q_max) return 1;
  if ((T)mid > q_min) return 3;
  return 2;
}

template <typename T>
bool misses_root(const QueryBox<T>& q, const LASquadtree& tree) {
  return (T)tree.min_x >= q.max_x || (T)tree.max_x < q.min_x || (T)tree.min_y >= q.max_y || (T)tree.max_y < q.min_y;
}

}  // namespace

template <typename Box, typename Meets>
void LASquadtree::intersect_with_cells(const Box& box, const Meets& meets, const F32 cell_min_x, const F32 cell_max_x,
                                       const F32 cell_min_y, const F32 cell_max_y, const U32 level,
                                       const U32 cell_index) {
  const bool leaf = adaptive_on ? !(level < levels && is_subdivided(level_start[level] + cell_index)) : level == levels;
  if (leaf) {
    if (meets(cell_min_x, cell_max_x, cell_min_y, cell_max_y)) {
      intersected_cells.push_back((I32)(adaptive_on ? level_start[level] + cell_index : cell_index));
    }
    return;
  }
  const F32 mid_x = (cell_min_x + cell_max_x) * 0.5f;
  const F32 mid_y = (cell_min_y + cell_max_y) * 0.5f;
  const int hx = halves(mid_x, box.min_x, box.max_x);
  const int hy = halves(mid_y, box.min_y, box.max_y);
  for (U32 q = 0; q < 4; q++) {
    const bool upper_x = q & 1, upper_y = q & 2;
    if (!(hx & (upper_x ? 2 : 1)) || !(hy & (upper_y ? 2 : 1))) continue;
    intersect_with_cells(box, meets, upper_x ? mid_x : cell_min_x, upper_x ? cell_max_x : mid_x,
                         upper_y ? mid_y : cell_min_y, upper_y ? cell_max_y : mid_y, level + 1, 4 * cell_index + q);
  }
}

template <typename Box, typename Meets>
U32 LASquadtree::intersect(const Box& box, const Meets& meets) {
  intersected_cells.clear();
  queried = true;
  next_cell = 0;
  if (misses_root(box, *this)) return 0;
  intersect_with_cells(box, meets, min_x, max_x, min_y, max_y, 0, 0);
  return (U32)intersected_cells.size();
}

static bool any_cell(F32, F32, F32, F32) { return true; }

U32 LASquadtree::intersect_rectangle(const F64 r_min_x, const F64 r_min_y, const F64 r_max_x, const F64 r_max_y) {
  return intersect(QueryBox<F64>{r_min_x, r_min_y, r_max_x, r_max_y}, any_cell);
}

U32 LASquadtree::intersect_tile(const F32 ll_x, const F32 ll_y, const F32 size) {
  const F32 ur_x = ll_x + size;
  const F32 ur_y = ll_y + size;
  return intersect(QueryBox<F32>{ll_x, ll_y, ur_x, ur_y}, any_cell);
}

U32 LASquadtree::intersect_circle(const F64 center_x, const F64 center_y, const F64 radius) {
  const QueryBox<F64> box{center_x - radius, center_y - radius, center_x + radius, center_y + radius};
  return intersect(box, [&](F32 cell_min_x, F32 cell_max_x, F32 cell_min_y, F32 cell_max_y) {
    return intersect_circle_with_rectangle(center_x, center_y, radius, cell_min_x, cell_max_x, cell_min_y, cell_max_y);
  });
}

bool LASquadtree::intersect_circle_with_rectangle(const F64 center_x, const F64 center_y, const F64 radius,
                                                  const F32 r_min_x, const F32 r_max_x, const F32 r_min_y,
                                                  const F32 r_max_y) {
  F64 dx = 0, dy = 0;
  if (center_x < r_min_x) dx = r_min_x - center_x;
  else if (center_x > r_max_x) dx = center_x - r_max_x;
  if (center_y < r_min_y) dy = r_min_y - center_y;
  else if (center_y > r_max_y) dy = center_y - r_max_y;
  if (dx != 0 && dy != 0) return radius * radius > dx * dx + dy * dy;
  if (dx != 0) return radius > dx;
  if (dy != 0) return radius > dy;
  return true;
}

bool LASquadtree::get_intersected_cells() {
  next_cell = 0;
  return queried && !intersected_cells.empty();
}

bool LASquadtree::has_more_cells() {
  if (!queried || next_cell >= intersected_cells.size()) return false;
  current_cell = (U32)intersected_cells[next_cell];
  if (!adaptive_on) current_cell += level_start[levels];
  next_cell++;
  return true;
}
