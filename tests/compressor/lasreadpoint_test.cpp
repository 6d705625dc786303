// The point reader driver: plain and chunked reading, seeking compared with
// sequential reading, and damaged chunk tables and chunks. Blocks are written
// by the point writer with the test item coder; damaged ones are cut and
// patched here, with tables re-encoded on their own (point_records.hpp).
#include <gtest/gtest.h>

#include <random>

#include "compressor/lasreadpoint.hpp"
#include "support/point_records.hpp"

namespace {

using testpoints::Block;
using testpoints::BlockReader;
using testpoints::BlockShape;

std::string text(const char* t) { return t ? t : "(none)"; }

// Reads every point and compares it with the block's records.
void expect_reads_all(BlockReader& r, U64 count) {
  for (U64 i = 0; i < count; i++) {
    ASSERT_TRUE(r.read()) << "point " << i << ": " << text(r.reader.get_error());
    ASSERT_EQ(r.record(), r.block.record(i)) << "point " << i;
  }
}

// Random seeks, each followed by one read, deliver what sequential reading does.
void expect_seeks_match(BlockReader& r, U64 count, U32 seed, U32 max_decoded_per_seek) {
  std::mt19937 random(seed);
  U64 current = 0;
  for (int k = 0; k < 60; k++) {
    const U64 target = random() % count;
    const U64 before = testcoder::coded_reads;
    ASSERT_TRUE(r.reader.seek(current, target)) << current << " -> " << target << ": " << text(r.reader.get_error());
    const U64 decoded = (testcoder::coded_reads - before) / r.block.vembra->num_items;
    EXPECT_LE(decoded, max_decoded_per_seek) << current << " -> " << target;
    ASSERT_TRUE(r.read());
    ASSERT_EQ(r.record(), r.block.record(target)) << current << " -> " << target;
    current = target + 1;
  }
}

struct Case {
  const char* name;
  BlockShape shape;
  U32 max_decoded_per_seek;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class ChunkedReading : public ::testing::TestWithParam<Case> {};

TEST_P(ChunkedReading, ReadsBackAndSeeksLikeSequentialReading) {
  const Case& c = GetParam();
  Block block = testpoints::write_block(c.shape);
  {
    BlockReader r(block, block.bytes);
    expect_reads_all(r, c.shape.count);
    EXPECT_TRUE(r.reader.check_end()) << text(r.reader.get_error());
    EXPECT_EQ(r.reader.get_warning(), nullptr);
  }
  BlockReader r(block, block.bytes);
  expect_seeks_match(r, c.shape.count, 7, c.max_decoded_per_seek);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, ChunkedReading,
    ::testing::Values(
        Case{"uncompressed", BlockShape(3, 3000).extra(2).plain(), 0},
        Case{"fixed", BlockShape(1, 5000).chunks(700), 700},
        Case{"one_point_chunks", BlockShape(0, 300).chunks(1), 0},
        Case{"one_chunk", BlockShape(2, 800).extra(1), 800},
        Case{"adaptive", BlockShape(1, 4000).adaptive({1, 2, 1000, 2500, 2501}), 1500},
        Case{"unseekable_output", BlockShape(1, 3000).chunks(400).unseekable(), 400},
        Case{"pointwise", BlockShape(1, 1500).pointwise(), 1500},
        Case{"layered", BlockShape(7, 3000).extra(3).layered(3).chunks(500), 500},
        Case{"layered_adaptive", BlockShape(6, 2000).layered(4).adaptive({10, 1500}), 1490},
        // The same mechanics over the real item coders of the legacy formats.
        Case{"coders_fixed", BlockShape(3, 5000).extra(3).chunks(700).item_coders(), 700},
        Case{"coders_waves", BlockShape(5, 3000).chunks(1000).item_coders(), 1000},
        Case{"coders_adaptive", BlockShape(4, 4000).extra(1).adaptive({1, 2, 1000, 2500, 2501}).item_coders(), 1500},
        Case{"coders_unseekable_output", BlockShape(2, 3000).chunks(400).unseekable().item_coders(), 400},
        Case{"coders_pointwise", BlockShape(0, 1500).pointwise().item_coders(), 1500}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// 120000 points in chunks of 50000: a seek decodes only within the target's chunk.
TEST(LASreadPoint, SeekDecodesFromTheTargetsChunk) {
  Block block = testpoints::write_block(BlockShape(1, 120000).chunks(50000));
  BlockReader r(block, block.bytes);
  U64 before = testcoder::coded_reads;
  ASSERT_TRUE(r.reader.seek(0, 110000));
  EXPECT_EQ((testcoder::coded_reads - before) / 2, 9999u);  // 10000 points, the first of them raw
  ASSERT_TRUE(r.read());
  EXPECT_EQ(r.record(), block.record(110000));
  before = testcoder::coded_reads;
  ASSERT_TRUE(r.reader.seek(110001, 5));
  EXPECT_EQ((testcoder::coded_reads - before) / 2, 4u);
  ASSERT_TRUE(r.read());
  EXPECT_EQ(r.record(), block.record(5));
}

TEST(LASreadPoint, UncompressedSeekIsArithmeticIn64Bits) {
  class Recording final : public ByteStreamInArray {
   public:
    Recording(const U8* data, I64 size) : ByteStreamInArray(data, size) {}
    bool seek(const I64 position) override {
      last = position;
      return ByteStreamInArray::seek(position);
    }
    I64 last = -1;
    BYTESTREAMIN_ORDERED_READS(LE, BE)
  };
  std::string bytes = testpoints::records(1, 2000);
  Recording in((const U8*)bytes.data(), (I64)bytes.size());
  auto vembra = testpoints::description(1, 28, 0, 0, 0);
  LASreadPoint reader;
  ASSERT_TRUE(reader.setup(vembra->num_items, vembra->items) && reader.init(&in));
  ASSERT_TRUE(reader.seek(0, 1000));
  EXPECT_EQ(in.last, 28000);
  const U64 far = (1ull << 32) + 5;
  EXPECT_FALSE(reader.seek(1000, far));  // beyond the data, but not wrapped onto point 5
  EXPECT_EQ(in.last, (I64)(28 * far));
}

TEST(LASreadPoint, ChunkedSeekBeyondTheTableFailsInsteadOfWrapping) {
  Block block = testpoints::write_block(BlockShape(0, 30).chunks(10));
  BlockReader r(block, block.bytes);
  EXPECT_FALSE(r.reader.seek(0, (1ull << 32) * 10 + 5));
  ASSERT_TRUE(r.reader.seek(0, 25));
  ASSERT_TRUE(r.read());
  EXPECT_EQ(r.record(), block.record(25));
}

TEST(LASreadPoint, ReadingPastTheLastChunkIsAnEndOfFile) {
  // Many one-point chunks: the table behind them is long enough to pass for a chunk.
  Block block = testpoints::write_block(BlockShape(0, 200).chunks(1));
  ASSERT_GT(block.bytes.size() - 8 - 200 * 24, 24u);
  BlockReader r(block, block.bytes);
  expect_reads_all(r, 200);
  EXPECT_FALSE(r.read());
  EXPECT_EQ(text(r.reader.get_error()), "end-of-file during chunk with index 200");

  Block adaptive = testpoints::write_block(BlockShape(0, 30).adaptive({10, 12}));
  BlockReader a(adaptive, adaptive.bytes);
  expect_reads_all(a, 30);
  EXPECT_FALSE(a.read());
  EXPECT_EQ(text(a.reader.get_error()), "end-of-file during chunk with index 3");

  Block plain = testpoints::write_block(BlockShape(0, 3).plain());
  BlockReader p(plain, plain.bytes);
  expect_reads_all(p, 3);
  EXPECT_FALSE(p.read());
  EXPECT_EQ(text(p.reader.get_error()), "end-of-file");

  Block empty = testpoints::write_block(BlockShape(0, 0).chunks(10));
  BlockReader e(empty, empty.bytes);
  EXPECT_FALSE(e.read());
  EXPECT_EQ(text(e.reader.get_error()), "end-of-file during chunk with index 0");
}

// A chunked block of these chunk bytes and a table encoded from the counts,
// with the offset field pointing at it.
std::string with_table(const std::string& chunks, const std::vector<U32>& byte_counts, const std::vector<U32>& point_counts = {}) {
  std::string bytes(8, '\0');
  bytes += chunks;
  lasfix::put_u64(bytes, 0, bytes.size());
  return bytes + testpoints::table_bytes(byte_counts, point_counts);
}

struct Damaged {
  Block block;
  testpoints::ChunkTable table;
  std::string chunks;  // the chunk bytes between the offset field and the table
};

Damaged fixed_block(U32 count = 3000, U32 chunk_size = 1000) {
  Damaged d;
  d.block = testpoints::write_block(BlockShape(1, count).chunks(chunk_size));
  d.table = testpoints::read_table(d.block.bytes, false);
  d.chunks = d.block.bytes.substr(8, (size_t)d.table.position - 8);
  return d;
}

// Tables that leave fixed chunks readable: a warning, then every point, and
// seeks backwards and forwards that still match sequential reading.
TEST(LASreadPoint, DamagedTablesOfFixedChunksWarnAndStillRead) {
  Damaged d = fixed_block();
  const std::string& b = d.block.bytes;
  const I64 table_at = d.table.position;
  std::string interrupted = b.substr(0, (size_t)table_at);
  lasfix::put_u64(interrupted, 0, 0);  // still pointing at itself
  std::string missing = b.substr(0, (size_t)table_at);
  std::string version = b;
  lasfix::put_u32(version, (size_t)table_at, 1);
  std::string beyond = b;
  lasfix::put_u64(beyond, 0, b.size() + 100);
  std::string before = b;
  lasfix::put_u64(before, 0, 4);
  std::string huge_count = b;
  lasfix::put_u32(huge_count, (size_t)table_at + 4, 0xFFFFFFFF);
  std::string large_count = b;
  lasfix::put_u32(large_count, (size_t)table_at + 4, 1000000);
  std::string not_rising = with_table(d.chunks, {d.table.byte_counts[0], 0, d.table.byte_counts[2]});

  const struct {
    const char* name;
    const std::string& bytes;
    std::string warning;
  } cases[] = {
      {"interrupted", interrupted, "compressor was interrupted before writing chunk table of VMB file"},
      {"missing", missing, "chunk table is missing. improper use of VMB compressor?"},
      {"version", version, "corrupt chunk table"},
      {"beyond", beyond, "chunk table and 100 bytes are missing. VMB file truncated during copy or transfer?"},
      {"before the chunks", before, "corrupt chunk table"},
      {"count 2^32-1", huge_count, "corrupt chunk table"},
      {"count beyond the bytes", large_count, "corrupt chunk table"},
      {"starts not rising", not_rising, "corrupt chunk table"},
  };
  // A count read from the file must not size an allocation: with little memory
  // reported free, a large request would warn.
  set_available_RAM_source([]() -> U64 { return 1 << 20; });
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ::testing::internal::CaptureStderr();
    {
      BlockReader r(d.block, c.bytes);
      expect_reads_all(r, 3000);
      EXPECT_EQ(text(r.reader.get_warning()), c.warning);
      EXPECT_TRUE(r.reader.check_end());
    }
    BlockReader r(d.block, c.bytes);
    expect_seeks_match(r, 3000, 11, 3000);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  }
  set_available_RAM_source(nullptr);
}

TEST(LASreadPoint, TruncatedBlockWarnsThenEndsInTheCutChunk) {
  Damaged d = fixed_block();
  const std::string cut = d.block.bytes.substr(0, 8 + d.table.byte_counts[0] + d.table.byte_counts[1] + 100);
  BlockReader r(d.block, cut);
  expect_reads_all(r, 2000);
  const I64 missing = d.table.position - (I64)cut.size();
  EXPECT_EQ(text(r.reader.get_warning()),
            "chunk table and " + std::to_string(missing) + " bytes are missing. VMB file truncated during copy or transfer?");
  bool failed = false;
  for (int i = 0; i < 1000 && !failed; i++) failed = !r.read();
  EXPECT_TRUE(failed);
  EXPECT_EQ(text(r.reader.get_error()), "end-of-file during chunk with index 2");
}

// A read that broke off inside a chunk with no known successor leaves the
// decoder in the middle of a value: later reads fail (decoding on could
// divide by an interval of 0) until a seek starts a chunk afresh.
TEST(LASreadPoint, ReadsAfterABrokenChunkFailUntilASeek) {
  Block block = testpoints::write_block(BlockShape(1, 3000).chunks(1000).item_coders());
  const testpoints::ChunkTable table = testpoints::read_table(block.bytes, false);
  const std::string cut = block.bytes.substr(0, 8 + table.byte_counts[0] + table.byte_counts[1] + 100);
  BlockReader r(block, cut);
  U64 delivered = 0;
  while (r.read()) delivered++;
  ASSERT_GE(delivered, 2000u);
  EXPECT_EQ(text(r.reader.get_error()), "end-of-file during chunk with index 2");
  for (int i = 0; i < 3; i++) EXPECT_FALSE(r.read());
  EXPECT_FALSE(r.reader.seek(delivered, delivered + 1));  // on in the broken chunk
  ASSERT_TRUE(r.reader.seek(delivered, 1500));
  ASSERT_TRUE(r.read());
  EXPECT_EQ(r.record(), block.record(1500));
}

// Adaptive chunks are found only through their table.
TEST(LASreadPoint, AdaptiveChunksNeedTheirTable) {
  Block block = testpoints::write_block(BlockShape(1, 3000).adaptive({1000, 2000}));
  testpoints::ChunkTable table = testpoints::read_table(block.bytes, true);
  std::string interrupted = block.bytes.substr(0, (size_t)table.position);
  lasfix::put_u64(interrupted, 0, 0);
  std::string missing = block.bytes.substr(0, (size_t)table.position);
  std::string version = block.bytes;
  lasfix::put_u32(version, (size_t)table.position, 1);
  for (const std::string* bytes : {&interrupted, &missing, &version}) {
    BlockReader r(block, *bytes);
    EXPECT_FALSE(r.read());
    EXPECT_FALSE(r.read());  // and stays so
    BlockReader s(block, *bytes);
    EXPECT_FALSE(s.reader.seek(0, 1500));
  }
  BlockReader r(block, interrupted);
  EXPECT_FALSE(r.read());
  EXPECT_EQ(text(r.reader.get_error()), "compressor was interrupted before writing adaptive chunk table of VMB file");

  BlockReader unseekable(block, block.bytes, false);
  EXPECT_FALSE(unseekable.read());
}

TEST(LASreadPoint, UnseekableInputReadsFixedChunksWithoutTheTable) {
  Damaged d = fixed_block();
  BlockReader r(d.block, d.block.bytes, false);
  expect_reads_all(r, 3000);
  EXPECT_EQ(r.reader.get_warning(), nullptr);
  EXPECT_FALSE(r.reader.seek(3000, 0));
}

// A chunk that does not end where the next one begins is reported when the
// next chunk is due; the read after that delivers the next chunk's first point.
TEST(LASreadPoint, CorruptChunkIsSkippedToTheNextOne) {
  Damaged d = fixed_block(4000, 1000);
  std::string chunks = d.chunks;
  const size_t end_of_chunk_1 = d.table.byte_counts[0] + d.table.byte_counts[1];
  chunks.insert(end_of_chunk_1, 1, '\x5A');
  std::vector<U32> counts = d.table.byte_counts;
  counts[1]++;
  std::string bytes = with_table(chunks, counts);
  BlockReader r(d.block, bytes);
  expect_reads_all(r, 2000);
  EXPECT_FALSE(r.read());
  EXPECT_EQ(text(r.reader.get_error()), "chunk with index 1 of 5 is corrupt");
  for (U32 i = 2000; i < 4000; i++) {
    ASSERT_TRUE(r.read()) << i;
    ASSERT_EQ(r.record(), d.block.record(i)) << i;
  }
  EXPECT_TRUE(r.reader.check_end());

  // The last chunk: found by the end check.
  chunks = d.chunks + "\x5A";
  counts = d.table.byte_counts;
  counts[3]++;
  bytes = with_table(chunks, counts);
  BlockReader last(d.block, bytes);
  expect_reads_all(last, 4000);
  EXPECT_FALSE(last.reader.check_end());
  EXPECT_EQ(text(last.reader.get_error()), "chunk with index 4 of 5 is corrupt");
}

TEST(LASreadPoint, SetupRefusesForeignItemListsAndCoders) {
  auto vembra = testpoints::description(1, 28, 2, 2, 100);
  LASitem copy[2] = {vembra->items[0], vembra->items[1]};
  LASreadPoint a;
  EXPECT_FALSE(a.setup(2, copy, vembra.get()));
  LASreadPoint b;
  vembra->coder = 1;
  EXPECT_FALSE(b.setup(vembra->num_items, vembra->items, vembra.get()));
  vembra->coder = 0;
  LASreadPoint c;
  c.set_coded_reader_maker([](const LASitem&, ArithmeticDecoder*, U32) -> LASreadItemCompressed* { return nullptr; });
  EXPECT_FALSE(c.setup(vembra->num_items, vembra->items, vembra.get()));
  LASitem unknown = {(LASitem::Type)15, 4, 0};
  LASreadPoint d;
  EXPECT_FALSE(d.setup(1, &unknown, nullptr));
  ByteStreamInArrayLE in;
  EXPECT_FALSE(d.init(nullptr));
}

}  // namespace
