// Building and querying the rectangle kd-tree.
#include "index/laskdtree.hpp"

bool LASkdtreeRectangles::init() {
  num_rectangles = 0;
  bb.min_x = bb.min_y = 2e307;
  bb.max_x = bb.max_y = -2e307;
  rectangle_list = std::make_unique<std::vector<LASkdtreeRectangle>>();
  root.reset();
  overlap_set.reset();
  return true;
}

void LASkdtreeRectangles::add(const F64 min_x, const F64 min_y, const F64 max_x, const F64 max_y) {
  if (!rectangle_list) init();
  if (min_x < bb.min_x) bb.min_x = min_x;
  if (min_y < bb.min_y) bb.min_y = min_y;
  if (max_x > bb.max_x) bb.max_x = max_x;
  if (max_y > bb.max_y) bb.max_y = max_y;
  LASkdtreeRectangle rectangle;
  rectangle.min_x = min_x;
  rectangle.min_y = min_y;
  rectangle.max_x = max_x;
  rectangle.max_y = max_y;
  rectangle.index = (U32)rectangle_list->size();
  rectangle_list->push_back(rectangle);
  num_rectangles++;
}

// Axis 0 is x, 1 is y; `box` is min_x, min_y, max_x, max_y.
static void build_node(LASkdtreeRectanglesNode* node, int axis, const F64 box[4],
                       std::unique_ptr<std::vector<LASkdtreeRectangle>> list, U32 counter) {
  if (list->size() < 5 || counter > 3) {
    node->list = std::move(list);
    return;
  }
  const F64 split = (box[axis] + box[axis + 2]) * 0.5;
  auto left = std::make_unique<std::vector<LASkdtreeRectangle>>();
  auto right = std::make_unique<std::vector<LASkdtreeRectangle>>();
  for (const LASkdtreeRectangle& r : *list) {
    const F64 lo = axis == 0 ? r.min_x : r.min_y;
    const F64 hi = axis == 0 ? r.max_x : r.max_y;
    if (lo < split) left->push_back(r);
    if (hi >= split) right->push_back(r);
  }
  const size_t input_size = list->size();
  list.reset();
  F64 left_box[4] = {box[0], box[1], box[2], box[3]};
  F64 right_box[4] = {box[0], box[1], box[2], box[3]};
  left_box[axis + 2] = split;
  right_box[axis] = split;
  node->split = split;
  node->left = std::make_unique<LASkdtreeRectanglesNode>();
  node->right = std::make_unique<LASkdtreeRectanglesNode>();
  const U32 left_counter = left->size() < input_size ? 0 : counter + 1;
  const U32 right_counter = right->size() < input_size ? 0 : counter + 1;
  build_node(node->left.get(), 1 - axis, left_box, std::move(left), left_counter);
  build_node(node->right.get(), 1 - axis, right_box, std::move(right), right_counter);
}

bool LASkdtreeRectangles::build() {
  root = std::make_unique<LASkdtreeRectanglesNode>();
  if (!rectangle_list) rectangle_list = std::make_unique<std::vector<LASkdtreeRectangle>>();
  const F64 box[4] = {bb.min_x, bb.min_y, bb.max_x, bb.max_y};
  build_node(root.get(), 0, box, std::move(rectangle_list), 0);
  overlap_set = std::make_unique<std::set<U32>>();
  overlap_iterator = overlap_set->end();
  return true;
}

static void overlap_node(const LASkdtreeRectanglesNode* node, int axis, const F64 query[4], std::set<U32>& found) {
  if (node->list) {
    for (const LASkdtreeRectangle& r : *node->list) {
      if (r.min_x > query[2] || r.min_y > query[3] || query[0] > r.max_x || query[1] > r.max_y) continue;
      found.insert(r.index);
    }
    return;
  }
  if (node->split > query[axis]) overlap_node(node->left.get(), 1 - axis, query, found);
  if (query[axis + 2] >= node->split) overlap_node(node->right.get(), 1 - axis, query, found);
}

bool LASkdtreeRectangles::overlap(const F64 min_x, const F64 min_y, const F64 max_x, const F64 max_y) {
  if (!was_built()) return false;
  overlap_set->clear();
  overlap_iterator = overlap_set->end();
  const F64 query[4] = {min_x, min_y, max_x, max_y};
  overlap_node(root.get(), 0, query, *overlap_set);
  return true;
}

bool LASkdtreeRectangles::has_overlaps() {
  if (!overlap_set || overlap_set->empty()) return false;
  overlap_iterator = overlap_set->begin();
  return true;
}

bool LASkdtreeRectangles::get_overlap(U32& index) {
  if (!overlap_set || overlap_iterator == overlap_set->end()) return false;
  index = *overlap_iterator;
  ++overlap_iterator;
  return true;
}
