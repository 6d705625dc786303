// Opening LAS and VMB files: the public header with every check, the VLRs and
// EVLRs with the records the framework decodes into the header (and drops from
// its lists), the compressor description, and the point decoder. Parsing is
// lenient where a file stays usable (WARNING) and stops at a broken structure
// (ERROR, then the halt rule). No size or count from the file sizes an
// allocation before it is checked against the bytes that can be there.
#include "core/lasreader_las.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "compressor/lasreadpoint.hpp"
#include "core/bytestreamin_file.hpp"
#include "core/lasheadercodec.hpp"
#include "core/laslayout.hpp"
#include "core/lasreadopener.hpp"
#include "index/lascopc.hpp"
#include "index/lasindex.hpp"

using namespace laslayout;

namespace {

// The ERROR of a compressor record field also shows the value it holds.
template <typename T>
bool compressor_field_read(bool read, const char* name, const T& value) {
  if (!read) laserror("reading %s %d", name, (int)value);
  return read;
}

// The support line after an ERROR, then the halt rule.
void halt_after_support_contact() {
  las_support_contact();
  if (do_halt_on_error()) byebye();
}

// Guarded reads: the streams throw at the end of their data.
bool get_bytes(ByteStreamIn* s, void* out, const I64 n) {
  try {
    s->getBytes((U8*)out, n);
  } catch (int) {
    return false;
  }
  return true;
}

template <typename T>
bool get_le(ByteStreamIn* s, T& value) {
  static_assert(sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8);
  U8 bytes[sizeof(T)];
  try {
    if constexpr (sizeof(T) == 1) {
      bytes[0] = (U8)s->getByte();
    } else if constexpr (sizeof(T) == 2) {
      s->get16bitsLE(bytes);
    } else if constexpr (sizeof(T) == 4) {
      s->get32bitsLE(bytes);
    } else {
      s->get64bitsLE(bytes);
    }
  } catch (int) {
    return false;
  }
  memcpy(&value, bytes, sizeof(T));
  return true;
}

// A fixed-width string field into a terminated buffer of width + 1.
bool get_string(ByteStreamIn* s, char* out, const U32 width) {
  if (!get_bytes(s, out, width)) return false;
  out[width] = '\0';
  return true;
}

// The head of a VLR or an EVLR (the two differ in the width of the payload
// length only). Gives the field a read stopped at, RECORD_HEADER_FIELD_COUNT
// when every field was read.
template <typename Record>
RecordHeaderField get_record_header(ByteStreamIn* s, Record& record) {
  if (!get_le(s, record.reserved)) return RECORD_RESERVED;
  if (!get_string(s, record.user_id, USER_ID_SIZE)) return RECORD_USER_ID;
  if (!get_le(s, record.record_id)) return RECORD_RECORD_ID;
  if (!get_le(s, record.record_length_after_header)) return RECORD_LENGTH_AFTER_HEADER;
  if (!get_string(s, record.description, DESCRIPTION_SIZE)) return RECORD_DESCRIPTION;
  return RECORD_HEADER_FIELD_COUNT;
}

// The same, with a failed read an ERROR naming the record and the field;
// `records` is "vlrs" or "evlrs".
template <typename Record>
bool record_header_read(ByteStreamIn* s, Record& record, const char* records, const U32 index) {
  const RecordHeaderField stopped = get_record_header(s, record);
  if (stopped == RECORD_HEADER_FIELD_COUNT) return true;
  laserror("reading header.%s[%d].%s", records, (I32)index, VLR_HEADER[stopped].name);
  return false;
}

bool is(const char* user_id, const char* name) { return strcmp(user_id, name) == 0; }

// Where a header places its points and its EVLRs.
struct BlockLayout {
  bool compressed;
  U64 points_start;
  U64 record;  // length of a point record
  U64 evlr_start;
  explicit BlockLayout(const LASheader& h)
      : compressed((h.point_data_format & POINT_FORMAT_COMPRESSED_BITS) != 0),
        points_start(h.offset_to_point_data),
        record(h.point_data_record_length),
        evlr_start(h.start_of_first_extended_variable_length_record) {}
};

// The stream over a file opened by name: buffered when a buffer of that size
// can be had.
std::unique_ptr<ByteStreamIn> file_stream(FILE* file, const size_t buffer_size) {
  auto buffered = std::make_unique<ByteStreamInFileBuffered>(file, buffer_size);
  if (buffered->has_buffer()) return buffered;
  return std::make_unique<ByteStreamInFileLE>(file);
}

// Scale factors and offsets that give each raw coordinate a finite world value
// of its own. A factor of zero, NaN or infinity, one so small that a raw step
// vanishes next to the offset, or one so large that raw values overflow would
// merge or lose points without a word; such a header is refused by field.
bool check_quantization(const LASheader& h) {
  const F64 scale[3] = {h.x_scale_factor, h.y_scale_factor, h.z_scale_factor};
  const F64 offset[3] = {h.x_offset, h.y_offset, h.z_offset};
  const char axis[3] = {'x', 'y', 'z'};
  for (int a = 0; a < 3; a++) {
    const char c = axis[a];
    if (scale[a] == 0.0) {
      laserror("%c scale factor is zero.", c);
    } else if (!std::isfinite(scale[a])) {
      laserror("%c scale factor is %g but must be a finite number", c, scale[a]);
    } else if (!std::isfinite(offset[a])) {
      laserror("%c offset is %g but must be a finite number", c, offset[a]);
    } else if (std::fabs(scale[a]) < DBL_MIN || offset[a] + scale[a] == offset[a]) {
      laserror("%c scale factor %g is too small: raw coordinates vanish next to the %c offset %g", c, scale[a], c,
               offset[a]);
    } else if (!std::isfinite(std::fabs(scale[a]) * 2147483648.0 + std::fabs(offset[a]))) {
      laserror("%c scale factor %g is too large: coordinates overflow", c, scale[a]);
    } else {
      continue;
    }
    return false;
  }
  return true;
}

}  // namespace

// ------------------------------------------------------------------ LASreaderLAS

LASreaderLAS::LASreaderLAS(LASreadOpener* opener) : LASreader(opener) {
  if (opener) {
    z_from_attribute = &opener->z_from_attribute;
    z_from_attribute_index = &opener->z_from_attribute_index;
  }
}

LASreaderLAS::~LASreaderLAS() { close(true); }

I32 LASreaderLAS::get_format() const {
  return (header.compressor && header.compressor->compressor != Vembra::NONE) ? LAS_READER_FORMAT_VMB
                                                                               : LAS_READER_FORMAT_LAS;
}

