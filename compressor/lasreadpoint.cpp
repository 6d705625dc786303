// The point reader driver (see lasreadpoint.hpp): raw and chunked reading,
// the chunk table with its recovery, and seeking.
#include "compressor/lasreadpoint.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "compressor/arithmeticdecoder.hpp"
#include "compressor/integercompressor.hpp"
#include "compressor/lasreaditemraw.hpp"

namespace {

// Thrown inside read when a chunk does not end where the table says; any
// integer other than the streams' end-of-data marks a corrupt chunk.
constexpr int CHUNK_CORRUPT = 4712;
constexpr U32 TEXT_SIZE = 128;
// Entries the chunk table grows by while it is built from the chunks met.
constexpr U32 TABLE_GROWTH = 256;

// The raw reader of the machine's byte order.
template <class LittleEndian, class BigEndian>
std::unique_ptr<LASreadItemRaw> in_byte_order() {
  if constexpr (Endian::IS_LITTLE_ENDIAN) {
    return std::make_unique<LittleEndian>();
  } else {
    return std::make_unique<BigEndian>();
  }
}

std::unique_ptr<LASreadItemRaw> make_raw_reader(const LASitem& item) {
  switch (item.type) {
    case LASitem::POINT10:
      return in_byte_order<LASreadItemRaw_POINT10_LE, LASreadItemRaw_POINT10_BE>();
    case LASitem::GPSTIME11:
      return in_byte_order<LASreadItemRaw_GPSTIME11_LE, LASreadItemRaw_GPSTIME11_BE>();
    case LASitem::RGB12:
    case LASitem::RGB14:
      return in_byte_order<LASreadItemRaw_RGB12_LE, LASreadItemRaw_RGB12_BE>();
    case LASitem::RGBNIR14:
      return in_byte_order<LASreadItemRaw_RGBNIR14_LE, LASreadItemRaw_RGBNIR14_BE>();
    case LASitem::WAVEPACKET13:
    case LASitem::WAVEPACKET14:
      return in_byte_order<LASreadItemRaw_WAVEPACKET13_LE, LASreadItemRaw_WAVEPACKET13_BE>();
    case LASitem::POINT14:
      return in_byte_order<LASreadItemRaw_POINT14_LE, LASreadItemRaw_POINT14_BE>();
    case LASitem::BYTE:
    case LASitem::BYTE14:
      return std::make_unique<LASreadItemRaw_BYTE>(item.size);
  }
  return nullptr;
}

typedef LASreadPoint::RecordPart RecordPart;

// The common layouts with their sizes fixed at compile time, so that each
// item is a few moves.
template <U32 A, U32... Rest>
void copy_fixed(U8* const* point, const U8* record, const RecordPart*, U32) {
  memcpy(point[0], record, A);
  if constexpr (sizeof...(Rest) > 0) copy_fixed<Rest...>(point + 1, record + A, nullptr, 0);
}

void copy_parts(U8* const* point, const U8* record, const RecordPart* parts, U32 count) {
  for (U32 i = 0; i < count; i++) {
    if (parts[i].point14)
      point14_read_raw(point[i], record + parts[i].offset);
    else
      memcpy(point[i], record + parts[i].offset, parts[i].size);
  }
}

}  // namespace

LASreadPoint::LASreadPoint(U32 decompress_selective)
    : decompress_selective(decompress_selective), coded_reader_maker(make_item_reader) {}

LASreadPoint::~LASreadPoint() = default;

void LASreadPoint::release_readers() {
  raw_readers.clear();
  coded_readers.clear();
  skip_point.clear();
  skip_bytes.clear();
  record_parts.clear();
  copy_record = nullptr;
}

