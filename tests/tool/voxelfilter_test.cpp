// The voxel filters through both passes on hand-built points: which point each
// rule keeps per voxel, the counts, ties, NaN values, the random rule's engine
// protocol and its one-in-k chance, point identity, and grids with bad boxes.
#include "tool/voxelfilter.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/lasheader.hpp"
#include "support/las_fixture.hpp"

namespace {

const F64 NaN = std::numeric_limits<F64>::quiet_NaN();

struct TestPoint {
  F64 x, y, z;
  U16 intensity = 0;
  U8 return_number = 1;
  U8 extended_return_number = 1;
  F64 attribute = 0.0;
  F64 gps_time = 0.0;
};

// A format-1 point with one f64 extra-bytes attribute; coordinates in steps of
// 0.25 so that every value below is exact.
class VoxelFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    header.x_scale_factor = header.y_scale_factor = header.z_scale_factor = 0.25;
    setBox(0, 6, 0, 2, 0, 2);
    ASSERT_EQ(header.add_attribute(LASattributeDescriptor(LAS_ATTRIBUTE_F64, "value")), 0);
    ASSERT_TRUE(point.init(&header, 1, 28 + 8));
    attribute_idx = 0;
  }
  void TearDown() override { set_message_log_level(INFO); }

  void setBox(F64 min_x, F64 max_x, F64 min_y, F64 max_y, F64 min_z, F64 max_z) {
    header.min_x = min_x;
    header.max_x = max_x;
    header.min_y = min_y;
    header.max_y = max_y;
    header.min_z = min_z;
    header.max_z = max_z;
  }

  void load(const TestPoint& p) {
    point.set_x(p.x);
    point.set_y(p.y);
    point.set_z(p.z);
    point.intensity = p.intensity;
    point.set_return_number(p.return_number);
    point.set_extended_return_number(p.extended_return_number);
    point.set_attribute_as_float(0, p.attribute);
    point.gps_time = p.gps_time;
  }

  void firstPass(PointFilterInterface& filter, const std::vector<TestPoint>& points) {
    for (const TestPoint& p : points) {
      load(p);
      filter.visitPoint(point);
    }
  }

  SurvivalDecision ask(PointFilterInterface& filter, const TestPoint& p, VoxelIndexAndCenter& cell) {
    load(p);
    return filter.isSurvivingPointAndModify(point, cell);
  }

  // Both passes; the indices of the surviving points.
  std::set<size_t> survivors(PointFilterInterface& filter, const std::vector<TestPoint>& points) {
    firstPass(filter, points);
    std::set<size_t> result;
    VoxelIndexAndCenter cell;
    for (size_t i = 0; i < points.size(); i++) {
      if (ask(filter, points[i], cell).survives) result.insert(i);
    }
    return result;
  }

  std::unique_ptr<PointFilterInterface> make(VoxelRule rule, bool counting, F64 step_xy = 2, F64 step_z = 2) {
    return std::unique_ptr<PointFilterInterface>(make_voxel_filter(rule, counting, step_xy, step_z, header));
  }

  // Survivor marks kept in the first pass against the decisions of a filter
  // that asks about every point: bit i is set exactly when point i survives,
  // repeats of chosen points among them; and the marked points asked about
  // alone, in order, as the pass that reads only them asks, get the voxel and
  // count that asking about every point gives. Voxels of 0.5.
  void checkMarks(VoxelRule rule, bool counting, const std::vector<TestPoint>& points) {
    auto marking = make(rule, counting, 0.5, 0.5);
    auto asking = make(rule, counting, 0.5, 0.5);
    ASSERT_TRUE(marking->markSurvivors());
    firstPass(*marking, points);
    firstPass(*asking, points);
    const std::vector<U64>* marks = marking->survivorMarks();
    ASSERT_NE(marks, nullptr);
    std::vector<std::pair<SurvivalDecision, U64>> expected(points.size());
    size_t survivors = 0;
    for (size_t i = 0; i < points.size(); i++) {
      VoxelIndexAndCenter cell;
      expected[i].first = ask(*asking, points[i], cell);
      expected[i].second = cell.index;
      const bool bit = (i >> 6) < marks->size() && ((*marks)[i >> 6] >> (i & 63)) & 1;
      ASSERT_EQ(bit, expected[i].first.survives) << i;
      survivors += bit;
    }
    EXPECT_GT(survivors, marking->numOfSurvivingPoints());
    for (size_t i = 0; i < points.size(); i++) {
      if (!expected[i].first.survives) continue;
      VoxelIndexAndCenter cell;
      const SurvivalDecision decision = ask(*marking, points[i], cell);
      ASSERT_TRUE(decision.survives) << i;
      ASSERT_EQ(decision.points_in_cell, expected[i].first.points_in_cell) << i;
      ASSERT_EQ(cell.index, expected[i].second) << i;
    }
  }

  LASheader header;
  LASpoint point;
};

// Three voxels along x: A (x < 2) with four points, B with two, C with one.
// Ties within A: z 1.5, intensity 30, attribute 7 (p1 and p3), return 3 (p2
// and p3), extended return 1 (p1 and p3). B holds a NaN attribute first.
const std::vector<TestPoint> RULE_POINTS = {
    // x, y, z, intensity, return, extended return, attribute, GPS time
    {0.5, 0.5, 1.0, 10, 2, 3, 5, 1},      // p0 A
    {3.0, 1.0, 0.25, 5, 1, 2, NaN, 5},    // p1 B, at B's centre in xy
    {1.0, 1.0, 1.5, 30, 1, 1, 7, 2},      // p2 A, at A's centre in xy
    {2.5, 0.5, 1.75, 50, 2, 1, 3, 6},     // p3 B
    {1.75, 0.25, 0.5, 20, 3, 5, -1, 3},   // p4 A
    {0.25, 1.75, 1.5, 30, 3, 1, 7, 4},    // p5 A
    {5.0, 1.0, 1.0, 0, 1, 1, 0, 7},       // p6 C, alone
};
const U64 RULE_COUNTS[] = {4, 2, 4, 2, 4, 4, 1};

struct RuleCase {
  const char* name;
  VoxelRule rule;
  std::set<size_t> survivors;
};

TEST_F(VoxelFilterTest, EachRuleKeepsItsPointPerVoxel) {
  const RuleCase cases[] = {
      {"first", VoxelRule::FIRST, {0, 1, 6}},
      {"highest_z_earlier_wins_tie", VoxelRule::HIGHEST_Z, {2, 3, 6}},
      {"lowest_z", VoxelRule::LOWEST_Z, {4, 1, 6}},
      {"highest_intensity_earlier_wins_tie", VoxelRule::HIGHEST_INTENSITY, {2, 3, 6}},
      {"lowest_intensity", VoxelRule::LOWEST_INTENSITY, {0, 1, 6}},
      {"highest_return_earlier_wins_tie", VoxelRule::HIGHEST_RETURN, {4, 3, 6}},
      {"lowest_return", VoxelRule::LOWEST_RETURN, {2, 1, 6}},
      {"highest_extended_return", VoxelRule::HIGHEST_EXTENDED_RETURN, {4, 1, 6}},
      {"lowest_extended_return_earlier_wins_tie", VoxelRule::LOWEST_EXTENDED_RETURN, {2, 3, 6}},
      {"highest_attribute_nan_held", VoxelRule::HIGHEST_ATTRIBUTE, {2, 1, 6}},
      {"lowest_attribute_nan_held", VoxelRule::LOWEST_ATTRIBUTE, {4, 1, 6}},
      {"closest", VoxelRule::CLOSEST, {2, 1, 6}},
  };
  for (const RuleCase& c : cases) {
    for (bool counting : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (counting ? " counting" : " plain"));
      auto filter = make(c.rule, counting);
      EXPECT_TRUE(filter->requiresVisit());
      EXPECT_EQ(survivors(*filter, RULE_POINTS), c.survivors);
      EXPECT_EQ(filter->numOfSurvivingPoints(), 3u);

      // Counts for every point of an occupied voxel, survivor or not; and the
      // same answers when the second pass reads the points in another order.
      VoxelIndexAndCenter cell;
      for (size_t i = RULE_POINTS.size(); i-- > 0;) {
        SurvivalDecision d = ask(*filter, RULE_POINTS[i], cell);
        EXPECT_EQ(d.survives, c.survivors.count(i) == 1) << i;
        if (counting) {
          EXPECT_EQ(d.points_in_cell, std::optional<U64>(RULE_COUNTS[i])) << i;
        } else {
          EXPECT_FALSE(d.points_in_cell.has_value()) << i;
        }
      }
    }
  }
}