bool LASreaderLAS::open(const char* file_name, const I32 io_buffer_size, const bool peek_only,
                        const U32 decompress_selective) {
  if (file_name == nullptr) {
    laserror("file name pointer is zero");
    return false;
  }
  close(true);
  file.reset(LASfopen(file_name, "rb"));
  if (file == nullptr) {
    laserror("cannot open file '%s' for read", file_name);
    return false;
  }
  const size_t length = strlen(file_name);
  this->file_name.reset((char*)malloc(length + 1));
  if (this->file_name) memcpy(this->file_name.get(), file_name, length + 1);
  const size_t buffer_size = (size_t)(io_buffer_size > 0 ? io_buffer_size : 0);
  if (setvbuf(file.get(), nullptr, _IOFBF, buffer_size) != 0) {
    LASMessage(WARNING, "setvbuf() failed with buffer size %d", io_buffer_size);
  }
  delete_stream = true;
  // With delete_stream set, the reader takes the stream.
  return open(file_stream(file.get(), buffer_size).release(), peek_only, decompress_selective);
}

bool LASreaderLAS::open(FILE* file, const bool peek_only, const U32 decompress_selective) {
  if (file == nullptr) {
    laserror("file pointer is zero");
    return false;
  }
  close(true);
  delete_stream = true;
  // With delete_stream set, the reader takes the stream. Buffered like a file
  // opened by name (only this reader reads the file from here on), so that
  // standard input costs no stdio call per item either.
  return open(file_stream(file, LAS_IO_IBUFFER_SIZE).release(), peek_only, decompress_selective);
}

// Keeps owned_stream the stream in use while delete_stream is set, null
// otherwise; a stream it held and no longer uses is deleted.
void LASreaderLAS::hold_stream(ByteStreamIn* stream) {
  this->stream = stream;
  if (!delete_stream) {
    (void)owned_stream.release();  // the caller's from now on
  } else if (owned_stream.get() != stream) {
    owned_stream.reset(stream);
  }
}

void LASreaderLAS::set_delete_stream(const bool delete_stream) {
  this->delete_stream = delete_stream;
  hold_stream(stream);
}

void LASreaderLAS::measure_stream_end() {
  stream_end = -1;
  if (!stream->isSeekable()) return;
  const I64 position = stream->tell();
  if (position >= 0 && stream->seekEnd(0)) stream_end = stream->tell();
  if (!stream->seek(position)) stream_end = -1;
}

// A point format marked compressed needs the compressor record, and the
// record must describe records of the header's length; the mark is then
// taken off the format.
bool LASreaderLAS::check_compression(const bool vlrs_corrupt) {
  Vembra* v = header.compressor.get();
  if (v == nullptr) {
    if ((header.point_data_format & POINT_FORMAT_COMPRESSED_BITS) == 0) return true;
    if (vlrs_corrupt) {
      laserror(
          "your VMB file has corruptions in the LAS header resulting in\n\tthe vembra VLR being lost. maybe your "
          "download failed?");
    } else {
      LASMessage(ERROR, "this file was compressed with an experimental version of vembra");
      halt_after_support_contact();
    }
    return false;
  }
  if (!v->check(header.point_data_record_length)) {
    LASMessage(ERROR, "%s\n\tplease upgrade to the latest release of Pelkarts (with Vembra)",
               v->get_error() ? v->get_error() : "");
    halt_after_support_contact();
    return false;
  }
  header.point_data_format &= ~POINT_FORMAT_COMPRESSED_BIT7;
  return true;
}

bool LASreaderLAS::bytes_available(const U64 count) const {
  if (stream_end < 0) return true;
  const I64 position = stream->tell();
  if (position < 0 || position > stream_end) return count == 0;
  return count <= (U64)(stream_end - position);
}

bool LASreaderLAS::open(ByteStreamIn* stream, const bool peek_only, U32 decompress_selective) {
  if (stream == nullptr) {
    laserror("ByteStreamIn* pointer is zero");
    return false;
  }
  hold_stream(stream);
  point_reader.reset();
  point.clean();
  header.clean();
  points_expected = 0;
  points_read = 0;
  measure_stream_end();

  bool header_ok = false;
  if (!read_header(header_ok) || !header_ok) return false;
  points_expected = header.number_of_point_records ? (I64)header.number_of_point_records
                                                   : (I64)header.extended_number_of_point_records;
  points_read = 0;
  if (peek_only) {
    header.point_data_format &= 0x7F;
    return true;
  }

  bool vlrs_corrupt = false;
  if (!read_vlrs(vlrs_corrupt)) return false;
  if (header.version_major == 1 && header.version_minor >= 4 && header.number_of_extended_variable_length_records) {
    if (!read_evlrs()) return false;
  } else {
    header.number_of_extended_variable_length_records = 0;
  }
  if (!keep_copc) drop_copc_records();
  if (!check_compression(vlrs_corrupt)) return false;

  apply_z_from_attribute(decompress_selective);
  if (!prepare_points(decompress_selective)) return false;
  read_index_evlr();

  if (!point_reader->init(stream)) return false;
  end_tested = false;
  return true;
}

// The header fields LAS 1.`minor` brings (0: those of every version), read in
// table order; a read that fails is an ERROR naming the field, and the entry
// of a by-return array.
bool LASreaderLAS::read_header_fields(const U8 minor) {
  using namespace lasheadercodec;
  const FieldRange range = fields_new_in(minor);
  HeaderImage image;
  for (HeaderField f = range.first; f <= range.last; f = next(f)) {
    const U32 elements = HeaderImage::elements(f);
    for (U32 e = 0; e < elements; e++) {
      if (!get_bytes(stream, image.at(f, e), HeaderImage::element_size(f))) {
        if (elements > 1) {
          laserror("reading header.%s %d", HEADER[f].name, (I32)e);
        } else {
          laserror("reading header.%s", HEADER[f].name);
        }
        return false;
      }
      image.decode(f, e, header);
    }
  }
  return true;
}

// The fields of LAS 1.3 and later that the header's version has, each behind
// a check of the header size. Gives the standard size of what was read, 0
// after an ERROR.
U32 LASreaderLAS::read_later_header_fields() {
  const LASheader& h = header;
  U32 standard_size = HEADER_SIZE_1_0;
  if (h.version_major != 1) return standard_size;
  for (U8 minor = 3; minor <= 5 && minor <= h.version_minor; minor++) {
    const U32 size = standard_header_size(minor);
    if (h.header_size < size) {
      // Files cut short of the waveform field are common enough to be read.
      if (minor == 3) {
        LASMessage(WARNING, "for LAS 1.%d header_size should at least be %u but it is only %d", h.version_minor, size,
                   h.header_size);
        continue;
      }
      laserror("for LAS 1.%d header_size should at least be %u but it is only %d", h.version_minor, size,
               h.header_size);
      return 0;
    }
    if (!read_header_fields(minor)) return 0;
    standard_size = size;
  }
  return standard_size;
}

