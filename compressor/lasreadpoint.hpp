// The point reader driver: delivers the points of a LAS or VMB point data
// block, one per call, into a point's item memory. Uncompressed records are
// copied item by item from the bytes the stream lends, with one layout for the
// whole record; raw readers, one per item, serve streams that lend nothing and
// big-endian hosts. Compressed data is read chunk by chunk:
// the first point of a chunk raw, the rest through one coded reader per item.
// The chunk table, read on demand, lets `seek` start at the chunk holding the
// target; a chunk that does not end where the table says is reported as
// corrupt and reading goes on with the next one.
//
// Use: LASreadPoint r(mask); r.setup(n, items, vembra_or_null); r.init(stream);
// then r.read(point.item_data) per point, r.seek(current, target) at will,
// r.check_end() after the last point, r.done(). After a failed call,
// get_error() and get_warning() hold the texts to report.
#pragma once

#include <memory>
#include <vector>

#include "compressor/arithmeticdecoder.hpp"
#include "compressor/lasitemcodertable.hpp"
#include "compressor/lasreaditem.hpp"
#include "compressor/vembra.hpp"
#include "core/bytestreamin.hpp"
#include "core/mydefs.hpp"

class LASreadPoint {
 public:
  // Makes the coded reader of one item on the driver's decoder; null when the
  // item's kind or version has no reader (setup then fails).
  typedef LASitemReaderMaker CodedReaderMaker;

  explicit LASreadPoint(U32 decompress_selective = 0xFFFFFFFF);
  ~LASreadPoint();
  LASreadPoint(const LASreadPoint&) = delete;
  LASreadPoint& operator=(const LASreadPoint&) = delete;

  // `items` must be the description's own array when `vembra` is given; without
  // one the records are uncompressed.
  bool setup(const U32 num_items, const LASitem* items, const Vembra* vembra = nullptr);
  // Attaches the stream, positioned at the first byte of the point data.
  bool init(ByteStreamIn* stream);
  // `current` is the index of the point the next read would deliver, `target`
  // the one wanted next. Decodes at most the points of one chunk before the
  // target when the chunk table is known.
  bool seek(const U64 current, const U64 target);
  // Reads the next point into the item memory `point` (one pointer per item).
  bool read(U8* const* point);
  // After the last point: whether the last chunk ended where the table says.
  bool check_end();
  bool done();

  // Uncompressed records only: lends up to `most` whole records as they lie
  // in the stream (ByteStreamIn::lend) and moves past them; null otherwise.
  const U8* lend_records(const U64 most, U64& got) {
    got = 0;
    if (decoder || chunk_failed || stream == nullptr) return nullptr;
    return stream->lend(point_size, most, got);
  }

  // Whether the records are compressed (their read errors name a chunk).
  bool is_compressed() const { return decoder != nullptr; }
  const char* get_error() const { return error_text.get(); }
  const char* get_warning() const { return warning_text.get(); }

  // Replaces the table of item coders (lasitemcodertable.hpp); call before
  // setup. Lets a coder outside that table (a test's) drive the chunk mechanics.
  void set_coded_reader_maker(CodedReaderMaker maker) { coded_reader_maker = maker; }

  // One item of an uncompressed record: where it lies and how it is copied.
  struct RecordPart {
    U32 offset;
    U32 size;
    bool point14;  // spread over the point's fields, not copied as it is
  };
  typedef void (*RecordCopy)(U8* const* point, const U8* record, const RecordPart* parts, U32 count);

 private:
  // What the next point goes through.
  enum class Next { RAW, CHUNK_START, CODED };

  void choose_record_copy(const LASitem* items);

  void release_readers();
  bool make_coded_readers(const LASitem* items);
  bool start_chunk();
  bool read_chunk_table();
  bool start_without_chunk_table(I64 chunks_start);
  bool read_appended_table_position(I64& chunk_table_start);
  void decode_chunk_table(I64 chunks_start, I64 chunk_table_start, bool& count_read, U32& decoded);
  bool recover_chunk_table(I64 chunks_start, I64 chunk_table_start, bool count_read, U32 decoded);
  bool grow_chunk_offsets(U64 capacity);
  void release_tables();
  void set_error(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void set_warning(const char* format, ...) __attribute__((format(printf, 2, 3)));

  ByteStreamIn* stream = nullptr;
  U32 reader_count = 0;
  Next next = Next::CHUNK_START;
  std::vector<std::unique_ptr<LASreadItemRaw>> raw_readers;
  std::vector<RecordPart> record_parts;
  // Null: every record goes through the raw readers.
  RecordCopy copy_record = nullptr;
  std::vector<std::unique_ptr<LASreadItemCompressed>> coded_readers;  // empty without compression
  std::unique_ptr<ArithmeticDecoder> decoder;
  bool layered = false;
  bool adaptive = false;       // chunk sizes come from the table
  U32 chunk_size = U32_MAX;    // points per chunk; U32_MAX: adaptive or no chunks
  U32 points_in_chunk = 0;
  U32 chunk_index = 0;
  U32 table_chunks = 0;        // chunks in the table, or capacity of chunk_offsets once it grows
  U32 known_chunks = 0;        // valid entries of chunk_offsets
  bool table_pending = false;  // the table is read at the first chunk start
  bool table_failed = false;   // ... and could not be read: every later read fails
  bool table_complete = false; // read whole from the file: no chunk lies beyond it
  // Grown by realloc, so that a failed growth is an answer, not an exception.
  LASmallocated<I64[]> chunk_offsets;       // start of chunk i; entry known_chunks - 1 may be the end
  LASmallocated<U64[]> chunk_point_totals;  // adaptive: points in chunks 0 .. i-1
  U32 decompress_selective;
  bool chunk_started = false;  // a chunk start happened (the stream may begin at 0)
  bool chunk_failed = false;   // a read broke off inside a chunk it cannot skip
  I64 chunk_start = 0;
  U32 point_size = 0;
  std::vector<U8*> skip_point;  // scratch point that seek decodes into
  std::vector<U8> skip_bytes;
  std::unique_ptr<char[]> error_text;
  std::unique_ptr<char[]> warning_text;
  CodedReaderMaker coded_reader_maker;
};