bool LASreadPoint::setup(const U32 num_items, const LASitem* items, const Vembra* vembra) {
  if (num_items == 0 || items == nullptr) return false;
  if (vembra && (num_items != vembra->num_items || items != vembra->items)) return false;
  decoder.reset();
  layered = false;
  if (vembra && vembra->compressor != Vembra::NONE) {
    if (vembra->coder != 0) return false;
    decoder = std::make_unique<ArithmeticDecoder>();
    layered = (vembra->compressor == Vembra::LAYERED_CHUNKED);
  }

  // A second setup starts from nothing.
  release_readers();
  release_tables();
  reader_count = num_items;
  next = Next::CHUNK_START;
  chunk_size = U32_MAX;
  adaptive = false;
  table_pending = false;
  table_failed = false;
  U32 size = 0;
  for (U32 i = 0; i < num_items; i++) {
    raw_readers.push_back(make_raw_reader(items[i]));
    if (!raw_readers.back()) return false;
    size += items[i].size;
  }
  point_size = size;
  if (!decoder) {
    choose_record_copy(items);
    return true;
  }

  // Scratch point for seek; the layered coders fill a whole in-memory point
  // block per item, so each item gets twice its size there, and byte 22 (the
  // extended flags byte) marks the extended layout.
  const U32 scale = layered ? 2 : 1;
  skip_bytes.assign((size_t)scale * point_size, 0);
  for (U32 i = 0, start = 0; i < num_items; i++) {
    skip_point.push_back(skip_bytes.data() + (size_t)scale * start);
    start += items[i].size;
  }
  if (layered && scale * point_size > 22) skip_bytes[22] = 1;

  if (!make_coded_readers(items)) return false;
  if (vembra->compressor != Vembra::POINTWISE) {
    if (vembra->chunk_size != 0 && vembra->chunk_size != U32_MAX) chunk_size = vembra->chunk_size;
    adaptive = (chunk_size == U32_MAX);
    table_pending = true;
  }
  return true;
}

// The items' bytes lie in the file as in memory on a little-endian host, except
// POINT14 whose fields are spread; a big-endian host keeps the raw readers.
void LASreadPoint::choose_record_copy(const LASitem* items) {
  record_parts.clear();
  copy_record = nullptr;
  if (!Endian::IS_LITTLE_ENDIAN) return;
  bool plain = true;
  for (U32 i = 0, offset = 0; i < reader_count; i++) {
    const bool point14 = items[i].type == LASitem::POINT14;
    record_parts.push_back({offset, items[i].size, point14});
    offset += items[i].size;
    plain = plain && !point14;
  }
  copy_record = copy_parts;
  if (!plain) return;
  auto sizes_are = [&](std::initializer_list<U32> sizes) {
    if (sizes.size() != record_parts.size()) return false;
    U32 i = 0;
    for (U32 size : sizes)
      if (record_parts[i++].size != size) return false;
    return true;
  };
  const U32 p10 = laslayout::POINT10_SIZE, gps = laslayout::GPSTIME11_SIZE, rgb = laslayout::RGB12_SIZE;
  if (sizes_are({p10}))
    copy_record = copy_fixed<p10>;
  else if (sizes_are({p10, gps}))
    copy_record = copy_fixed<p10, gps>;
  else if (sizes_are({p10, rgb}))
    copy_record = copy_fixed<p10, rgb>;
  else if (sizes_are({p10, gps, rgb}))
    copy_record = copy_fixed<p10, gps, rgb>;
}

bool LASreadPoint::make_coded_readers(const LASitem* items) {
  for (U32 i = 0; i < reader_count; i++) {
    coded_readers.emplace_back(coded_reader_maker(items[i], decoder.get(), decompress_selective));
    if (!coded_readers.back()) return false;
  }
  return true;
}

bool LASreadPoint::init(ByteStreamIn* stream) {
  if (!stream) return false;
  this->stream = stream;
  for (auto& reader : raw_readers) reader->init(stream);
  chunk_failed = false;
  if (decoder) {
    points_in_chunk = chunk_size;
    chunk_start = 0;
    chunk_started = false;
    next = Next::CHUNK_START;
  } else {
    chunk_start = stream->tell();
    chunk_started = true;
    next = Next::RAW;
  }
  return true;
}

bool LASreadPoint::start_chunk() {
  if (table_failed) return false;
  if (table_pending) {
    table_pending = false;
    if (!read_chunk_table()) {
      table_failed = true;
      return false;
    }
    chunk_index = 0;
    if (adaptive) chunk_size = (table_chunks > 0) ? (U32)(chunk_point_totals[1] - chunk_point_totals[0]) : 0;
  }
  chunk_start = stream->tell();
  chunk_started = true;
  chunk_failed = false;
  next = Next::CHUNK_START;
  return true;
}