// A NaN or infinite bound places no point: the voxel grid and every area test
// would silently put all points into one place.
bool LASreaderLAS::check_bounds() const {
  const LASheader& h = header;
  const F64 bounds[6] = {h.max_x, h.min_x, h.max_y, h.min_y, h.max_z, h.min_z};
  for (int i = 0; i < 6; i++) {
    if (!std::isfinite(bounds[i])) {
      laserror("header.%s is %g but must be a finite number", HEADER[MAX_X + i].name, bounds[i]);
      return false;
    }
  }
  lasheadercodec::check_bounding_box(h);
  return true;
}

bool LASreaderLAS::read_user_data_in_header(const U32 standard_size) {
  LASheader& h = header;
  h.user_data_in_header_bytes = h.header_size - standard_size;
  if (h.user_data_in_header_bytes == 0) return true;
  h.user_data_in_header = (U8*)malloc_las(h.user_data_in_header_bytes);
  if (h.user_data_in_header == nullptr || !get_bytes(stream, h.user_data_in_header, h.user_data_in_header_bytes)) {
    laserror("reading %d bytes of data into header.user_data_in_header", (I32)h.user_data_in_header_bytes);
    return false;
  }
  return true;
}

// Steps of the public header. False after a reported error; `read_ok` tells
// that every field was read and checked.
bool LASreaderLAS::read_header(bool& read_ok) {
  LASheader& h = header;
  read_ok = false;
  if (!read_header_fields(0)) return false;
  if (!lasheadercodec::check_header_start(h, false) || !check_quantization(h)) return false;
  const U32 standard_size = read_later_header_fields();
  if (standard_size == 0 || !check_bounds() || !read_user_data_in_header(standard_size)) return false;
  settle_point_count();
  // A LAS 1.3 header cut short of its waveform field takes the standard size
  // of its version in memory, as it is written; the points move back by as
  // much, so the records and user data keep their sizes.
  if (h.version_major == 1 && h.version_minor == 3 && standard_size < HEADER_SIZE_1_3 &&
      h.offset_to_point_data <= U32_MAX - (HEADER_SIZE_1_3 - standard_size)) {
    const U32 missing = HEADER_SIZE_1_3 - standard_size;
    h.header_size = (U16)(h.header_size + missing);
    h.offset_to_point_data += missing;
  }
  read_ok = true;
  return true;
}

// The point count and the EVLR start, judged against the bytes of the file:
// a LAS 1.4 header whose counts disagree (or whose extended count is too large
// to be true) gets the count that the point block can hold, and an EVLR start
// inside the header or the points, or one without EVLRs, is ignored, so that
// no header, point or EVLR byte is ever read as something else.
void LASreaderLAS::settle_point_count() {
  const bool las14 = header.version_major == 1 && header.version_minor >= 4;
  if (!las14) return;
  settle_disagreeing_counts();
  settle_evlr_start();
}

void LASreaderLAS::settle_disagreeing_counts() {
  LASheader& h = header;
  const BlockLayout b(h);
  const U64 legacy = h.number_of_point_records;
  const U64 extended = h.extended_number_of_point_records;
  const bool extended_true = extended < ((U64)1 << 63);
  // An extended count of 0 beside a legacy one is left out by some writers
  // and says nothing against it.
  if (!extended_true || (legacy && extended && legacy != extended)) {
    // The end of the point block: the EVLRs when they start behind the point
    // data, else the end of the file.
    const bool known = !b.compressed && b.record > 0 && stream_end >= 0;
    U64 end = known ? (U64)stream_end : 0;
    const bool evlrs_behind = h.number_of_extended_variable_length_records && b.evlr_start > b.points_start;
    if (known && evlrs_behind && b.evlr_start < end) end = b.evlr_start;
    const U64 room = (known && end > b.points_start) ? (end - b.points_start) / b.record : 0;
    // The counts the header offers, smaller first: the legacy one when
    // given, the extended one when it can be true.
    const U64 smaller = (legacy && extended_true) ? std::min(legacy, extended) : legacy;
    const U64 larger = (legacy && extended_true) ? std::max(legacy, extended) : legacy;
    U64 count;
    if (known) {
      // The larger count that fits; a block shorter than both (or a header
      // that offers none) holds what it holds.
      count = room;
      if (larger && larger <= room) {
        count = larger;
      } else if (smaller && smaller <= room) {
        count = smaller;
      }
    } else {
      // Compressed or unseekable: the smaller count, which the decoder can deliver.
      count = smaller;
    }
    if (!extended_true) {
      LASMessage(WARNING, "extended number of point records %llu is too large. reading %llu points",
                 (unsigned long long)extended, (unsigned long long)count);
    } else {
      LASMessage(WARNING,
                 "number of point records %llu and extended number of point records %llu differ. reading %llu points",
                 (unsigned long long)legacy, (unsigned long long)extended, (unsigned long long)count);
    }
    h.extended_number_of_point_records = count;
    h.number_of_point_records = (legacy && count <= U32_MAX) ? (U32)count : 0;
  }
}

void LASreaderLAS::settle_evlr_start() {
  LASheader& h = header;
  const BlockLayout b(h);
  const U64 start = b.evlr_start;
  if (start == 0 && h.number_of_extended_variable_length_records == 0) return;
  const U64 count = h.number_of_point_records ? h.number_of_point_records : h.extended_number_of_point_records;
  // Compressed points fill an unknown length, at least one byte when there are any.
  U64 points_end = b.points_start + (count ? 1 : 0);
  if (!b.compressed) {
    points_end =
        (b.record && count > (U64_MAX - b.points_start) / b.record) ? U64_MAX : b.points_start + count * b.record;
  }
  const char* inside = nullptr;
  if (h.number_of_extended_variable_length_records == 0) {
    // Some writers point at the end of the points when there are no EVLRs.
    if (start != points_end) {
      LASMessage(WARNING, "start of first extended variable length record is %llu but there are none. ignoring it",
                 (unsigned long long)start);
    }
  } else if (start < h.header_size) {
    inside = "the header";
  } else if (start < points_end) {
    inside = start < b.points_start ? "the variable length records" : "the points";
  }
  if (inside) {
    LASMessage(WARNING, "start of first extended variable length record %llu lies inside %s. ignoring %u EVLRs",
               (unsigned long long)start, inside, h.number_of_extended_variable_length_records);
  } else if (h.number_of_extended_variable_length_records) {
    return;
  }
  h.start_of_first_extended_variable_length_record = 0;
  h.number_of_extended_variable_length_records = 0;
}

