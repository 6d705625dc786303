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
    LASitem* list = nullptr;
    if (!vembra.setup(&num_items, &list, point_type, header.point_data_record_length)) return Vembra::NONE;
    const std::unique_ptr<LASitem[]> items(list);
    vembra.setup(num_items, items.get(), Vembra::NONE);
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

// The pass ends before the streams it reads or writes go.
LASreaderStored::~LASreaderStored() { end_pass(); }

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
  this->lasreader.reset(lasreader);
  // The inner reader keeps its own attribute arrays for the points it reads.
  header.take_over(lasreader->header, true);
  // The tool asks the reader it holds which points to leave alone.
  set_ignore(lasreader->get_ignore());
  if (!las_init_point_for_header(point, header)) return false;

  const I64 expected = announced_points(header);
  // A writer still open on the old store finishes before the store goes.
  laswriterlas.reset();
  const I64 first = std::min<I64>(expected, FIRST_BUFFER_CAP / 2) * 2;
  if (Endian::IS_LITTLE_ENDIAN) {
    streamoutarray = std::make_unique<ByteStreamOutArrayLE>(first);
  } else {
    streamoutarray = std::make_unique<ByteStreamOutArrayBE>(first);
  }

  // Owned plainly until it is open: a writer that never opened has nothing to
  // close. The store is this reader's, also when the writer refuses the header.
  auto writer = std::make_unique<LASwriterLAS>();
  writer->delete_stream = false;
  // Written with no count, so that closing records exactly the points stored,
  // however many the input announced.
  const U32 legacy_count = header.number_of_point_records;
  const U64 extended_count = header.extended_number_of_point_records;
  header.number_of_point_records = 0;
  header.extended_number_of_point_records = 0;
  const bool opened = writer->open(streamoutarray.get(), &header, stored_compressor(header), 0, STORED_CHUNK_SIZE);
  header.number_of_point_records = legacy_count;
  header.extended_number_of_point_records = extended_count;
  if (!opened) {
    writer.reset();
    laserror("opening laswriterlas to streamoutarray");
    return false;
  }
  laswriterlas.reset(writer.release());
  store_failed = false;

  points_expected = points_expected_at_open = expected;
  points_read = 0;
  return true;
}

void LASreaderStored::finish_writer() { laswriterlas.reset(); }

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
    lasreader.reset();
  }
  finish_writer();
  point.reset();
  return false;
}

void LASreaderStored::end_pass() {
  lasreader.reset();
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
      streaminarray = std::make_unique<ByteStreamInArrayLE>();
    } else {
      streaminarray = std::make_unique<ByteStreamInArrayBE>();
    }
    streaminarray->take_over(*streamoutarray);
  }
  auto reader = std::make_unique<LASreaderLAS>(opener);
  reader->set_delete_stream(false);
  if (!reader->open(streaminarray.get(), false, LAS_SELECTIVE_ALL)) {
    reader.reset();
    laserror("opening lasreaderlas from streaminarray");
    return false;
  }
  lasreader.reset(reader.release());
  header.take_over(lasreader->header);
  points_expected = points_expected_at_open;
  points_read = 0;
  return true;
}
