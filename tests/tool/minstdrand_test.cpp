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

// Every output is the state times the multiplier, modulo the modulus.
TEST(MinStdRand, NextIsTheProductModuloTheModulus) {
  for (const int seed : {1, 2147483646, 1073741823, 99}) {
    MinStdRand engine;
    engine.setSeed(seed);
    for (int i = 0; i < 20000; i++) {
      const U64 expected = static_cast<U64>(engine.getState()) * MinStdRand::MULTIPLIER % MinStdRand::MODULUS;
      ASSERT_EQ(engine.next(), expected) << seed << " " << i;
    }
  }
}

// Four outputs side by side are the next four outputs, from the states at
// the edges of the range too.
TEST(MinStdRand, FourAtOnceAreTheNextFour) {
  for (const int seed : {1, 2, 48271, 2147483646, 443342, 123456789}) {
    MinStdRand one, four;
    one.setSeed(seed);
    four.setSeed(seed);
    for (int round = 0; round < 50; round++) {
      U32 out[4];
      four.nextFour(out);
      for (const U32 value : out) EXPECT_EQ(value, one.next()) << seed;
      EXPECT_EQ(four.getState(), one.getState()) << seed;
    }
  }
}

// The test for a draw of 0 among a count that changes from draw to draw
// decides as the draw and takes its engine steps: small counts, counts whose
// draws are rejected often (just above half the range), the largest count
// within the outputs' range and the counts beyond it, 0 (taken as 2^32)
// included.
TEST(MinStdRand, DrawsZeroAmongACountAsTheDrawDoes) {
  const U32 counts[] = {1, 2, 3, 7, 1000, 1073741824, 1073741825, 2147483645, 2147483646, 2147483647, U32_MAX, 0};
  for (const U32 count : counts) {
    SCOPED_TRACE(count);
    MinStdRand a, b;
    a.setSeed(static_cast<int>(count % 1000) + 5);
    b.setSeed(static_cast<int>(count % 1000) + 5);
    for (int i = 0; i < 3000; i++) {
      ASSERT_EQ(a.drawsZeroAmong(count), b.uniformU64(0, static_cast<U32>(count - 1)) == 0) << i;
      ASSERT_EQ(a.getState(), b.getState()) << i;
    }
  }
}

// The test for a draw of 0 takes the engine steps of the draw itself, for
// spans of every way of drawing (below, at and above the width of the outputs).
TEST(MinStdRand, DrawsZeroAsTheDrawDoes) {
  for (const U64 span : {U64(0), U64(1), U64(9), U64(2147483644), U64(2147483645), U64(2147483646), U64(1) << 40}) {
    MinStdRand drawing, testing;
    drawing.setSeed(11);
    testing.setSeed(11);
    const MinStdRand::Span range(span);
    for (int i = 0; i < 300; i++) {
      EXPECT_EQ(testing.drawsZero(range), drawing.uniformU64(0, span) == 0) << span << " " << i;
      EXPECT_EQ(testing.getState(), drawing.getState()) << span << " " << i;
    }
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

// The seed draw of a voxel takes the steps and gives the values of
// uniformInt(0, I32_MAX). A stacked value beyond the span is rejected about
// every other draw; the high part is rejected for the outputs 2^31 - 3 and
// 2^31 - 2, which the states 495330176 and 247665088 give next.
TEST(MinStdRand, NonNegativeDrawIsTheWidestDraw) {
  const int seeds[] = {1, 5, 443342, 2147483646, 495330176, 247665088};
  for (const int seed : seeds) {
    MinStdRand fast, general;
    fast.setSeed(seed);
    general.setSeed(seed);
    for (int i = 0; i < 20000; i++) {
      ASSERT_EQ(fast.uniformNonNegative(), general.uniformInt(0, I32_MAX)) << seed << " " << i;
      ASSERT_EQ(fast.getState(), general.getState()) << seed << " " << i;
    }
  }
}

// The 32-bit and 64-bit widths of a range must agree on the same offsets.
TEST(MinStdRand, WidthsAgree) {
  MinStdRand a, b;
  for (int i = 0; i < 1000; i++) {
    ASSERT_EQ(static_cast<U64>(a.uniformInt(0, 2147483647)), b.uniformU64(0, 2147483647));
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
