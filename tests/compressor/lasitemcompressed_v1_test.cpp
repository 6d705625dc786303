// The version-1 item coders of the legacy formats: hand-worked vectors whose
// bytes must equal the symbols written on fresh models, the coders' bytes
// over long sequences against a plain second writing of the same coding, and
// round trips over generated sequences in two chunks on one coder pair.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "compressor/lasreaditemcompressed_v1.hpp"
#include "compressor/laswriteitemcompressed_v1.hpp"
#include "support/item_chunks.hpp"
#include "support/item_sequences.hpp"

namespace {

using namespace itemchunks;

// ------------------------------------------------------------------ POINT10

TEST(POINT10v1, MedianOfThreeTakesTheMiddleValue) {
  const I32 cases[][4] = {{0, 0, 0, 0}, {5, 7, 0, 5}, {7, 5, 0, 5}, {0, 5, 7, 5}, {0, 7, 5, 5},
                          {5, 0, 7, 5}, {7, 0, 5, 5}, {3, 3, 9, 3}, {9, 3, 3, 3}, {I32_MIN, I32_MAX, -1, -1}};
  for (const auto& c : cases) EXPECT_EQ(median_of_three(c), c[3]) << c[0] << " " << c[1] << " " << c[2];
}

// The integer compressors of a POINT10 coder, in one place for the expected streams.
struct Point10Coders {
  explicit Point10Coders(Code& code)
      : dx(&code.enc, 32, 1, 8, 0),
        dy(&code.enc, 32, 20, 8, 0),
        z(&code.enc, 32, 20, 8, 0),
        intensity(&code.enc, 16, 1, 8, 0),
        scan_angle(&code.enc, 8, 2, 8, 0),
        source(&code.enc, 16, 1, 8, 0) {
    for (IntegerCompressor* ic : {&dx, &dy, &z, &intensity, &scan_angle, &source}) ic->initCompressor();
  }
  IntegerCompressor dx, dy, z, intensity, scan_angle, source;
};

// A repeated point costs class 0 and a zero corrector for X, Y and Z and the
// empty mask, and reads back as the same 20 bytes.
TEST(POINT10v1, RepeatedPointCodesNothingChanged) {
  const Item p = bytes_of(point10(-7, 8, 9, 10, 0x11, 2, -3, 4, 5));
  const std::vector<Item> items = {p, p};
  Code expected;
  {
    Point10Coders ic(expected);
    ModelPtr changed = expected.fresh(64);
    ic.dx.compress(0, 0, 0);
    ic.dy.compress(0, 0, 0);
    ic.z.compress(9, 9, 0);
    expected.enc.encodeSymbol(changed.get(), 0);
  }
  expect_coded_as<LASwriteItemCompressed_POINT10_v1, LASreadItemCompressed_POINT10_v1>(items, expected.bytes());
}

// Point 1 changes every field (X by 5, Y by -5: classes 3 and 3); point 2
// steps X by 7 alone; point 3 is predicted from the median of 5, 7 and 0 and
// changes only the scan angle rank, under the context of small steps.
TEST(POINT10v1, CodesTheHandWorkedSymbols) {
  const std::vector<Item> items = {
      bytes_of(point10(1000, 2000, 300, 0, 0x09, 1, 127, 0, 1)),
      bytes_of(point10(1005, 1995, 500, 100, 0x12, 2, -128, 7, 5)),
      bytes_of(point10(1012, 1995, 500, 100, 0x12, 2, -128, 7, 5)),
      bytes_of(point10(1018, 1995, 500, 100, 0x12, 2, -127, 7, 5)),
  };
  Code expected;
  {
    ArithmeticEncoder* e = &expected.enc;
    Point10Coders ic(expected);
    ModelPtr changed = expected.fresh(64), return_byte = expected.fresh(256), classification = expected.fresh(256),
             user_data = expected.fresh(256);
    ic.dx.compress(0, 5, 0);
    ic.dy.compress(0, -5, 3);
    ic.z.compress(300, 500, 3);  // (3 + 3) / 2
    e->encodeSymbol(changed.get(), 63);
    ic.intensity.compress(0, 100, 0);
    e->encodeSymbol(return_byte.get(), 0x12);
    e->encodeSymbol(classification.get(), 2);
    ic.scan_angle.compress(127, 128, 0);  // steps of classes 3 + 3 are not small
    e->encodeSymbol(user_data.get(), 7);
    ic.source.compress(1, 5, 0);

    ic.dx.compress(0, 7, 0);  // median of 5, 0, 0
    ic.dy.compress(0, 0, 3);
    ic.z.compress(500, 500, 1);  // (3 + 0) / 2
    e->encodeSymbol(changed.get(), 0);

    ic.dx.compress(5, 6, 0);  // median of 5, 7, 0
    ic.dy.compress(0, 0, 0);  // 6 against 5 is class 0
    ic.z.compress(500, 500, 0);
    e->encodeSymbol(changed.get(), 4);
    ic.scan_angle.compress(128, 129, 1);
  }
  expect_coded_as<LASwriteItemCompressed_POINT10_v1, LASreadItemCompressed_POINT10_v1>(items, expected.bytes());
}

// The coder's bytes over a long sequence against a plain second writing of
// the coding, so that a context or prediction chosen wrongly on both sides
// alike shows.
std::string reference_point10_code(const std::vector<Item>& items) {
  Code code;
  ArithmeticEncoder* e = &code.enc;
  Point10Coders ic(code);
  ModelPtr changed_model = code.fresh(64);
  ModelPtr per_value[3][256];
  const auto value_model = [&](int table, U8 previous) {
    if (!per_value[table][previous]) per_value[table][previous] = code.fresh(256);
    return per_value[table][previous].get();
  };
  I32 xs[3] = {0, 0, 0}, ys[3] = {0, 0, 0};
  const auto median = [](const I32* d) {
    I32 s[3] = {d[0], d[1], d[2]};
    std::sort(s, s + 3);
    return s[1];
  };
  Point10 q;
  memcpy(&q, items[0].data(), 20);
  for (size_t i = 1; i < items.size(); i++) {
    Point10 p;
    memcpy(&p, items[i].data(), 20);
    const I32 dx = (I32)((U32)p.x - (U32)q.x), dy = (I32)((U32)p.y - (U32)q.y);
    ic.dx.compress(median(xs), dx, 0);
    const U32 kx = ic.dx.getLastClass();
    ic.dy.compress(median(ys), dy, std::min(kx, 19u));
    const U32 ky = ic.dy.getLastClass();
    ic.z.compress(q.z, p.z, std::min((kx + ky) / 2, 19u));
    const U32 changed = (p.intensity != q.intensity) * 32 + (p.return_byte != q.return_byte) * 16 +
                        (p.class_byte != q.class_byte) * 8 + (p.scan_angle_rank != q.scan_angle_rank) * 4 +
                        (p.user_data != q.user_data) * 2 + (p.point_source_ID != q.point_source_ID);
    e->encodeSymbol(changed_model.get(), changed);
    if (changed & 32) ic.intensity.compress(q.intensity, p.intensity, 0);
    if (changed & 16) e->encodeSymbol(value_model(0, q.return_byte), p.return_byte);
    if (changed & 8) e->encodeSymbol(value_model(1, q.class_byte), p.class_byte);
    if (changed & 4) ic.scan_angle.compress((U8)q.scan_angle_rank, (U8)p.scan_angle_rank, kx + ky <= 5);
    if (changed & 2) e->encodeSymbol(value_model(2, q.user_data), p.user_data);
    if (changed & 1) ic.source.compress(q.point_source_ID, p.point_source_ID, 0);
    xs[(i - 1) % 3] = dx;
    ys[(i - 1) % 3] = dy;
    q = p;
  }
  return code.bytes();
}

TEST(POINT10v1, CodesEveryChoiceAsTheFormatSays) {
  const std::vector<Item> items = point10_sequence(20000, 11);
  // Compared as a whole; a failure would print thousands of bytes.
  EXPECT_TRUE(write_chunks<LASwriteItemCompressed_POINT10_v1>({items}).bytes == reference_point10_code(items));
}

TEST(POINT10v1, GeneratedSequencesRoundTrip) {
  for (U32 seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    round_trip<LASwriteItemCompressed_POINT10_v1, LASreadItemCompressed_POINT10_v1>(point10_sequence(6000, seed));
  }
}

// ------------------------------------------------------------------ GPS time

// Time patterns are coded as 64-bit integers; these tests give them as such.
Item time_item(U64 pattern) { return bytes_of(pattern); }

TEST(GPSTIME11v1, MultiplierIsTheRoundedQuotientWithinItsLimits) {
  struct Case {
    const char* name;
    I32 difference, reference;
    U32 symbol;
  };
  const Case cases[] = {
      {"same step", 100, 100, 1},
      {"half a step rounds up", 50, 100, 1},
      {"just under 1.5", 149, 100, 1},
      {"1.5 rounds up", 150, 100, 2},
      {"a third", 33, 100, 0},
      {"backwards", -16, 50, 0},
      {"both negative", -100, -1, 100},
      {"at the limit", 509, 1, 509},
      {"beyond the limit", 100000, 50, 509},
      {"beyond 32 bits", I32_MAX, 1, 509},
      {"most negative", I32_MIN, 1, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(gps_multiplier_symbol_v1(c.difference, c.reference), c.symbol) << c.name;
}

// Every branch of the coding in one chunk: the first difference, steady
// steps, an unchanged time, half a step (the new reference), multipliers of
// contexts 3, 4 and 5, outliers below and above until the fourth makes the
// latest difference the reference, and a jump beyond 32 bits.
TEST(GPSTIME11v1, CodesTheHandWorkedSymbols) {
  const I64 steps[] = {100, 100, 0, 50, 300, 1000, 5000, 16, -16, 100000, 17, 17, I64(1) << 40, 17};
  std::vector<Item> items = {time_item(1000000)};
  U64 t = 1000000;
  for (I64 s : steps) items.push_back(time_item(t += (U64)s));
  Code expected;
  {
    ArithmeticEncoder* e = &expected.enc;
    ModelPtr multiplier = expected.fresh(512), zero = expected.fresh(3);
    IntegerCompressor time(e, 32, 6, 8, 0);
    time.initCompressor();
    e->encodeSymbol(zero.get(), 1);
    time.compress(0, 100, 0);
    e->encodeSymbol(multiplier.get(), 1);
    time.compress(100, 100, 1);
    e->encodeSymbol(multiplier.get(), 511);
    e->encodeSymbol(multiplier.get(), 1);  // 0.5 + 0.5: the reference becomes 50
    time.compress(100, 50, 1);
    e->encodeSymbol(multiplier.get(), 6);
    time.compress(300, 300, 3);
    e->encodeSymbol(multiplier.get(), 20);
    time.compress(1000, 1000, 4);
    e->encodeSymbol(multiplier.get(), 100);
    time.compress(5000, 5000, 5);
    e->encodeSymbol(multiplier.get(), 0);  // outlier 1
    time.compress(12, 16, 2);
    e->encodeSymbol(multiplier.get(), 0);  // outlier 2
    time.compress(12, -16, 2);
    e->encodeSymbol(multiplier.get(), 509);  // outlier 3
    time.compress(509 * 50, 100000, 5);
    e->encodeSymbol(multiplier.get(), 0);  // outlier 4: the reference becomes 17
    time.compress(12, 17, 2);
    e->encodeSymbol(multiplier.get(), 1);
    time.compress(17, 17, 1);
    e->encodeSymbol(multiplier.get(), 510);
    e->writeInt64(t - 17);
    e->encodeSymbol(multiplier.get(), 1);
    time.compress(17, 17, 1);
  }
  expect_coded_as<LASwriteItemCompressed_GPSTIME11_v1, LASreadItemCompressed_GPSTIME11_v1>(items, expected.bytes());
}

// Without a reference difference: unchanged, a jump beyond 32 bits (raw), then
// a first difference.
TEST(GPSTIME11v1, CodesTheFirstDifferenceAfterRawJumps) {
  const U64 far = 5 + (U64(1) << 40);
  const std::vector<Item> items = {time_item(5), time_item(5), time_item(far), time_item(far - 3)};
  Code expected;
  {
    ModelPtr multiplier = expected.fresh(512), zero = expected.fresh(3);
    IntegerCompressor time(&expected.enc, 32, 6, 8, 0);
    time.initCompressor();
    expected.enc.encodeSymbol(zero.get(), 0);
    expected.enc.encodeSymbol(zero.get(), 2);
    expected.enc.writeInt64(far);
    expected.enc.encodeSymbol(zero.get(), 1);
    time.compress(0, -3, 0);
  }
  expect_coded_as<LASwriteItemCompressed_GPSTIME11_v1, LASreadItemCompressed_GPSTIME11_v1>(items, expected.bytes());
}

TEST(GPSTIME11v1, GeneratedSequencesRoundTrip) {
  for (U32 seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    round_trip<LASwriteItemCompressed_GPSTIME11_v1, LASreadItemCompressed_GPSTIME11_v1>(gps_sequence(8000, seed));
  }
}

// ------------------------------------------------------------------ RGB

Item colour(U16 red, U16 green, U16 blue) {
  const U16 c[3] = {red, green, blue};
  return bytes_of(c);
}

// Low bytes only: the mask and one correction per changed byte, each under
// the context of its byte; then every byte; then nothing.
TEST(RGB12v1, CodesEachChangedByteUnderItsContext) {
  const std::vector<Item> items = {colour(0x1234, 0x1234, 0x1234), colour(0x1235, 0x1230, 0x1234),
                                   colour(0x0136, 0xFF00, 0x5678), colour(0x0136, 0xFF00, 0x5678)};
  Code expected;
  {
    ModelPtr changed = expected.fresh(64);
    IntegerCompressor rgb(&expected.enc, 8, 6, 8, 0);
    rgb.initCompressor();
    expected.enc.encodeSymbol(changed.get(), 1 | 4);
    rgb.compress(0x35 - 1, 0x35, 0);
    rgb.compress(0x34, 0x30, 2);
    expected.enc.encodeSymbol(changed.get(), 63);
    const U8 before[6] = {0x35, 0x12, 0x30, 0x12, 0x34, 0x12}, after[6] = {0x36, 0x01, 0x00, 0xFF, 0x78, 0x56};
    for (U32 k = 0; k < 6; k++) rgb.compress(before[k], after[k], k);
    expected.enc.encodeSymbol(changed.get(), 0);
  }
  expect_coded_as<LASwriteItemCompressed_RGB12_v1, LASreadItemCompressed_RGB12_v1>(items, expected.bytes());
}

TEST(RGB12v1, GeneratedSequencesRoundTrip) {
  for (U32 seed : {1u, 2u}) {
    SCOPED_TRACE(seed);
    round_trip<LASwriteItemCompressed_RGB12_v1, LASreadItemCompressed_RGB12_v1>(rgb_sequence(5000, seed));
  }
}

// ------------------------------------------------------------------ BYTE

TEST(BYTEv1, CodesEveryByteUnderTheContextOfItsPosition) {
  const std::vector<Item> items = {{1, 2, 3}, {1, 5, 0}, {1, 5, 0}};
  Code expected;
  {
    IntegerCompressor bytes(&expected.enc, 8, 3, 8, 0);
    bytes.initCompressor();
    const U8 values[3][3] = {{1, 2, 3}, {1, 5, 0}, {1, 5, 0}};
    for (int p = 1; p < 3; p++)
      for (U32 i = 0; i < 3; i++) bytes.compress(values[p - 1][i], values[p][i], i);
  }
  expect_coded_as<LASwriteItemCompressed_BYTE_v1, LASreadItemCompressed_BYTE_v1>(items, expected.bytes(), 3u);
}

TEST(BYTEv1, GeneratedSequencesRoundTrip) {
  for (U32 size : {1u, 4u, 17u}) {
    SCOPED_TRACE(size);
    round_trip<LASwriteItemCompressed_BYTE_v1, LASreadItemCompressed_BYTE_v1>(byte_sequence(size, 3000), size);
  }
}

// ------------------------------------------------------------------ wave packets

// Back to back (offset plus the previous size: symbol 1), shared (symbol 0),
// a difference (symbol 2) and a jump beyond 32 bits (symbol 3), each offset
// symbol under the model the previous symbol chose.
TEST(WAVEPACKET13v1, CodesTheHandWorkedSymbols) {
  const std::vector<Item> items = {
      wave(1, 1000, 50, 1.5f, 0.25f, -0.5f, 2.0f), wave(1, 1050, 50, 1.5f, 0.25f, -0.5f, 2.0f),
      wave(1, 1050, 50, 1.5f, 0.25f, -0.5f, 2.0f), wave(2, 5000, 60, 1.5f, 0.25f, -0.5f, -0.0f),
      wave(2, 1ull << 40, 60, 1.5f, 0.25f, -0.5f, -0.0f)};
  Code expected;
  {
    ArithmeticEncoder* e = &expected.enc;
    ModelPtr index = expected.fresh(256);
    ModelPtr offset_symbol[4] = {expected.fresh(4), expected.fresh(4), expected.fresh(4), expected.fresh(4)};
    IntegerCompressor offset(e, 32, 1, 8, 0), size(e, 32, 1, 8, 0), location(e, 32, 1, 8, 0), xyz(e, 32, 3, 8, 0);
    for (IntegerCompressor* ic : {&offset, &size, &location, &xyz}) ic->initCompressor();
    const auto rest = [&](U32 previous_size, U32 this_size, F32 previous_dz, F32 this_dz) {
      size.compress((I32)previous_size, (I32)this_size, 0);
      location.compress(bits(1.5f), bits(1.5f), 0);
      xyz.compress(bits(0.25f), bits(0.25f), 0);
      xyz.compress(bits(-0.5f), bits(-0.5f), 1);
      xyz.compress(bits(previous_dz), bits(this_dz), 2);
    };
    e->encodeSymbol(index.get(), 1);
    e->encodeSymbol(offset_symbol[0].get(), 1);
    rest(50, 50, 2.0f, 2.0f);
    e->encodeSymbol(index.get(), 1);
    e->encodeSymbol(offset_symbol[1].get(), 0);
    rest(50, 50, 2.0f, 2.0f);
    e->encodeSymbol(index.get(), 2);
    e->encodeSymbol(offset_symbol[0].get(), 2);
    offset.compress(0, 3950, 0);
    rest(50, 60, 2.0f, -0.0f);
    e->encodeSymbol(index.get(), 2);
    e->encodeSymbol(offset_symbol[2].get(), 3);
    e->writeInt64(1ull << 40);
    rest(60, 60, -0.0f, -0.0f);
  }
  expect_coded_as<LASwriteItemCompressed_WAVEPACKET13_v1, LASreadItemCompressed_WAVEPACKET13_v1>(items,
                                                                                                 expected.bytes());
}

TEST(WAVEPACKET13v1, GeneratedSequencesRoundTrip) {
  round_trip<LASwriteItemCompressed_WAVEPACKET13_v1, LASreadItemCompressed_WAVEPACKET13_v1>(wave_sequence(4000, 5));
}

}  // namespace
