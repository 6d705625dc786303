// The procedures the item coders share: the streaming median, the GPS time
// multipliers and sequences, and the colour difference coding. Coded bytes are
// compared with the symbols written by hand on fresh models, so the tests pin
// what lands in the file, not only that reading gives writing back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "compressor/lasitemcoding.hpp"
#include "core/bytestreamin_array.hpp"
#include "core/bytestreamout_array.hpp"

namespace {

// A code stream being written; `bytes` finishes it.
struct Code {
  Code() { enc.init(&out); }
  std::string bytes() {
    enc.done();
    return std::string((const char*)out.getData(), (size_t)out.getSize());
  }
  ByteStreamOutArrayLE out;
  ArithmeticEncoder enc;
};

struct Decode {
  explicit Decode(const std::string& bytes) : in((const U8*)bytes.data(), (I64)bytes.size()) { dec.init(&in, true); }
  ByteStreamInArrayLE in;
  ArithmeticDecoder dec;
};

// A fresh model, initialised.
ModelPtr fresh(ArithmeticEncoder& enc, U32 symbols) {
  ModelPtr m = make_model(&enc, symbols);
  enc.initSymbolModel(m.get());
  return m;
}

// ------------------------------------------------------------------ median

TEST(MedianOfFive, KeepsTheWindowSortedAndAlternatesTheDroppedEnd) {
  struct Case {
    const char* name;
    std::vector<I32> inserts;
    std::array<I32, 5> window;
    bool replace_high;
  };
  const Case cases[] = {
      {"three_from_reset", {5, 1, 9}, {0, 0, 1, 5, 9}, false},
      // While the largest is dropped, a value equal to the median counts as high.
      {"tie_while_dropping_high", {0}, {0, 0, 0, 0, 0}, false},
      // While the smallest is dropped, a tie counts as low and turns back.
      {"tie_while_dropping_low", {5, 0}, {0, 0, 0, 0, 5}, true},
      {"falling_values", {-1, -2, -3}, {-3, -2, -1, 0, 0}, true},
      {"new_largest_while_dropping_low", {5, 7, 9}, {0, 0, 5, 7, 9}, false},
      {"below_the_median_while_dropping_low", {5, 7, -4}, {-4, 0, 0, 5, 7}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MedianOfFive m;
    for (I32 x : c.inserts) m.insert(x);
    EXPECT_EQ(std::vector<I32>(m.w, m.w + 5), std::vector<I32>(c.window.begin(), c.window.end()));
    EXPECT_EQ(m.replace_high, c.replace_high);
    EXPECT_EQ(m.median(), c.window[2]);
  }
}

// ------------------------------------------------------------------ GPS time

TEST(GpsTime, MultiplierRoundsHalfAwayFromZeroInSinglePrecision) {
  struct Case {
    I32 difference, reference, multiplier;
  };
  const Case cases[] = {
      {10, 10, 1},  {5, 10, 1},   {4, 10, 0},    {15, 10, 2},     {-5, 10, -1},     {-4, 10, 0},
      {3, 10, 0},   {0, 10, 0},   {7000, 10, 700},
      // The quotient is single precision: 16777217 / 1 becomes 16777216.
      {16777217, 1, 16777216},
      // Beyond the signed 32-bit range the multiplier is I32_MIN.
      {I32_MAX, 1, I32_MIN},  {I32_MIN, 1, I32_MIN},
      {I32_MIN, -1, I32_MIN},
  };
  for (const Case& c : cases)
    EXPECT_EQ(gps_time_multiplier(c.difference, c.reference), c.multiplier) << c.difference << " / " << c.reference;
}

TEST(GpsTime, MultiplierCodesAndTheirSymbolsAgree) {
  struct Case {
    I32 multiplier;
    U32 symbol;
    I32 factor;
    U32 context;
    bool outlier;
  };
  const Case cases[] = {
      {1, 1, 1, 1, false},       {2, 2, 2, 2, false},         {9, 9, 9, 2, false},       {10, 10, 10, 3, false},
      {499, 499, 499, 3, false}, {500, 500, 500, 4, true},    {70000, 500, 500, 4, true},
      {-1, 501, -1, 5, false},   {-9, 509, -9, 5, false},     {-10, 510, -10, 6, true},
      {I32_MIN, 510, -10, 6, true}, {0, 0, 0, 7, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.multiplier);
    const GpsMultiplierCode code = gps_multiplier_code(c.multiplier);
    EXPECT_EQ(code.symbol, c.symbol);
    EXPECT_EQ(code.factor, c.factor);
    EXPECT_EQ(code.context, c.context);
    EXPECT_EQ(code.outlier, c.outlier);
    const GpsMultiplierCode back = gps_multiplier_code_of_symbol(c.symbol);
    EXPECT_EQ(back.factor, c.factor);
    EXPECT_EQ(back.context, c.context);
    EXPECT_EQ(back.outlier, c.outlier);
  }
}

constexpr U64 A0 = 1ull << 40;
constexpr U64 B0 = (1ull << 40) + (1ull << 33);

// Two sequences 2^33 apart, interleaved: the second starts a sequence (the
// high halves coded, the low half raw), then each switch costs one symbol and
// every time is coded against its own sequence's step.
TEST(GpsTime, InterleavedSequencesSwitchWithOneSymbol) {
  const std::vector<U64> times = {A0, B0, A0 + 10, B0 + 10, A0 + 20, A0 + 20};

  Code expected;
  {
    ArithmeticEncoder& e = expected.enc;
    ModelPtr multiplier = fresh(e, 516), zero_delta = fresh(e, 6);
    IntegerCompressor time(&e, 32, 9, 8, 0);
    time.initCompressor();
    e.encodeSymbol(zero_delta.get(), 2);  // B0: a new sequence
    time.compress(256, 258, 8);
    e.writeInt(0);
    e.encodeSymbol(zero_delta.get(), 5);  // A0 + 10: back to sequence 0, three places ahead of 1
    e.encodeSymbol(zero_delta.get(), 1);  // its first step
    time.compress(0, 10, 0);
    e.encodeSymbol(multiplier.get(), 513);  // B0 + 10: one place ahead
    e.encodeSymbol(zero_delta.get(), 1);
    time.compress(0, 10, 0);
    e.encodeSymbol(multiplier.get(), 515);  // A0 + 20: three places ahead, then a step of one
    e.encodeSymbol(multiplier.get(), 1);
    time.compress(10, 10, 1);
    e.encodeSymbol(multiplier.get(), 511);  // unchanged
  }

  Code written;
  GpsTimeWriter writer(&written.enc, true);
  writer.init(times[0]);
  for (size_t i = 1; i < times.size(); i++) writer.write(times[i]);
  EXPECT_EQ(writer.state().newest, 1u);
  const std::string bytes = written.bytes();
  EXPECT_EQ(bytes, expected.bytes());

  Decode read(bytes);
  GpsTimeReader reader(&read.dec, true);
  reader.init(times[0]);
  for (size_t i = 1; i < times.size(); i++) EXPECT_EQ(reader.read(), times[i]) << i;
}

// Times of every kind of step through both halves, the pointwise form (with
// the unchanged symbol) and the layered form (without it, fed changed times
// only): forward and backward jumps, fractions and multiples of the step,
// outliers that replace the step, and more sequences than the four kept.
TEST(GpsTime, EveryKindOfStepRoundTrips) {
  std::vector<U64> times;
  U64 t = A0;
  const I64 steps[] = {7, 7, 7, 0, 3, 14, 63, 700, 7000000, -7, -70, 7, 2, 1, 1, 1, 1, 7};
  for (int round = 0; round < 3; round++)
    for (I64 step : steps) times.push_back(t += (U64)step);
  for (U64 s = 0; s < 6; s++) times.push_back(A0 + (s << 34));  // six sequences: the oldest are replaced
  times.push_back(A0 + (5ull << 34) + 5);
  times.push_back(A0 + (2ull << 34) + 3);  // back to a sequence still kept
  times.push_back(0);
  times.push_back(~0ull);
  times.push_back(1ull << 63);

  for (bool pointwise : {true, false}) {
    SCOPED_TRACE(pointwise ? "pointwise" : "layered");
    std::vector<U64> coded = {times[0]};
    for (size_t i = 1; i < times.size(); i++)
      if (pointwise || times[i] != coded.back()) coded.push_back(times[i]);
    Code written;
    GpsTimeWriter writer(&written.enc, pointwise);
    writer.init(coded[0]);
    for (size_t i = 1; i < coded.size(); i++) writer.write(coded[i]);
    const std::string bytes = written.bytes();
    Decode read(bytes);
    GpsTimeReader reader(&read.dec, pointwise);
    reader.init(coded[0]);
    for (size_t i = 1; i < coded.size(); i++) ASSERT_EQ(reader.read(), coded[i]) << i;
    EXPECT_EQ(read.in.tell(), (I64)bytes.size());
  }
}

// After four outliers in a row the step becomes the latest difference: the
// fifth time of the new step codes as multiplier 1.
TEST(GpsTime, FourOutliersReplaceTheStep) {
  Code written;
  GpsTimeWriter writer(&written.enc, true);
  writer.init(1000);
  writer.write(1010);  // step 10
  for (int i = 1; i <= 4; i++) writer.write(1010 + 10000 * i);  // multiplier 1000: outliers
  EXPECT_EQ(writer.state().delta[0], 10000);
  EXPECT_EQ(writer.state().outliers[0], 0);
}

// ------------------------------------------------------------------ colour

struct ColourCase {
  const char* name;
  std::array<U16, 3> reference, item;
  std::vector<std::pair<int, U32>> symbols;  // (-1: the mask model, else the difference model), symbol
};

TEST(ColourDifference, CodesTheHandWorkedSymbols) {
  const ColourCase cases[] = {
      {"not_grey", {100, 50, 200}, {110, 65, 205}, {{-1, 85}, {0, 10}, {2, 5}, {4, 249}}},
      {"grey_codes_red_only", {0x1234, 0x1230, 0x1238}, {0x1240, 0x1240, 0x1240}, {{-1, 21}, {0, 12}}},
      {"grey_high_bytes", {0x1200, 0x1200, 0x1200}, {0x1300, 0x1300, 0x1300}, {{-1, 42}, {1, 1}}},
      {"unchanged", {7, 8, 9}, {7, 8, 9}, {{-1, 64}}},
      {"low_byte_wraps_up", {250, 0, 0}, {5, 0, 0}, {{-1, 1 + 64}, {0, 11}}},
      {"low_byte_wraps_down", {5, 0, 0}, {250, 0, 0}, {{-1, 1 + 64}, {0, 245}}},
      // Green predicted at the bounds: 10 - 20 holds at 0, 250 + 20 at 255.
      {"green_prediction_held_low", {30, 10, 0}, {10, 3, 0}, {{-1, 1 + 4 + 64}, {0, 236}, {2, 3}}},
      {"green_prediction_held_high", {30, 250, 0}, {50, 254, 0}, {{-1, 1 + 4 + 64}, {0, 20}, {2, 255}}},
      // Blue moves by half the red and green change, toward zero: -3 / 2 = -1.
      {"blue_half_toward_zero", {10, 10, 100}, {9, 8, 90}, {{-1, 1 + 4 + 16 + 64}, {0, 255}, {2, 255}, {4, 247}}},
      {"high_bytes_predicted", {0x0100, 0x0200, 0x0300}, {0x0300, 0x0500, 0x0400},
       {{-1, 2 + 8 + 32 + 64}, {1, 2}, {3, 1}, {5, 255}}},
  };
  for (const ColourCase& c : cases) {
    SCOPED_TRACE(c.name);
    Code expected;
    {
      ModelPtr mask = fresh(expected.enc, 128);
      std::vector<ModelPtr> difference;
      for (int k = 0; k < 6; k++) difference.push_back(fresh(expected.enc, 256));
      for (auto [model, symbol] : c.symbols)
        expected.enc.encodeSymbol(model < 0 ? mask.get() : difference[model].get(), symbol);
    }
    Code written;
    ColourModels<ArithmeticEncoder> models(&written.enc);
    models.init(&written.enc);
    EXPECT_EQ(encode_colour_difference(&written.enc, models, c.reference.data(), c.item.data()), c.symbols[0].second);
    const std::string bytes = written.bytes();
    EXPECT_EQ(bytes, expected.bytes());

    Decode read(bytes);
    ColourModels<ArithmeticDecoder> read_models(&read.dec);
    read_models.init(&read.dec);
    std::array<U16, 3> back{};
    decode_colour_difference(&read.dec, read_models, c.reference.data(), back.data());
    EXPECT_EQ(back, c.item);
  }
}

}  // namespace
