// The point writer driver (see laswritepoint.hpp): raw records, chunks and
// the chunk table.
#include "compressor/laswritepoint.hpp"

#include <cstdlib>

#include "compressor/arithmeticencoder.hpp"
#include "compressor/integercompressor.hpp"
#include "compressor/laswriteitemraw.hpp"

namespace {

constexpr U32 FIRST_TABLE_CAPACITY = 1024;

LASwriteItem* make_raw_writer(const LASitem& item) {
  const bool le = Endian::IS_LITTLE_ENDIAN;
  switch (item.type) {
    case LASitem::POINT10:
      return le ? (LASwriteItem*)new LASwriteItemRaw_POINT10_LE() : new LASwriteItemRaw_POINT10_BE();
    case LASitem::GPSTIME11:
      return le ? (LASwriteItem*)new LASwriteItemRaw_GPSTIME11_LE() : new LASwriteItemRaw_GPSTIME11_BE();
    case LASitem::RGB12:
    case LASitem::RGB14:
      return le ? (LASwriteItem*)new LASwriteItemRaw_RGB12_LE() : new LASwriteItemRaw_RGB12_BE();
    case LASitem::RGBNIR14:
      return le ? (LASwriteItem*)new LASwriteItemRaw_RGBNIR14_LE() : new LASwriteItemRaw_RGBNIR14_BE();
    case LASitem::WAVEPACKET13:
    case LASitem::WAVEPACKET14:
      return le ? (LASwriteItem*)new LASwriteItemRaw_WAVEPACKET13_LE() : new LASwriteItemRaw_WAVEPACKET13_BE();
    case LASitem::POINT14:
      return le ? (LASwriteItem*)new LASwriteItemRaw_POINT14_LE() : new LASwriteItemRaw_POINT14_BE();
    case LASitem::BYTE:
    case LASitem::BYTE14:
      return new LASwriteItemRaw_BYTE(item.size);
  }
  return nullptr;
}

// The built-in item coders by kind and version; the coder classes join this
// table as they are built, and until then a kind cannot be written compressed.
LASwriteItemCompressed* make_coded_writer(const LASitem& item, ArithmeticEncoder*) {
  switch (item.type) {
    case LASitem::BYTE:  // versions 1, 2 (item size)
    case LASitem::POINT10:  // versions 1, 2
    case LASitem::GPSTIME11:  // versions 1, 2
    case LASitem::RGB12:  // versions 1, 2
    case LASitem::WAVEPACKET13:  // version 1
    case LASitem::POINT14:  // versions 3, 4
    case LASitem::RGB14:  // versions 3, 4
    case LASitem::RGBNIR14:  // versions 3, 4
    case LASitem::WAVEPACKET14:  // versions 3, 4
    case LASitem::BYTE14:  // versions 3, 4 (item size)
      break;
  }
  return nullptr;
}

}  // namespace

LASwritePoint::LASwritePoint() : coded_writer_maker(make_coded_writer) {}

LASwritePoint::~LASwritePoint() {
  if (raw_writers) {
    for (U32 i = 0; i < writer_count; i++) delete raw_writers[i];
    delete[] raw_writers;
  }
  if (coded_writers) {
    for (U32 i = 0; i < writer_count; i++) delete coded_writers[i];
    delete[] coded_writers;
  }
  delete encoder;
  free(chunk_point_counts);
  free(chunk_byte_counts);
}