bool LASreaderLAS::read_compressor(const U64 length, bool& broken) {
  broken = false;
  std::unique_ptr<Vembra, LASdeleteVembra> v(new Vembra());
  bool ok = true;
  if (length < COMPRESSOR_HEAD_SIZE) {
    broken = true;
  } else {
    ok = ok && compressor_field_read(get_le(stream, v->compressor), "compressor", v->compressor);
    ok = ok && compressor_field_read(get_le(stream, v->coder), "coder", v->coder);
    ok = ok && compressor_field_read(get_le(stream, v->version_major), "version_major", v->version_major);
    ok = ok && compressor_field_read(get_le(stream, v->version_minor), "version_minor", v->version_minor);
    ok = ok && compressor_field_read(get_le(stream, v->version_revision), "version_revision", v->version_revision);
    ok = ok && compressor_field_read(get_le(stream, v->options), "options", v->options);
    ok = ok && compressor_field_read(get_le(stream, v->chunk_size), "chunk_size", v->chunk_size);
    ok = ok && compressor_field_read(get_le(stream, v->number_of_special_evlrs), "number_of_special_evlrs",
                                     v->number_of_special_evlrs);
    ok = ok && compressor_field_read(get_le(stream, v->offset_to_special_evlrs), "offset_to_special_evlrs",
                                     v->offset_to_special_evlrs);
    ok = ok && compressor_field_read(get_le(stream, v->num_items), "num_items", v->num_items);
    // The item count is believed only when the record holds exactly that many
    // items: a longer or shorter record is broken, and the items are never
    // read out of the record that follows.
    if (ok && length != compressor_record_size(v->num_items)) broken = true;
  }
  if (ok && !broken) {
    // Zeroed: the message about a field that cannot be read shows its value.
    v->items = v->num_items ? new LASitem[v->num_items]() : nullptr;
    for (U32 i = 0; ok && i < v->num_items; i++) {
      U16 type = 0;
      if (ok && !get_le(stream, type)) {
        laserror("reading type %d of item %d", type, (int)i);
        ok = false;
      }
      v->items[i].type = (LASitem::Type)type;
      if (ok && !get_le(stream, v->items[i].size)) {
        laserror("reading size %d of item %d", v->items[i].size, (int)i);
        ok = false;
      }
      if (ok && !get_le(stream, v->items[i].version)) {
        laserror("reading version %d of item %d", v->items[i].version, (int)i);
        ok = false;
      }
    }
  }
  if (!ok) return false;
  if (broken) {
    // Skip what is left of the record, so that the next record is read from its start.
    skip_payload(length - ((length < COMPRESSOR_HEAD_SIZE) ? 0 : COMPRESSOR_HEAD_SIZE));
    return true;
  }
  header.compressor = std::move(v);
  return true;
}

bool LASreaderLAS::read_tiling(const char* kind) {
  auto t = std::make_unique<LASvlrTiling>();
  U32* words[3] = {&t->level, &t->level_index, &t->implicit_levels_and_flags};
  F32* bounds[4] = {&t->min_x, &t->max_x, &t->min_y, &t->max_y};
  for (int i = 0; i < 3; i++) {
    if (!get_le(stream, *words[i])) {
      laserror("reading %s->%s %u", kind, TILING[i].name, *words[i]);
      return false;
    }
  }
  for (int i = 0; i < 4; i++) {
    if (!get_le(stream, *bounds[i])) {
      laserror("reading %s->%s %g", kind, TILING[3 + i].name, (double)*bounds[i]);
      return false;
    }
  }
  header.vlr_lastiling = std::move(t);
  return true;
}

bool LASreaderLAS::read_original() {
  auto o = std::make_unique<LASvlrOriginal>();
  bool ok = get_le(stream, o->number_of_point_records);
  if (!ok) laserror("reading vlr_lasoriginal->number_of_point_records %u", (U32)o->number_of_point_records);
  for (int i = 0; ok && i < 15; i++) {
    ok = get_le(stream, o->number_of_points_by_return[i]);
    if (!ok) laserror("reading vlr_lasoriginal->number_of_points_by_return[%d] %u", i, (U32)o->number_of_points_by_return[i]);
  }
  F64* bounds[6] = {&o->min_x, &o->max_x, &o->min_y, &o->max_y, &o->min_z, &o->max_z};
  for (int i = 0; ok && i < 6; i++) {
    ok = get_le(stream, *bounds[i]);
    if (!ok) laserror("reading vlr_lasoriginal->%s %g", ORIGINAL[ORIG_MIN_X + i].name, *bounds[i]);
  }
  if (!ok) return false;
  header.vlr_lasoriginal = std::move(o);
  return true;
}

// Room for VLR `kept` in the header's array: the array grows with the
// records really read, so that a stream that ends early (or cannot tell its
// end) costs no more than it holds, and never beyond `slots`.
bool LASreaderLAS::make_room_for_vlr(const U32 kept, U64& capacity, const U64 slots) {
  LASheader& h = header;
  if (kept < capacity) return true;
  const U64 grown = (capacity * 2 < 16) ? 16 : capacity * 2;
  capacity = (grown < slots) ? grown : slots;
  LASvlrRecord* larger = (LASvlrRecord*)malloc_las(sizeof(LASvlrRecord) * capacity);
  if (larger == nullptr) {
    laserror("reading header.vlrs[%d].reserved", (I32)kept);
    return false;
  }
  if (h.vlrs) memcpy((void*)larger, h.vlrs, sizeof(LASvlrRecord) * kept);
  free(h.vlrs);
  h.vlrs = larger;
  return true;
}

// Passes over `count` bytes of a payload that is not kept.
void LASreaderLAS::skip_payload(U64 count) {
  U8 scratch[256];
  while (count > 0) {
    const U64 n = (count < sizeof(scratch)) ? count : sizeof(scratch);
    if (!get_bytes(stream, scratch, (I64)n)) break;
    count -= n;
  }
}

// A payload the framework keeps as it is, with a terminating zero byte.
LASmallocated<U8> LASreaderLAS::read_vlr_data(LASvlrRecord& vlr, const U32 index) {
  const U16 length = vlr.record_length_after_header;
  LASmallocated<U8> data((U8*)malloc_las((U64)length + 1));
  if (data) {
    memset(data.get(), 0, (size_t)length + 1);
    if (!get_bytes(stream, data.get(), length)) {
      laserror("reading %d bytes of data into header.vlrs[%d].data", (I32)length, (I32)index);
    }
    return data;
  }
  laserror("reading %d bytes of data into header.vlrs[%d].data", (I32)length, (I32)index);
  // Without the payload the record cannot be carried.
  vlr.record_length_after_header = 0;
  skip_payload(length);
  return data;
}

