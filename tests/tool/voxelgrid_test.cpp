// Grid arithmetic that both passes share: cell counts, clamping of any double
// (NaN, infinities, far outside the box) before it becomes an index, keys,
// centres, and the identity of a point.
#include "tool/voxelgrid.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

namespace {

const F64 INF = std::numeric_limits<F64>::infinity();
const F64 NaN = std::numeric_limits<F64>::quiet_NaN();

TEST(VoxelGrid, CellsAlongAnAxis) {
  struct Case {
    const char* name;
    F64 extent, step;
    U64 cells;
  } cases[] = {
      {"whole_steps", 10, 2, 5},
      {"partial_step_rounds_up", 10.5, 2, 6},
      {"less_than_one_step", 0.1, 2, 1},
      {"flat", 0, 2, 1},
      {"inverted", -10, 2, 1},
      {"nan_extent", NaN, 2, 1},
      {"nan_step", 10, NaN, 1},
      {"infinite_step", 10, INF, 1},
      {"infinite_extent_saturates", INF, 2, U64_MAX},
      {"tiny_step_saturates", 1e10, 1e-300, U64_MAX},
      {"just_below_two_to_64", 18446744073709549568.0, 1, 18446744073709549568ull},
  };
  for (const Case& c : cases) EXPECT_EQ(VoxelGrid::cellsAlong(c.extent, c.step), c.cells) << c.name;
}

TEST(VoxelGrid, IndexIsClampedBeforeConversion) {
  struct Case {
    const char* name;
    F64 q;
    U64 n;
    U64 index;
  } cases[] = {
      {"inside", 2.7, 5, 2},
      {"first_cell", 0.99, 5, 0},
      {"below_box", -3.5, 5, 0},
      {"far_below", -1e300, 5, 0},
      {"minus_infinity", -INF, 5, 0},
      {"nan_to_first", NaN, 5, 0},
      {"at_max_of_whole_steps", 5.0, 5, 4},
      {"beyond_max", 7.2, 5, 4},
      {"far_beyond", 1e300, 5, 4},
      {"infinity_to_last", INF, 5, 4},
      {"huge_axis", 1e19, U64_MAX, 10000000000000000000ull},
      {"two_to_64_huge_axis", 18446744073709551616.0, U64_MAX, U64_MAX - 1},
  };
  for (const Case& c : cases) EXPECT_EQ(VoxelGrid::indexAlong(c.q, c.n), c.index) << c.name;
}

TEST(VoxelGrid, LocateKeyAndCentre) {
  // 0..10 by 2 in x (5 cells), 0..4 in y (2), flat z (1).
  VoxelGrid grid(2.0, 1.0, 0, 10, 0, 4, 7, 7);
  EXPECT_EQ(grid.n_x, 5u);
  EXPECT_EQ(grid.n_y, 2u);
  EXPECT_EQ(grid.n_z, 1u);
  EXPECT_FALSE(grid.wide);
  EXPECT_EQ(grid.numberOfVoxels(), 10u);

  VoxelTriple cell;
  grid.locate(10.0, 4.0, 7.0, cell);  // the far corner lies in the last cells
  EXPECT_EQ(cell, (VoxelTriple{4, 1, 0}));
  EXPECT_EQ(grid.key(cell), 9u);
  F64 centre[3];
  grid.center(cell, centre);
  EXPECT_EQ(centre[0], 9.0);
  EXPECT_EQ(centre[1], 3.0);
  EXPECT_EQ(centre[2], 7.5);

  grid.locate(-5.0, NaN, 100.0, cell);
  EXPECT_EQ(cell, (VoxelTriple{0, 0, 0}));

  std::set<U64> keys;
  for (U64 i = 0; i < 5; i++)
    for (U64 j = 0; j < 2; j++) keys.insert(grid.key({i, j, 0}));
  EXPECT_EQ(keys.size(), 10u);
  EXPECT_EQ(*keys.rbegin(), 9u);
}

TEST(VoxelGrid, FlatAxesStillSeparateTheOthers) {
  VoxelGrid grid(2.0, 2.0, 5, 5, 0, 10, 0, 10);
  EXPECT_EQ(grid.n_x, 1u);
  VoxelTriple a, b;
  grid.locate(5, 1, 1, a);
  grid.locate(5, 1, 9, b);
  EXPECT_NE(grid.key(a), grid.key(b));
}

TEST(VoxelGrid, WideGridsAreDetected) {
  struct Case {
    const char* name;
    F64 extent, step;
    bool wide;
    U64 voxels;
  } cases[] = {
      {"small", 100, 1, false, 1000000},
      {"fits_just", 2642245, 1, false, 2642245ull * 2642245ull * 2642245ull},  // 2642245^3 < 2^64
      {"overflows_just", 2642246, 1, true, U64_MAX},
      {"saturated_axes", 1e300, 1, true, U64_MAX},
  };
  for (const Case& c : cases) {
    VoxelGrid grid(c.step, c.step, 0, c.extent, 0, c.extent, 0, c.extent);
    EXPECT_EQ(grid.wide, c.wide) << c.name;
    EXPECT_EQ(grid.numberOfVoxels(), c.voxels) << c.name;
    const F64 n = static_cast<F64>(grid.n_x);
    EXPECT_DOUBLE_EQ(grid.numberOfVoxelsF64(), n * n * n) << c.name;
  }
}

using utils::PointHash;

TEST(PointHash, IdentityByContent) {
  const U64 base = PointHash::computeHash(1.5, 2.5, 3.5, 4.5);
  EXPECT_EQ(PointHash::computeHash(1.5, 2.5, 3.5, 4.5), base);
  // Swapped x and y, other z, other time: all distinct identities.
  EXPECT_NE(PointHash::computeHash(2.5, 1.5, 3.5, 4.5), base);
  EXPECT_NE(PointHash::computeHash(1.5, 2.5, 3.6, 4.5), base);
  EXPECT_NE(PointHash::computeHash(1.5, 2.5, 3.5, 4.6), base);
  EXPECT_NE(PointHash::computeHash(1.5, 3.5, 2.5, 4.5), base);
  EXPECT_NE(PointHash::computeHash(1.5, 2.5, 4.5, 3.5), base);
  // Signed zeros are one value in every position.
  EXPECT_EQ(PointHash::computeHash(0.0, -0.0, 0.0, -0.0), PointHash::computeHash(-0.0, 0.0, -0.0, 0.0));
  // NaN is hashed by its bits and so still equals itself.
  EXPECT_EQ(PointHash::computeHash(NaN, 1, 2, 3), PointHash::computeHash(NaN, 1, 2, 3));
}

// Points of one xy column without GPS time, or the grid positions of one
// voxel: no two may share an identity.
TEST(PointHash, NoCollisionsAmongNeighbours) {
  std::set<U64> seen;
  U64 count = 0;
  for (int i = -20; i < 20; i++)
    for (int j = -20; j < 20; j++)
      for (int k = -20; k < 20; k++) {
        seen.insert(PointHash::computeHash(i * 0.01, j * 0.01, k * 0.01, 0.0));
        count++;
      }
  EXPECT_EQ(seen.size(), count);
}

}  // namespace
