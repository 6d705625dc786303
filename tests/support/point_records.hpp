// Points for tests of the point drivers and item coders: fixture records made
// by the independent LAS fixture builder, moved into a LASpoint through the
// raw items, and a point's record bytes taken back out; a compressor
// description for a point format; and byte streams that cannot seek.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "compressor/integercompressor.hpp"
#include "compressor/lasreadpoint.hpp"
#include "compressor/laswritepoint.hpp"
#include "compressor/vembra.hpp"
#include "core/bytestreamin_array.hpp"
#include "core/bytestreamout_array.hpp"
#include "core/laspoint.hpp"
#include "support/las_fixture.hpp"
#include "support/test_item_coder.hpp"

namespace testpoints {

// `count` varied records of a point format, laid end to end.
inline std::string records(U8 format, U32 count, U16 extra_bytes = 0, U32 first = 0) {
  const U16 length = (U16)(lasfix::point_base_size(format) + extra_bytes);
  std::string bytes;
  for (U32 i = 0; i < count; i++) bytes += lasfix::encode_point(lasfix::varied_point(format, first + i, extra_bytes), format, length);
  return bytes;
}

// A point laid out for a point format and record length.
struct Point {
  Point(U8 format, U16 length) { point.init(&scaling, nullptr, format, length); }
  LASscaling scaling;
  LASpoint point;
};

// Moves one record into the point through uncompressed reading.
inline bool load(LASpoint& point, const std::string& record) {
  LASreadPoint reader;
  ByteStreamInArrayLE in((const U8*)record.data(), (I64)record.size());
  return reader.setup(point.num_items, point.items) && reader.init(&in) && reader.read(point.item_data);
}

// The record the point writes uncompressed.
inline std::string record_of(const LASpoint& point) {
  LASwritePoint writer;
  ByteStreamOutArrayLE out(64);
  if (!writer.setup(point.num_items, point.items) || !writer.init(&out) || !writer.write(point.item_data)) return "";
  return std::string((const char*)out.getData(), (size_t)out.getSize());
}

// The compressor description of a point format: items of the format, the
// compressor, all items of `version`, and the chunk size (0: adaptive).
inline std::unique_ptr<Vembra> description(U8 format, U16 length, U16 compressor, U16 version, U32 chunk_size) {
  auto vembra = std::make_unique<Vembra>();
  U16 num_items = 0;
  LASitem* items = nullptr;
  Vembra maker;
  if (!maker.setup(&num_items, &items, format, length)) return nullptr;
  const bool ok = vembra->setup(num_items, items, compressor);
  delete[] items;
  if (!ok) return nullptr;
  if (compressor != 0 && !vembra->request_version(version)) return nullptr;
  if (compressor >= 2) vembra->chunk_size = chunk_size;
  return vembra;
}

// The chunk table of a chunked point data block, read and written here on
// its own (not through the point drivers): the i64 offset field, then at the
// table's position version, count and the coded counts.
struct ChunkTable {
  I64 offset_field = 0;
  I64 position = 0;  // where the table is
  U32 version = 0;
  std::vector<U32> point_counts;  // adaptive chunks only
  std::vector<U32> byte_counts;
};

inline ChunkTable read_table(const std::string& block, bool adaptive) {
  ChunkTable table;
  ByteStreamInArrayLE in((const U8*)block.data(), (I64)block.size());
  in.get64bitsLE((U8*)&table.offset_field);
  table.position = table.offset_field;
  if (table.position == -1) {
    in.seekEnd(8);
    in.get64bitsLE((U8*)&table.position);
  }
  if (!in.seek(table.position)) throw std::runtime_error("table position outside the block");
  U32 count = 0;
  in.get32bitsLE((U8*)&table.version);
  in.get32bitsLE((U8*)&count);
  if (count == 0) return table;
  ArithmeticDecoder decoder;
  decoder.init(&in, true);
  IntegerCompressor ic(&decoder, 32, 2, 8, 0);
  ic.initDecompressor();
  for (U32 i = 0; i < count; i++) {
    if (adaptive) table.point_counts.push_back((U32)ic.decompress(i ? (I32)table.point_counts[i - 1] : 0, 0));
    table.byte_counts.push_back((U32)ic.decompress(i ? (I32)table.byte_counts[i - 1] : 0, 1));
  }
  return table;
}

// Version 0, the count and the coded counts (`point_counts` empty for fixed chunks).
inline std::string table_bytes(const std::vector<U32>& byte_counts, const std::vector<U32>& point_counts = {}) {
  ByteStreamOutArrayLE out;
  const U32 version = 0, count = (U32)byte_counts.size();
  out.put32bitsLE((const U8*)&version);
  out.put32bitsLE((const U8*)&count);
  if (count) {
    ArithmeticEncoder encoder;
    encoder.init(&out);
    IntegerCompressor ic(&encoder, 32, 2, 8, 0);
    ic.initCompressor();
    for (U32 i = 0; i < count; i++) {
      if (!point_counts.empty()) ic.compress(i ? (I32)point_counts[i - 1] : 0, (I32)point_counts[i], 0);
      ic.compress(i ? (I32)byte_counts[i - 1] : 0, (I32)byte_counts[i], 1);
    }
    encoder.done();
  }
  return std::string((const char*)out.getData(), (size_t)out.getSize());
}

class UnseekableOut final : public ByteStreamOutArray {
 public:
  bool isSeekable() const override { return false; }
  bool seek(const I64) override { return false; }
  BYTESTREAMOUT_ORDERED_WRITES(LE, BE)
};

class UnseekableIn final : public ByteStreamInArray {
 public:
  UnseekableIn(const U8* data, I64 size) : ByteStreamInArray(data, size) {}
  bool isSeekable() const override { return false; }
  bool seek(const I64 position) override { return position == tell(); }
  bool seekEnd(const I64) override { return false; }
  BYTESTREAMIN_ORDERED_READS(LE, BE)
};

// A point data block written by LASwritePoint from varied fixture records,
// compressed with the test item coder (test_item_coder.hpp) or, when asked,
// with the real item coders.
struct BlockShape {
  BlockShape(U8 format, U32 count) : format(format), count(count) {}
  BlockShape& extra(U16 bytes) { extra_bytes = bytes; return *this; }
  BlockShape& chunks(U32 points) { chunk_size = points; return *this; }
  // Adaptive chunks, closed by chunk() before the points of these indexes.
  BlockShape& adaptive(std::vector<U32> at) { chunk_size = 0; breaks = std::move(at); return *this; }
  BlockShape& plain() { compressor = 0; version = 0; return *this; }
  BlockShape& pointwise() { compressor = 1; return *this; }
  BlockShape& layered(U16 item_version) { compressor = 3; version = item_version; return *this; }
  BlockShape& unseekable() { seekable = false; return *this; }
  BlockShape& item_coders() { test_coder = false; return *this; }

