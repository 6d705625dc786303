// The layered POINT14 coder (versions 3 and 4) through the chunked point
// writer and reader: round trips of records with interleaved scanner
// channels, up to 15 returns, classes above 31 and interleaved GPS time
// sequences; the stream sizes of a chunk; decoding only some fields; the
// context handed to the next item; damaged chunks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "compressor/lasitemcodertable.hpp"
#include "compressor/lasreaditemcompressed_v4.hpp"
#include "compressor/laswriteitemcompressed_v4.hpp"
#include "core/lasreader.hpp"
#include "support/point_records.hpp"

namespace {

constexpr U16 LENGTH = 30;

// A point of a survey with `channels` scanner channels firing in turn (in
// runs of a few pulses), each pulse with up to 15 returns that share the
// pulse's time, each channel its own time sequence far from the others.
lasfix::Point layered_point(U32 i, U32 channels) {
  lasfix::Point p;
  const U32 pulse = i / 3;
  const U32 channel = channels > 1 ? (pulse / (1 + pulse % 3)) % channels : 0;
  p.scanner_channel = (uint8_t)channel;
  p.number_of_returns = (uint8_t)(1 + pulse % 15);
  p.return_number = (uint8_t)(1 + i % 3 % p.number_of_returns);
  if (pulse % 23 == 5) p.return_number = (uint8_t)(p.number_of_returns + 1 + pulse % 3);  // beyond the count
  p.X = (int32_t)(channel * 100000 + pulse * 37 + (i % 3) * 5 - 50000);
  p.Y = (int32_t)(channel * 7000 - (int32_t)(pulse * 11) + (int32_t)(i % 3));
  p.Z = (int32_t)(1000 + (i % 3) * -150 + (int32_t)(pulse % 40) * 3);
  p.intensity = (uint16_t)(p.return_number * 300 + pulse % 17);
  p.classification = (uint8_t)(pulse % 29 == 0 ? 40 + pulse % 200 : (i % 3 == 0 ? 2 : 5));
  p.synthetic = pulse % 31 == 1;
  p.withheld = pulse % 37 == 2;
  p.overlap = channel == 3;
  p.scan_direction_flag = (pulse / 50) & 1;
  p.edge_of_flight_line = pulse % 50 == 0;
  p.scan_angle = (int16_t)((int)(pulse % 5000) * 12 - 30000);
  p.user_data = (uint8_t)(pulse % 97 == 0 ? pulse : 7);
  p.point_source_ID = (uint16_t)(10 + channel + (pulse / 1000));
  // Two sequences per channel now and then (a second line flown in between).
  const double base = (pulse % 211 < 7) ? 5e8 : 3e8 + 2e6 * channel;
  p.gps_time = base + pulse * 0.0000125;
  return p;
}

std::string layered_records(U32 count, U32 channels) {
  std::string bytes;
  for (U32 i = 0; i < count; i++) bytes += lasfix::encode_point(layered_point(i, channels), 6, LENGTH);
  return bytes;
}

std::string record_at(const std::string& records, size_t i) { return records.substr(i * LENGTH, LENGTH); }

struct Layered {
  std::unique_ptr<Vembra> vembra;
  std::string bytes;
};

// Writes the records with the layered coder of `version`; chunk size 0 means
// adaptive chunks closed before the indexes in `breaks`.
Layered compress(const std::string& records, U16 version, U32 chunk_size, const std::vector<U32>& breaks = {}) {
  Layered out;
  out.vembra = testpoints::description(6, LENGTH, Vembra::LAYERED_CHUNKED, version, chunk_size);
  EXPECT_TRUE(out.vembra);
  ByteStreamOutArrayLE stream;
  LASwritePoint writer;
  EXPECT_TRUE(writer.setup(out.vembra->num_items, out.vembra->items, out.vembra.get()));
  EXPECT_TRUE(writer.init(&stream));
  testpoints::Point point(6, LENGTH);
  size_t next_break = 0;
  for (size_t i = 0; i < records.size() / LENGTH; i++) {
    if (next_break < breaks.size() && breaks[next_break] == i) {
      EXPECT_TRUE(writer.chunk());
      next_break++;
    }
    EXPECT_TRUE(testpoints::load(point.point, record_at(records, i)));
    EXPECT_TRUE(writer.write(point.point.item_data));
  }
  EXPECT_TRUE(writer.done());
  out.bytes.assign((const char*)stream.getData(), (size_t)stream.getSize());
  return out;
}

// Reads `count` points of a layered block with a field mask and returns the
// points; stops at the first failed read, whose error text is kept.
struct Decoded {
  std::vector<std::string> records;
  std::vector<Point14Block> points;  // the leading point fields as read
  std::string error;
};

Decoded decompress(const Layered& block, const std::string& bytes, size_t count, U32 mask = LAS_SELECTIVE_ALL,
                   bool seekable = true) {
  Decoded decoded;
  std::unique_ptr<ByteStreamIn> in;
  if (seekable)
    in = std::make_unique<ByteStreamInArrayLE>((const U8*)bytes.data(), (I64)bytes.size());
  else
    in = std::make_unique<testpoints::UnseekableIn>((const U8*)bytes.data(), (I64)bytes.size());
  LASreadPoint reader(mask);
  EXPECT_TRUE(reader.setup(block.vembra->num_items, block.vembra->items, block.vembra.get()));
  EXPECT_TRUE(reader.init(in.get()));
  testpoints::Point target(6, LENGTH);
  for (size_t i = 0; i < count; i++) {
    if (!reader.read(target.point.item_data)) {
      decoded.error = reader.get_error() ? reader.get_error() : "(no text)";
      break;
    }
    decoded.records.push_back(testpoints::record_of(target.point));
    Point14Block block;
    memcpy(&block, target.point.item_data[0], sizeof(block));
    decoded.points.push_back(block);
  }
  return decoded;
}

// The nine stream sizes of the chunk that starts at `at` in a block of
// format-6 points.
std::vector<U32> stream_sizes(const std::string& bytes, size_t at) {
  std::vector<U32> sizes;
  const size_t first = at + LENGTH + 4;  // the raw point and the point count
  for (size_t s = 0; s < 9; s++) sizes.push_back(lasfix::get_u32(bytes, first + 4 * s));
  return sizes;
}

struct RoundTripCase {
  const char* name;
  U16 version;
  U32 channels;
  U32 count;
  U32 chunk_size;
  std::vector<U32> breaks;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }

class LayeredRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(LayeredRoundTrip, GivesBackEveryRecord) {
  const RoundTripCase& c = GetParam();
  const std::string records = layered_records(c.count, c.channels);
  const Layered block = compress(records, c.version, c.chunk_size, c.breaks);
  if (c.chunk_size != 1) {
    EXPECT_LT(block.bytes.size(), records.size() / 2) << "hardly compressed";
  }
  // Adaptive chunks cannot be found without the table, which a pipe cannot reach.
  for (bool seekable : {true, false}) {
    if (!seekable && c.chunk_size == 0) continue;
    SCOPED_TRACE(seekable ? "seekable" : "pipe");
    const Decoded decoded = decompress(block, block.bytes, c.count, LAS_SELECTIVE_ALL, seekable);
    ASSERT_EQ(decoded.error, "");
    ASSERT_EQ(decoded.points.size(), c.count);
    for (size_t i = 0; i < c.count; i++)
      ASSERT_EQ(decoded.records[i], record_at(records, i)) << "point " << i;
  }
  const size_t chunks = c.chunk_size ? (c.count + c.chunk_size - 1) / c.chunk_size : c.breaks.size() + 1;
  EXPECT_EQ(testpoints::read_table(block.bytes, c.chunk_size == 0).byte_counts.size(), chunks);
}

INSTANTIATE_TEST_SUITE_P(
    Chunks, LayeredRoundTrip,
    ::testing::Values(RoundTripCase{"v3_one_channel", 3, 1, 3000, 50000, {}},
                      RoundTripCase{"v3_two_channels", 3, 2, 3000, 1000, {}},
                      RoundTripCase{"v3_four_channels", 3, 4, 5000, 50000, {}},
                      RoundTripCase{"v4_three_channels", 4, 3, 5000, 777, {}},
                      RoundTripCase{"v4_four_channels_adaptive", 4, 4, 4000, 0, {1, 2, 1500, 3999}},
                      RoundTripCase{"v3_one_point_chunks", 3, 4, 40, 1, {}}),
    [](const ::testing::TestParamInfo<RoundTripCase>& info) { return std::string(info.param.name); });

// POINT14 of version 2 is read by the version-3 reader and never written;
// versions 3 and 4 are both read and written.
TEST(LayeredPoint14, CoderTableRows) {
  ArithmeticEncoder enc;
  ArithmeticDecoder dec;
  for (U16 version : {1, 2, 3, 4, 5}) {
    SCOPED_TRACE(version);
    const LASitem item = {LASitem::POINT14, 30, version};
    std::unique_ptr<LASreadItemCompressed> reader(make_item_reader(item, &dec, LAS_SELECTIVE_ALL));
    std::unique_ptr<LASwriteItemCompressed> writer(make_item_writer(item, &enc));
    EXPECT_EQ(reader != nullptr, version >= 2 && version <= 4);
    EXPECT_EQ(writer != nullptr, version == 3 || version == 4);
    if (version == 2) {
      EXPECT_NE(dynamic_cast<LASreadItemCompressed_POINT14_v3*>(reader.get()), nullptr);
      EXPECT_EQ(dynamic_cast<LASreadItemCompressed_POINT14_v4*>(reader.get()), nullptr);
    }
  }
}

// Seeking decodes from the start of the target's chunk into the driver's
// scratch point, forwards and backwards, with and without a field mask.
TEST(LayeredPoint14, SeekLandsOnTheTarget) {
  const std::string records = layered_records(2500, 4);
  const Layered block = compress(records, 4, 1000);
  for (U32 mask : {LAS_SELECTIVE_ALL, LAS_SELECTIVE_Z}) {
    ByteStreamInArrayLE in((const U8*)block.bytes.data(), (I64)block.bytes.size());
    LASreadPoint reader(mask);
    ASSERT_TRUE(reader.setup(block.vembra->num_items, block.vembra->items, block.vembra.get()));
    ASSERT_TRUE(reader.init(&in));
    testpoints::Point target(6, LENGTH);
    U64 current = 0;
    for (U64 wanted : {2100u, 5u, 999u, 1000u, 2499u}) {
      SCOPED_TRACE(wanted);
      ASSERT_TRUE(reader.seek(current, wanted));
      ASSERT_TRUE(reader.read(target.point.item_data));
      current = wanted + 1;
      if (mask == LAS_SELECTIVE_ALL) {
        EXPECT_EQ(testpoints::record_of(target.point), record_at(records, wanted));
      } else {
        EXPECT_EQ(testpoints::record_of(target.point).substr(0, 12), record_at(records, wanted).substr(0, 12));
      }
    }
  }
}

// Points whose legacy fields were changed without the extended ones (a flag
// or class set the legacy way) are coded as their record says, as the raw
// first point of each chunk is: the decoded records equal the records the
// points make uncompressed, and the class models stay in step.
TEST(LayeredPoint14, PointsAreCodedAsTheirRecordSaysThem) {
  const std::string records = layered_records(1500, 2);
  const std::unique_ptr<Vembra> vembra = testpoints::description(6, LENGTH, Vembra::LAYERED_CHUNKED, 3, 500);
  ByteStreamOutArrayLE stream;
  LASwritePoint writer;
  ASSERT_TRUE(writer.setup(vembra->num_items, vembra->items, vembra.get()));
  ASSERT_TRUE(writer.init(&stream));
  testpoints::Point point(6, LENGTH);
  std::string expected;
  for (size_t i = 0; i < 1500; i++) {
    ASSERT_TRUE(testpoints::load(point.point, record_at(records, i)));
    if (i % 3 == 1) point.point.set_withheld_flag(1);
    if (i % 5 == 2) point.point.set_classification(7);
    if (i % 7 == 3) point.point.set_edge_of_flight_line(1);
    const std::string record = testpoints::record_of(point.point);
    ASSERT_NE(record, "");
    expected += record;
    ASSERT_TRUE(writer.write(point.point.item_data));
  }
  ASSERT_TRUE(writer.done());
  ASSERT_NE(expected, records);
  Layered block;
  block.vembra = testpoints::description(6, LENGTH, Vembra::LAYERED_CHUNKED, 3, 500);
  block.bytes.assign((const char*)stream.getData(), (size_t)stream.getSize());
  const Decoded decoded = decompress(block, block.bytes, 1500);
  ASSERT_EQ(decoded.records.size(), 1500u);
  for (size_t i = 0; i < 1500; i++) ASSERT_EQ(decoded.records[i], record_at(expected, i)) << i;
}

// Versions 3 and 4 differ only in the context they hand on, not in the bytes.
TEST(LayeredPoint14, VersionsThreeAndFourWriteTheSameStreams) {
  const std::string records = layered_records(2000, 4);
  const Layered v3 = compress(records, 3, 600), v4 = compress(records, 4, 600);
  EXPECT_TRUE(v3.bytes == v4.bytes);
}

// Fields that never change in a chunk store no code; a chunk of one point
// holds only the empty codes of the first two streams.
TEST(LayeredPoint14, StreamsOfUnchangedFieldsAreEmpty) {
  std::string records;
  for (U32 i = 0; i < 500; i++) {
    lasfix::Point p = layered_point(0, 1);
    p.X += (int32_t)(i * 13);
    p.Y -= (int32_t)(i * 7);
    p.Z += (int32_t)(i % 9);
    p.return_number = (uint8_t)(1 + i % 2);
    p.number_of_returns = 2;
    records += lasfix::encode_point(p, 6, LENGTH);
  }
  const Layered block = compress(records, 3, 499);
  const std::vector<U32> first = stream_sizes(block.bytes, 8);
  EXPECT_GT(first[0], 4u);
  EXPECT_GT(first[1], 4u);
  for (size_t s = 2; s < 9; s++) EXPECT_EQ(first[s], 0u) << "stream " << s;
  const size_t second_at = 8 + testpoints::read_table(block.bytes, false).byte_counts[0];
  EXPECT_EQ(stream_sizes(block.bytes, second_at), (std::vector<U32>{4, 4, 0, 0, 0, 0, 0, 0, 0}));

  const Decoded decoded = decompress(block, block.bytes, 500);
  ASSERT_EQ(decoded.points.size(), 500u);
  for (size_t i = 0; i < 500; i++) ASSERT_EQ(decoded.records[i], record_at(records, i)) << i;
}

// A reader asking for some fields decodes those (and always x, y, returns and
// the scanner channel) as the full reader does, and skips the other streams.
TEST(LayeredPoint14, SelectiveDecodingGivesTheFieldsAsked) {
  const std::string records = layered_records(6000, 4);
  const Layered block = compress(records, 4, 2500);
  const Decoded full = decompress(block, block.bytes, 6000);
  ASSERT_EQ(full.points.size(), 6000u);

  struct Field {
    U32 mask;
    bool (*same)(const Point14Block&, const Point14Block&);
  };
  const Field fields[] = {
      {0, [](const Point14Block& a, const Point14Block& b) { return a.X == b.X && a.Y == b.Y; }},
      {0, [](const Point14Block& a, const Point14Block& b) {
         return a.extended_return_byte == b.extended_return_byte && (a.return_byte & 0x3F) == (b.return_byte & 0x3F) &&
                a.channel() == b.channel();
       }},
      {LAS_SELECTIVE_Z, [](const Point14Block& a, const Point14Block& b) { return a.Z == b.Z; }},
      {LAS_SELECTIVE_CLASSIFICATION,
       [](const Point14Block& a, const Point14Block& b) {
         return a.extended_classification == b.extended_classification && (a.class_byte & 31) == (b.class_byte & 31);
       }},
      {LAS_SELECTIVE_FLAGS,
       [](const Point14Block& a, const Point14Block& b) {
         return (a.extended_flags_byte >> 4) == (b.extended_flags_byte >> 4) &&
                (a.class_byte & 0xE0) == (b.class_byte & 0xE0) && (a.return_byte & 0xC0) == (b.return_byte & 0xC0);
       }},
      {LAS_SELECTIVE_INTENSITY, [](const Point14Block& a, const Point14Block& b) { return a.intensity == b.intensity; }},
      {LAS_SELECTIVE_SCAN_ANGLE,
       [](const Point14Block& a, const Point14Block& b) {
         return a.extended_scan_angle == b.extended_scan_angle && a.scan_angle_rank == b.scan_angle_rank;
       }},
      {LAS_SELECTIVE_USER_DATA, [](const Point14Block& a, const Point14Block& b) { return a.user_data == b.user_data; }},
      {LAS_SELECTIVE_POINT_SOURCE, [](const Point14Block& a, const Point14Block& b) { return a.point_source_ID == b.point_source_ID; }},
      {LAS_SELECTIVE_GPS_TIME, [](const Point14Block& a, const Point14Block& b) { return a.gps_time == b.gps_time; }},
  };
  for (size_t f = 0; f < std::size(fields); f++) {
    SCOPED_TRACE(f);
    const Decoded part = decompress(block, block.bytes, 6000, fields[f].mask);
    ASSERT_EQ(part.error, "");
    ASSERT_EQ(part.points.size(), 6000u);
    for (size_t i = 0; i < 6000; i++) ASSERT_TRUE(fields[f].same(part.points[i], full.points[i])) << "point " << i;
  }

  // Without Z the points keep the Z of the point that started their channel.
  const Decoded xy = decompress(block, block.bytes, 6000, 0);
  size_t differ = 0;
  for (size_t i = 0; i < 6000; i++) differ += xy.points[i].Z != full.points[i].Z;
  EXPECT_GT(differ, 0u);
}

// The context the coder hands to the next item: the channel at the chunk
// start and after a switch; version 4 also for a point that keeps its channel.
TEST(LayeredPoint14, ContextNamesTheChannel) {
  testpoints::Point a(6, LENGTH), b(6, LENGTH), c(6, LENGTH);
  lasfix::Point p = layered_point(0, 1);
  p.scanner_channel = 2;
  ASSERT_TRUE(testpoints::load(a.point, lasfix::encode_point(p, 6, LENGTH)));
  p.X += 10;
  ASSERT_TRUE(testpoints::load(b.point, lasfix::encode_point(p, 6, LENGTH)));
  p.scanner_channel = 1;
  ASSERT_TRUE(testpoints::load(c.point, lasfix::encode_point(p, 6, LENGTH)));

  for (bool v4 : {false, true}) {
    SCOPED_TRACE(v4 ? "v4" : "v3");
    ArithmeticEncoder enc;
    std::unique_ptr<LASwriteItemCompressed> writer;
    if (v4)
      writer = std::make_unique<LASwriteItemCompressed_POINT14_v4>(&enc);
    else
      writer = std::make_unique<LASwriteItemCompressed_POINT14_v3>(&enc);
    U32 context = 0;
    ASSERT_TRUE(writer->init(a.point.item_data[0], context));
    EXPECT_EQ(context, 2u);
    context = 0;
    ASSERT_TRUE(writer->write(b.point.item_data[0], context));
    EXPECT_EQ(context, v4 ? 2u : 0u);
    context = 0;
    ASSERT_TRUE(writer->write(c.point.item_data[0], context));
    EXPECT_EQ(context, 1u);
  }
}

// GPS times compare as doubles: -0.0 then 0.0 is no change, and the decoded
// point keeps -0.0.
TEST(LayeredPoint14, NegativeZeroTimeIsNoChange) {
  std::string records;
  for (U32 i = 0; i < 4; i++) {
    lasfix::Point p = layered_point(i, 1);
    p.gps_time = i == 0 ? -0.0 : 0.0;
    records += lasfix::encode_point(p, 6, LENGTH);
  }
  const Layered block = compress(records, 3, 100);
  EXPECT_EQ(stream_sizes(block.bytes, 8)[8], 0u);
  const Decoded decoded = decompress(block, block.bytes, 4);
  ASSERT_EQ(decoded.points.size(), 4u);
  for (const Point14Block& point : decoded.points) EXPECT_TRUE(std::signbit(point.gps_time));
}

// The decoder derives the legacy fields from the extended ones: returns above
// 7 folded, classes above 31 as 0, the scan angle rank in degrees.
TEST(LayeredPoint14, DecodedPointsCarryTheLegacyFields) {
  struct Case {
    U8 n, r;
    U8 legacy_n, legacy_r;
    U8 classification, legacy_classification;
    I16 angle;
    I8 rank;
  };
  const Case cases[] = {
      {1, 1, 1, 1, 2, 2, 0, 0},          // the chunk's first point, read raw
      {9, 8, 7, 6, 40, 0, 15000, 90},    //
      {9, 9, 7, 7, 31, 31, 20833, 125},  //
      {5, 12, 5, 4, 32, 0, 84, 1},       //
      {15, 3, 7, 3, 255, 0, 83, 0},      //
      {15, 14, 7, 6, 7, 7, -30000, -128},
  };
  std::string records;
  for (size_t i = 0; i < std::size(cases); i++) {
    lasfix::Point p = layered_point(0, 1);
    p.number_of_returns = cases[i].n;
    p.return_number = cases[i].r;
    p.classification = cases[i].classification;
    p.scan_angle = cases[i].angle;
    p.gps_time += i;
    records += lasfix::encode_point(p, 6, LENGTH);
  }
  const Layered block = compress(records, 4, 100);
  const Decoded decoded = decompress(block, block.bytes, std::size(cases));
  ASSERT_EQ(decoded.points.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); i++) {
    SCOPED_TRACE(i);
    const Point14Block& p = decoded.points[i];
    EXPECT_EQ(p.return_byte & 7, cases[i].legacy_r);
    EXPECT_EQ((p.return_byte >> 3) & 7, cases[i].legacy_n);
    EXPECT_EQ(p.class_byte & 31, cases[i].legacy_classification);
    EXPECT_EQ(p.scan_angle_rank, cases[i].rank);
    EXPECT_EQ(decoded.records[i], record_at(records, i));
  }
}

