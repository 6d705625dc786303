// The point writer driver: writes the points of a LAS or VMB point data
// block, one per call, from a point's item memory. Uncompressed records go
// out through one raw writer per item. Compressed points are grouped into
// chunks, each beginning with one raw point, and the chunk table (the coded
// byte counts, and point counts for adaptive chunks) follows the last chunk;
// an i64 before the first chunk points at it, or holds -1 with the position
// appended after the table when the output cannot seek back.
//
// Use: LASwritePoint w; w.setup(n, items, vembra_or_null); w.init(stream);
// then w.write(point.item_data) per point, w.chunk() between points to close
// an adaptive chunk, and w.done() at the end.
#pragma once

#include <memory>
#include <vector>

#include "compressor/arithmeticencoder.hpp"
#include "compressor/lasitemcodertable.hpp"
#include "compressor/laswriteitem.hpp"
#include "compressor/vembra.hpp"
#include "core/bytestreamout.hpp"
#include "core/mydefs.hpp"

class LASwritePoint {
 public:
  // Makes the coded writer of one item on the driver's encoder; null when the
  // item's kind or version has no writer (setup then fails).
  typedef LASitemWriterMaker CodedWriterMaker;

  LASwritePoint();
  LASwritePoint(const LASwritePoint&) = delete;
  LASwritePoint& operator=(const LASwritePoint&) = delete;

  // `items` must be the description's own array when `vembra` is given; without
  // one the records are written uncompressed.
  bool setup(const U32 num_items, const LASitem* items, const Vembra* vembra = nullptr);
  // Attaches the stream at the first byte of the point data.
  bool init(ByteStreamOut* stream);
  // Writes one point given by one pointer per item.
  bool write(const U8* const* point);
  // Closes the current chunk now (adaptive chunks only). A chunk that holds no
  // point yet is left open: an empty chunk could not be read back.
  bool chunk();
  // Closes the last chunk and writes the chunk table.
  bool done();

  // Replaces the table of item coders (lasitemcodertable.hpp); call before setup.
  void set_coded_writer_maker(CodedWriterMaker maker) { coded_writer_maker = maker; }

 private:
  // What the next point goes through.
  enum class Next { RAW, CHUNK_START, CODED };

  bool close_chunk();
  bool add_chunk_to_table();
  bool grow_chunk_table();
  bool write_chunk_table();

  // The chunk table grows by realloc, so that a failed growth is an answer
  // (false) rather than an exception.
  using Table = LASmallocated<U32>;

  ByteStreamOut* stream = nullptr;
  U32 writer_count = 0;
  Next next = Next::CHUNK_START;
  std::vector<std::unique_ptr<LASwriteItemRaw>> raw_writers;
  std::vector<std::unique_ptr<LASwriteItemCompressed>> coded_writers;  // empty without compression
  std::unique_ptr<ArithmeticEncoder> encoder;
  bool layered = false;
  bool chunked = false;        // compressors 2 and 3
  U32 chunk_size = U32_MAX;    // points per chunk; U32_MAX: adaptive or no chunks
  U32 points_in_chunk = 0;
  bool offset_field_pending = false;  // the chunk table offset is still to be written
  U32 table_chunks = 0;
  U32 table_capacity = 0;
  Table chunk_point_counts;  // adaptive chunks only
  Table chunk_byte_counts;
  I64 chunk_start = 0;
  I64 offset_field_position = -1;     // -1: the stream cannot seek back
  CodedWriterMaker coded_writer_maker;
};
