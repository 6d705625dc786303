// Thinning by position in the stream: which points survive, that the random
// variant follows its engine draw for draw, and that its rate is one in n.
#include "tool/modulusfilter.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/laspoint.hpp"

namespace {

template <bool random>
std::vector<bool> survivors(ModulusFilter<random>& filter, int points) {
  LASpoint point;
  VoxelIndexAndCenter cell;
  std::vector<bool> result;
  for (int i = 0; i < points; i++) result.push_back(filter.isSurvivingPointAndModify(point, cell).survives);
  return result;
}

TEST(ModulusFilter, EveryNthKeepsPointsNTwoNThreeN) {
  ModulusFilter<false> filter(3);
  EXPECT_EQ(survivors(filter, 10),
            (std::vector<bool>{false, false, true, false, false, true, false, false, true, false}));
}

TEST(ModulusFilter, OneKeepsEveryPoint) {
  ModulusFilter<false> every(1);
  ModulusFilter<true> random(1);
  EXPECT_EQ(survivors(every, 5), std::vector<bool>(5, true));
  EXPECT_EQ(survivors(random, 5), std::vector<bool>(5, true));
}

// A value the options should have refused must not divide by zero.
TEST(ModulusFilter, NonPositiveNKeepsEveryPoint) {
  ModulusFilter<false> every(0);
  ModulusFilter<true> random(-5);
  EXPECT_EQ(survivors(every, 4), std::vector<bool>(4, true));
  EXPECT_EQ(survivors(random, 4), std::vector<bool>(4, true));
}

TEST(ModulusFilter, InterfaceDefaultsAndUntouchedCell) {
  ModulusFilter<true> filter(2);
  EXPECT_FALSE(filter.requiresVisit());
  EXPECT_EQ(filter.numOfSurvivingPoints(), 0u);
  LASpoint point;
  point.X = 17;
  VoxelIndexAndCenter cell;
  cell.index = 99;
  cell.center[2] = 4.5;
  for (int i = 0; i < 10; i++) {
    SurvivalDecision d = filter.isSurvivingPointAndModify(point, cell);
    EXPECT_FALSE(d.points_in_cell.has_value());
  }
  EXPECT_EQ(cell.index, 99u);
  EXPECT_EQ(cell.center[2], 4.5);
  EXPECT_EQ(point.X, 17);
}

// One draw from 0 ... n - 1 per point; the point survives on 0.
TEST(ModulusFilter, RandomFollowsTheEngine) {
  for (int seed : {0, 5, -1, 123456789}) {
    ModulusFilter<true> filter(7);
    filter.setSeed(seed);
    MinStdRand engine;
    engine.setSeed(seed);
    std::vector<bool> expected;
    for (int i = 0; i < 200; i++) expected.push_back(engine.uniformInt(0, 6) == 0);
    EXPECT_EQ(survivors(filter, 200), expected) << seed;
  }
  // Unseeded: from 443342 the first draws from 0 ... 9 are 9, 4 and 8.
  ModulusFilter<true> unseeded(10);
  EXPECT_EQ(survivors(unseeded, 3), (std::vector<bool>{false, false, false}));
}

TEST(ModulusFilter, EqualSeedsEqualSurvivors) {
  auto run = [](int seed) {
    ModulusFilter<true> filter(4);
    filter.setSeed(seed);
    return survivors(filter, 500);
  };
  EXPECT_EQ(run(0), run(1));
  EXPECT_EQ(run(0), run(2147483647));
  EXPECT_EQ(run(-1), run(3));
  EXPECT_NE(run(1), run(2));
}

TEST(ModulusFilter, RandomRateIsOneInN) {
  for (int n : {2, 10, 100}) {
    ModulusFilter<true> filter(n);
    filter.setSeed(42);
    const int points = 200000;
    int kept = 0;
    for (bool s : survivors(filter, points)) kept += s;
    const double expected = static_cast<double>(points) / n;
    const double sigma = std::sqrt(points * (1.0 / n) * (1.0 - 1.0 / n));
    EXPECT_NEAR(kept, expected, 5 * sigma) << n;
  }
}

// Deciding blocks of records gives the bits that asking point by point gives,
// for blocks of every length and at any place of the marks, with the state
// carried from block to block and on to the point-by-point decisions that
// follow; the widest ranges of the random variant take the engine's general
// way.
template <bool random>
void expect_blocks_decide_as_points(int n, int seed) {
  SCOPED_TRACE("n " + std::to_string(n) + " seed " + std::to_string(seed));
  const U32 sizes[] = {1, 3, 4, 5, 63, 64, 65, 200, 4096, 7};
  U64 total = 0;
  for (const U32 size : sizes) total += size;
  ModulusFilter<random> by_point(n), by_block(n);
  by_point.setSeed(seed);
  by_block.setSeed(seed);
  const std::vector<bool> expected = survivors(by_point, static_cast<int>(total + 50));
  const U64 offset = 37;  // the blocks start off the words of the marks
  std::vector<U64> marks((offset + total + 63) / 64, 0);
  U64 first = offset;
  for (const U32 size : sizes) {
    by_block.markSurvivingRecords(nullptr, size, PointRecordLayout{}, first, marks);
    first += size;
  }
  for (U64 i = 0; i < offset; i++) EXPECT_EQ(marks[i >> 6] >> (i & 63) & 1, 0u);
  for (U64 i = 0; i < total; i++) {
    const U64 at = offset + i;
    EXPECT_EQ((marks[at >> 6] >> (at & 63) & 1) == 1, expected[i]) << i;
  }
  const std::vector<bool> after = survivors(by_block, 50);
  EXPECT_EQ(after, std::vector<bool>(expected.begin() + static_cast<std::ptrdiff_t>(total), expected.end()));
}

TEST(ModulusFilter, BlocksOfRecordsDecideAsPointByPoint) {
  for (int n : {1, 2, 3, 10, 64, 65, 4097}) expect_blocks_decide_as_points<false>(n, 0);
  for (int n : {1, 2, 3, 10, 1000, 2147483645, 2147483646, 2147483647}) {
    for (int seed : {0, 7, -1}) expect_blocks_decide_as_points<true>(n, seed);
  }
}

}  // namespace
