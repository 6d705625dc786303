// The point writer driver: the bytes it lays down for uncompressed records,
// chunks and the chunk table, checked against the records of the fixture
// builder and a table decoded on its own (point_records.hpp), not through the
// point reader.
#include <gtest/gtest.h>

#include "compressor/laswritepoint.hpp"
#include "support/point_records.hpp"

namespace {

using testpoints::Block;
using testpoints::BlockShape;

TEST(LASwritePoint, UncompressedRecordsAreTheFixtureRecords) {
  for (U8 format : {1, 6, 10}) {
    SCOPED_TRACE("format " + std::to_string(format));
    Block block = testpoints::write_block(BlockShape(format, 100).extra(3).plain());
    EXPECT_EQ(block.bytes, block.records);
  }
}

TEST(LASwritePoint, NoPointsGiveTheOffsetFieldAndAnEmptyTable) {
  Block block = testpoints::write_block(BlockShape(1, 0));
  ASSERT_EQ(block.bytes.size(), 16u);
  EXPECT_EQ(lasfix::get_u64(block.bytes, 0), 8u);   // the table right behind the field
  EXPECT_EQ(lasfix::get_u32(block.bytes, 8), 0u);   // version
  EXPECT_EQ(lasfix::get_u32(block.bytes, 12), 0u);  // chunks
}

// 120000 points in chunks of 50000: three chunks, each starting with its
// first point raw, and a table whose byte counts lead from chunk to chunk.
TEST(LASwritePoint, FixedChunksAndTheirTable) {
  Block block = testpoints::write_block(BlockShape(1, 120000).chunks(50000));
  testpoints::ChunkTable table = testpoints::read_table(block.bytes, false);
  EXPECT_EQ(table.version, 0u);
  ASSERT_EQ(table.byte_counts.size(), 3u);
  I64 start = 8;
  for (U32 i = 0; i < 3; i++) {
    EXPECT_EQ(block.bytes.substr((size_t)start, block.length), block.record(50000 * i)) << "chunk " << i;
    start += table.byte_counts[i];
  }
  EXPECT_EQ(start, table.offset_field);
  EXPECT_EQ(block.bytes.substr((size_t)start), testpoints::table_bytes(table.byte_counts));
}

TEST(LASwritePoint, AdaptiveChunksRecordTheirPointCounts) {
  Block block = testpoints::write_block(BlockShape(3, 6320).extra(2).adaptive({1000, 6000, 6020}));
  testpoints::ChunkTable table = testpoints::read_table(block.bytes, true);
  EXPECT_EQ(table.point_counts, (std::vector<U32>{1000, 5000, 20, 300}));
  ASSERT_EQ(table.byte_counts.size(), 4u);
  EXPECT_EQ(block.bytes.substr(8 + table.byte_counts[0], block.length), block.record(1000));
}

// More chunks than the table's first allocation holds: it grows and keeps
// every entry, for fixed and for adaptive chunks (which also count points).
TEST(LASwritePoint, ChunkTableGrowsPastItsFirstCapacity) {
  const U32 count = 2500;
  std::vector<U32> breaks;
  for (U32 i = 1; i < count; i++) breaks.push_back(i);
  for (bool adaptive : {false, true}) {
    SCOPED_TRACE(adaptive ? "adaptive" : "fixed");
    BlockShape shape(1, count);
    if (adaptive) {
      shape.adaptive(breaks);
    } else {
      shape.chunks(1);
    }
    Block block = testpoints::write_block(shape);
    testpoints::ChunkTable table = testpoints::read_table(block.bytes, adaptive);
    ASSERT_EQ(table.byte_counts.size(), count);
    if (adaptive) {
      EXPECT_EQ(table.point_counts, std::vector<U32>(count, 1));
    }
    I64 start = 8;
    for (U32 i = 0; i < count; i++) {
      if (block.bytes.substr((size_t)start, block.length) != block.record(i)) {
        ADD_FAILURE() << "chunk " << i << " does not begin with its point";
        break;
      }
      start += table.byte_counts[i];
    }
    EXPECT_EQ(start, table.offset_field);
  }
}

TEST(LASwritePoint, ChunkOnlyClosesAnAdaptiveChunkThatHoldsPoints) {
  auto vembra = testpoints::description(1, 28, 2, 2, 0);
  LASwritePoint writer;
  writer.set_coded_writer_maker(testcoder::make_writer);
  ASSERT_TRUE(writer.setup(vembra->num_items, vembra->items, vembra.get()));
  ByteStreamOutArrayLE out;
  ASSERT_TRUE(writer.init(&out));
  testpoints::Point p(1, 28);
  EXPECT_TRUE(writer.chunk());  // nothing to close yet
  ASSERT_TRUE(writer.write(p.point.item_data));
  EXPECT_TRUE(writer.chunk());
  EXPECT_TRUE(writer.chunk());  // a second one in a row leaves no empty chunk behind
  ASSERT_TRUE(writer.write(p.point.item_data));
  ASSERT_TRUE(writer.done());
  std::string bytes((const char*)out.getData(), (size_t)out.getSize());
  EXPECT_EQ(testpoints::read_table(bytes, true).point_counts, (std::vector<U32>{1, 1}));

  // Fixed chunks, the pointwise compressor and plain records have no chunk().
  for (auto [compressor, chunk_size] : {std::pair<U16, U32>{2, 100}, {1, 0}, {0, 0}}) {
    auto fixed = testpoints::description(1, 28, compressor, compressor ? 2 : 0, chunk_size);
    LASwritePoint w;
    w.set_coded_writer_maker(testcoder::make_writer);
    ASSERT_TRUE(w.setup(fixed->num_items, fixed->items, compressor ? fixed.get() : nullptr));
    ByteStreamOutArrayLE o;
    ASSERT_TRUE(w.init(&o));
    ASSERT_TRUE(w.write(p.point.item_data));
    const I64 size = o.getSize();
    EXPECT_FALSE(w.chunk()) << "compressor " << compressor;
    EXPECT_EQ(o.getSize(), size);
  }
}

// Without seeking back the offset field holds -1 and the table's position
// follows the table as the last 8 bytes.
TEST(LASwritePoint, UnseekableOutputAppendsTheTablePosition) {
  Block block = testpoints::write_block(BlockShape(1, 2500).chunks(1000).unseekable());
  EXPECT_EQ((I64)lasfix::get_u64(block.bytes, 0), -1);
  testpoints::ChunkTable table = testpoints::read_table(block.bytes, false);
  ASSERT_EQ(table.byte_counts.size(), 3u);
  EXPECT_EQ(8 + (I64)table.byte_counts[0] + table.byte_counts[1] + table.byte_counts[2], table.position);
  EXPECT_EQ(table.position + (I64)testpoints::table_bytes(table.byte_counts).size() + 8, (I64)block.bytes.size());
}

// A chunk of one point: the raw point and the 4 bytes of an empty code stream.
TEST(LASwritePoint, OnePointChunks) {
  Block block = testpoints::write_block(BlockShape(0, 5).chunks(1));
  testpoints::ChunkTable table = testpoints::read_table(block.bytes, false);
  EXPECT_EQ(table.byte_counts, std::vector<U32>(5, 20 + 4));
  for (U32 i = 0; i < 5; i++) EXPECT_EQ(block.bytes.substr(8 + 24 * i, 20), block.record(i));
}

// Compressor 1: the first point raw and one code stream, no field, no table.
TEST(LASwritePoint, PointwiseCompressorHasNoChunks) {
  Block block = testpoints::write_block(BlockShape(1, 300).pointwise());
  EXPECT_EQ(block.bytes.substr(0, 28), block.record(0));
  Block one = testpoints::write_block(BlockShape(1, 1).pointwise());
  EXPECT_EQ(one.bytes.size(), 28u + 4u);
}

// Layered chunks: the raw point, the chunk's point count, the items' stream
// sizes, then the streams.
TEST(LASwritePoint, LayeredChunkLayout) {
  Block block = testpoints::write_block(BlockShape(7, 25).extra(4).layered(3).chunks(10));
  testpoints::ChunkTable table = testpoints::read_table(block.bytes, false);
  ASSERT_EQ(table.byte_counts.size(), 3u);
  I64 start = 8;
  const U32 points[3] = {10, 10, 5};
  for (U32 i = 0; i < 3; i++) {
    const size_t at = (size_t)start + block.length;
    EXPECT_EQ(block.bytes.substr((size_t)start, block.length), block.record(10 * i));
    EXPECT_EQ(lasfix::get_u32(block.bytes, at), points[i]);
    // three items (POINT14, RGB14, BYTE14): three sizes, then their streams
    U32 streams = 0;
    for (U32 k = 0; k < 3; k++) streams += lasfix::get_u32(block.bytes, at + 4 + 4 * k);
    EXPECT_EQ(block.length + 4 + 12 + streams, table.byte_counts[i]);
    start += table.byte_counts[i];
  }
}

TEST(LASwritePoint, SetupRefusesForeignItemListsAndCoders) {
  auto vembra = testpoints::description(1, 28, 2, 2, 100);
  LASitem copy[2] = {vembra->items[0], vembra->items[1]};
  LASwritePoint a;
  EXPECT_FALSE(a.setup(2, copy, vembra.get()));  // not the description's own list
  LASwritePoint b;
  vembra->coder = 1;
  EXPECT_FALSE(b.setup(vembra->num_items, vembra->items, vembra.get()));
  vembra->coder = 0;
  LASwritePoint c;  // a coder table without the items' coders
  c.set_coded_writer_maker([](const LASitem&, ArithmeticEncoder*) -> LASwriteItemCompressed* { return nullptr; });
  EXPECT_FALSE(c.setup(vembra->num_items, vembra->items, vembra.get()));
  LASitem unknown = {(LASitem::Type)3, 4, 0};
  LASwritePoint d;
  EXPECT_FALSE(d.setup(1, &unknown, nullptr));
}

}  // namespace