TEST_F(VoxelFilterTest, RandomRuleAlwaysCounts) {
  for (bool counting : {false, true}) {
    auto filter = make(VoxelRule::RANDOM, counting);
    std::set<size_t> kept = survivors(*filter, RULE_POINTS);
    EXPECT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept.count(6), 1u);  // a voxel of one point keeps it
    VoxelIndexAndCenter cell;
    for (size_t i = 0; i < RULE_POINTS.size(); i++) {
      EXPECT_EQ(ask(*filter, RULE_POINTS[i], cell).points_in_cell, std::optional<U64>(RULE_COUNTS[i]));
    }
  }
}

TEST_F(VoxelFilterTest, CellKeyAndCentreOfEveryPoint) {
  const U64 NO_CELL = U64_MAX;
  setBox(0, 4, 0, 2, 0, 2);  // 2 x 1 x 1 voxels
  auto filter = make(VoxelRule::FIRST, false);
  struct Case {
    const char* name;
    TestPoint p;
    U64 index;
    F64 cx, cy, cz;
  } cases[] = {
      {"inside_first", {0.5, 0.5, 0.5}, 0, 1, 1, 1},
      {"inside_second", {2.25, 1.5, 1.0}, 1, 3, 1, 1},
      {"at_max_of_whole_steps", {4.0, 2.0, 2.0}, 1, 3, 1, 1},
      // Outside the box the grid goes on; keys of such cells lie above the
      // box's keys, and a cell the first pass never met has none.
      {"below_box", {-7.0, -1.0, -3.0}, NO_CELL, -7, -1, -3},
      {"above_box", {100.0, 50.0, 30.0}, NO_CELL, 101, 51, 31},
  };
  for (const Case& c : cases) {
    VoxelIndexAndCenter cell;
    ask(*filter, c.p, cell);
    EXPECT_EQ(cell.index, c.index) << c.name;
    EXPECT_EQ(cell.center[0], c.cx) << c.name;
    EXPECT_EQ(cell.center[1], c.cy) << c.name;
    EXPECT_EQ(cell.center[2], c.cz) << c.name;
  }
}

// A wrong header box: points outside it keep voxels of their own, of the grid
// continued beyond the box, instead of collapsing into the edge voxels; points
// inside keep theirs, and the outside ones are counted.
TEST_F(VoxelFilterTest, PointsOutsideTheBoxKeepVoxelsOfTheirOwn) {
  setBox(0, 4, 0, 2, 0, 2);
  const std::vector<TestPoint> points = {
      {1, 1, 1},   {3, 1, 1},    // inside: two voxels
      {-1, 1, 1},  {-3, 1, 1},   // below x: voxels -1 and -2
      {5, 1, 1},   {9, 1, 1},    // beyond x: voxels 2 and 4
      {9.5, 1, 1},               // shares voxel 4 with the point before
      {1, 1, -5},  {1, 1, 40},   // below and above z
  };
  auto filter = make(VoxelRule::FIRST, true);
  EXPECT_EQ(survivors(*filter, points), (std::set<size_t>{0, 1, 2, 3, 4, 5, 7, 8}));
  EXPECT_EQ(filter->numOfSurvivingPoints(), 8u);
  EXPECT_EQ(filter->numOfPointsOutsideBox(), 7u);
  VoxelIndexAndCenter cell;
  EXPECT_EQ(ask(*filter, points[6], cell).points_in_cell, std::optional<U64>(2));

  // The last cell of an axis reaches beyond the box's maximum: a point there
  // outside the box shares the voxel with the points inside.
  setBox(0, 3, 0, 2, 0, 2);
  auto edge = make(VoxelRule::FIRST, true);
  const std::vector<TestPoint> last_cell = {{2.5, 1, 1}, {3.5, 1, 1}};
  EXPECT_EQ(survivors(*edge, last_cell), (std::set<size_t>{0}));
  EXPECT_EQ(edge->numOfPointsOutsideBox(), 1u);
  EXPECT_EQ(ask(*edge, last_cell[1], cell).points_in_cell, std::optional<U64>(2));

  // A grid too large for plain keys (4e7 cells per axis) keys the cells
  // outside its box the same way: every point here has a voxel of its own.
  setBox(0, 1e7, 0, 1e7, 0, 1e7);
  auto wide = make(VoxelRule::FIRST, false, 0.25, 0.25);
  EXPECT_EQ(survivors(*wide, points).size(), points.size());
  EXPECT_EQ(wide->numOfPointsOutsideBox(), 3u);
}

// A NaN value never takes the chosen place and a chosen NaN is never replaced.
TEST_F(VoxelFilterTest, NanNeverReplacesNorIsReplaced) {
  struct Case {
    const char* name;
    VoxelRule rule;
    std::vector<F64> values;
    size_t survivor;
  } cases[] = {
      {"highest_nan_first", VoxelRule::HIGHEST_ATTRIBUTE, {NaN, 5, 9}, 0},
      {"highest_nan_later", VoxelRule::HIGHEST_ATTRIBUTE, {1, NaN, 0.5}, 0},
      {"highest_after_nan", VoxelRule::HIGHEST_ATTRIBUTE, {1, NaN, 2}, 2},
      {"lowest_nan_first", VoxelRule::LOWEST_ATTRIBUTE, {NaN, -5}, 0},
      {"lowest_nan_later", VoxelRule::LOWEST_ATTRIBUTE, {1, NaN, 3}, 0},
  };
  for (const Case& c : cases) {
    std::vector<TestPoint> points;
    for (size_t i = 0; i < c.values.size(); i++) points.push_back({0.25 * static_cast<F64>(i + 1), 1, 1, 0, 1, 1, c.values[i]});
    auto filter = make(c.rule, false);
    EXPECT_EQ(survivors(*filter, points), std::set<size_t>{c.survivor}) << c.name;
  }
}

// Without the attribute (no table, or an index beyond it) every value is 0 and
// the first point of each voxel stays.
TEST_F(VoxelFilterTest, MissingAttributeKeepsFirstPoint) {
  attribute_idx = 3;
  for (VoxelRule rule : {VoxelRule::HIGHEST_ATTRIBUTE, VoxelRule::LOWEST_ATTRIBUTE}) {
    auto filter = make(rule, true);
    EXPECT_EQ(survivors(*filter, RULE_POINTS), (std::set<size_t>{0, 1, 6}));
  }
}

// With an attribute standing in for Z, the z rules and the grid use it.
TEST_F(VoxelFilterTest, ZFromAttribute) {
  header.z_from_attribute = 0;
  const std::vector<TestPoint> points = {
      {0.5, 0.5, 1.75, 0, 1, 1, 0.5},
      {1.0, 1.0, 0.25, 0, 1, 1, 1.5},
      {1.5, 1.5, 0.0, 0, 1, 1, 1.0},
  };
  // set_z writes the attribute then; write the raw Z after it so they differ.
  auto run = [&](VoxelRule rule) {
    auto filter = make(rule, false);
    std::set<size_t> kept;
    for (int pass = 0; pass < 2; pass++) {
      for (size_t i = 0; i < points.size(); i++) {
        load(points[i]);
        point.set_attribute_as_float(0, points[i].attribute);
        point.Z = static_cast<I32>(points[i].z * 4);
        VoxelIndexAndCenter cell;
        if (pass == 0) {
          filter->visitPoint(point);
        } else if (filter->isSurvivingPointAndModify(point, cell).survives) {
          kept.insert(i);
        }
      }
    }
    return kept;
  };
  EXPECT_EQ(run(VoxelRule::HIGHEST_Z), std::set<size_t>{1});
  EXPECT_EQ(run(VoxelRule::LOWEST_Z), std::set<size_t>{0});
}

