// The point-run half of a `.lax` index: for every quadtree cell the runs of
// point indices (inclusive intervals) whose points lie in it. A query merges
// the runs of its cells into one ascending list, fusing runs that lie close
// together so that reading seeks less.
#pragma once

#include <set>
#include <unordered_map>
#include <vector>

#include "core/mydefs.hpp"

class ByteStreamIn;

struct LASintervalCell {
  U32 start = 0;
  U32 end = 0;  // inclusive
};

// One cell's runs with the counts the index records for it. A cell listed
// without runs holds the single run 0..0 and covers nothing.
struct LASintervalStartCell {
  std::vector<LASintervalCell> runs{LASintervalCell{}};
  U32 point_count = 0;
  U32 covered_count = 0;
};

class LASinterval {
 public:
  I32 cell_index = 0;
  U32 start = 0, end = 0;
  U32 point_count = 0, covered_count = 0;

  explicit LASinterval(const U32 threshold = 1000) : threshold(threshold) {}

  bool read(ByteStreamIn* stream);
  // A walk over every cell in the order the index lists them.
  void get_cells();
  bool has_cells();
  bool get_cell(const I32 cell_index);
  bool add_current_cell_to_merge_cell_set();
  // Merges the runs of the cells in the set; `erase` is not supported and
  // taken as false. False for an empty set.
  bool merge(const bool erase = false);
  void clear_merge_cell_set() { merge_cell_set.clear(); }
  bool has_intervals();
  size_t number_of_cells() const { return cells.size(); }

 private:
  // Cells in the order of the index; the table maps a cell index into it.
  std::vector<LASintervalStartCell> cells;
  std::vector<I32> cell_indices;
  std::unordered_map<I32, size_t> cell_table;
  std::set<const LASintervalStartCell*> merge_cell_set;
  U32 threshold;
  static constexpr size_t NO_CELL = (size_t)-1;
  size_t iteration_cell = NO_CELL;
  // The runs has_intervals hands out and the next one's position.
  const std::vector<LASintervalCell>* next_runs = nullptr;
  size_t next_interval = 0;
  // The cell get_cell or has_cells chose last.
  const LASintervalStartCell* current = nullptr;
  std::vector<LASintervalCell> merged;

  void choose(const size_t position);
};