bool LASreadPoint::read(U8* const* point) {
  U32 context = 0;
  if (chunk_failed) return false;
  if (copy_record) {
    U64 lent;
    const U8* record = stream->lend(point_size, 1, lent);
    if (record) {
      copy_record(point, record, record_parts.data(), reader_count);
      return true;
    }
  }
  try {
    if (!decoder) {
      for (U32 i = 0; i < reader_count; i++) raw_readers[i]->read(point[i], context);
      return true;
    }
    if (points_in_chunk == chunk_size) {
      if (chunk_started) {
        decoder->done();
        chunk_index++;
        if (chunk_index < known_chunks && stream->tell() != chunk_offsets[chunk_index]) {
          chunk_index--;
          throw CHUNK_CORRUPT;
        }
      }
      if (!start_chunk()) return false;
      // A table read whole knows every chunk: there is no chunk beyond it.
      if (table_complete && chunk_index >= table_chunks) throw EOF;
      if (chunk_index == known_chunks) {
        if (chunk_index >= table_chunks && !grow_chunk_offsets((U64)table_chunks + TABLE_GROWTH)) return false;
        chunk_offsets[known_chunks] = chunk_start;
        known_chunks++;
      } else if (adaptive) {
        chunk_size = (U32)(chunk_point_totals[chunk_index + 1] - chunk_point_totals[chunk_index]);
      }
      points_in_chunk = 1;
    } else {
      points_in_chunk++;
    }

    if (next == Next::CODED) {
      for (U32 i = 0; i < reader_count; i++) coded_readers[i]->read(point[i], context);
      return true;
    }
    for (U32 i = 0; i < reader_count; i++) raw_readers[i]->read(point[i], context);
    if (layered) {
      decoder->init(stream, false);
      U32 count;
      stream->get32bitsLE((U8*)&count);  // the chunk's point count; the table has it
      for (auto& reader : coded_readers) reader->chunk_sizes();
      for (U32 i = 0; i < reader_count; i++) coded_readers[i]->init(point[i], context);
    } else {
      for (U32 i = 0; i < reader_count; i++) coded_readers[i]->init(point[i], context);
      decoder->init(stream, true);
    }
    next = Next::CODED;
    return true;
  } catch (int error) {
    if (error == EOF) {
      if (decoder)
        set_error("end-of-file during chunk with index %u", chunk_index);
      else
        set_error("end-of-file");
    } else {
      set_error("chunk with index %u of %u is corrupt", chunk_index, known_chunks);
      // Go on with the next chunk when its start is known.
      if (chunk_index + 1 < known_chunks) {
        stream->seek(chunk_offsets[chunk_index + 1]);
        points_in_chunk = chunk_size;
        return false;
      }
    }
    // The decoder stopped in the middle of a value: decoding on would read a
    // state no encoder made (an interval too short to divide by). Reading
    // stays failed until a seek starts a chunk afresh.
    if (decoder) chunk_failed = true;
    return false;
  }
}

bool LASreadPoint::seek(const U64 current, const U64 target) {
  if (!stream || !stream->isSeekable()) return false;
  if (!decoder) {
    if (current == target) return true;
    if (point_size == 0 || target > (U64)(I64_MAX - chunk_start) / point_size) return false;
    return stream->seek(chunk_start + (I64)(point_size * target));
  }
  if (!chunk_started) {
    if (!start_chunk()) return false;
    points_in_chunk = 0;
  }
  if (table_failed) return false;

  U64 delta = 0;
  if (chunk_offsets) {
    U64 j, d;
    if (adaptive) {
      // The chunk j with total[j] <= target < total[j + 1].
      const U64* totals = chunk_point_totals.get();
      if (!totals || !table_complete || target >= totals[table_chunks]) return false;
      j = (U64)(std::upper_bound(totals, totals + table_chunks + 1, target) - totals) - 1;
      chunk_size = (U32)(totals[j + 1] - totals[j]);
      d = target - totals[j];
    } else {
      j = target / chunk_size;
      d = target % chunk_size;
      if (table_complete && j >= table_chunks) return false;
    }
    if (known_chunks == 0) return false;
    if (j >= known_chunks) {
      // Beyond the known part of the table: from the last known chunk on.
      if (chunk_index < known_chunks - 1) {
        decoder->done();
        chunk_index = known_chunks - 1;
        if (!stream->seek(chunk_offsets[chunk_index])) return false;
        start_chunk();
        points_in_chunk = 0;
      }
      delta = d + (U64)chunk_size * (j - chunk_index) - points_in_chunk;
    } else if (target < current || j != chunk_index) {
      decoder->done();
      chunk_index = (U32)j;
      if (!stream->seek(chunk_offsets[j])) return false;
      start_chunk();
      points_in_chunk = 0;
      delta = d;
    } else {
      delta = target - current;
    }
  } else if (target < current) {
    decoder->done();
    if (!stream->seek(chunk_start)) return false;
    start_chunk();
    points_in_chunk = 0;
    delta = target;
  } else {
    delta = target - current;
  }
  for (; delta > 0; delta--)
    if (!read(skip_point.data())) return false;
  return true;
}