// The chosen point is recognised by its x, y, z and GPS time together: points
// that share a column without GPS time, or have x and y swapped, are different
// points; only exact duplicates survive together.
TEST_F(VoxelFilterTest, PointIdentity) {
  struct Case {
    const char* name;
    VoxelRule rule;
    std::vector<TestPoint> points;
    std::set<size_t> survivors;
  } cases[] = {
      {"column_without_time", VoxelRule::FIRST, {{1, 1, 0.25}, {1, 1, 0.5}, {1, 1, 1.0}}, {0}},
      {"column_highest", VoxelRule::HIGHEST_Z, {{1, 1, 0.25}, {1, 1, 1.5}, {1, 1, 1.0}}, {1}},
      {"swapped_xy", VoxelRule::FIRST, {{0.5, 1.5, 1}, {1.5, 0.5, 1}}, {0}},
      {"swapped_xy_second_chosen", VoxelRule::LOWEST_INTENSITY, {{0.5, 1.5, 1, 9}, {1.5, 0.5, 1, 3}}, {1}},
      {"exact_duplicates", VoxelRule::FIRST, {{1, 1, 1, 5}, {1, 1, 1, 7}, {1, 1, 1.25}}, {0, 1}},
  };
  for (const Case& c : cases) {
    auto filter = make(c.rule, false);
    EXPECT_EQ(survivors(*filter, c.points), c.survivors) << c.name;
    EXPECT_EQ(filter->numOfSurvivingPoints(), 1u) << c.name;
  }
}

// A point the first pass never saw finds no voxel (or another voxel's choice).
TEST_F(VoxelFilterTest, UnseenPointsDoNotSurvive) {
  auto filter = make(VoxelRule::FIRST, true);
  firstPass(*filter, {{0.5, 0.5, 0.5}});
  VoxelIndexAndCenter cell;
  SurvivalDecision empty_voxel = ask(*filter, {4.5, 0.5, 0.5}, cell);
  EXPECT_FALSE(empty_voxel.survives);
  EXPECT_FALSE(empty_voxel.points_in_cell.has_value());
  EXPECT_EQ(cell.index, 2u);
  SurvivalDecision other_point = ask(*filter, {0.75, 0.5, 0.5}, cell);
  EXPECT_FALSE(other_point.survives);
  EXPECT_EQ(other_point.points_in_cell, std::optional<U64>(1));
}