// The payload of VLR `index`: decoded into the header's own parts for the
// compressor, tiling and origin-counts records, kept as it is (in `data`)
// otherwise. False after an ERROR that ends the reading.
bool LASreaderLAS::read_vlr_payload(LASvlrRecord& vlr, const U32 index, bool& vlrs_corrupt, LASmallocated<U8>& data) {
  const U16 length = vlr.record_length_after_header;
  const bool suite = is(vlr.user_id, USER_ID_SUITE);
  if (length == 0) {
    if (is(vlr.user_id, USER_ID_LASF_PROJECTION)) {
      LASMessage(WARNING, "no payload for LASF_Projection VLR with record_id %d.", vlr.record_id);
    } else if (is(vlr.user_id, USER_ID_LASF_SPEC)) {
      LASMessage(WARNING, "no payload for LASF_Spec (not specification-conform).");
    }
    return true;
  }
  if (is(vlr.user_id, USER_ID_COMPRESSOR)) {
    bool broken = false;
    if (!read_compressor(length, broken)) return false;
    if (broken) vlrs_corrupt = true;
    return true;
  }
  if ((suite && vlr.record_id == RECORD_SUITE_TILING) || is(vlr.user_id, USER_ID_SUITE_TILE)) {
    if (length != TILING_SIZE) {
      laserror("record_length_after_header of VLR %s (%d) is %d instead of 28", vlr.user_id, vlr.record_id, length);
      return false;
    }
    return read_tiling("vlr_lastiling");
  }
  if (suite && vlr.record_id == RECORD_SUITE_ORIGINAL) {
    if (length != ORIGINAL_SIZE) {
      laserror("record_length_after_header of VLR %s (%d) is %d instead of 176", vlr.user_id, vlr.record_id, length);
      return false;
    }
    return read_original();
  }
  data = read_vlr_data(vlr, index);
  return true;
}

// The bytes between the last VLR and the points.
void LASreaderLAS::read_user_data_after_header(const I64 kept_bytes) {
  LASheader& h = header;
  const I64 after = (I64)h.offset_to_point_data - h.header_size - kept_bytes;
  h.user_data_after_header_bytes = (after > 0) ? (U32)after : 0;
  if (h.user_data_after_header_bytes == 0) return;
  const U32 n = h.user_data_after_header_bytes;
  LASmallocated<U8> data(bytes_available(n) ? (U8*)malloc_las(n) : nullptr);
  if (data && get_bytes(stream, data.get(), n)) {
    h.user_data_after_header = data.release();
    return;
  }
  laserror("reading %d bytes of data into header.user_data_after_header", (I32)n);
  // Going on: the header keeps no user data, and the stream stands where
  // the points begin when it can get there.
  if (data == nullptr) stream->skipBytes(n);
  h.user_data_after_header_bytes = 0;
  h.offset_to_point_data -= n;
}

bool LASreaderLAS::read_vlrs(bool& vlrs_corrupt) {
  LASheader& h = header;
  const U32 announced = h.number_of_variable_length_records;
  h.number_of_variable_length_records = 0;
  // No more VLRs than fit before the point block, whatever the count says.
  const U64 fitting = ((U64)h.offset_to_point_data - h.header_size) / VLR_HEADER_SIZE;
  const U64 slots = (announced < fitting) ? announced : fitting;
  U64 capacity = 0;
  U32 kept = 0;
  I64 kept_bytes = 0;
  for (U32 i = 0; i < announced; i++) {
    const I64 room = (I64)h.offset_to_point_data - h.header_size - kept_bytes;
    if (room < (I64)VLR_HEADER_SIZE) {
      LASMessage(WARNING, "only %d bytes until point block after reading %d of %d vlrs. skipping remaining vlrs ...",
                 (I32)room, (I32)i, (I32)announced);
      vlrs_corrupt = true;
      break;
    }
    if (!make_room_for_vlr(kept, capacity, slots)) return false;
    LASvlrRecord& vlr = h.vlrs[kept];
    vlr = LASvlrRecord();
    if (!record_header_read(stream, vlr, "vlrs", kept)) {
      h.number_of_variable_length_records = kept;
      return false;
    }
    const I64 room_after = room - VLR_HEADER_SIZE;
    if ((I64)vlr.record_length_after_header > room_after) {
      LASMessage(WARNING, "only %d bytes until point block when trying to read %d bytes into header.vlrs[%d].data",
                 (I32)room_after, (I32)vlr.record_length_after_header, (I32)kept);
      vlr.record_length_after_header = (U16)room_after;
    }
    const U16 length = vlr.record_length_after_header;
    LASmallocated<U8> data;
    if (!read_vlr_payload(vlr, kept, vlrs_corrupt, data)) {
      h.number_of_variable_length_records = kept;
      return false;
    }
    const bool suite = is(vlr.user_id, USER_ID_SUITE);
    if (is(vlr.user_id, USER_ID_COMPRESSOR) || is(vlr.user_id, USER_ID_SUITE_TILE) ||
        (suite && vlr.record_id < RECORD_SUITE_ORDINARY_FIRST)) {
      // Decoded into the header's own parts, or of no use once read: the
      // writer writes its own. The slot takes the next VLR.
      h.offset_to_point_data -= VLR_HEADER_SIZE + length;
      vlr = LASvlrRecord();
      continue;
    }
    vlr.data = data.release();  // the header's list owns the payload from here
    h.number_of_variable_length_records = kept + 1;
    interpret_vlr(kept);
    kept_bytes += VLR_HEADER_SIZE + vlr.record_length_after_header;
    kept++;
  }
  h.number_of_variable_length_records = kept;
  if (kept == 0) {
    free(h.vlrs);
    h.vlrs = nullptr;
  }
  read_user_data_after_header(kept_bytes);
  return true;
}

