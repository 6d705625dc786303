#include "index/laskdtree.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

std::vector<U32> query(LASkdtreeRectangles& tree, F64 min_x, F64 min_y, F64 max_x, F64 max_y) {
  std::vector<U32> found;
  EXPECT_TRUE(tree.overlap(min_x, min_y, max_x, max_y));
  if (!tree.has_overlaps()) return found;
  U32 index;
  while (tree.get_overlap(index)) found.push_back(index);
  return found;
}

TEST(LasKdtreeRectanglesTest, MatchesBruteForceOnRandomTiles) {
  std::mt19937 random(7);
  std::uniform_real_distribution<F64> corner(0.0, 1000.0);
  std::uniform_real_distribution<F64> extent(1.0, 120.0);
  struct Box {
    F64 min_x, min_y, max_x, max_y;
  };
  std::vector<Box> boxes;
  LASkdtreeRectangles tree;
  ASSERT_TRUE(tree.init());
  for (int i = 0; i < 300; i++) {
    Box b;
    b.min_x = corner(random);
    b.min_y = corner(random);
    b.max_x = b.min_x + extent(random);
    b.max_y = b.min_y + extent(random);
    boxes.push_back(b);
    tree.add(b.min_x, b.min_y, b.max_x, b.max_y);
  }
  EXPECT_EQ(tree.num_rectangles, 300u);
  EXPECT_FALSE(tree.was_built());
  ASSERT_TRUE(tree.build());
  EXPECT_TRUE(tree.was_built());
  for (int q = 0; q < 200; q++) {
    Box query_box;
    query_box.min_x = corner(random) - 100;
    query_box.min_y = corner(random) - 100;
    query_box.max_x = query_box.min_x + extent(random) * 2;
    query_box.max_y = query_box.min_y + extent(random) * 2;
    std::vector<U32> expected;
    for (U32 i = 0; i < boxes.size(); i++) {
      const Box& b = boxes[i];
      if (b.min_x > query_box.max_x || b.min_y > query_box.max_y || query_box.min_x > b.max_x ||
          query_box.min_y > b.max_y)
        continue;
      expected.push_back(i);
    }
    EXPECT_EQ(query(tree, query_box.min_x, query_box.min_y, query_box.max_x, query_box.max_y), expected) << q;
  }
}

TEST(LasKdtreeRectanglesTest, TouchingCountsAndIdenticalRectanglesComeOnce) {
  LASkdtreeRectangles tree;
  tree.init();
  for (int i = 0; i < 5; i++) tree.add(0, 0, 10, 10);
  tree.add(20, 0, 30, 10);
  tree.build();
  EXPECT_EQ(query(tree, 5, 5, 6, 6), std::vector<U32>({0, 1, 2, 3, 4}));
  // The query's min x equals the last rectangle's max x: touching is overlap.
  EXPECT_EQ(query(tree, 30, 0, 40, 1), std::vector<U32>({5}));
  EXPECT_EQ(query(tree, 10, 10, 20, 20), std::vector<U32>({0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(query(tree, 10.5, 11, 19.5, 20), std::vector<U32>());
}

TEST(LasKdtreeRectanglesTest, EmptyAndUnbuiltTrees) {
  LASkdtreeRectangles tree;
  EXPECT_FALSE(tree.overlap(0, 0, 1, 1));
  EXPECT_FALSE(tree.has_overlaps());
  U32 index;
  EXPECT_FALSE(tree.get_overlap(index));
  tree.init();
  tree.build();
  EXPECT_TRUE(tree.overlap(0, 0, 1, 1));
  EXPECT_FALSE(tree.has_overlaps());
  // A new init starts over: not built, indices from 0.
  tree.init();
  EXPECT_FALSE(tree.was_built());
  tree.add(0, 0, 1, 1);
  tree.build();
  EXPECT_EQ(query(tree, 0, 0, 1, 1), std::vector<U32>({0}));
}

}  // namespace
