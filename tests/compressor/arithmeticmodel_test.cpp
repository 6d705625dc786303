#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <vector>

#include "compressor/arithmeticdecoder.hpp"
#include "compressor/arithmeticencoder.hpp"
#include "core/bytestreamout_nil.hpp"

namespace {

// Models adapt as the encoder codes; a counting stream takes the bytes.
class ModelTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(enc.init(&nil)); }
  ByteStreamOutNil nil;
  ArithmeticEncoder enc;
};

TEST_F(ModelTest, BitModelAdaptationSchedule) {
  ArithmeticBitModel m;
  EXPECT_EQ(m.zero_probability, 4096u);
  // The interval grows by 5/4 up to 64; each adaptation comes after that many bits.
  const U32 intervals[] = {4, 5, 6, 7, 8, 10, 12, 15, 18, 22, 27, 33, 41, 51, 63, 64, 64};
  for (U32 interval : intervals) {
    EXPECT_EQ(m.adapt_interval, interval);
    for (U32 i = 0; i < interval; i++) {
      EXPECT_EQ(m.adapt_countdown, interval - i);
      enc.encodeBit(&m, 0);
    }
  }
  // After the first four 0 bits: 5 zeros of 6, ((2^31 / 6) * 5) >> 18 = 6826.
  ArithmeticBitModel first;
  for (int i = 0; i < 4; i++) enc.encodeBit(&first, 0);
  EXPECT_EQ(first.bit_total, 6u);
  EXPECT_EQ(first.zero_count, 5u);
  EXPECT_EQ(first.zero_probability, 6826u);
  first.init();
  EXPECT_EQ(first.adapt_interval, 4u);
  EXPECT_EQ(first.zero_probability, 4096u);
}

// However one-sided the bits, both values keep a probability: counts are halved
// above 8192 and a 0 count equal to the total is pushed apart.
TEST_F(ModelTest, BitModelNeverCertain) {
  for (U32 bit : {0u, 1u}) {
    ArithmeticBitModel m;
    U32 halvings = 0, last_total = m.bit_total;
    for (int i = 0; i < 200000; i++) {
      enc.encodeBit(&m, bit);
      if (m.bit_total < last_total) halvings++;
      last_total = m.bit_total;
      ASSERT_LE(m.bit_total, BIT_MODEL_MAX_COUNT);
      // The counts catch up at each adaptation.
      if (m.adapt_countdown == m.adapt_interval) {
        ASSERT_LT(m.zero_count, m.bit_total);
      }
      ASSERT_GE(m.zero_probability, 1u);
      ASSERT_LT(m.zero_probability, BIT_MODEL_MAX_COUNT);
    }
    EXPECT_GT(halvings, 10u);
  }
}

TEST(ArithmeticModel, RefusesSymbolCountsOutside2To2048) {
  ArithmeticEncoder enc;
  ArithmeticDecoder dec;
  for (U32 n : {0u, 1u, 2049u, 0xFFFFFFFFu}) {
    ArithmeticModel* a = enc.createSymbolModel(n);
    ArithmeticModel* b = dec.createSymbolModel(n);
    EXPECT_EQ(enc.initSymbolModel(a), -1) << n;
    EXPECT_EQ(dec.initSymbolModel(b), -1) << n;
    EXPECT_EQ(a->cumulative, nullptr);
    EXPECT_EQ(b->cumulative, nullptr);
    enc.destroySymbolModel(a);
    dec.destroySymbolModel(b);
  }
  enc.destroySymbolModel(nullptr);
  dec.destroyBitModel(nullptr);
}

// Only decoding models of more than 16 symbols get a lookup table, of the
// smallest power of two from 8 slots with 4 symbols or fewer per slot.
TEST(ArithmeticModel, LookupTableSizes) {
  struct Row {
    U32 symbols;
    bool for_encoder;
    U32 lookup_size;
  };
  const Row rows[] = {{2, false, 0},    {16, false, 0},   {17, false, 8},  {32, false, 8},    {33, false, 16},
                      {64, false, 16},  {65, false, 32},  {256, false, 64}, {2048, false, 512}, {17, true, 0},
                      {2048, true, 0}};
  for (const Row& row : rows) {
    ArithmeticModel m(row.symbols, row.for_encoder);
    ASSERT_EQ(m.init(), 0);
    EXPECT_EQ(m.lookup_size, row.lookup_size) << row.symbols;
    EXPECT_EQ(m.lookup == nullptr, row.lookup_size == 0) << row.symbols;
    if (row.lookup_size) {
      EXPECT_EQ(1u << (15 - m.lookup_shift), m.lookup_size);
    }
  }
}

TEST(ArithmeticModel, FreshDistribution) {
  ArithmeticModel m(3, true);
  ASSERT_EQ(m.init(), 0);
  EXPECT_EQ(m.cumulative[0], 0u);
  EXPECT_EQ(m.cumulative[1], 10922u);  // (2^31 / 3) >> 16
  EXPECT_EQ(m.cumulative[2], 21845u);
  EXPECT_EQ(m.count_total, 3u);
  EXPECT_EQ(m.adapt_interval, 4u);  // (3 + 6) / 2
  EXPECT_EQ(m.adapt_countdown, 4u);
  EXPECT_EQ(m.top_symbol, 2u);
}