TEST_F(VoxelFilterTest, InputWithoutPoints) {
  set_message_log_level(VERBOSE);
  ::testing::internal::CaptureStderr();
  {
    auto filter = make(VoxelRule::HIGHEST_Z, true);
    EXPECT_EQ(filter->numOfSurvivingPoints(), 0u);
    VoxelIndexAndCenter cell;
    EXPECT_FALSE(ask(*filter, {1, 1, 1}, cell).survives);
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Processing a grid with 3 voxels\nGrid saturation is 0.000000 percent.\n");
}

TEST_F(VoxelFilterTest, SaturationMessage) {
  set_message_log_level(VERBOSE);
  ::testing::internal::CaptureStderr();
  {
    auto filter = make(VoxelRule::FIRST, false, 1, 0.5);  // 6 x 2 x 4 voxels
    firstPass(*filter, RULE_POINTS);
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Processing a grid with 48 voxels\nGrid saturation is 14.583333 percent.\n");
}

// The random rule, step by step: the filter engine seeds each new voxel's
// engine with a draw from 0 ... 2^31 - 1, in the order voxels are first met;
// the k-th point of a voxel is chosen when its engine draws 0 from 0 ... k - 1.
TEST_F(VoxelFilterTest, RandomRuleFollowsItsEngines) {
  std::vector<TestPoint> points;
  std::vector<int> voxel_of;
  for (int i = 0; i < 60; i++) {
    const int voxel = (i * 7) % 3;
    points.push_back({2.0 * voxel + 0.25 * (i % 7), 0.25 * (i % 8), 1, 0, 1, 1, 0, static_cast<F64>(i)});
    voxel_of.push_back(voxel);
  }
  for (int seed : {-1, 0, 77}) {
    MinStdRand filter_engine;
    filter_engine.setSeed(seed);
    MinStdRand voxel_engine[3];
    U64 count[3] = {0, 0, 0};
    size_t chosen[3] = {0, 0, 0};
    for (size_t i = 0; i < points.size(); i++) {
      const int v = voxel_of[i];
      if (count[v]++ == 0) {
        voxel_engine[v].setSeed(filter_engine.uniformInt(0, 2147483647));
        chosen[v] = i;
      } else if (voxel_engine[v].uniformU64(0, count[v] - 1) == 0) {
        chosen[v] = i;
      }
    }
    auto filter = make(VoxelRule::RANDOM, true);
    filter->setSeed(seed);
    EXPECT_EQ(survivors(*filter, points), (std::set<size_t>{chosen[0], chosen[1], chosen[2]})) << seed;
  }
}

// Voxels of k points: each position survives with chance 1/k; equal seeds give
// equal survivors, other seeds others.
TEST_F(VoxelFilterTest, RandomRuleChanceIsOneInK) {
  const int voxels = 20000, k = 4;
  setBox(0, 2.0 * voxels, 0, 2, 0, 2);
  std::vector<TestPoint> points;
  for (int v = 0; v < voxels; v++)
    for (int j = 0; j < k; j++) points.push_back({2.0 * v + 0.25 * j, 1, 1});
  auto run = [&](int seed) {
    auto filter = make(VoxelRule::RANDOM, true);
    filter->setSeed(seed);
    return survivors(*filter, points);
  };
  const std::set<size_t> kept = run(2024);
  EXPECT_EQ(kept.size(), static_cast<size_t>(voxels));
  int by_position[k] = {};
  for (size_t i : kept) by_position[i % k]++;
  const double expected = static_cast<double>(voxels) / k;
  const double sigma = std::sqrt(voxels * (1.0 / k) * (1.0 - 1.0 / k));
  for (int j = 0; j < k; j++) EXPECT_NEAR(by_position[j], expected, 5 * sigma) << j;
  EXPECT_EQ(run(2024), kept);
  EXPECT_NE(run(2025), kept);
  EXPECT_EQ(run(0), run(1));
}

// Boxes from a wrong header: NaN and infinite bounds or absurd steps still map
// every point to some voxel.
TEST_F(VoxelFilterTest, BadBoxesStillThin) {
  struct Case {
    const char* name;
    F64 min_x, max_x, step;
  } cases[] = {
      {"nan_min", NaN, 6, 2},
      {"infinite_max", 0, std::numeric_limits<F64>::infinity(), 2},
      {"huge_extent", -1e300, 1e300, 2},
      {"tiny_step", 0, 6, 1e-300},
  };
  for (const Case& c : cases) {
    setBox(c.min_x, c.max_x, 0, 2, 0, 2);
    auto filter = make(VoxelRule::LOWEST_Z, true, c.step, 2);
    std::set<size_t> kept = survivors(*filter, RULE_POINTS);
    EXPECT_GE(kept.size(), 1u) << c.name;
    EXPECT_EQ(kept.size(), filter->numOfSurvivingPoints()) << c.name;
  }
}

// 2^32 x 2^32 x 2 voxels: ix + nx * (iy + ny * iz) would wrap and give the two
// voxels of the column at the origin the same key.
TEST_F(VoxelFilterTest, WideGridKeepsVoxelsApart) {
  header.x_scale_factor = header.y_scale_factor = 1;
  setBox(0, 4294967296.0, 0, 4294967296.0, 0, 2);
  set_message_log_level(VERBOSE);
  ::testing::internal::CaptureStderr();
  {
    auto filter = make(VoxelRule::FIRST, true, 1, 1);
    const std::vector<TestPoint> points = {{0, 0, 0.5}, {0, 0, 1.5}, {0, 0, 1.75}, {7, 3, 0.25}};
    EXPECT_EQ(survivors(*filter, points), (std::set<size_t>{0, 1, 3}));
    EXPECT_EQ(filter->numOfSurvivingPoints(), 3u);
    VoxelIndexAndCenter a, b, unseen;
    EXPECT_EQ(ask(*filter, points[0], a).points_in_cell, std::optional<U64>(1));
    EXPECT_EQ(ask(*filter, points[1], b).points_in_cell, std::optional<U64>(2));
    EXPECT_NE(a.index, b.index);
    EXPECT_EQ(b.center[2], 1.5);
    EXPECT_FALSE(ask(*filter, {5, 5, 0.5}, unseen).survives);
    EXPECT_EQ(unseen.center[0], 5.5);
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Processing a grid with 18446744073709551615 voxels\n"
            "Grid saturation is 0.000000 percent.\n");
}

// Points along scan lines in x, lines 0.25 apart in y, heights rolling over
// several voxels, and every 50th point thrown somewhere else: thousands of
// voxels, so the map grows while points are held back, the table of recent
// voxels forgets, and voxels come back after a while. Unique GPS times make
// every identity unique.
std::vector<TestPoint> scanPoints(size_t count) {
  std::vector<TestPoint> points;
  std::mt19937_64 random(3);
  for (size_t i = 0; points.size() < count; i++) {
    const size_t line = i / 400, column = i % 400;
    F64 x = 0.25 * static_cast<F64>(line % 2 ? 399 - column : column);
    F64 y = 0.25 * static_cast<F64>(line % 160);
    if (i % 50 == 0) {
      x = 0.25 * static_cast<F64>(random() % 400);
      y = 0.25 * static_cast<F64>(random() % 160);
    }
    const F64 z = 0.25 * static_cast<F64>((column / 7 + line) % 24 + random() % 3);
    TestPoint p{x, y, z, static_cast<U16>(random() % 500), static_cast<U8>(1 + random() % 3)};
    p.gps_time = static_cast<F64>(i);
    points.push_back(p);
  }
  return points;
}

// The first pass holds points back and the second pass finds voxels through
// shortcuts; none of it may show. A filter that is made to enter every point
// at once (numOfSurvivingPoints after each visit) must answer every question
// as one that enters them late, in whatever order the second pass asks,
// including points it never saw; and the first rule must match a plain model.
TEST_F(VoxelFilterTest, EnteringLateAndShortcutsChangeNoAnswer) {
  setBox(0, 100, 0, 40, 0, 7);
  const std::vector<TestPoint> points = scanPoints(30000);
  const struct {
    VoxelRule rule;
    bool counting;
  } cases[] = {{VoxelRule::FIRST, true},
               {VoxelRule::FIRST, false},
               {VoxelRule::HIGHEST_Z, true},
               {VoxelRule::LOWEST_INTENSITY, false},
               {VoxelRule::HIGHEST_RETURN, true},
               {VoxelRule::CLOSEST, true},
               {VoxelRule::RANDOM, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.rule));
    auto eager = make(c.rule, c.counting, 0.5, 0.5);
    auto late = make(c.rule, c.counting, 0.5, 0.5);
    auto shuffled = make(c.rule, c.counting, 0.5, 0.5);
    for (PointFilterInterface* f : {eager.get(), late.get(), shuffled.get()}) f->setSeed(9);
    // The voxels met so far, by the grid itself.
    const VoxelGrid grid(0.5, 0.5, 0, 100, 0, 40, 0, 7);
    std::set<U64> voxels;
    for (size_t i = 0; i < points.size(); i++) {
      const TestPoint& p = points[i];
      VoxelTriple triple;
      grid.locate(p.x, p.y, p.z, triple);
      voxels.insert(grid.key(triple));
      load(p);
      eager->visitPoint(point);
      ASSERT_EQ(eager->numOfSurvivingPoints(), voxels.size()) << i;
      late->visitPoint(point);
      shuffled->visitPoint(point);
      if (i == 9) {
        ASSERT_EQ(shuffled->numOfSurvivingPoints(), voxels.size());
      }
    }
    ASSERT_EQ(late->numOfSurvivingPoints(), voxels.size());
    ASSERT_GT(voxels.size(), 5000u);

    std::vector<SurvivalDecision> expected;
    std::vector<VoxelIndexAndCenter> expected_cells(points.size());
    for (size_t i = 0; i < points.size(); i++) expected.push_back(ask(*eager, points[i], expected_cells[i]));
    auto same = [&](PointFilterInterface& f, size_t i) {
      VoxelIndexAndCenter cell;
      const SurvivalDecision d = ask(f, points[i], cell);
      ASSERT_EQ(d.survives, expected[i].survives) << i;
      ASSERT_EQ(d.points_in_cell, expected[i].points_in_cell) << i;
      ASSERT_EQ(cell.index, expected_cells[i].index) << i;
    };
    for (size_t i = 0; i < points.size(); i++) same(*late, i);
    // Backwards, every third point left out, then all again.
    for (size_t i = points.size(); i-- > 0;) {
      if (i % 3) same(*shuffled, i);
    }
    for (size_t i = 0; i < points.size(); i++) same(*shuffled, i);
    VoxelIndexAndCenter cell;
    EXPECT_FALSE(ask(*late, {50.1, 20.1, 6.9}, cell).survives);  // a voxel no point fell into

    if (c.rule == VoxelRule::FIRST) {
      std::map<U64, std::pair<size_t, U64>> model;  // key -> first point, count
      for (size_t i = 0; i < points.size(); i++) {
        auto [it, fresh] = model.try_emplace(expected_cells[i].index, i, 0);
        it->second.second++;
      }
      EXPECT_EQ(model.size(), eager->numOfSurvivingPoints());
      for (size_t i = 0; i < points.size(); i++) {
        const auto& [first, count] = model.at(expected_cells[i].index);
        ASSERT_EQ(expected[i].survives, first == i) << i;
        if (c.counting) {
          ASSERT_EQ(expected[i].points_in_cell, std::optional<U64>(count)) << i;
        }
      }
    }
  }
}

// Survivor marks stand for the decisions of the second pass: bit i is set
// exactly when point i, asked about in the second pass, survives. Exact
// repeats of points are thrown in, some of them of points that are chosen
// first and lose their place later, and points outside the box; the rules
// whose choice does not follow the identity keep no marks where repeats come
// out of the order of GPS time.
TEST_F(VoxelFilterTest, SurvivorMarksMatchEveryDecision) {
  setBox(0, 80, 0, 30, 0, 5);
  std::vector<TestPoint> points = scanPoints(20000);
  for (size_t i = 0; i < 2000; i += 7) points.push_back(points[i * 3]);  // later repeats
  for (size_t i = 5000; i < 5400; i += 3) points.insert(points.begin() + static_cast<long>(i + 1), points[i]);
  points.push_back({-3.0, 40.0, 9.0});
  points.push_back({-3.0, 40.0, 9.0});
  const struct {
    VoxelRule rule;
    bool marks;
  } cases[] = {{VoxelRule::FIRST, true},           {VoxelRule::HIGHEST_Z, true},
               {VoxelRule::LOWEST_Z, true},        {VoxelRule::CLOSEST, true},
               {VoxelRule::HIGHEST_INTENSITY, false}, {VoxelRule::LOWEST_RETURN, false},
               {VoxelRule::HIGHEST_ATTRIBUTE, false}, {VoxelRule::RANDOM, false}};
  for (const auto& c : cases) {
    for (bool counting : {false, true}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(c.rule)) + (counting ? " counting" : " plain"));
      auto filter = make(c.rule, counting, 0.5, 0.5);
      ASSERT_TRUE(filter->markSurvivors());
      firstPass(*filter, points);
      const std::vector<U64>* marks = filter->survivorMarks();
      if (!c.marks) {
        EXPECT_EQ(marks, nullptr);
        continue;
      }
      ASSERT_NE(marks, nullptr);
      size_t marked = 0, repeats = 0;
      VoxelIndexAndCenter cell;
      for (size_t i = 0; i < points.size(); i++) {
        const bool bit = (i >> 6) < marks->size() && ((*marks)[i >> 6] >> (i & 63)) & 1;
        ASSERT_EQ(bit, ask(*filter, points[i], cell).survives) << i;
        marked += bit;
      }
      for (const U64 word : *marks) repeats += static_cast<size_t>(__builtin_popcountll(word));
      EXPECT_EQ(repeats, marked);  // no bit beyond the points
      EXPECT_GT(marked, filter->numOfSurvivingPoints());  // repeats of chosen points survive too
    }
  }
  // Marks are asked for before the first pass or not at all.
  auto late = make(VoxelRule::FIRST, false);
  load({1, 1, 1});
  late->visitPoint(point);
  EXPECT_FALSE(late->markSurvivors());
  EXPECT_EQ(late->survivorMarks(), nullptr);
}

