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

}  // namespace