  U8 format;
  U32 count;
  U16 extra_bytes = 0;
  U16 compressor = 2;       // 0 uncompressed, 1 pointwise, 2 chunked, 3 layered
  U16 version = 2;          // item versions: 1-2 pointwise test coder, 3-4 layered
  U32 chunk_size = 50000;   // 0: adaptive
  std::vector<U32> breaks;  // adaptive: chunk() before these point indexes
  bool seekable = true;
  bool test_coder = true;   // else the item coder table's coders
};

struct Block {
  BlockShape shape{0, 0};
  std::unique_ptr<Vembra> vembra;
  U16 length = 0;
  std::string records;  // the points as plain records
  std::string bytes;    // the point data block
  std::string record(U64 index) const { return records.substr((size_t)index * length, length); }
};

inline Block write_block(const BlockShape& shape) {
  Block block;
  block.shape = shape;
  block.length = (U16)(lasfix::point_base_size(shape.format) + shape.extra_bytes);
  block.records = records(shape.format, shape.count, shape.extra_bytes);
  block.vembra = description(shape.format, block.length, shape.compressor, shape.version, shape.chunk_size);
  if (!block.vembra) throw std::runtime_error("no description");
  std::unique_ptr<ByteStreamOutArray> out;
  if (shape.seekable)
    out = std::make_unique<ByteStreamOutArrayLE>();
  else
    out = std::make_unique<UnseekableOut>();
  testcoder::chunk_out = out.get();
  LASwritePoint writer;
  if (shape.test_coder) writer.set_coded_writer_maker(testcoder::make_writer);
  const Vembra* vembra = shape.compressor ? block.vembra.get() : nullptr;
  if (!writer.setup(block.vembra->num_items, block.vembra->items, vembra) || !writer.init(out.get()))
    throw std::runtime_error("writer setup");
  Point source(shape.format, block.length);
  size_t next_break = 0;
  for (U32 i = 0; i < shape.count; i++) {
    if (next_break < shape.breaks.size() && shape.breaks[next_break] == i) {
      if (!writer.chunk()) throw std::runtime_error("chunk");
      next_break++;
    }
    if (!load(source.point, block.record(i)) || !writer.write(source.point.item_data)) throw std::runtime_error("write");
  }
  if (!writer.done()) throw std::runtime_error("done");
  block.bytes.assign((const char*)out->getData(), (size_t)out->getSize());
  return block;
}

// Reads a point data block (any bytes, e.g. a damaged copy) of a block's kind.
class BlockReader {
 public:
  BlockReader(const Block& block, const std::string& bytes, bool seekable = true)
      : block(block), target(block.shape.format, block.length) {
    if (seekable)
      in = std::make_unique<ByteStreamInArrayLE>((const U8*)bytes.data(), (I64)bytes.size());
    else
      in = std::make_unique<UnseekableIn>((const U8*)bytes.data(), (I64)bytes.size());
    testcoder::chunk_in = in.get();
    if (block.shape.test_coder) reader.set_coded_reader_maker(testcoder::make_reader);
    const Vembra* vembra = block.shape.compressor ? block.vembra.get() : nullptr;
    if (!reader.setup(block.vembra->num_items, block.vembra->items, vembra) || !reader.init(in.get()))
      throw std::runtime_error("reader setup");
  }
  bool read() { return reader.read(target.point.item_data); }
  // The record of the point read last.
  std::string record() const { return record_of(target.point); }
  const Block& block;
  std::unique_ptr<ByteStreamIn> in;
  LASreadPoint reader;
  Point target;
};

}  // namespace testpoints