bool LASreadPoint::check_end() {
  if (decoder && next == Next::CODED) {
    decoder->done();
    chunk_index++;
    if (chunk_index < known_chunks && stream->tell() != chunk_offsets[chunk_index]) {
      set_error("chunk with index %u of %u is corrupt", chunk_index, known_chunks);
      return false;
    }
  }
  return true;
}

bool LASreadPoint::done() {
  stream = nullptr;
  return true;
}

bool LASreadPoint::grow_chunk_offsets(U64 capacity) {
  // The capacity and its one extra entry must stay countable in 32 bits.
  if (capacity >= U32_MAX) return false;
  I64* grown = (I64*)realloc_las(chunk_offsets.get(), (capacity + 1) * sizeof(I64));
  if (!grown) return false;
  // realloc has freed or kept the old block: it is given up, not freed.
  (void)chunk_offsets.release();
  chunk_offsets.reset(grown);
  table_chunks = (U32)capacity;
  return true;
}

void LASreadPoint::release_tables() {
  chunk_offsets.reset();
  chunk_point_totals.reset();
  table_chunks = 0;
  known_chunks = 0;
  table_complete = false;
}

// The chunk table, with the stream at the first byte of the point data: an
// i64 with the table's position (-1: it is in the last 8 bytes of the stream),
// then the chunks, then at that position version 0, the chunk count and the
// coded point counts (adaptive chunks) and byte counts of the chunks.
bool LASreadPoint::read_chunk_table() {
  release_tables();
  I64 chunk_table_start;
  try {
    stream->get64bitsLE((U8*)&chunk_table_start);
  } catch (int) {
    return false;
  }
  const I64 chunks_start = stream->tell();

  // The writer never came back to fill in the position.
  if (chunk_table_start + 8 == chunks_start) return start_without_chunk_table(chunks_start);

  // The table cannot be reached: fixed chunks are found while reading.
  if (!stream->isSeekable()) {
    if (adaptive) return false;
    table_chunks = 0;
    known_chunks = 0;
    return true;
  }

  if (chunk_table_start == -1 && !read_appended_table_position(chunk_table_start)) return false;

  bool count_read = false;
  U32 decoded = 0;
  try {
    decode_chunk_table(chunks_start, chunk_table_start, count_read, decoded);
  } catch (int) {
    decoder->done();
    if (!recover_chunk_table(chunks_start, chunk_table_start, count_read, decoded)) return false;
  }
  return stream->seek(chunks_start);
}

// Only the first chunk is known; fixed chunks find the others while reading.
bool LASreadPoint::start_without_chunk_table(I64 chunks_start) {
  if (adaptive) {
    set_error("compressor was interrupted before writing adaptive chunk table of VMB file");
    return false;
  }
  if (!grow_chunk_offsets(TABLE_GROWTH)) return false;
  chunk_offsets[0] = chunks_start;
  known_chunks = 1;
  set_warning("compressor was interrupted before writing chunk table of VMB file");
  return true;
}

// A writer that could not seek back put the table's position in the last 8
// bytes of the stream.
bool LASreadPoint::read_appended_table_position(I64& chunk_table_start) {
  try {
    if (!stream->seekEnd(8)) return false;
    stream->get64bitsLE((U8*)&chunk_table_start);
  } catch (int) {
    return false;
  }
  return true;
}

