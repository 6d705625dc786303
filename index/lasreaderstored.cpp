// The stored reader: the first pass copies each point of the inner reader into
// a LAS stream in memory, every later pass reads that stream back through a
// LAS reader of its own.
#include "index/lasreaderstored.hpp"

#include <algorithm>

#include "compressor/lasitemcodertable.hpp"
#include "core/bytestreamin_array.hpp"
#include "core/bytestreamout_array.hpp"
#include "core/lasreader_las.hpp"
#include "core/laswriter_las.hpp"
#include "index/lasreadermerged.hpp"

namespace {

constexpr I32 STORED_CHUNK_SIZE = 50000;

// Compressed where every item of the point has a coder to write it: chunked
// for the formats up to 5, layered above. Anything else is stored as plain
// records, which restore the points just as exactly.
U32 stored_compressor(const LASheader& header) {
  Vembra vembra;
  U8 point_type = header.point_data_format & 0x3F;
  if (header.compressor && header.compressor->num_items && header.compressor->items) {
    if (!vembra.setup(header.compressor->num_items, header.compressor->items, Vembra::NONE)) return Vembra::NONE;
    vembra.is_standard(&point_type);
  } else {
    U16 num_items = 0;
    LASitem* items = nullptr;
    if (!vembra.setup(&num_items, &items, point_type, header.point_data_record_length)) return Vembra::NONE;
    vembra.setup(num_items, items, Vembra::NONE);
    delete[] items;
  }
  const U16 compressor = (point_type <= 5) ? Vembra::POINTWISE_CHUNKED : Vembra::LAYERED_CHUNKED;
  vembra.compressor = compressor;
  if (!vembra.request_version(Vembra::get_default_version(point_type, header.version_major, header.version_minor)))
    return Vembra::NONE;
  for (U32 i = 0; i < vembra.num_items; i++) {
    const LASitemCoderRow* row = find_item_coder((LASitem::Type)vembra.items[i].type, vembra.items[i].version);
    if (row == nullptr || row->make_writer == nullptr) return Vembra::NONE;
  }
  return compressor;
}

I64 announced_points(const LASheader& header) {
  return header.number_of_point_records ? (I64)header.number_of_point_records
                                        : (I64)std::min<U64>(header.extended_number_of_point_records, I64_MAX);
}

}  // namespace

LASreaderStored::~LASreaderStored() {
  end_pass();
  delete streaminarray;
  delete streamoutarray;
}

void LASreaderStored::set_filter(LASfilter* filter) {
  if (lasreader) lasreader->set_filter(filter);
}

void LASreaderStored::set_transform(LAStransform* transform) {
  if (lasreader) lasreader->set_transform(transform);
}

bool LASreaderStored::inside_tile(const F32 ll_x, const F32 ll_y, const F32 size) {
  return lasreader ? lasreader->inside_tile(ll_x, ll_y, size) : false;
}

bool LASreaderStored::inside_circle(const F64 center_x, const F64 center_y, const F64 radius) {
  return lasreader ? lasreader->inside_circle(center_x, center_y, radius) : false;
}

bool LASreaderStored::inside_rectangle(const F64 min_x, const F64 min_y, const F64 max_x, const F64 max_y) {
  return lasreader ? lasreader->inside_rectangle(min_x, min_y, max_x, max_y) : false;
}

I64 LASreaderStored::stored_bytes() const {
  if (streaminarray) return streaminarray->getSize();
  return streamoutarray ? streamoutarray->getSize() : 0;
}

bool LASreaderStored::open(LASreader* lasreader) {
  if (lasreader == nullptr) {
    laserror("no lasreader");
    return false;
  }
  this->lasreader = lasreader;
  // The inner reader keeps its own attribute arrays for the points it reads.
  header.take_over(lasreader->header, true);
  // The tool asks the reader it holds which points to leave alone.
  set_ignore(lasreader->get_ignore());
  if (!las_init_point_for_header(point, header)) return false;

  const I64 expected = announced_points(header);
  delete streamoutarray;
  const I64 first = std::min<I64>(expected, FIRST_BUFFER_CAP / 2) * 2;
  if (Endian::IS_LITTLE_ENDIAN) {
    streamoutarray = new ByteStreamOutArrayLE(first);
  } else {
    streamoutarray = new ByteStreamOutArrayBE(first);
  }

  delete laswriterlas;
  laswriterlas = new LASwriterLAS();
  // Written with no count, so that closing records exactly the points stored,
  // however many the input announced.
  const U32 legacy_count = header.number_of_point_records;
  const U64 extended_count = header.extended_number_of_point_records;
  header.number_of_point_records = 0;
  header.extended_number_of_point_records = 0;
  const bool opened = laswriterlas->open(streamoutarray, &header, stored_compressor(header), 0, STORED_CHUNK_SIZE);
  header.number_of_point_records = legacy_count;
  header.extended_number_of_point_records = extended_count;
  if (!opened) {
    delete laswriterlas;
    laswriterlas = nullptr;
    laserror("opening laswriterlas to streamoutarray");
    return false;
  }
  laswriterlas->delete_stream = false;
  store_failed = false;

  points_expected = points_expected_at_open = expected;
  points_read = 0;
  return true;
}

void LASreaderStored::finish_writer() {
  if (laswriterlas == nullptr) return;
  laswriterlas->close(true);
  delete laswriterlas;
  laswriterlas = nullptr;
}

bool LASreaderStored::read_point_default() {
  if (lasreader) {
    if (lasreader->read_point()) {
      point = lasreader->point;
      if (laswriterlas && !store_failed && !laswriterlas->write_point(&point)) {
        // A second pass over part of the points would be a wrong result.
        store_failed = true;
        laserror("storing point %lld in memory failed", (long long)points_read);
      }
      points_read++;
      return true;
    }
    lasreader->close(true);
    delete lasreader;
    lasreader = nullptr;
  }
  finish_writer();
  point.reset();
  return false;
}

void LASreaderStored::end_pass() {
  if (lasreader) {
    lasreader->close(true);
    delete lasreader;
    lasreader = nullptr;
  }
  finish_writer();
}

void LASreaderStored::close(const bool) {
  if (!first_pass_pending()) end_pass();
}

bool LASreaderStored::reopen() {
  if (store_failed) return false;
  if (first_pass_pending()) return true;
  // Whatever pass ran last ends here; the first one finishes the store.
  end_pass();
  if (streaminarray) {
    streaminarray->seek(0);
  } else {
    if (streamoutarray == nullptr) {
      laserror("no streamoutarray");
      return false;
    }
    if (streamoutarray->getSize() == 0) {
      laserror("nothing stored in streamoutarray");
      return false;
    }
    if (Endian::IS_LITTLE_ENDIAN) {
      streaminarray = new ByteStreamInArrayLE();
    } else {
      streaminarray = new ByteStreamInArrayBE();
    }
    streaminarray->take_over(*streamoutarray);
  }
  LASreaderLAS* reader = new LASreaderLAS(opener);
  reader->set_delete_stream(false);
  if (!reader->open(streaminarray, false, LAS_SELECTIVE_ALL)) {
    delete reader;
    laserror("opening lasreaderlas from streaminarray");
    return false;
  }
  lasreader = reader;
  header.take_over(lasreader->header);
  points_expected = points_expected_at_open;
  points_read = 0;
  return true;
}