namespace {

// The words that tell the messages about VLRs from those about EVLRs.
struct RecordWords {
  const char* kind;           // "VLR"
  const char* list;           // "variable length records"
  const char* geo_keys;       // "vlr_geo_keys"
  const char* double_params;  // "GeoDoubleParamsTag"
};
constexpr RecordWords VLR_WORDS = {"VLR", "variable length records", "vlr_geo_keys", "GeoDoubleParamsTag"};
constexpr RecordWords EVLR_WORDS = {"EVLR", "extended variable length records", "evlr_geo_keys", "GeoF64ParamsTag"};

// A LASF_Projection record: the pointers into its payload. The decoded
// pointers point into the payload, never past it.
void interpret_projection(LASheader& h, const RecordWords& w, const U16 record_id, U8* data, const U64 length) {
  auto take = [&](auto& pointer, const char* what) {
    if (data == nullptr) return;
    if (pointer) LASMessage(WARNING, "%s contain more than one %s", w.list, what);
    pointer = (std::remove_reference_t<decltype(pointer)>)data;
  };
  switch (record_id) {
    case RECORD_GEO_KEY_DIRECTORY: {
      if (data == nullptr || length < GEO_KEYS_HEAD_SIZE) return;
      const LASvlrGeoKeys* keys = (const LASvlrGeoKeys*)data;
      // The keys the directory announces must lie in the payload.
      if ((U64)keys->number_of_keys * GEO_KEY_ENTRY_SIZE > length - GEO_KEYS_HEAD_SIZE) return;
      take(h.vlr_geo_keys, "GeoKeyDirectoryTag");
      h.geo_key_entries = (LASvlrKeyEntry*)(data + GEO_KEYS_HEAD_SIZE);
      if (keys->key_directory_version != 1)
        LASMessage(WARNING, "wrong %s->key_directory_version: %d != 1", w.geo_keys, keys->key_directory_version);
      if (keys->key_revision != 1) LASMessage(WARNING, "wrong %s->key_revision: %d != 1", w.geo_keys, keys->key_revision);
      if (keys->minor_revision != 0)
        LASMessage(WARNING, "wrong %s->minor_revision: %d != 0", w.geo_keys, keys->minor_revision);
      break;
    }
    case RECORD_GEO_DOUBLE_PARAMS:
      take(h.geo_double_params, w.double_params);
      break;
    case RECORD_GEO_ASCII_PARAMS:
      take(h.geo_ascii_params, "GeoAsciiParamsTag");
      break;
    case RECORD_WKT_MATH_TRANSFORM:
      take(h.ogc_math_transform_wkt, "WKT OGC MATH TRANSFORM");
      break;
    case RECORD_WKT_COORDINATE_SYSTEM:
      take(h.ogc_coordinate_system_wkt, "WKT OGC COORDINATE SYSTEM");
      break;
    default:
      LASMessage(WARNING, "unknown LASF_Projection %s with record_id %d.", w.kind, record_id);
      break;
  }
}

// The slot of wave packet descriptor `d` (1 to 255) in the header's table,
// made on first use; null when there is no memory for the table.
LASvlrWavePacketDescr** wave_packet_slot(LASheader& h, const I32 d) {
  if (h.wave_packet_descriptors == nullptr) {
    h.wave_packet_descriptors = (LASvlrWavePacketDescr**)malloc_las(sizeof(LASvlrWavePacketDescr*) * 256);
    if (h.wave_packet_descriptors == nullptr) return nullptr;
    memset((void*)h.wave_packet_descriptors, 0, sizeof(LASvlrWavePacketDescr*) * 256);
  }
  return &h.wave_packet_descriptors[d];
}

// The warnings about a wave packet descriptor read from a VLR.
void check_wave_packet_descriptor(const LASvlrWavePacketDescr* descr, const I32 d) {
  if (descr->get_bits_per_sample() != 8 && descr->get_bits_per_sample() != 16)
    LASMessage(WARNING, "bits per sample for wave packet descr %d is %d instead of 8 or 16", d,
               descr->get_bits_per_sample());
  if (descr->get_number_of_samples() == 0)
    LASMessage(WARNING, "number of samples for wave packet descr %d is zero", d);
  else if (descr->get_number_of_samples() > 8096)
    LASMessage(WARNING, "number of samples of %u for wave packet descr %d is with unusually large",
               descr->get_number_of_samples(), d);
  if (descr->get_temporal_spacing() == 0) LASMessage(WARNING, "temporal spacing for wave packet descr %d is zero", d);
}

// A LASF_Spec record with a payload. Those of VLRs are checked more closely:
// deprecated attribute types and the descriptors' lengths and values.
void interpret_spec(LASheader& h, const RecordWords& w, const bool from_vlr, const U16 record_id, U8* data,
                    const U64 length) {
  if (record_id == RECORD_CLASSIFICATION_LOOKUP) {
    if (h.classification_lookup) LASMessage(WARNING, "%s contain more than one ClassificationLookup", w.list);
    h.classification_lookup = (LASvlrClassification*)data;
  } else if (record_id == RECORD_EXTRA_BYTES) {
    h.init_attributes((U32)(length / EXTRA_BYTES_DESCRIPTOR_SIZE), (const LASattributeDescriptor*)data);
    for (I32 i = 0; from_vlr && i < h.number_of_attributes; i++) {
      if (h.attributes[i].data_type < 11) continue;
      char name[33];
      memcpy(name, h.attributes[i].name, 32);
      name[32] = '\0';
      LASMessage(WARNING, "data type %d of attribute %d ('%s') is deprecated", h.attributes[i].data_type, i, name);
    }
  } else if (record_id >= RECORD_WAVE_PACKET_DESCR_FIRST && record_id <= RECORD_WAVE_PACKET_DESCR_LAST) {
    const I32 d = record_id - 99;
    LASvlrWavePacketDescr** slot = wave_packet_slot(h, d);
    if (slot == nullptr) return;
    if (*slot) LASMessage(WARNING, "%s defines wave packet descr %d more than once", w.list, d);
    if (from_vlr && length != WAVE_PACKET_DESCR_SIZE)
      LASMessage(WARNING, "variable length record payload for wave packet descr %d is %d instead of 26 bytes", d,
                 (I32)length);
    // A shorter payload cannot stand for a descriptor: it would be read beyond its end.
    if (length < WAVE_PACKET_DESCR_SIZE) return;
    *slot = (LASvlrWavePacketDescr*)data;
    if (from_vlr) check_wave_packet_descriptor(*slot, d);
  }
}

}  // namespace

// The COPC information record: kept only in a LAS 1.4 or later file of
// point format 6 to 8.
void LASreaderLAS::interpret_copc_vlr(const U32 index) {
  LASheader& h = header;
  const LASvlrRecord& vlr = h.vlrs[index];
  if (vlr.data == nullptr) {
    LASMessage(WARNING, "no payload for copc (not specification-conform).");
    return;
  }
  if (vlr.record_id != RECORD_COPC_INFO) return;
  if (index != 0) LASMessage(WARNING, "COPC VLR info should be the first vlr (not specification-conform)");
  const U8 format = h.point_data_format & 0x3F;
  if (h.version_major == 1 && h.version_minor >= 4 && format >= 6 && format <= 8) {
    if (h.copc_info) {
      LASMessage(WARNING, "variable length records contain more than one copc info");
    } else if (vlr.record_length_after_header >= COPC_INFO_SIZE) {
      h.copc_info = std::make_unique<LASvlrCopcInfo>();
      memcpy((void*)h.copc_info.get(), vlr.data, COPC_INFO_SIZE);
    }
  } else {
    LASMessage(WARNING,
               "COPC VLR info should belong in VMB file 1.4 or 1.5 pdrf 6-8 not VMB %u.%u pdrf %u (not "
               "specification-conform).",
               h.version_major, h.version_minor, h.point_data_format);
  }
}