// Fills the chunk offsets (and point totals of adaptive chunks) from the table
// at `chunk_table_start`. Throws at the first damage; `count_read` and
// `decoded` then tell the recovery how far it came.
void LASreadPoint::decode_chunk_table(I64 chunks_start, I64 chunk_table_start, bool& count_read, U32& decoded) {
  // A table before the chunks, or one announcing more chunks than there are
  // bytes for (each begins with a raw point), is not trusted.
  if (chunk_table_start < chunks_start) throw CHUNK_CORRUPT;
  if (!stream->seek(chunk_table_start) || stream->tell() != chunk_table_start) throw CHUNK_CORRUPT;
  U32 version;
  stream->get32bitsLE((U8*)&version);
  if (version != 0) throw CHUNK_CORRUPT;
  U32 count;
  stream->get32bitsLE((U8*)&count);
  if ((U64)count > (U64)(chunk_table_start - chunks_start) / std::max(point_size, 1u)) throw CHUNK_CORRUPT;
  if (adaptive) {
    chunk_point_totals.reset((U64*)malloc_las(((U64)count + 1) * sizeof(U64)));
    if (!chunk_point_totals) throw CHUNK_CORRUPT;
    chunk_point_totals[0] = 0;
  }
  if (!grow_chunk_offsets(count)) throw CHUNK_CORRUPT;
  chunk_offsets[0] = chunks_start;
  known_chunks = 1;
  count_read = true;
  if (count > 0) {
    decoder->init(stream, true);
    IntegerCompressor ic(decoder.get(), 32, 2, 8, 0);
    if (!ic.initDecompressor()) throw CHUNK_CORRUPT;
    I32 last_points = 0, last_bytes = 0;
    for (U32 i = 1; i <= count; i++) {
      if (adaptive) {
        last_points = ic.decompress((i > 1) ? last_points : 0, 0);
        chunk_point_totals[i] = chunk_point_totals[i - 1] + (U32)last_points;
      }
      last_bytes = ic.decompress((i > 1) ? last_bytes : 0, 1);
      // Byte counts are unsigned 32-bit; a chunk of no bytes is no chunk.
      chunk_offsets[i] = chunk_offsets[i - 1] + (U32)last_bytes;
      if (last_bytes == 0) throw CHUNK_CORRUPT;
      known_chunks++;
      decoded = i;
    }
    decoder->done();
  }
  table_complete = true;
}

// A damaged or missing table: adaptive chunks cannot be found without it;
// fixed chunks keep the entries decoded before the damage and find the rest
// while reading. The warning tells what the stream's length suggests.
bool LASreadPoint::recover_chunk_table(I64 chunks_start, I64 chunk_table_start, bool count_read, U32 decoded) {
  chunk_point_totals.reset();
  table_complete = false;
  if (adaptive) return false;
  if (!count_read) {
    chunk_offsets.reset();
    if (!grow_chunk_offsets(TABLE_GROWTH)) return false;
    chunk_offsets[0] = chunks_start;
    known_chunks = 1;
  } else {
    known_chunks = decoded + 1;
  }
  if (!stream->seekEnd(0)) return false;
  const I64 length = stream->tell();
  if (chunk_table_start < length)
    set_warning("corrupt chunk table");
  else if (chunk_table_start == length)
    set_warning("chunk table is missing. improper use of VMB compressor?");
  else
    set_warning("chunk table and %lld bytes are missing. VMB file truncated during copy or transfer?",
                (long long)(chunk_table_start - length));
  return true;
}

void LASreadPoint::set_error(const char* format, ...) {
  if (!error_text) error_text = std::make_unique<char[]>(TEXT_SIZE);
  va_list args;
  va_start(args, format);
  vsnprintf(error_text.get(), TEXT_SIZE, format, args);
  va_end(args);
}

void LASreadPoint::set_warning(const char* format, ...) {
  if (!warning_text) warning_text = std::make_unique<char[]>(TEXT_SIZE);
  va_list args;
  va_start(args, format);
  vsnprintf(warning_text.get(), TEXT_SIZE, format, args);
  va_end(args);
}
