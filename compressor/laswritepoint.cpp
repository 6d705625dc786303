// The point writer driver (see laswritepoint.hpp): raw records, chunks and
// the chunk table.
#include "compressor/laswritepoint.hpp"

#include <cstdlib>

#include "compressor/arithmeticencoder.hpp"
#include "compressor/integercompressor.hpp"
#include "compressor/laswriteitemraw.hpp"

namespace {

constexpr U32 FIRST_TABLE_CAPACITY = 1024;

template <class Writer>
std::unique_ptr<LASwriteItemRaw> make_writer() {
  return std::make_unique<Writer>();
}

// realloc frees the old block when it moves it and keeps it when it fails, so
// the owner lets go of it only on success.
template <class Table>
bool resize_table(Table& table, U64 entries) {
  U32* moved = (U32*)realloc_las(table.get(), entries * sizeof(U32));
  if (moved == nullptr) return false;
  (void)table.release();
  table.reset(moved);
  return true;
}

std::unique_ptr<LASwriteItemRaw> make_raw_writer(const LASitem& item) {
  const bool le = Endian::IS_LITTLE_ENDIAN;
  switch (item.type) {
    case LASitem::POINT10:
      return le ? make_writer<LASwriteItemRaw_POINT10_LE>() : make_writer<LASwriteItemRaw_POINT10_BE>();
    case LASitem::GPSTIME11:
      return le ? make_writer<LASwriteItemRaw_GPSTIME11_LE>() : make_writer<LASwriteItemRaw_GPSTIME11_BE>();
    case LASitem::RGB12:
    case LASitem::RGB14:
      return le ? make_writer<LASwriteItemRaw_RGB12_LE>() : make_writer<LASwriteItemRaw_RGB12_BE>();
    case LASitem::RGBNIR14:
      return le ? make_writer<LASwriteItemRaw_RGBNIR14_LE>() : make_writer<LASwriteItemRaw_RGBNIR14_BE>();
    case LASitem::WAVEPACKET13:
    case LASitem::WAVEPACKET14:
      return le ? make_writer<LASwriteItemRaw_WAVEPACKET13_LE>() : make_writer<LASwriteItemRaw_WAVEPACKET13_BE>();
    case LASitem::POINT14:
      return le ? make_writer<LASwriteItemRaw_POINT14_LE>() : make_writer<LASwriteItemRaw_POINT14_BE>();
    case LASitem::BYTE:
    case LASitem::BYTE14:
      return std::make_unique<LASwriteItemRaw_BYTE>(item.size);
  }
  return nullptr;
}

}  // namespace

LASwritePoint::LASwritePoint() : coded_writer_maker(make_item_writer) {}

bool LASwritePoint::setup(const U32 num_items, const LASitem* items, const Vembra* vembra) {
  if (num_items == 0 || items == nullptr) return false;
  if (vembra && (num_items != vembra->num_items || items != vembra->items)) return false;
  if (!raw_writers.empty() || encoder) return false;  // set up once
  if (vembra && vembra->compressor != Vembra::NONE) {
    if (vembra->coder != 0) return false;
    encoder = std::make_unique<ArithmeticEncoder>();
    layered = (vembra->compressor == Vembra::LAYERED_CHUNKED);
  }
  writer_count = num_items;
  next = Next::CHUNK_START;
  chunk_size = U32_MAX;
  for (U32 i = 0; i < num_items; i++) {
    raw_writers.push_back(make_raw_writer(items[i]));
    if (!raw_writers.back()) return false;
  }
  if (!encoder) return true;

  for (U32 i = 0; i < num_items; i++) {
    coded_writers.emplace_back(coded_writer_maker(items[i], encoder.get()));
    if (!coded_writers.back()) return false;
  }
  if (vembra->compressor != Vembra::POINTWISE) {
    chunked = true;
    if (vembra->chunk_size != 0) chunk_size = vembra->chunk_size;
    points_in_chunk = 0;
    offset_field_pending = true;
  }
  return true;
}

bool LASwritePoint::init(ByteStreamOut* stream) {
  if (!stream) return false;
  this->stream = stream;
  if (offset_field_pending) {
    // A placeholder that points at itself (or -1 when it cannot be patched),
    // replaced by the table's position when the table is written.
    offset_field_pending = false;
    table_chunks = 0;
    offset_field_position = stream->isSeekable() ? stream->tell() : -1;
    if (!stream->put64bitsLE((const U8*)&offset_field_position)) return false;
    chunk_start = stream->tell();
  }
  for (auto& writer : raw_writers) writer->init(stream);
  next = encoder ? Next::CHUNK_START : Next::RAW;
  return true;
}

