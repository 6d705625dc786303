// A kd-tree over the bounding rectangles of input files, so that the read
// opener finds the neighbours of a tile without comparing it with every file.
// Inner nodes split their box in the middle, alternately along x and y; a
// rectangle that straddles a split sits in both halves, and a query reports
// each rectangle that overlaps or touches it once, in ascending index order.
#pragma once

#include <memory>
#include <set>
#include <vector>

#include "core/mydefs.hpp"

struct LASkdtreeRectangle {
  F64 min_x = 0.0, min_y = 0.0, max_x = 0.0, max_y = 0.0;
  U32 index = 0;
};

// A leaf holds a rectangle list; an inner node holds its split and children.
struct LASkdtreeRectanglesNode {
  F64 split = 0.0;
  std::unique_ptr<LASkdtreeRectanglesNode> left;
  std::unique_ptr<LASkdtreeRectanglesNode> right;
  std::unique_ptr<std::vector<LASkdtreeRectangle>> list;
};

// Owns its rectangle list (until build hands it to the tree), the tree and the
// result set of the last query.
class LASkdtreeRectangles {
 public:
  // Empties everything; must come before the first add.
  bool init();
  // Appends a rectangle; its index is the number added before it since init.
  void add(const F64 min_x, const F64 min_y, const F64 max_x, const F64 max_y);
  // Builds the tree from the rectangles added; add needs a new init after it.
  bool build();
  bool was_built() const { return root != nullptr && overlap_set != nullptr; }
  // Collects every rectangle that overlaps or touches the query; false when
  // the tree was not built.
  bool overlap(const F64 min_x, const F64 min_y, const F64 max_x, const F64 max_y);
  // True when the last query found something; starts the hand-out at the
  // smallest index.
  bool has_overlaps();
  // The next index found, ascending; false when none is left.
  bool get_overlap(U32& index);

  U32 num_rectangles = 0;
  LASkdtreeRectangle bb;

 private:
  std::unique_ptr<std::vector<LASkdtreeRectangle>> rectangle_list;
  std::unique_ptr<LASkdtreeRectanglesNode> root;
  std::unique_ptr<std::set<U32>> overlap_set;
  std::set<U32>::const_iterator overlap_iterator;
};