// Scan points in order of GPS time, three of a time (the returns of a pulse),
// with exact repeats among the points of a time whose compared values differ:
// a repeat that takes the chosen place from its earlier point, one chosen
// while its earlier point was not, one that loses against it.
std::vector<TestPoint> timedPoints() {
  std::vector<TestPoint> points = scanPoints(12000);
  for (size_t i = 0; i < points.size(); i++) {
    points[i].gps_time = static_cast<F64>(i / 3);
    points[i].attribute = static_cast<F64>(i * 7 % 13);
  }
  for (size_t i = 8970; i >= 3000; i -= 30) {  // backwards: the places before stay
    for (const size_t at : {i + 1, i + 3}) {  // next to it, and with a point of its time between
      TestPoint repeat = points[i];
      repeat.intensity = static_cast<U16>(repeat.intensity + (at == i + 1 ? 100 : 1000));
      repeat.return_number = static_cast<U8>(1 + (repeat.return_number + at) % 3);
      repeat.extended_return_number = static_cast<U8>(1 + at % 5);
      repeat.attribute = at == i + 1 ? repeat.attribute - 20 : 50;
      points.insert(points.begin() + static_cast<long>(at), repeat);
    }
  }
  return points;
}

const VoxelRule NOT_BY_IDENTITY[] = {
    VoxelRule::HIGHEST_INTENSITY,       VoxelRule::LOWEST_INTENSITY,       VoxelRule::HIGHEST_RETURN,
    VoxelRule::LOWEST_RETURN,           VoxelRule::HIGHEST_EXTENDED_RETURN, VoxelRule::LOWEST_EXTENDED_RETURN,
    VoxelRule::HIGHEST_ATTRIBUTE,       VoxelRule::LOWEST_ATTRIBUTE,        VoxelRule::RANDOM};

// The rules that do not choose by identity keep their marks while points come
// in order of GPS time, repeats of chosen identities included, earlier and
// later ones (see checkMarks).
TEST_F(VoxelFilterTest, MarksOfPointsInOrderOfTimeMatchEveryDecision) {
  setBox(0, 100, 0, 40, 0, 7);
  const std::vector<TestPoint> points = timedPoints();
  for (const VoxelRule rule : NOT_BY_IDENTITY) {
    for (const bool counting : {false, true}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(rule)) + (counting ? " counting" : " plain"));
      checkMarks(rule, counting, points);
    }
  }
}

// Points that these rules cannot follow point by point leave them without
// marks: a GPS time before that of the point before, one that is no number,
// and more points of one time than are compared.
TEST_F(VoxelFilterTest, MarksNeedPointsInOrderOfTime) {
  setBox(0, 100, 0, 40, 0, 7);
  const std::vector<TestPoint> timed = timedPoints();
  const struct {
    const char* name;
    size_t at;
    F64 gps_time;  // -1: that of the point it goes before
    size_t copies;
  } cases[] = {{"earlier", 5000, 10.0, 1}, {"not a number", 4000, NaN, 1}, {"many of a time", 6000, -1.0, 40}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<TestPoint> points = timed;
    TestPoint odd = points[c.at];
    odd.x += 0.25;
    odd.gps_time = c.gps_time < 0 ? points[c.at].gps_time : c.gps_time;
    for (size_t k = 0; k < c.copies; k++, odd.y += 0.25) points.insert(points.begin() + static_cast<long>(c.at), odd);
    for (const VoxelRule rule : {VoxelRule::HIGHEST_INTENSITY, VoxelRule::RANDOM}) {
      auto filter = make(rule, false, 0.5, 0.5);
      ASSERT_TRUE(filter->markSurvivors());
      firstPass(*filter, points);
      EXPECT_EQ(filter->survivorMarks(), nullptr);
    }
  }
}

// timedPoints() cut where the time changes into `runs` runs of about equal
// length, in the order given by `order` (indices of runs).
std::vector<TestPoint> inRunsOfTime(const std::vector<TestPoint>& points, size_t runs, const std::vector<size_t>& order) {
  std::vector<size_t> starts = {0};
  for (size_t i = 1; i < points.size() && starts.size() < runs; i++) {
    if (i >= starts.size() * points.size() / runs && points[i].gps_time != points[i - 1].gps_time) starts.push_back(i);
  }
  starts.push_back(points.size());
  std::vector<TestPoint> out;
  for (const size_t run : order) out.insert(out.end(), points.begin() + static_cast<long>(starts[run]),
                                            points.begin() + static_cast<long>(starts[run + 1]));
  return out;
}

// Runs in order of GPS time that come out of that order keep the marks while
// no run reaches into the times of an earlier one: runs in falling order, two
// runs of later times before one of earlier times, and a run that passes over
// the times of earlier runs (0 1 4 5 over 2 3), and one run with a repeated
// point at infinite time; each matches every decision (see
// checkMarks). A run that starts or goes on within the times of an earlier
// run (also where a run took in those of runs it passed over), a file
// followed by itself and too many runs leave the marks out.
TEST_F(VoxelFilterTest, MarksOfRunsOfTimeOutOfOrder) {
  setBox(0, 100, 0, 40, 0, 7);
  const std::vector<TestPoint> timed = timedPoints();
  std::vector<TestPoint> to_infinity = timed;
  TestPoint last = timed[100];
  last.gps_time = std::numeric_limits<F64>::infinity();
  to_infinity.insert(to_infinity.end(), {last, last});
  const std::vector<TestPoint> kept[] = {
      inRunsOfTime(timed, 6, {5, 4, 3, 2, 1, 0}),
      inRunsOfTime(timed, 6, {3, 4, 5, 0, 1, 2}),
      inRunsOfTime(timed, 6, {2, 3, 0, 1, 4, 5}),
      to_infinity,  // the first run reaches the end of time
  };
  for (size_t k = 0; k < std::size(kept); k++) {
    for (const VoxelRule rule : {VoxelRule::HIGHEST_INTENSITY, VoxelRule::LOWEST_RETURN, VoxelRule::HIGHEST_ATTRIBUTE,
                                 VoxelRule::RANDOM}) {
      SCOPED_TRACE(std::to_string(k) + " rule " + std::to_string(static_cast<int>(rule)));
      checkMarks(rule, false, kept[k]);
    }
  }
  std::vector<TestPoint> reaching = inRunsOfTime(timed, 6, {2, 0, 1});
  TestPoint inside = reaching[reaching.size() / 6];  // within run 2, no repeat of its point
  inside.x += 0.25;
  reaching.push_back(inside);
  std::vector<TestPoint> twice = timed;
  twice.insert(twice.end(), timed.begin(), timed.end());
  std::vector<TestPoint> many_runs;
  for (size_t i = timed.size(); i >= 6; i -= 6) {
    many_runs.insert(many_runs.end(), timed.begin() + static_cast<long>(i - 6), timed.begin() + static_cast<long>(i));
  }
  const struct {
    const char* name;
    std::vector<TestPoint> points;
  } dropped[] = {
      {"starts within", inRunsOfTime(timed, 6, {0, 2, 1, 3, 4, 5})},
      {"goes on within", reaching},
      {"within runs passed over", inRunsOfTime(timed, 6, {1, 3, 0, 4, 2, 5})},
      {"itself again", twice},
      {"too many runs", many_runs},
  };
  for (const auto& c : dropped) {
    SCOPED_TRACE(c.name);
    for (const VoxelRule rule : {VoxelRule::HIGHEST_INTENSITY, VoxelRule::RANDOM}) {
      auto filter = make(rule, false, 0.5, 0.5);
      ASSERT_TRUE(filter->markSurvivors());
      firstPass(*filter, c.points);
      EXPECT_EQ(filter->survivorMarks(), nullptr);
    }
  }
}

