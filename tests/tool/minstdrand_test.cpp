// The random engine must reproduce its draws exactly: saved seeds and scripts
// rely on a given seed keeping the same points.
#include "tool/minstdrand.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

TEST(MinStdRand, OutputsFromDefaultState) {
  MinStdRand engine;
  EXPECT_EQ(engine.getState(), 443342u);
  EXPECT_EQ(engine.next(), 2073208859u);
  EXPECT_EQ(engine.next(), 979398942u);
  EXPECT_EQ(engine.next(), 1861324224u);
}

TEST(MinStdRand, OutputsStayInRangeAtTheEdges) {
  MinStdRand engine;
  engine.setSeed(1);
  EXPECT_EQ(engine.next(), 48271u);
  engine.setSeed(2147483646);  // -1 modulo 2^31 - 1
  EXPECT_EQ(engine.next(), 2147483647u - 48271u);
}

// Every step is the remainder of state x 48271 by 2^31 - 1, for states
// across the whole range and those whose products fall just below or above a
// multiple of the modulus.
TEST(MinStdRand, StepIsTheRemainder) {
  std::vector<U64> states = {1, 2, 44488, 44489, 44490, 2147483645, 2147483646};
  for (U64 s = 7; s < MinStdRand::MODULUS; s += 104729) states.push_back(s);
  for (U64 k = 1; k < 48271; k += 97) {  // k x modulus / 48271, rounded both ways
    states.push_back(k * MinStdRand::MODULUS / MinStdRand::MULTIPLIER);
    states.push_back(k * MinStdRand::MODULUS / MinStdRand::MULTIPLIER + 1);
  }
  for (const U64 state : states) {
    MinStdRand engine;
    engine.setSeed(static_cast<int>(state));
    ASSERT_EQ(engine.getState(), state);
    ASSERT_EQ(engine.next(), state * MinStdRand::MULTIPLIER % MinStdRand::MODULUS) << state;
  }
}

struct SeedCase {
  const char* name;
  int seed;
  U32 state;
};

TEST(MinStdRand, SeedingRule) {
  const SeedCase cases[] = {
      {"zero_becomes_one", 0, 1},
      {"one", 1, 1},
      {"modulus_wraps_to_zero_then_one", 2147483647, 1},
      {"minus_one_widened", -1, 3},
      {"most_negative_widened", -2147483647 - 1, 3},
      {"plain", 12345, 12345},
      {"modulus_minus_one", 2147483646, 2147483646},
  };
  for (const SeedCase& c : cases) {
    MinStdRand engine;
    engine.setSeed(c.seed);
    EXPECT_EQ(engine.getState(), c.state) << c.name;
  }
}

TEST(MinStdRand, EqualStatesGiveEqualDraws) {
  MinStdRand minus_one, three;
  minus_one.setSeed(-1);
  three.setSeed(3);
  for (int i = 0; i < 5; i++) EXPECT_EQ(minus_one.uniformInt(0, 99), three.uniformInt(0, 99));
}

TEST(MinStdRand, SmallRangeOneStepEach) {
  MinStdRand engine;
  EXPECT_EQ(engine.uniformInt(0, 9), 9);
  EXPECT_EQ(engine.uniformInt(0, 9), 4);
  EXPECT_EQ(engine.uniformInt(0, 9), 8);
  EXPECT_EQ(engine.getState(), 1861324224u);
}

TEST(MinStdRand, RangeWiderThanOutputsStacksDraws) {
  MinStdRand engine;
  EXPECT_EQ(engine.uniformInt(0, 2147483647), 950950826);
  EXPECT_EQ(engine.uniformInt(0, 2147483647), 1792795618);
  EXPECT_EQ(engine.getState(), 1792795619u);
  EXPECT_EQ(engine.uniformInt(5, 9), 6);
}

TEST(MinStdRand, RangeEqualToOutputsTakesOneOutput) {
  MinStdRand engine;
  EXPECT_EQ(engine.uniformU64(0, 2147483645), 2073208858u);
  EXPECT_EQ(engine.uniformU64(10, 10ull + 2147483645), 10u + 979398941u);
}

TEST(MinStdRand, OneValueRangeStillSteps) {
  MinStdRand engine;
  EXPECT_EQ(engine.uniformInt(7, 7), 7);
  EXPECT_EQ(engine.getState(), 2073208859u);
  EXPECT_EQ(engine.uniformU64(0, 0), 0u);
  EXPECT_EQ(engine.getState(), 979398942u);
}

TEST(MinStdRand, NegativeBoundsComputeInRangeWidth) {
  MinStdRand a, b;
  for (int i = 0; i < 100; i++) {
    I32 v = a.uniformInt(-2147483647 - 1, -2147483647 - 1 + 9);
    EXPECT_EQ(v, -2147483647 - 1 + b.uniformInt(0, 9));
  }
}

// The 32-bit and 64-bit widths of a range must agree on the same offsets.
TEST(MinStdRand, WidthsAgree) {
  MinStdRand a, b;
  for (int i = 0; i < 1000; i++) {
    ASSERT_EQ(static_cast<U64>(a.uniformInt(0, 2147483647)), b.uniformU64(0, 2147483647));
  }
}

// drawsZero decides as uniformU64(0, count - 1) == 0 and leaves the engine
// where it leaves it: small counts, counts whose draws are rejected often
// (just above half the range), the largest count of the 32-bit division and
// the counts beyond it, 0 (taken as 2^32) included.
TEST(MinStdRand, DrawsZeroAsTheUniformDraw) {
  const U32 counts[] = {1, 2, 3, 7, 1000, 1073741824, 1073741825, 2147483645, 2147483646, 2147483647, U32_MAX, 0};
  for (const U32 count : counts) {
    SCOPED_TRACE(count);
    MinStdRand a, b;
    a.setSeed(static_cast<int>(count % 1000) + 5);
    b.setSeed(static_cast<int>(count % 1000) + 5);
    for (int i = 0; i < 3000; i++) {
      ASSERT_EQ(a.drawsZero(count), b.uniformU64(0, static_cast<U32>(count - 1)) == 0) << i;
      ASSERT_EQ(a.getState(), b.getState()) << i;
    }
  }
}

// Every value of a range must come up with about equal frequency, also across
// the stacked (wider than one output) path.
TEST(MinStdRand, DrawsAreUniform) {
  struct RangeCase {
    U64 span;
    U64 draws;
  };
  for (RangeCase c : {RangeCase{1, 20000}, RangeCase{6, 70000}, RangeCase{2147483646ull * 3 - 1, 60000}}) {
    MinStdRand engine;
    engine.setSeed(2024);
    const U64 buckets = c.span < 16 ? c.span + 1 : 3;
    std::vector<U64> hits(buckets, 0);
    for (U64 i = 0; i < c.draws; i++) {
      U64 v = engine.uniformU64(0, c.span);
      ASSERT_LE(v, c.span);
      hits[c.span < 16 ? v : v / 2147483646]++;
    }
    const double expected = static_cast<double>(c.draws) / static_cast<double>(buckets);
    for (U64 h : hits) EXPECT_NEAR(static_cast<double>(h), expected, 5 * std::sqrt(expected)) << c.span;
  }
}

}  // namespace