// ------------------------------------------------------------------ damage

struct DamageFixture {
  DamageFixture() : records(layered_records(3000, 3)), block(compress(records, 3, 1000)) {
    const testpoints::ChunkTable table = testpoints::read_table(block.bytes, false);
    size_t at = 8;
    for (U32 count : table.byte_counts) {
      starts.push_back(at);
      at += count;
    }
  }
  // The bytes with stream size `s` of chunk `chunk` set to `value`.
  std::string with_size(size_t chunk, size_t s, U32 value) const {
    std::string bytes = block.bytes;
    lasfix::put_u32(bytes, starts[chunk] + LENGTH + 4 + 4 * s, value);
    return bytes;
  }
  std::string records;
  Layered block;
  std::vector<size_t> starts;
};

// Stream sizes beyond what the input holds (also two that wrap to a small sum
// in 32 bits) end the chunk as truncated, before anything is allocated for
// them; the chunks before it read whole.
TEST(LayeredPoint14, StreamSizesBeyondTheInputEndTheChunk) {
  const DamageFixture d;
  struct Case {
    const char* name;
    size_t stream;
    U32 value;
    size_t other_stream;
    U32 other_value;
  };
  const Case cases[] = {
      {"huge first stream", 0, 0xFFFFFFF0u, 0, 0xFFFFFFF0u},
      {"huge skipped stream", 8, 0x7FFFFFFFu, 8, 0x7FFFFFFFu},
      {"wrapping pair", 2, 0x80000000u, 3, 0x80000010u},
      {"empty first stream", 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = d.with_size(1, c.stream, c.value);
    lasfix::put_u32(bytes, d.starts[1] + LENGTH + 4 + 4 * c.other_stream, c.other_value);
    for (U32 mask : {LAS_SELECTIVE_ALL, 0u}) {
      const Decoded decoded = decompress(d.block, bytes, 3000, mask);
      EXPECT_EQ(decoded.error, "end-of-file during chunk with index 1");
      EXPECT_EQ(decoded.points.size(), 1000u);  // chunk 0 whole
    }
  }
}

// Cut inside a chunk, or with bytes of the streams flipped: the reader reports
// and stops or goes on; it never crashes, whatever it decodes.
TEST(LayeredPoint14, TruncatedAndCorruptChunksAreReported) {
  const DamageFixture d;
  const std::string cut = d.block.bytes.substr(0, d.starts[2] - 300);
  const Decoded truncated = decompress(d.block, cut, 3000);
  EXPECT_EQ(truncated.error, "end-of-file during chunk with index 1");
  EXPECT_EQ(truncated.points.size(), 1000u);

  for (size_t offset : {(size_t)LENGTH + 4 + 36 + 10, (size_t)400, (size_t)1500}) {
    SCOPED_TRACE(offset);
    std::string bytes = d.block.bytes;
    for (size_t i = 0; i < 40; i++) bytes[d.starts[1] + offset + i] ^= (char)0xA5;
    const Decoded decoded = decompress(d.block, bytes, 3000);
    for (size_t i = 0; i < 1000; i++) ASSERT_EQ(decoded.records[i], record_at(d.records, i));
    if (decoded.points.size() < 3000) {
      EXPECT_NE(decoded.error, "");
    }
  }
}

}  // namespace