// Scan points as raw records of a grid with offsets, with points outside the
// box up to the raw limits and exact repeats near and far; point format 1 in
// the filter's header, records of other formats given by the tests.
class VoxelRecordTest : public VoxelFilterTest {
 protected:
  void SetUp() override {
    VoxelFilterTest::SetUp();
    header.x_offset = 1000.5;
    header.y_offset = -20.25;
    header.z_offset = 3.0;
    setBox(1000.5, 1100.5, -20.25, 19.75, 3.0, 10.0);
    for (const TestPoint& p : scanPoints(20000)) {
      lasfix::Point r;
      r.X = static_cast<I32>(p.x / 0.25);
      r.Y = static_cast<I32>(p.y / 0.25);
      r.Z = static_cast<I32>(p.z / 0.25);
      r.intensity = p.intensity;
      r.gps_time = p.gps_time;
      r.return_number = static_cast<uint8_t>(p.return_number + 4 * (p.intensity % 2));  // above 7 in some formats
      r.number_of_returns = 7;
      const F64 value = p.intensity % 7 == 0 ? NaN : p.intensity * 0.5;
      r.extra_bytes.assign(reinterpret_cast<const char*>(&value), sizeof(value));
      raw.push_back(r);
    }
    for (size_t i = 0; i < 2000; i += 7) raw.push_back(raw[i * 3]);
    for (size_t i = 5000; i < 5400; i += 3) raw.insert(raw.begin() + static_cast<long>(i + 1), raw[i]);
    lasfix::Point far;
    far.X = I32_MIN;
    far.Y = I32_MAX;
    far.Z = -7;
    raw.insert(raw.begin() + 100, far);
    raw.push_back(far);
    far.X = -40;
    far.Y = 130;
    far.Z = 30;
    far.gps_time = 5.5;
    raw.push_back(far);
    raw.push_back(far);
  }

  // The records in `format` with the attribute's 8 extra bytes; the layout of
  // them, with the attribute found by the point.
  std::string encode(U8 format, PointRecordLayout& layout) {
    const U32 length = lasfix::point_base_size(format) + 8u;
    std::string bytes;
    for (const lasfix::Point& r : raw) bytes += lasfix::encode_point(r, format, static_cast<uint16_t>(length));
    const std::optional<PointRecordLayout> of = PointRecordLayout::of(format, length, header);
    EXPECT_TRUE(of);
    if (of) layout = *of;
    LASpoint laid_out;
    EXPECT_TRUE(laid_out.init(&header, format, static_cast<U16>(length)));
    layout.findAttribute(laid_out, attribute_idx);
    EXPECT_TRUE(layout.attribute_known);
    return bytes;
  }

  // The point as a reader of `format` gives it: GPS time 0.0 where none is
  // stored, the return number in 3 bits where it is stored in 3 bits.
  void loadRaw(size_t i, U8 format) {
    point.X = raw[i].X;
    point.Y = raw[i].Y;
    point.Z = raw[i].Z;
    point.intensity = raw[i].intensity;
    point.gps_time = format != 0 && format != 2 ? raw[i].gps_time : 0.0;
    point.set_return_number(raw[i].return_number & 0x07);
    point.set_extended_return_number(raw[i].return_number);
    std::memcpy(point.extra_bytes, raw[i].extra_bytes.data(), 8);
  }

  // Calls f(first, count) over all points in uneven runs across the blocks.
  template <class F>
  void inRuns(F f) {
    static constexpr size_t runs[] = {1, 63, 64, 65, 1000, 7, 128};
    for (size_t done = 0, run = 0; done < raw.size(); run++) {
      const size_t count = std::min(runs[run % std::size(runs)], raw.size() - done);
      f(done, static_cast<U32>(count));
      done += count;
    }
  }

  std::vector<lasfix::Point> raw;
};

const U8 RECORD_FORMATS[] = {1, 0, 6};  // GPS time at 20, none, at 22
const VoxelRule ALL_RULES[] = {
    VoxelRule::FIRST,           VoxelRule::HIGHEST_Z,         VoxelRule::LOWEST_Z,
    VoxelRule::HIGHEST_INTENSITY, VoxelRule::LOWEST_INTENSITY,  VoxelRule::HIGHEST_RETURN,
    VoxelRule::LOWEST_RETURN,   VoxelRule::HIGHEST_EXTENDED_RETURN, VoxelRule::LOWEST_EXTENDED_RETURN,
    VoxelRule::HIGHEST_ATTRIBUTE, VoxelRule::LOWEST_ATTRIBUTE, VoxelRule::CLOSEST,
    VoxelRule::RANDOM};

// Repeats of the chosen point come back out of the order of GPS time, at the
// latest time, and after points later than every point before them (which
// repeat nothing and, for the first-point rule, are passed over). The marks
// hold exactly the points of the chosen identity, as the second pass decides.
TEST_F(VoxelFilterTest, SurvivorMarksFollowRepeatsAcrossTimes) {
  setBox(0, 4, 0, 4, 0, 4);
  const TestPoint a{0.25, 0.25, 0.75, 0, 1, 1, 0.0, 5.0};
  const TestPoint b{0.5, 0.5, 0.25, 0, 1, 1, 0.0, 6.0};  // at the centre in xy
  const TestPoint d{0.75, 0.25, 0.75, 0, 1, 1, 0.0, 7.0};  // a's z, later
  const std::vector<TestPoint> points = {a, a, b, a, b, d, a, d, b};
  const struct {
    VoxelRule rule;
    std::vector<size_t> survivors;
  } cases[] = {{VoxelRule::FIRST, {0, 1, 3, 6}},
               {VoxelRule::HIGHEST_Z, {0, 1, 3, 6}},
               {VoxelRule::LOWEST_Z, {2, 4, 8}},
               {VoxelRule::CLOSEST, {2, 4, 8}}};
  for (const auto& c : cases) {
    for (const bool counting : {false, true}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(c.rule)) + (counting ? " counting" : " plain"));
      auto filter = make(c.rule, counting, 1.0, 1.0);
      ASSERT_TRUE(filter->markSurvivors());
      firstPass(*filter, points);
      const std::vector<U64>* marks = filter->survivorMarks();
      ASSERT_NE(marks, nullptr);
      std::vector<size_t> marked, asked;
      VoxelIndexAndCenter cell;
      for (size_t i = 0; i < points.size(); i++) {
        if (((*marks)[0] >> i) & 1) marked.push_back(i);
        if (ask(*filter, points[i], cell).survives) asked.push_back(i);
      }
      EXPECT_EQ(marked, c.survivors);
      EXPECT_EQ(asked, c.survivors);
    }
  }
}

