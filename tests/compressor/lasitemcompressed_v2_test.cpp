// The version-2 item coders of the legacy formats (POINT10, GPS time, RGB and
// extra bytes): small vectors worked by hand, whose bytes must equal the
// symbols written on fresh models, and round trips over generated sequences,
// over two chunks on one coder pair so that nothing may leak from one chunk
// into the next. Also the table that picks a coder by kind and version.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "compressor/lasitemcodertable.hpp"
#include "compressor/lasreaditemcompressed_v2.hpp"
#include "compressor/laswriteitemcompressed_v2.hpp"
#include "core/bytestreamin_array.hpp"
#include "core/bytestreamout_array.hpp"
#include "support/item_chunks.hpp"
#include "support/item_sequences.hpp"

namespace {

using namespace itemchunks;

// ------------------------------------------------------------------ POINT10

// Point 1 changes every field: return 2 of 2 after 1 of 1 (map class 2, level
// 0), the scan angle rank from 127 to -128 (the step 1). Point 2 repeats it:
// the mask 0, its intensity that of its return class, and the coordinates.
TEST(POINT10v2, CodesTheHandWorkedSymbols) {
  const std::vector<Item> items = {
      bytes_of(point10(1000, 2000, 300, 0, 0x09, 1, 127, 0, 1)),
      bytes_of(point10(1005, 1995, 500, 100, 0x12, 2, -128, 7, 5)),
      bytes_of(point10(1005, 1995, 500, 100, 0x12, 2, -128, 7, 5)),
  };
  Code expected;
  {
    ArithmeticEncoder* e = &expected.enc;
    ModelPtr changed = expected.fresh(64), return_byte = expected.fresh(256), classification = expected.fresh(256),
             scan_angle = expected.fresh(256), user_data = expected.fresh(256);
    IntegerCompressor intensity(e, 16, 4, 8, 0), source(e, 16, 1, 8, 0), dx(e, 32, 2, 8, 0), dy(e, 32, 22, 8, 0),
        z(e, 32, 20, 8, 0);
    for (IntegerCompressor* ic : {&intensity, &source, &dx, &dy, &z}) ic->initCompressor();
    e->encodeSymbol(changed.get(), 63);
    e->encodeSymbol(return_byte.get(), 0x12);
    intensity.compress(0, 100, 2);
    e->encodeSymbol(classification.get(), 2);
    e->encodeSymbol(scan_angle.get(), 1);
    e->encodeSymbol(user_data.get(), 7);
    source.compress(1, 5, 0);
    dx.compress(0, 5, 0);     // 5 is class 3
    dy.compress(0, -5, 2);    // class 3 with bit 0 cleared; -5 is class 3 too
    z.compress(0, 500, 2);    // classes 3 + 3: (6 / 2) with bit 0 cleared
    e->encodeSymbol(changed.get(), 0);
    dx.compress(0, 0, 0);     // medians of {0, 0, 0, 0, 5} and {-5, 0, 0, 0, 0}
    dy.compress(0, 0, 0);
    z.compress(500, 500, 0);
  }
  const Coded coded = write_chunks<LASwriteItemCompressed_POINT10_v2>({items});
  EXPECT_EQ(coded.bytes, expected.bytes());
  expect_read_back<LASreadItemCompressed_POINT10_v2>(coded, {items});
}

TEST(POINT10v2, GeneratedSequencesRoundTrip) {
  for (U32 seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    round_trip<LASwriteItemCompressed_POINT10_v2, LASreadItemCompressed_POINT10_v2>(point10_sequence(6000, seed));
  }
}

// The coder's bytes over a long sequence against a plain second writing of
// the same coding, field by field. Round trips cannot see a context or a
// prediction chosen wrongly on both sides alike; the bytes can, once a choice
// has been used often enough to shape its model.
std::string reference_point10_code(const std::vector<Item>& items) {
  static const U8 map[8][8] = {{15, 14, 13, 12, 11, 10, 9, 8}, {14, 0, 1, 3, 6, 10, 10, 9},
                               {13, 1, 2, 4, 7, 11, 11, 10}, {12, 3, 4, 5, 8, 12, 12, 11},
                               {11, 6, 7, 8, 9, 13, 13, 12}, {10, 10, 11, 12, 13, 14, 14, 13},
                               {9, 10, 11, 12, 13, 14, 15, 14}, {8, 9, 10, 11, 12, 13, 14, 15}};
  Code code;
  ArithmeticEncoder* e = &code.enc;
  ModelPtr changed_model = code.fresh(64), angle[2] = {code.fresh(256), code.fresh(256)};
  ModelPtr per_value[3][256];
  IntegerCompressor intensity_ic(e, 16, 4, 8, 0), source_ic(e, 16, 1, 8, 0), dx_ic(e, 32, 2, 8, 0),
      dy_ic(e, 32, 22, 8, 0), z_ic(e, 32, 20, 8, 0);
  for (IntegerCompressor* ic : {&intensity_ic, &source_ic, &dx_ic, &dy_ic, &z_ic}) ic->initCompressor();
  U16 intensity[16] = {};
  I32 last_z[8] = {};
  MedianOfFive mx[16], my[16];
  const auto value_model = [&](int table, U8 previous) {
    if (!per_value[table][previous]) per_value[table][previous] = code.fresh(256);
    return per_value[table][previous].get();
  };
  Point10 q;
  memcpy(&q, items[0].data(), 20);
  for (size_t i = 1; i < items.size(); i++) {
    Point10 p;
    memcpy(&p, items[i].data(), 20);
    const U32 r = p.return_byte & 7, n = (p.return_byte >> 3) & 7;
    const U32 m = map[n][r], l = n > r ? n - r : r - n;
    U32 changed = 0;
    if (p.return_byte != q.return_byte) changed |= 32;
    if (p.intensity != intensity[m]) changed |= 16;
    if (p.class_byte != q.class_byte) changed |= 8;
    if (p.scan_angle_rank != q.scan_angle_rank) changed |= 4;
    if (p.user_data != q.user_data) changed |= 2;
    if (p.point_source_ID != q.point_source_ID) changed |= 1;
    e->encodeSymbol(changed_model.get(), changed);
    if (changed & 32) e->encodeSymbol(value_model(0, q.return_byte), p.return_byte);
    if (changed & 16) intensity_ic.compress(intensity[m], p.intensity, std::min(m, 3u));
    if (changed & 16) intensity[m] = p.intensity;
    if (changed & 8) e->encodeSymbol(value_model(1, q.class_byte), p.class_byte);
    if (changed & 4) e->encodeSymbol(angle[p.return_byte >> 6 & 1].get(), (U8)(p.scan_angle_rank - q.scan_angle_rank));
    if (changed & 2) e->encodeSymbol(value_model(2, q.user_data), p.user_data);
    if (changed & 1) source_ic.compress(q.point_source_ID, p.point_source_ID, 0);
    const I32 dx = (I32)((U32)p.x - (U32)q.x), dy = (I32)((U32)p.y - (U32)q.y);
    const U32 single = (n == 1);
    dx_ic.compress(mx[m].median(), dx, single);
    mx[m].insert(dx);
    const U32 kx = dx_ic.getLastClass();
    dy_ic.compress(my[m].median(), dy, single + (kx < 20 ? kx - kx % 2 : 20));
    my[m].insert(dy);
    const U32 kxy = kx + dy_ic.getLastClass();
    z_ic.compress(last_z[l], p.z, single + (kxy < 36 ? kxy / 2 - kxy / 2 % 2 : 18));
    last_z[l] = p.z;
    q = p;
  }
  return code.bytes();
}

TEST(POINT10v2, CodesEveryChoiceAsTheFormatSays) {
  const std::vector<Item> items = point10_sequence(20000, 9);
  // Compared as a whole; a failure would print thousands of bytes.
  EXPECT_TRUE(write_chunks<LASwriteItemCompressed_POINT10_v2>({items}).bytes == reference_point10_code(items));
}

// The first point after a chunk start is coded against intensity 0, whatever
// the chunk's first point held: an intensity of 0 then costs nothing.
TEST(POINT10v2, ChunkStartsFromIntensityZero) {
  const std::vector<Item> items = {bytes_of(point10(0, 0, 0, 900, 0x09, 0, 0, 0, 0)),
                                   bytes_of(point10(0, 0, 0, 0, 0x09, 0, 0, 0, 0)),
                                   bytes_of(point10(0, 0, 0, 900, 0x09, 0, 0, 0, 0))};
  round_trip<LASwriteItemCompressed_POINT10_v2, LASreadItemCompressed_POINT10_v2>(items);
  Code expected;
  {
    ModelPtr changed = expected.fresh(64);
    IntegerCompressor intensity(&expected.enc, 16, 4, 8, 0), dx(&expected.enc, 32, 2, 8, 0),
        dy(&expected.enc, 32, 22, 8, 0), z(&expected.enc, 32, 20, 8, 0);
    for (IntegerCompressor* ic : {&intensity, &dx, &dy, &z}) ic->initCompressor();
    expected.enc.encodeSymbol(changed.get(), 0);
    for (int k = 0; k < 3; k++) (k == 0 ? dx : k == 1 ? dy : z).compress(0, 0, 1);
    expected.enc.encodeSymbol(changed.get(), 16);  // 900 against the class's 0
    intensity.compress(0, 900, 0);
    for (int k = 0; k < 3; k++) (k == 0 ? dx : k == 1 ? dy : z).compress(0, 0, 1);
  }
  EXPECT_EQ(write_chunks<LASwriteItemCompressed_POINT10_v2>({items}).bytes, expected.bytes());
}

// ------------------------------------------------------------------ GPS time

TEST(GPSTIME11v2, GeneratedSequencesRoundTrip) {
  for (U32 seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    round_trip<LASwriteItemCompressed_GPSTIME11_v2, LASreadItemCompressed_GPSTIME11_v2>(gps_sequence(8000, seed));
  }
}

// ------------------------------------------------------------------ RGB

TEST(RGB12v2, GeneratedSequencesRoundTrip) {
  for (U32 seed : {1u, 2u}) {
    SCOPED_TRACE(seed);
    round_trip<LASwriteItemCompressed_RGB12_v2, LASreadItemCompressed_RGB12_v2>(rgb_sequence(5000, seed));
  }
}

// ------------------------------------------------------------------ BYTE

TEST(BYTEv2, CodesEveryByteAsItsDifference) {
  const std::vector<Item> items = {{1, 2, 3}, {1, 5, 0}, {1, 5, 0}};
  Code expected;
  {
    ModelPtr m[3] = {expected.fresh(256), expected.fresh(256), expected.fresh(256)};
    const U32 symbols[2][3] = {{0, 3, 253}, {0, 0, 0}};
    for (const auto& point : symbols)
      for (int i = 0; i < 3; i++) expected.enc.encodeSymbol(m[i].get(), point[i]);
  }
  const Coded coded = write_chunks<LASwriteItemCompressed_BYTE_v2>({items}, 3u);
  EXPECT_EQ(coded.bytes, expected.bytes());
  expect_read_back<LASreadItemCompressed_BYTE_v2>(coded, {items}, 3u);
}

TEST(BYTEv2, GeneratedSequencesRoundTrip) {
  for (U32 size : {1u, 4u, 17u}) {
    SCOPED_TRACE(size);
    round_trip<LASwriteItemCompressed_BYTE_v2, LASreadItemCompressed_BYTE_v2>(byte_sequence(size, 3000), size);
  }
}

// ------------------------------------------------------------------ table

TEST(ItemCoderTable, HasTheLegacyCodersAndNothingElseYet) {
  struct Row {
    LASitem::Type type;
    U16 version;
    bool coded;
  };
  const Row rows[] = {
      {LASitem::POINT10, 2, true},   {LASitem::GPSTIME11, 2, true},    {LASitem::RGB12, 2, true},
      {LASitem::BYTE, 2, true},      {LASitem::WAVEPACKET13, 1, true}, {LASitem::WAVEPACKET13, 2, false},
      {LASitem::POINT10, 0, false},  {LASitem::POINT10, 5, false},     {LASitem::POINT10, 1, true},
      {LASitem::GPSTIME11, 1, true}, {LASitem::RGB12, 1, true},        {LASitem::BYTE, 1, true},
  };
  ArithmeticEncoder enc;
  ArithmeticDecoder dec;
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.type << " v" << row.version);
    const LASitem item = {row.type, (U16)(row.type == LASitem::BYTE ? 3 : 20), row.version};
    std::unique_ptr<LASreadItemCompressed> reader(make_item_reader(item, &dec, 0xFFFFFFFF));
    std::unique_ptr<LASwriteItemCompressed> writer(make_item_writer(item, &enc));
    EXPECT_EQ(reader != nullptr, row.coded);
    EXPECT_EQ(writer != nullptr, row.coded);
  }
}

}  // namespace