// What the framework understands of a VLR kept in the list.
void LASreaderLAS::interpret_vlr(const U32 index) {
  LASheader& h = header;
  LASvlrRecord& vlr = h.vlrs[index];
  if (is(vlr.user_id, USER_ID_LASF_PROJECTION)) {
    if (vlr.data) interpret_projection(h, VLR_WORDS, vlr.record_id, vlr.data, vlr.record_length_after_header);
  } else if (is(vlr.user_id, USER_ID_LASF_SPEC)) {
    if (vlr.data) interpret_spec(h, VLR_WORDS, true, vlr.record_id, vlr.data, vlr.record_length_after_header);
  } else if (is(vlr.user_id, USER_ID_COPC)) {
    interpret_copc_vlr(index);
  }
}

// The payload of EVLR `index`: the compressor and tiling records are decoded
// into the header's own parts, others kept as they are (in `data`) unless too
// large to carry (`carried` false). False after an ERROR that ends the reading.
bool LASreaderLAS::read_evlr_payload(LASevlrRecord& evlr, const U32 index, bool& carried, LASmallocated<U8>& data) {
  const U64 length = evlr.record_length_after_header;
  carried = true;
  if (length == 0) return true;
  if (is(evlr.user_id, USER_ID_COMPRESSOR)) {
    bool broken = false;
    if (!bytes_available(length)) {
      laserror("reading %llu bytes of data into header.evlrs[%d].data", (unsigned long long)length, (I32)index);
      return true;
    }
    return read_compressor(length, broken);
  }
  if (is(evlr.user_id, USER_ID_SUITE) && evlr.record_id == RECORD_SUITE_TILING) {
    if (length != TILING_SIZE) {
      laserror("record_length_after_header of EVLR %s (%d) is %u instead of 28", evlr.user_id, evlr.record_id,
               (U32)length);
      return false;
    }
    return read_tiling("vlr_lastiling");
  }
  if (length > U32_MAX) {
    laserror("evlr size of %llu bytes in header.evlrs[%d] not supported", (unsigned long long)length, (I32)index);
    carried = false;
    return true;
  }
  if (bytes_available(length)) data.reset((U8*)malloc_las(length + 1));
  if (data == nullptr) {
    laserror("reading %llu bytes of data into header.evlrs[%d].data", (unsigned long long)length, (I32)index);
    carried = false;
    return true;
  }
  memset(data.get(), 0, (size_t)length + 1);
  if (!get_bytes(stream, data.get(), (I64)length)) {
    laserror("reading %llu bytes of data into header.evlrs[%d].data", (unsigned long long)length, (I32)index);
  }
  return true;
}

bool LASreaderLAS::read_evlrs() {
  LASheader& h = header;
  const U32 announced = h.number_of_extended_variable_length_records;
  h.number_of_extended_variable_length_records = 0;
  if (!stream->isSeekable()) {
    LASMessage(WARNING, "LAS %d.%d file has %d EVLRs but stream is not seekable ...", h.version_major,
               h.version_minor, (I32)announced);
    return true;
  }
  const I64 resume = stream->tell();
  const U64 start = h.start_of_first_extended_variable_length_record;
  // No more EVLR headers than fit between their start and the end.
  U64 fitting = announced;
  if (stream_end >= 0) fitting = (start <= (U64)stream_end) ? ((U64)stream_end - start) / EVLR_HEADER_SIZE : 0;
  const U64 slots = (announced < fitting) ? announced : fitting;
  if (slots) h.evlrs = (LASevlrRecord*)malloc_las(sizeof(LASevlrRecord) * slots);
  const bool positioned = (start <= (U64)I64_MAX) && stream->seek((I64)start);

  U32 kept = 0;
  U64 position = start;  // of the EVLR being read
  for (U32 i = 0; i < announced; i++) {
    if (!positioned || kept >= slots || h.evlrs == nullptr) {
      laserror("reading header.evlrs[%d].reserved", (I32)kept);
      return false;
    }
    LASevlrRecord& evlr = h.evlrs[kept];
    evlr = LASevlrRecord();
    if (!record_header_read(stream, evlr, "evlrs", kept)) return false;
    const U64 payload_position = position + EVLR_HEADER_SIZE;
    position = payload_position + evlr.record_length_after_header;
    bool carried = true;
    LASmallocated<U8> data;
    if (!read_evlr_payload(evlr, kept, carried, data)) return false;
    // The next header follows the payload, also when it was not read.
    if (position <= (U64)I64_MAX && stream->tell() != (I64)position) stream->seek((I64)position);
    if (!carried || is(evlr.user_id, USER_ID_COMPRESSOR) || is(evlr.user_id, USER_ID_SUITE)) {
      // A payload that cannot be carried would leave a record that announces
      // bytes it does not have; the suite's and the compressor's records are
      // written anew by the writer.
      evlr = LASevlrRecord();
      continue;
    }
    evlr.data = data.release();  // the header's list owns the payload from here
    h.number_of_extended_variable_length_records = kept + 1;
    interpret_evlr(kept, payload_position);
    kept++;
  }
  h.number_of_extended_variable_length_records = kept;
  if (kept == 0) {
    free(h.evlrs);
    h.evlrs = nullptr;
  }
  stream->seek(resume);
  return true;
}

void LASreaderLAS::interpret_evlr(const U32 index, const U64 payload_position) {
  LASheader& h = header;
  LASevlrRecord& evlr = h.evlrs[index];
  const U64 length = evlr.record_length_after_header;
  if (is(evlr.user_id, USER_ID_LASF_PROJECTION)) {
    interpret_projection(h, EVLR_WORDS, evlr.record_id, evlr.data, length);
  } else if (is(evlr.user_id, USER_ID_LASF_SPEC)) {
    if (evlr.data) interpret_spec(h, EVLR_WORDS, false, evlr.record_id, evlr.data, length);
  } else if (is(evlr.user_id, USER_ID_COPC)) {
    if (evlr.data == nullptr) {
      LASMessage(WARNING, "no payload for COPC EVLR (not specification-conform).");
    } else if (evlr.record_id != RECORD_COPC_HIERARCHY) {
      LASMessage(WARNING, "unknown COPC EVLR (not specification-conform).");
    } else if (h.copc_info == nullptr) {
      LASMessage(WARNING, "no COPC VLR info before COPC EPT hierarchy EVLR (not specification-conform).");
    } else if (!EPToctree::set_vlr_entries(evlr.data, payload_position, length, h)) {
      LASMessage(WARNING, "invalid COPC EPT hierarchy (not specification-conform).");
      h.copc_info.reset();
    }
  }
}