// The rules whose chosen point moves, on points with repeats near and far
// (see checkMarks).
TEST_F(VoxelFilterTest, MarkedPointsAskedAloneGetTheirDecisions) {
  setBox(0, 80, 0, 30, 0, 5);
  std::vector<TestPoint> points = scanPoints(20000);
  for (size_t i = 0; i < 2000; i += 7) points.push_back(points[i * 3]);
  for (size_t i = 5000; i < 5400; i += 3) points.insert(points.begin() + static_cast<long>(i + 1), points[i]);
  for (const VoxelRule rule : {VoxelRule::HIGHEST_Z, VoxelRule::LOWEST_Z, VoxelRule::CLOSEST, VoxelRule::FIRST}) {
    for (const bool counting : {false, true}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(rule)) + (counting ? " counting" : " plain"));
      checkMarks(rule, counting, points);
    }
  }
}

// The first pass over records as they lie in the file leaves a filter as the
// pass over points does: the same voxels, counts, points outside the box,
// survivor marks and second-pass decisions, for every rule that reads
// records; the return rules read the return number where the record holds
// it as the point gives it, and points elsewhere. The attribute is a double
// with NaN among its values.
TEST_F(VoxelRecordTest, FirstPassOverRecordsGivesWhatPointsGive) {
  for (const U8 format : RECORD_FORMATS) {
    PointRecordLayout layout;
    const std::string bytes = encode(format, layout);
    const U8* records = reinterpret_cast<const U8*>(bytes.data());
    for (const VoxelRule rule : ALL_RULES) {
      for (const bool counting : {false, true}) {
        SCOPED_TRACE("format " + std::to_string(format) + " rule " + std::to_string(static_cast<int>(rule)) +
                     (counting ? " counting" : " plain"));
        auto by_points = make(rule, counting, 0.5, 0.5);
        auto by_records = make(rule, counting, 0.5, 0.5);
        const bool legacy = rule == VoxelRule::HIGHEST_RETURN || rule == VoxelRule::LOWEST_RETURN;
        const bool extended = rule == VoxelRule::HIGHEST_EXTENDED_RETURN || rule == VoxelRule::LOWEST_EXTENDED_RETURN;
        const bool reads = format >= 6 ? !legacy : !extended;
        ASSERT_EQ(by_records->visitsRecords(layout), reads);
        if (!reads) continue;
        ASSERT_EQ(by_points->markSurvivors(), by_records->markSurvivors());
        for (size_t i = 0; i < raw.size(); i++) {
          loadRaw(i, format);
          by_points->visitPoint(point);
        }
        inRuns([&](size_t first, U32 count) {
          by_records->visitRecords(records + first * layout.record_length, count, layout);
        });
        EXPECT_EQ(by_records->numOfSurvivingPoints(), by_points->numOfSurvivingPoints());
        EXPECT_EQ(by_records->numOfPointsOutsideBox(), by_points->numOfPointsOutsideBox());
        EXPECT_EQ(by_records->numOfPointsOutsideBox(), 4u);
        const std::vector<U64>* point_marks = by_points->survivorMarks();
        const std::vector<U64>* record_marks = by_records->survivorMarks();
        ASSERT_EQ(point_marks == nullptr, record_marks == nullptr);
        if (point_marks) {
          EXPECT_EQ(*point_marks, *record_marks);
        }
        size_t survivors = 0;
        for (size_t i = 0; i < raw.size(); i++) {
          VoxelIndexAndCenter cell_p, cell_r;
          loadRaw(i, format);
          const SurvivalDecision expected = by_points->isSurvivingPointAndModify(point, cell_p);
          const SurvivalDecision got = by_records->isSurvivingPointAndModify(point, cell_r);
          ASSERT_EQ(got.survives, expected.survives) << i;
          ASSERT_EQ(got.points_in_cell, expected.points_in_cell) << i;
          ASSERT_EQ(cell_r.index, cell_p.index) << i;
          survivors += got.survives;
        }
        EXPECT_GE(survivors, by_points->numOfSurvivingPoints());
      }
    }
  }
}

// A pass that goes from points to records and back, as a reader that lends
// its records only some of the time would: points held back are entered
// before the records after them, so the filter ends as the pass over points.
TEST_F(VoxelRecordTest, PointsAndRecordsMixedInOnePass) {
  PointRecordLayout layout;
  const std::string bytes = encode(1, layout);
  const U8* records = reinterpret_cast<const U8*>(bytes.data());
  for (const VoxelRule rule : {VoxelRule::FIRST, VoxelRule::HIGHEST_Z, VoxelRule::CLOSEST, VoxelRule::RANDOM}) {
    for (const bool counting : {false, true}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(rule)) + (counting ? " counting" : " plain"));
      auto by_points = make(rule, counting, 0.5, 0.5);
      auto mixed = make(rule, counting, 0.5, 0.5);
      ASSERT_EQ(by_points->markSurvivors(), mixed->markSurvivors());
      for (size_t i = 0; i < raw.size(); i++) {
        loadRaw(i, 1);
        by_points->visitPoint(point);
      }
      size_t run = 0;
      inRuns([&](size_t first, U32 count) {
        if (run++ % 2) {
          mixed->visitRecords(records + first * layout.record_length, count, layout);
          return;
        }
        for (size_t i = first; i < first + count; i++) {
          loadRaw(i, 1);
          mixed->visitPoint(point);
        }
      });
      EXPECT_EQ(mixed->numOfSurvivingPoints(), by_points->numOfSurvivingPoints());
      const std::vector<U64>* point_marks = by_points->survivorMarks();
      const std::vector<U64>* mixed_marks = mixed->survivorMarks();
      ASSERT_EQ(point_marks == nullptr, mixed_marks == nullptr);
      if (point_marks) {
        EXPECT_EQ(*point_marks, *mixed_marks);
      }
      for (size_t i = 0; i < raw.size(); i++) {
        VoxelIndexAndCenter cell_p, cell_m;
        loadRaw(i, 1);
        const SurvivalDecision expected = by_points->isSurvivingPointAndModify(point, cell_p);
        const SurvivalDecision got = mixed->isSurvivingPointAndModify(point, cell_m);
        ASSERT_EQ(got.survives, expected.survives) << i;
        ASSERT_EQ(got.points_in_cell, expected.points_in_cell) << i;
      }
    }
  }
}

// Survivors marked from records in the second pass are exactly the points
// that the second pass over points lets through, for every rule, whichever
// way the first pass went; bits of other points are left alone. Each record
// asked about alone gives the same answer.
TEST_F(VoxelRecordTest, SurvivorsMarkedFromRecordsAreThoseOfThePoints) {
  for (const U8 format : RECORD_FORMATS) {
    PointRecordLayout layout;
    const std::string bytes = encode(format, layout);
    const U8* records = reinterpret_cast<const U8*>(bytes.data());
    for (const VoxelRule rule : ALL_RULES) {
      SCOPED_TRACE("format " + std::to_string(format) + " rule " + std::to_string(static_cast<int>(rule)));
      auto filter = make(rule, true, 0.5, 0.5);
      ASSERT_TRUE(filter->decidesRecords());
      for (size_t i = 0; i < raw.size(); i++) {
        loadRaw(i, format);
        filter->visitPoint(point);
      }
      std::vector<U64> marks((raw.size() + 63) / 64 + 1, 0);
      marks.back() = 0x5;  // beyond the points: stays
      inRuns([&](size_t first, U32 count) {
        filter->markSurvivingRecords(records + first * layout.record_length, count, layout, first, marks);
      });
      EXPECT_EQ(marks.back(), 0x5u);
      // The marked points asked about alone, as a pass reading only them asks.
      std::map<size_t, std::pair<SurvivalDecision, U64>> marked;
      for (size_t i = 0; i < raw.size(); i++) {
        if (!((marks[i >> 6] >> (i & 63)) & 1)) continue;
        VoxelIndexAndCenter cell;
        loadRaw(i, format);
        marked[i] = {filter->isSurvivingPointAndModify(point, cell), cell.index};
      }
      size_t survivors = 0;
      for (size_t i = 0; i < raw.size(); i++) {
        VoxelIndexAndCenter cell;
        loadRaw(i, format);
        const SurvivalDecision decision = filter->isSurvivingPointAndModify(point, cell);
        ASSERT_EQ(((marks[i >> 6] >> (i & 63)) & 1) != 0, decision.survives) << i;
        if (decision.survives) {
          ASSERT_TRUE(marked[i].first.survives) << i;
          ASSERT_EQ(marked[i].first.points_in_cell, decision.points_in_cell) << i;
          ASSERT_EQ(marked[i].second, cell.index) << i;
        }
        survivors += decision.survives;
      }
      EXPECT_GT(survivors, filter->numOfSurvivingPoints());  // repeats of chosen points survive too
      // Asked from their records, as the pass that writes them as they lie
      // asks, the marked points survive; a point that does not is refused.
      filter->restartSecondPass();
      for (const auto& [i, answer] : marked) {
        ASSERT_TRUE(filter->isSurvivingRecord(records + i * layout.record_length, layout)) << i;
      }
      size_t refused = 0;
      while ((marks[refused >> 6] >> (refused & 63)) & 1) refused++;
      EXPECT_FALSE(filter->isSurvivingRecord(records + refused * layout.record_length, layout));
    }
  }
}

