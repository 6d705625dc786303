// Grid arithmetic that both passes share: cell counts, the index of any
// double (inside the box, continued beyond it, NaN, infinities, far outside)
// before it becomes an integer, keys, centres, and the identity of a point.
#include "tool/voxelgrid.hpp"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <iterator>
#include <limits>
#include <set>
#include <vector>

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
      {"infinite_extent_saturates", INF, 2, VoxelGrid::MAX_CELLS},
      {"tiny_step_saturates", 1e10, 1e-300, VoxelGrid::MAX_CELLS},
      {"just_below_two_to_62", 4611686018427387392.0, 1, 4611686018427387392ull},
  };
  for (const Case& c : cases) EXPECT_EQ(VoxelGrid::cellsAlong(c.extent, c.step), c.cells) << c.name;
}

// Inside the box (edges included) a coordinate keeps the cell of the box's
// grid; outside, the grid goes on, below the box too, up to the index limit.
TEST(VoxelGrid, IndexInsideAndBeyondTheBox) {
  const F64 LIMIT = VoxelGrid::INDEX_LIMIT;
  struct Case {
    const char* name;
    F64 c;  // on an axis from 0 to 10 by 2 (5 cells)
    I64 index;
    bool inside;
  } cases[] = {
      {"inside", 5.4, 2, true},
      {"first_cell", 1.99, 0, true},
      {"at_min", 0.0, 0, true},
      {"at_max_of_whole_steps", 10.0, 4, true},
      {"just_below_box", -0.5, -1, false},
      {"below_box", -7.0, -4, false},
      {"just_beyond_max", 10.5, 5, false},
      {"beyond_box", 17.0, 8, false},
      {"far_below", -1e300, (I64)-LIMIT, false},
      {"minus_infinity", -INF, (I64)-LIMIT, false},
      {"far_beyond", 1e300, (I64)LIMIT, false},
      {"infinity", INF, (I64)LIMIT, false},
      {"nan_to_first", NaN, 0, true},
  };
  for (const Case& c : cases) {
    I64 i = 77;
    EXPECT_EQ(VoxelGrid::indexAlong(c.c, 0, 10, 2, 5, i), c.inside) << c.name;
    EXPECT_EQ(i, c.index) << c.name;
  }
  // An axis whose last cell reaches beyond the box: a point past the maximum
  // but inside that cell still lies outside the box, in that same cell.
  I64 i;
  EXPECT_FALSE(VoxelGrid::indexAlong(10.5, 0, 10.2, 2, 6, i));
  EXPECT_EQ(i, 5);
  // Huge boxes never index beyond the limit.
  EXPECT_TRUE(VoxelGrid::indexAlong(1e300, 0, 1e300, 1, VoxelGrid::MAX_CELLS, i));
  EXPECT_EQ(i, (I64)VoxelGrid::MAX_CELLS - 1);
}

TEST(VoxelGrid, StepsThatIndexEveryCoordinate) {
  // Raw 32-bit integers at 0.01 around an offset of 500000.
  const F64 lo = -2147483648.0 * 0.01 + 500000, hi = 2147483647.0 * 0.01 + 500000;
  EXPECT_TRUE(VoxelGrid::indexes(lo, hi, 500000, 2.0));
  EXPECT_TRUE(VoxelGrid::indexes(lo, hi, 500000, 1e-10));
  EXPECT_FALSE(VoxelGrid::indexes(lo, hi, 500000, 1e-12));
  EXPECT_FALSE(VoxelGrid::indexes(lo, hi, 500000, 1e-300));
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
  EXPECT_TRUE(grid.locate(10.0, 4.0, 7.0, cell));  // the far corner lies in the last cells
  EXPECT_EQ(cell, (VoxelTriple{4, 1, 0}));
  EXPECT_EQ(grid.key(cell), 9u);
  F64 centre[3];
  grid.center(cell, centre);
  EXPECT_EQ(centre[0], 9.0);
  EXPECT_EQ(centre[1], 3.0);
  EXPECT_EQ(centre[2], 7.5);

  EXPECT_FALSE(grid.locate(-5.0, NaN, 100.0, cell));
  EXPECT_EQ(cell, (VoxelTriple{-3, 0, 93}));
  grid.center(cell, centre);
  EXPECT_EQ(centre[0], -5.0);
  EXPECT_EQ(centre[2], 100.5);

  std::set<U64> keys;
  for (I64 i = 0; i < 5; i++)
    for (I64 j = 0; j < 2; j++) keys.insert(grid.key({i, j, 0}));
  EXPECT_EQ(keys.size(), 10u);
  EXPECT_EQ(*keys.rbegin(), 9u);
}