bool LASwritePoint::write(const U8* const* point) {
  U32 context = 0;
  if (points_in_chunk == chunk_size) {
    if (encoder && chunked) {
      if (!close_chunk() || !add_chunk_to_table() || !init(stream)) return false;
    }
    points_in_chunk = 1;
  } else {
    points_in_chunk++;
  }

  if (next == Next::CODED) {
    for (U32 i = 0; i < writer_count; i++)
      if (!coded_writers[i]->write(point[i], context)) return false;
    return true;
  }
  if (next == Next::RAW) {
    for (U32 i = 0; i < writer_count; i++)
      if (!raw_writers[i]->write(point[i], context)) return false;
    return true;
  }
  // The first point of a chunk goes out raw and seeds every coder.
  for (U32 i = 0; i < writer_count; i++) {
    if (!raw_writers[i]->write(point[i], context)) return false;
    coded_writers[i]->init(point[i], context);
  }
  next = Next::CODED;
  return encoder->init(stream);
}

bool LASwritePoint::chunk() {
  if (!chunked || chunk_size != U32_MAX || offset_field_pending) return false;
  if (points_in_chunk == 0) return true;
  if (!close_chunk() || !add_chunk_to_table() || !init(stream)) return false;
  points_in_chunk = 0;
  return true;
}

bool LASwritePoint::done() {
  if (next == Next::CODED) {
    if (!close_chunk()) return false;
    if (!chunked) return true;
    if (points_in_chunk != 0 && !add_chunk_to_table()) return false;
    return write_chunk_table();
  }
  if (!chunked || next == Next::RAW) return true;
  if (offset_field_pending) return false;  // never attached to a stream
  return write_chunk_table();
}

// Layered chunks end with their point count and every item's field streams;
// pointwise chunks with the end of their code.
bool LASwritePoint::close_chunk() {
  if (layered) {
    if (!stream->put32bitsLE((const U8*)&points_in_chunk)) return false;
    for (auto& writer : coded_writers)
      if (!writer->chunk_sizes()) return false;
    for (auto& writer : coded_writers)
      if (!writer->chunk_bytes()) return false;
  } else {
    encoder->done();
  }
  return true;
}

// Doubles the table; false when it cannot grow (memory, or 2^32 - 1 chunks,
// where the count field is full). A table that failed to grow keeps its entries.
bool LASwritePoint::grow_chunk_table() {
  U64 capacity = table_capacity ? 2 * (U64)table_capacity : FIRST_TABLE_CAPACITY;
  if (capacity > U32_MAX) capacity = U32_MAX;
  if (capacity == table_capacity) return false;
  if (chunk_size == U32_MAX && !resize_table(chunk_point_counts, capacity)) return false;
  if (!resize_table(chunk_byte_counts, capacity)) return false;
  table_capacity = (U32)capacity;
  return true;
}

bool LASwritePoint::add_chunk_to_table() {
  if (table_chunks == table_capacity && !grow_chunk_table()) return false;
  const I64 position = stream->tell();
  // The table holds 32-bit byte counts: a longer chunk could not be found again.
  if (position - chunk_start < 0 || position - chunk_start > (I64)U32_MAX) return false;
  if (chunk_size == U32_MAX) chunk_point_counts.get()[table_chunks] = points_in_chunk;
  chunk_byte_counts.get()[table_chunks] = (U32)(position - chunk_start);
  chunk_start = position;
  table_chunks++;
  return true;
}

bool LASwritePoint::write_chunk_table() {
  const I64 position = stream->tell();
  if (offset_field_position != -1) {
    if (!stream->seek(offset_field_position)) return false;
    if (!stream->put64bitsLE((const U8*)&position)) return false;
    if (!stream->seek(position)) return false;
  }
  const U32 version = 0;
  if (!stream->put32bitsLE((const U8*)&version)) return false;
  if (!stream->put32bitsLE((const U8*)&table_chunks)) return false;
  if (table_chunks > 0) {
    if (!encoder->init(stream)) return false;
    IntegerCompressor ic(encoder.get(), 32, 2, 8, 0);
    if (!ic.initCompressor()) return false;
    const U32* points = chunk_point_counts.get();
    const U32* bytes = chunk_byte_counts.get();
    for (U32 i = 0; i < table_chunks; i++) {
      if (chunk_size == U32_MAX) ic.compress(i ? (I32)points[i - 1] : 0, (I32)points[i], 0);
      ic.compress(i ? (I32)bytes[i - 1] : 0, (I32)bytes[i], 1);
    }
    encoder->done();
  }
  if (offset_field_position == -1) return stream->put64bitsLE((const U8*)&position);
  return true;
}