// Where a record holds what the voxel rules read, by format; records too short
// for their format and z taken from an attribute have no layout.
TEST(PointRecordLayoutTest, PlacesByFormat) {
  LASscaling scaling;
  const struct {
    U8 format;
    U32 length;
    bool valid;
    I32 gps_time_at;
  } cases[] = {{0, 20, true, -1}, {1, 28, true, 20},  {2, 26, true, -1}, {3, 34, true, 20},  {4, 57, true, 20},
               {5, 63, true, 20}, {6, 30, true, 22},  {7, 36, true, 22}, {8, 38, true, 22},  {9, 59, true, 22},
               {10, 67, true, 22}, {1, 27, false, 0}, {6, 29, false, 0}, {10, 66, false, 0}, {11, 100, false, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.format) + " " + std::to_string(c.length));
    const std::optional<PointRecordLayout> layout = PointRecordLayout::of(c.format, c.length, scaling);
    ASSERT_EQ(layout.has_value(), c.valid);
    if (!layout) continue;
    EXPECT_EQ(layout->gps_time_at, c.gps_time_at);
    EXPECT_EQ(layout->record_length, c.length);
    EXPECT_EQ(layout->scaling, &scaling);
  }
  scaling.z_from_attribute = 0;
  EXPECT_FALSE(PointRecordLayout::of(1, 28, scaling));
}

// The attribute rules read the attribute from a record as the point gives
// it: by type, scaled and offset, NaN and a no-data value as they are; an
// index beyond the attributes or an attribute beyond the extra bytes reads
// 0.0; extra bytes that are not those of the records leave it unknown.
TEST(PointRecordLayoutTest, AttributeAsThePointGivesIt) {
  LASattributeDescriptor scaled(LAS_ATTRIBUTE_I16, "scaled");
  scaled.set_scale(0.01);
  scaled.set_offset(-3.5);
  LASattributeDescriptor counted(LAS_ATTRIBUTE_U8, "counted");
  ASSERT_TRUE(counted.set_no_data(255));
  LASheader header;
  ASSERT_EQ(header.add_attribute(LASattributeDescriptor(LAS_ATTRIBUTE_F32, "single")), 0);
  ASSERT_EQ(header.add_attribute(scaled), 1);
  ASSERT_EQ(header.add_attribute(counted), 2);
  ASSERT_EQ(header.add_attribute(LASattributeDescriptor(LAS_ATTRIBUTE_I64, "wide")), 3);
  const U32 extra = 4 + 2 + 1 + 8;
  const U8 patterns[][extra] = {
      {0x00, 0x00, 0xC0, 0x7F, 0x39, 0x30, 0xFF, 1, 2, 3, 4, 5, 6, 7, 0x80},  // NaN, 12345, no data, negative
      {0x00, 0x00, 0x80, 0xBF, 0x00, 0x80, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
      {},
  };
  const I32 old_index = attribute_idx;
  for (const U8 format : {U8(1), U8(7)}) {
    const U32 length = lasfix::point_base_size(format) + extra;
    LASpoint point;
    ASSERT_TRUE(point.init(&header, format, static_cast<U16>(length)));
    std::optional<PointRecordLayout> layout = PointRecordLayout::of(format, length, header);
    ASSERT_TRUE(layout);
    for (const I32 index : {0, 1, 2, 3, 4, -1}) {
      SCOPED_TRACE(std::to_string(format) + " attribute " + std::to_string(index));
      attribute_idx = index;
      layout->findAttribute(point, index);
      ASSERT_TRUE(layout->attribute_known);
      for (const auto& pattern : patterns) {
        std::string record(length, '\0');
        std::memcpy(record.data() + length - extra, pattern, extra);
        std::memcpy(point.extra_bytes, pattern, extra);
        const F64 expected = get_attribute(point);
        const F64 got = record_sample<F64, get_attribute>(reinterpret_cast<const U8*>(record.data()), *layout, 0.0);
        EXPECT_EQ(std::memcmp(&expected, &got, sizeof(F64)), 0) << expected << " " << got;
      }
    }
    // Records longer than the point's fields and extra bytes.
    std::optional<PointRecordLayout> longer = PointRecordLayout::of(format, length + 2, header);
    ASSERT_TRUE(longer);
    longer->findAttribute(point, 0);
    EXPECT_FALSE(longer->attribute_known);
    EXPECT_FALSE((VoxelFilterPayloadHighest<false, F64, get_attribute>::readsRecords(*longer)));
    EXPECT_TRUE((VoxelFilterPayloadHighest<false, F64, get_z>::readsRecords(*longer)));
  }
  // An attribute that its point's extra bytes do not hold.
  LASheader cut;
  ASSERT_EQ(cut.add_attribute(LASattributeDescriptor(LAS_ATTRIBUTE_F64, "cut")), 0);
  LASpoint short_point;
  ASSERT_TRUE(short_point.init(&cut, 1, 28 + 4));
  std::optional<PointRecordLayout> layout = PointRecordLayout::of(1, 28 + 4, cut);
  layout->findAttribute(short_point, 0);
  EXPECT_TRUE(layout->attribute_known);
  EXPECT_EQ(layout->attribute, nullptr);
  attribute_idx = old_index;
}

TEST(VoxelCellLayout, RecordsAreCompact) {
  // The rule that chooses by identity and compares nothing keeps the chosen
  // point's digest; those comparing a value of the identity rule out most
  // points by that value instead.
  EXPECT_EQ(sizeof(VoxelFilter<VoxelFilterPayloadFirstOccurrence<false>>::Cells::Entry), 20u);
  EXPECT_EQ(sizeof(VoxelFilter<VoxelFilterPayloadFirstOccurrence<true>>::Cells::Entry), 24u);
  // The rules that mark their survivors and move the chosen point keep its
  // first-pass position beside it.
  EXPECT_EQ((sizeof(VoxelFilter<VoxelFilterPayloadHighest<false, F64, get_z>>::Cells::Entry)), 28u);
  EXPECT_EQ((sizeof(VoxelFilter<VoxelFilterPayloadHighest<true, F64, get_z>>::Cells::Entry)), 32u);
  EXPECT_EQ((sizeof(VoxelFilter<VoxelFilterPayloadLowest<true, U16, get_intensity>>::Cells::Entry)), 28u);
  EXPECT_EQ(sizeof(VoxelFilter<VoxelFilterPayloadClosest<true>>::Cells::Entry), 32u);
  EXPECT_EQ(sizeof(VoxelFilter<VoxelFilterPayloadRandom>::Cells::Entry), 28u);
}

}  // namespace