// Blocks of points have their quotients divided two at a time: every
// quotient has the bits of the single division, and every point the cell and
// side of the box that locate() gives, at the edges of cells and of the box,
// beyond it, and for values that are no numbers. Steps that are powers of two
// divide by a product with their reciprocal, which must give the bits of the
// division too, down to results near the smallest doubles. The shortcut for
// plain points (inside the box, quotients below the limit) takes exactly
// those points, and gives them the cell that each axis gives on its own.
TEST(VoxelGrid, QuotientsOfABlockLocateAsEachPoint) {
  // 10 cells of 0.3 from -1.5, the last one reaching past the maximum; in z,
  // -4.7 and -11.0 lie on cell edges that a multiplication by 1 / 0.7 misses.
  const VoxelGrid odd_steps(0.3, 0.7, -1.5, 1.35, 2.0, 4.9, -0.5, 0.0);
  const VoxelGrid power_steps(2.0, 0.5, -1.5, 1.35, 2.0, 4.9, -0.5, 0.0);
  const VoxelGrid tiny_steps(std::ldexp(1.0, -1024), std::ldexp(1.0, 1000), 0.0, 1e-300, 0.0, 1e-300, -1.0, 1.0);
  // Boxes of whole cells: 2.0 in x and 1.5 in y lie on the maximum and on the
  // edge of a cell beyond the last, which takes them.
  const VoxelGrid whole_steps(0.5, 0.5, 0.0, 2.0, -1.5, 1.5, -0.5, 4.9);
  const F64 values[] = {-1.5,  1.35, 1.5,  -1.2, -0.9, 0.3,       0.6,    -0.0, 0.0,   1.35000000000000009,
                        -1.51, -2.1, 1e17, -1e17, INF, -INF, NaN, 2.0, 4.9, 4.6,  -0.5, 0.2,    1e-300, 2.9, 1.2, -4.7, -11.0,
                        4.9e-324, 1e-310, 1e308, -1e308, 0.5, 3.5};
  const U32 n = static_cast<U32>(std::size(values));  // odd: the last pair holds one value
  static_assert(std::size(values) % 2 == 1);
  EXPECT_EQ(odd_steps.inverse_xy, 0.0);
  EXPECT_EQ(power_steps.inverse_xy, 0.5);
  EXPECT_EQ(power_steps.inverse_z, 2.0);
  EXPECT_EQ(tiny_steps.inverse_xy, 0.0);  // 2^1024 is no double
  EXPECT_EQ(tiny_steps.inverse_z, std::ldexp(1.0, -1000));
  for (const VoxelGrid* grid : {&odd_steps, &power_steps, &tiny_steps, &whole_steps}) {
    SCOPED_TRACE(grid->step_xy);
    // Each value mixed with two others, then alone on each axis with the
    // box's centre on the others (the plain points' edges): an odd count, so
    // the last pair holds one point.
    std::vector<std::array<F64, 3>> points;
    for (U32 i = 1; i < n; i++) points.push_back({values[i], values[n - 1 - i], values[(i + 5) % n]});
    const std::array<F64, 3> centre = {(grid->min_x + grid->max_x) / 2, (grid->min_y + grid->max_y) / 2,
                                       (grid->min_z + grid->max_z) / 2};
    for (int axis = 0; axis < 3; axis++) {
      for (const F64 value : values) {
        points.push_back(centre);
        points.back()[axis] = value;
      }
    }
    const U32 m = static_cast<U32>(points.size());
    ASSERT_EQ(m % 2, 1u);
    std::vector<F64> c_x(m + 1, 0.0), c_y(m + 1, 0.0), c_z(m + 1, 0.0), q_x(m + 1), q_y(m + 1), q_z(m + 1);
    std::vector<I64> plain(m + 1);
    for (U32 i = 0; i < m; i++) {
      c_x[i] = points[i][0];
      c_y[i] = points[i][1];
      c_z[i] = points[i][2];
    }
    grid->plainQuotients(c_x.data(), c_y.data(), c_z.data(), q_x.data(), q_y.data(), q_z.data(), plain.data(), m);
    size_t plain_points = 0;
    for (U32 i = 0; i < m; i++) {
      SCOPED_TRACE(i);
      const F64 x = c_x[i], y = c_y[i], z = c_z[i];
      EXPECT_EQ(std::bit_cast<U64>(q_x[i]), std::bit_cast<U64>(grid->quotientX(x)));
      EXPECT_EQ(std::bit_cast<U64>(q_x[i]), std::bit_cast<U64>((x - grid->min_x) / grid->step_xy));
      EXPECT_EQ(std::bit_cast<U64>(q_y[i]), std::bit_cast<U64>((y - grid->min_y) / grid->step_xy));
      EXPECT_EQ(std::bit_cast<U64>(q_z[i]), std::bit_cast<U64>((z - grid->min_z) / grid->step_z));
      VoxelTriple by_block, by_point, by_axis;
      const bool inside = grid->locateByQuotients(x, y, z, q_x[i], q_y[i], q_z[i], by_block);
      EXPECT_EQ(inside, grid->locate(x, y, z, by_point));
      EXPECT_EQ(by_block, by_point);
      // Axis by axis, through the general branch of each.
      const bool in_x = VoxelGrid::indexOfQuotient(x, q_x[i], grid->max_x, grid->n_x, by_axis.i_x);
      const bool in_y = VoxelGrid::indexOfQuotient(y, q_y[i], grid->max_y, grid->n_y, by_axis.i_y);
      const bool in_z = VoxelGrid::indexOfQuotient(z, q_z[i], grid->max_z, grid->n_z, by_axis.i_z);
      EXPECT_EQ(inside, in_x && in_y && in_z);
      EXPECT_EQ(by_block, by_axis);
      const bool below_limit = std::fabs(q_x[i]) < VoxelGrid::INDEX_LIMIT &&
                               std::fabs(q_y[i]) < VoxelGrid::INDEX_LIMIT && std::fabs(q_z[i]) < VoxelGrid::INDEX_LIMIT;
      const bool non_negative = q_x[i] >= 0.0 && q_y[i] >= 0.0 && q_z[i] >= 0.0;
      ASSERT_TRUE(plain[i] == 0 || plain[i] == -1);
      EXPECT_EQ(plain[i] != 0, inside && below_limit && non_negative);
      if (plain[i]) {
        EXPECT_EQ(grid->plainCell(q_x[i], q_y[i], q_z[i]), by_axis);
        plain_points++;
      }
    }
    EXPECT_GT(plain_points, 10u);
  }
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
      // Plain keys stay below 2^63, so that the cells outside the box find keys above them.
      {"fits_just", 2097151, 1, false, 2097151ull * 2097151ull * 2097151ull},  // below 2^63
      {"two_to_63", 2097152, 1, true, 2097152ull * 2097152ull * 2097152ull},
      {"overflows_just", 2642246, 1, true, U64_MAX},  // 2642246^3 > 2^64
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

// The digest is a function of the identity's values: equal identities,
// signed zeros and NaN included, have equal digests; it tells most
// neighbouring points apart.
TEST(PointHash, DigestFollowsTheIdentity) {
  struct Case {
    F64 a[4], b[4];
  } same[] = {
      {{1.5, 2.5, 3.5, 4.5}, {1.5, 2.5, 3.5, 4.5}},
      {{0.0, -0.0, 0.0, -0.0}, {-0.0, 0.0, -0.0, 0.0}},
      {{NaN, 1, 2, 3}, {NaN, 1, 2, 3}},
  };
  for (const Case& c : same) {
    ASSERT_EQ(PointHash::computeHash(c.a[0], c.a[1], c.a[2], c.a[3]), PointHash::computeHash(c.b[0], c.b[1], c.b[2], c.b[3]));
    EXPECT_EQ(PointHash::digest(c.a[0], c.a[1], c.a[2], c.a[3]), PointHash::digest(c.b[0], c.b[1], c.b[2], c.b[3]));
  }
  std::set<U32> digests;
  U64 count = 0;
  for (int i = 0; i < 30; i++)
    for (int j = 0; j < 30; j++)
      for (int k = 0; k < 30; k++, count++)
        digests.insert(PointHash::digest(500000.0 + i * 0.01, 4000000.0 + j * 0.01, 100.0 + k * 0.01, 0.0));
  EXPECT_GT(digests.size(), count * 9 / 10);
}

// Identities of points with opposite coordinates, swapped or not, and of a
// scan-like block of points with GPS times: all distinct.
TEST(PointHash, NoCollisionsAmongMirroredAndTimedPoints) {
  EXPECT_NE(PointHash::computeHash(1.5, -1.5, 2, 3), PointHash::computeHash(-1.5, 1.5, 2, 3));
  EXPECT_NE(PointHash::computeHash(1, 2, 3.5, -3.5), PointHash::computeHash(1, 2, -3.5, 3.5));
  std::set<U64> seen;
  U64 count = 0;
  for (int i = 0; i < 100; i++)
    for (int j = 0; j < 100; j++)
      for (int k = 0; k < 10; k++, count++) {
        const F64 t = 300000.0 + (i * 100 + j) * 1e-5 + k * 1e-6;
        seen.insert(PointHash::computeHash(700000.0 + i * 0.01, 5000000.0 + j * 0.01, 50.0 + k * 0.01, t));
        seen.insert(PointHash::computeHash(-(700000.0 + i * 0.01), 5000000.0 + j * 0.01, 50.0 + k * 0.01, -t));
        count++;
      }
  EXPECT_EQ(seen.size(), count);
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
