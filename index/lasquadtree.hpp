// The spatial half of a `.lax` index: the quadtree over a file's bounding
// rectangle, which answers which cells can meet a rectangle, tile or circle.
// Which point runs a cell holds is LASinterval's business; LASindex joins the
// two.
#pragma once

#include <vector>

#include "core/mydefs.hpp"

class ByteStreamIn;

// The deepest level an index may have: every global cell index then stays
// below the first index of level 16, the last entry of the level table.
constexpr U32 LAS_QUADTREE_MAX_LEVELS = 15;

class LASquadtree {
 public:
  U32 levels = 0;
  F32 min_x = 0, max_x = 0, min_y = 0, max_y = 0;
  // Global index of the cell has_more_cells delivered last.
  U32 current_cell = 0;
  // First global index of each level: (4^l - 1) / 3.
  static constexpr U32 level_start[17] = {0,        1,         5,         21,        85,        341,
                                          1365,     5461,      21845,     87381,     349525,    1398101,
                                          5592405,  22369621,  89478485,  357913941, 1431655765};

  LASquadtree() = default;

  // The spatial block of index data at the stream's position. An index deeper
  // than LAS_QUADTREE_MAX_LEVELS is refused.
  bool read(ByteStreamIn* stream);
  // Records an indexed cell: its ancestors become subdivided in the adaptive
  // bitmap. False for an index beyond the finest level.
  bool manage_cell(const U32 cell_index);
  // Each stores the cells that meet the area and returns their number.
  U32 intersect_rectangle(const F64 r_min_x, const F64 r_min_y, const F64 r_max_x, const F64 r_max_y);
  U32 intersect_tile(const F32 ll_x, const F32 ll_y, const F32 size);
  U32 intersect_circle(const F64 center_x, const F64 center_y, const F64 radius);
  bool get_intersected_cells();
  bool has_more_cells();

  // The level of a global index and its local index within that level.
  static U32 level_of(const U32 cell_index);
  bool is_adaptive() const { return adaptive_on; }

 private:
  // Bit (index mod 32) of word index / 32 marks a subdivided cell; words past
  // the end count as clear. Only ancestors are ever set, so the words stop
  // below the finest level's first index.
  std::vector<U32> adaptive;
  bool adaptive_on = false;
  std::vector<I32> intersected_cells;
  bool queried = false;
  U32 next_cell = 0;

  bool is_subdivided(const U32 cell_index) const {
    const U32 word = cell_index >> 5;
    return word < adaptive.size() && (adaptive[word] & (1u << (cell_index & 31))) != 0;
  }

  // The descent from the root: adaptive through the bitmap's subdivided cells
  // (global indices of leaves), else uniform to the finest level (local
  // indices). `Box` is the query's bounding box, `meets` the leaf test.
  template <typename Box, typename Meets>
  void intersect_with_cells(const Box& box, const Meets& meets, const F32 cell_min_x, const F32 cell_max_x,
                            const F32 cell_min_y, const F32 cell_max_y, const U32 level, const U32 cell_index);
  template <typename Box, typename Meets>
  U32 intersect(const Box& box, const Meets& meets);

 public:
  static bool intersect_circle_with_rectangle(const F64 center_x, const F64 center_y, const F64 radius,
                                              const F32 r_min_x, const F32 r_max_x, const F32 r_min_y,
                                              const F32 r_max_y);
};