void LASreaderLAS::drop_copc_records() {
  header.remove_vlr(USER_ID_COPC, RECORD_COPC_INFO);
  header.remove_vlr(USER_ID_COPC, RECORD_COPC_EXTENTS);
  header.remove_evlr(USER_ID_COPC, RECORD_COPC_HIERARCHY);
}

void LASreaderLAS::apply_z_from_attribute(U32& decompress_selective) {
  if (z_from_attribute == nullptr || !*z_from_attribute || z_from_attribute_index == nullptr) return;
  I16& index = *z_from_attribute_index;
  if (index < 0) {
    const I32 found = header.get_attribute_index("height above ground");
    if (found >= 0 && found <= I16_MAX) {
      index = (I16)found;
      LASMessage(VERBOSE, "autodetect extra_byte[%d] as z\n", index);
    } else {
      index = -1;
      LASMessage(WARNING, "\"height above ground\" not found in extra bytes. using Z\n");
    }
  }
  if (index >= 0) {
    decompress_selective |= LAS_SELECTIVE_EXTRA_BYTES;
    header.z_from_attribute = index;
  }
}

bool LASreaderLAS::prepare_points(const U32 decompress_selective) {
  point_reader = std::make_unique<LASreadPoint>(decompress_selective);
  if (const Vembra* v = header.compressor.get()) {
    if (!point.init(&header, v->num_items, v->items)) return false;
    return point_reader->setup(v->num_items, v->items, v);
  }
  // Records shorter than their format would be read across each other.
  const U8 format = header.point_data_format & 0x3F;
  const U16 base = point_format_base_size(format);
  if (base && header.point_data_record_length < base) {
    laserror("point size %d too small by %d bytes for point type %d", header.point_data_record_length,
             base - header.point_data_record_length, format);
    return false;
  }
  U16 num_items = 0;
  LASitem* items = nullptr;
  Vembra layout;
  if (!layout.setup(&num_items, &items, header.point_data_format, header.point_data_record_length, Vembra::NONE)) {
    laserror("unknown point type %d with point size %d", header.point_data_format, header.point_data_record_length);
    return false;
  }
  const std::unique_ptr<LASitem[]> layout_items(items);
  return point.init(&header, num_items, items) && point_reader->setup(num_items, point.items, nullptr);
}

// A spatial index stored among the special EVLRs that the compressor record
// announces.
void LASreaderLAS::read_index_evlr() {
  const Vembra* v = header.compressor.get();
  if (v == nullptr || v->number_of_special_evlrs <= 0 || v->offset_to_special_evlrs < (I64)header.offset_to_point_data ||
      !stream->isSeekable()) {
    return;
  }
  const I64 resume = stream->tell();
  I64 offset = v->offset_to_special_evlrs;
  for (I64 i = 0; i < v->number_of_special_evlrs; i++) {
    LASevlrRecord evlr;
    const bool ok = stream->seek(offset) && get_record_header(stream, evlr) == RECORD_HEADER_FIELD_COUNT;
    if (!ok) {
      laserror("trying to read %u internal EVLRs. ignoring ...", (U32)v->number_of_special_evlrs);
      break;
    }
    if (is(evlr.user_id, USER_ID_SUITE) && evlr.record_id == RECORD_SUITE_INDEX) {
      auto found = std::make_unique<LASindex>();
      if (found->read(stream)) set_index(found.release());  // the reader takes it
      break;
    }
    // Each header lies 60 bytes and its payload further; a length that jumps
    // beyond any file ends the walk at the next failed read.
    if (evlr.record_length_after_header > (U64)(I64_MAX - offset - EVLR_HEADER_SIZE)) {
      laserror("trying to read %u internal EVLRs. ignoring ...", (U32)v->number_of_special_evlrs);
      break;
    }
    offset += EVLR_HEADER_SIZE + (I64)evlr.record_length_after_header;
  }
  stream->seek(resume);
}

bool LASreaderLAS::read_point_default() {
  if (points_read < points_expected) {
    if (point_reader == nullptr) return false;
    if (point_reader->read(point.item_data)) {
      points_read++;
      return true;
    }
    if (point_reader->get_warning()) LASMessage(WARNING, "'%s' for '%s'", point_reader->get_warning(), message_name());
    // Uncompressed records that stop early are a file cut short (WARNING);
    // the decoder's text names failures of compressed data (ERROR). Asked of
    // the decoder: an output header may have taken over the description.
    if (point_reader->get_error() && point_reader->is_compressed()) {
      // Counts are shown whole: LAS 1.4 files may hold 2^32 points and more.
      laserror("'%s' after %llu of %llu points for '%s'", point_reader->get_error(), (unsigned long long)points_read,
               (unsigned long long)points_expected, message_name());
    } else {
      LASMessage(WARNING, "end-of-file after %llu of %llu points for '%s'", (unsigned long long)points_read,
                 (unsigned long long)points_expected, message_name());
    }
    return false;
  }
  if (end_tested || point_reader == nullptr) return false;
  if (!point_reader->check_end()) {
    laserror("'%s' when reaching end of encoding", point_reader->get_error() ? point_reader->get_error() : "");
    points_read--;
  }
  if (point_reader->get_warning()) LASMessage(WARNING, "'%s'", point_reader->get_warning());
  end_tested = true;
  return false;
}

const U8* LASreaderLAS::lend_point_records(U32 wanted, U32& got) {
  got = 0;
  if (point_reader == nullptr || points_read >= points_expected || wanted == 0) return nullptr;
  // Records as they stand only where read_point would give them as they are.
  if (inside != INSIDE_NONE || index || copc_index || filter || transform || ignore) return nullptr;
  // A z taken from an attribute is not the record's Z.
  if (header.z_from_attribute >= 0) return nullptr;
  U64 lent = 0;
  const U8* records = point_reader->lend_records(std::min((U64)wanted, (U64)(points_expected - points_read)), lent);
  if (records == nullptr) return nullptr;
  points_read += (I64)lent;
  got = (U32)lent;
  return records;
}

bool LASreaderLAS::seek(const I64 p_index) {
  if (point_reader == nullptr || p_index < 0 || p_index >= points_expected) return false;
  if (!point_reader->seek((U64)points_read, (U64)p_index)) return false;
  points_read = p_index;
  return true;
}

void LASreaderLAS::close(const bool close_stream) {
  if (point_reader) {
    point_reader->done();
    point_reader.reset();
  }
  if (close_stream) {
    // The stream reads from the file: it goes first.
    owned_stream.reset();
    stream = nullptr;
    file.reset();
    file_name.reset();
  }
}