bool LASwritePoint::setup(const U32 num_items, const LASitem* items, const Vembra* vembra) {
  if (num_items == 0 || items == nullptr) return false;
  if (vembra && (num_items != vembra->num_items || items != vembra->items)) return false;
  if (raw_writers || encoder) return false;  // set up once
  if (vembra && vembra->compressor != Vembra::NONE) {
    if (vembra->coder != 0) return false;
    encoder = new ArithmeticEncoder();
    layered = (vembra->compressor == Vembra::LAYERED_CHUNKED);
  }
  writer_count = num_items;
  active_writers = nullptr;
  chunk_size = U32_MAX;
  raw_writers = new LASwriteItem*[num_items]();
  for (U32 i = 0; i < num_items; i++) {
    raw_writers[i] = make_raw_writer(items[i]);
    if (raw_writers[i] == nullptr) return false;
  }
  if (!encoder) return true;

  coded_writers = new LASwriteItem*[num_items]();
  for (U32 i = 0; i < num_items; i++) {
    coded_writers[i] = coded_writer_maker(items[i], encoder);
    if (coded_writers[i] == nullptr) return false;
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
  for (U32 i = 0; i < writer_count; i++) static_cast<LASwriteItemRaw*>(raw_writers[i])->init(stream);
  active_writers = encoder ? nullptr : raw_writers;
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

  if (active_writers) {
    for (U32 i = 0; i < writer_count; i++)
      if (!active_writers[i]->write(point[i], context)) return false;
    return true;
  }
  // The first point of a chunk goes out raw and seeds every coder.
  for (U32 i = 0; i < writer_count; i++) {
    if (!raw_writers[i]->write(point[i], context)) return false;
    coded(i)->init(point[i], context);
  }
  active_writers = coded_writers;
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
  if (coded_writers && active_writers == coded_writers) {
    if (!close_chunk()) return false;
    if (!chunked) return true;
    if (points_in_chunk != 0 && !add_chunk_to_table()) return false;
    return write_chunk_table();
  }
  if (!chunked || active_writers == raw_writers) return true;
  if (offset_field_pending) return false;  // never attached to a stream
  return write_chunk_table();
}

// Layered chunks end with their point count and every item's field streams;
// pointwise chunks with the end of their code.
bool LASwritePoint::close_chunk() {
  if (layered) {
    if (!stream->put32bitsLE((const U8*)&points_in_chunk)) return false;
    for (U32 i = 0; i < writer_count; i++)
      if (!coded(i)->chunk_sizes()) return false;
    for (U32 i = 0; i < writer_count; i++)
      if (!coded(i)->chunk_bytes()) return false;
  } else {
    encoder->done();
  }
  return true;
}

bool LASwritePoint::add_chunk_to_table() {
  if (table_chunks == table_capacity) {
    U64 capacity = table_capacity ? 2 * (U64)table_capacity : FIRST_TABLE_CAPACITY;
    if (capacity > U32_MAX) capacity = U32_MAX;
    if (capacity == table_capacity) return false;  // 2^32 - 1 chunks: the count field is full
    if (chunk_size == U32_MAX) {
      U32* counts = (U32*)realloc_las(chunk_point_counts, capacity * sizeof(U32));
      if (!counts) return false;
      chunk_point_counts = counts;
    }
    U32* bytes = (U32*)realloc_las(chunk_byte_counts, capacity * sizeof(U32));
    if (!bytes) return false;
    chunk_byte_counts = bytes;
    table_capacity = (U32)capacity;
  }
  const I64 position = stream->tell();
  // The table holds 32-bit byte counts: a longer chunk could not be found again.
  if (position - chunk_start < 0 || position - chunk_start > (I64)U32_MAX) return false;
  if (chunk_size == U32_MAX) chunk_point_counts[table_chunks] = points_in_chunk;
  chunk_byte_counts[table_chunks] = (U32)(position - chunk_start);
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
    IntegerCompressor ic(encoder, 32, 2, 8, 0);
    if (!ic.initCompressor()) return false;
    for (U32 i = 0; i < table_chunks; i++) {
      if (chunk_size == U32_MAX) ic.compress(i ? (I32)chunk_point_counts[i - 1] : 0, (I32)chunk_point_counts[i], 0);
      ic.compress(i ? (I32)chunk_byte_counts[i - 1] : 0, (I32)chunk_byte_counts[i], 1);
    }
    encoder->done();
  }
  if (offset_field_position == -1) return stream->put64bitsLE((const U8*)&position);
  return true;
}