// Checks what the coder relies on: the cumulative distribution rises strictly
// below 32768, the total is the sum of the counts (which run ahead of it by the
// symbols coded since the last rebuild), and every lookup slot brackets the
// symbols whose ranges meet it.
static void expect_consistent(const ArithmeticModel& m) {
  U64 sum = 0;
  for (U32 k = 0; k < m.symbol_count; k++) sum += m.counts[k];
  ASSERT_EQ(sum, m.count_total + (m.adapt_interval - m.adapt_countdown));
  ASSERT_LE(m.count_total, SYMBOL_MODEL_MAX_COUNT);
  ASSERT_EQ(m.cumulative[0], 0u);
  for (U32 k = 1; k < m.symbol_count; k++) ASSERT_GT(m.cumulative[k], m.cumulative[k - 1]);
  ASSERT_LT(m.cumulative[m.top_symbol], SYMBOL_MODEL_MAX_COUNT);
  if (!m.lookup) return;
  U32 s = 0;
  for (U32 d = 0; d < SYMBOL_MODEL_MAX_COUNT + 64; d++) {
    while (s < m.top_symbol && m.cumulative[s + 1] <= d) s++;
    const U32 t = d >> m.lookup_shift;
    ASSERT_LE(t, m.lookup_size);
    ASSERT_LE(m.lookup[t], s) << d;
    ASSERT_GE(m.lookup[t + 1] + 1, s + 1) << d;
  }
}

TEST_F(ModelTest, RebuildsKeepDistributionAndLookupConsistent) {
  std::mt19937 rng(11);
  for (U32 n : {17u, 40u, 100u, 256u, 1000u, 2048u}) {
    SCOPED_TRACE(n);
    ArithmeticModel m(n, false);
    ASSERT_EQ(m.init(), 0);
    expect_consistent(m);
    // Skewed symbols, so that some counts grow large and others stay at 1.
    for (int round = 0; round < 40; round++) {
      std::geometric_distribution<> skewed(0.05);
      for (int i = 0; i < 5000; i++) enc.encodeSymbol(&m, std::min<U32>(n - 1, (U32)skewed(rng)));
      expect_consistent(m);
    }
  }
}

TEST_F(ModelTest, SymbolModelAdaptationSchedule) {
  ArithmeticModel m(2, true);
  ASSERT_EQ(m.init(), 0);
  // From (n + 6) / 2 = 4 the interval grows by 5/4 up to 8n + 48 = 64.
  const U32 intervals[] = {4, 5, 6, 7, 8, 10, 12, 15, 18, 22, 27, 33, 41, 51, 63, 64, 64};
  U32 total = 2;
  for (U32 interval : intervals) {
    EXPECT_EQ(m.adapt_interval, interval);
    for (U32 i = 0; i < interval; i++) enc.encodeSymbol(&m, 1);
    total += interval;
    EXPECT_EQ(m.count_total, total);
  }
}

// When the total passes 32768 every count is halved rounding up: a symbol never
// seen keeps its count of 1 and stays codable.
TEST_F(ModelTest, HalvingKeepsCountsOfOne) {
  ArithmeticModel m(5, true);
  ASSERT_EQ(m.init(), 0);
  U32 halvings = 0, last_total = m.count_total;
  for (int i = 0; i < 100000; i++) {
    enc.encodeSymbol(&m, 0);
    if (m.count_total < last_total) {
      halvings++;
      for (U32 k = 1; k < 5; k++) EXPECT_EQ(m.counts[k], 1u);
      expect_consistent(m);
    }
    last_total = m.count_total;
  }
  EXPECT_GT(halvings, 2u);
  EXPECT_GT(m.cumulative[4], m.cumulative[3]);
}

TEST(ArithmeticModel, StartCountsFromTable) {
  const U32 table[] = {1, 2, 5};
  ArithmeticModel m(3, true);
  ASSERT_EQ(m.init(table), 0);
  EXPECT_EQ(m.count_total, 8u);
  EXPECT_EQ(m.cumulative[1], 4096u);   // 32768 * 1 / 8
  EXPECT_EQ(m.cumulative[2], 12288u);  // 32768 * 3 / 8
  // Resetting without a table starts from counts of 1 again.
  ASSERT_EQ(m.init(), 0);
  EXPECT_EQ(m.count_total, 3u);
  EXPECT_EQ(m.cumulative[1], 10922u);

  // A zero count would leave a symbol uncodable; a total above the limit is refused too.
  const U32 zero[] = {1, 0, 1};
  const U32 huge[] = {1, 0xFFFFFFFF, 2};
  const U32 over[] = {16384, 16384, 1};
  EXPECT_EQ(m.init(zero), -1);
  EXPECT_EQ(m.init(huge), -1);
  EXPECT_EQ(m.init(over), -1);
  EXPECT_EQ(m.count_total, 3u);  // unchanged by the refusals
}

}  // namespace
