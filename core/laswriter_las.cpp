// LAS and VMB writer: checks of the header, the item list and the compressor
// description, the header and records at open, the in-place updates of the
// header, and the EVLRs and count patches at close.
#include "core/laswriter_las.hpp"

#include <cstdarg>
#include <cstring>
#include <memory>

#include "compressor/vembra.hpp"
#include "core/bytestreamout_file.hpp"
#include "core/bytestreamout_nil.hpp"
#include "core/lasheader.hpp"
#include "core/lasheadercodec.hpp"
#include "core/laslayout.hpp"
#include "core/laspoint.hpp"

using namespace laslayout;
using lasheadercodec::FieldRange;
using lasheadercodec::fields_new_in;
using lasheadercodec::HeaderImage;

namespace {

// The suite's build number, named in the description of the compressor record.

bool put8(ByteStreamOut* s, U8 v) { return s->putByte(v); }
bool put16(ByteStreamOut* s, U16 v) { return s->put16bitsLE((const U8*)&v); }
bool put32(ByteStreamOut* s, U32 v) { return s->put32bitsLE((const U8*)&v); }
bool put64(ByteStreamOut* s, U64 v) { return s->put64bitsLE((const U8*)&v); }
bool puti64(ByteStreamOut* s, I64 v) { return s->put64bitsLE((const U8*)&v); }
bool putf32(ByteStreamOut* s, F32 v) { return s->put32bitsLE((const U8*)&v); }
bool putf64(ByteStreamOut* s, F64 v) { return s->put64bitsLE((const U8*)&v); }
// A text field of `width` bytes, zero-padded.
bool put_text(ByteStreamOut* s, const char* text, U32 width) {
  U8 field[64] = {};
  strncpy((char*)field, text, width);
  return s->putBytes(field, width);
}

// Header byte positions, from the layout table.
constexpr U32 at(HeaderField field) { return HEADER[field].offset; }

bool is_copc_hierarchy(const LASevlrRecord& evlr) {
  return strncmp(evlr.user_id, USER_ID_COPC, USER_ID_SIZE) == 0 && evlr.record_id == RECORD_COPC_HIERARCHY;
}

// Each failed write is an ERROR naming the field; with halting off the
// caller gives up and reports failure. Returns `written`.
bool put_or_report(bool written, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool put_or_report(bool written, const char* format, ...) {
  if (written) return true;
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  laserror("%s", text);
  return false;
}

// The checks of a header before anything of it is written: those the reader
// makes too, then the sizes and offsets the written records must match.
bool check_written_header(const LASheader* header) {
  if (!lasheadercodec::check_header_start(*header, true)) return false;
  // The header fields go out by the written version, the records by their own
  // lengths: sizes and offsets that disagree with them would send every
  // reader to the wrong bytes, so such a header is refused before anything is
  // written.
  const U8 minor = (header->version_minor > 5) ? 5 : header->version_minor;
  const U32 expected_header_size = standard_header_size(minor) + header->user_data_in_header_bytes;
  if (header->header_size != expected_header_size) {
    laserror("header size %d does not match the %u bytes of a LAS 1.%d header and its user data",
             header->header_size, expected_header_size, minor);
    return false;
  }
  if (header->number_of_variable_length_records && header->vlrs == nullptr) {
    laserror("there should be %u VLRs in header->vlrs", header->number_of_variable_length_records);
    return false;
  }
  U64 expected_offset = (U64)header->header_size + header->user_data_after_header_bytes;
  for (U32 i = 0; i < header->number_of_variable_length_records; i++)
    expected_offset += vlr_bytes(header->vlrs[i].record_length_after_header);
  if (header->offset_to_point_data != expected_offset) {
    laserror("offset to point data %d does not match the %llu bytes of header, records and user data",
             header->offset_to_point_data, (unsigned long long)expected_offset);
    return false;
  }
  if (header->x_scale_factor == 0.0) LASMessage(WARNING, "x scale factor is zero.");
  if (header->y_scale_factor == 0.0) LASMessage(WARNING, "y scale factor is zero.");
  if (header->z_scale_factor == 0.0) LASMessage(WARNING, "z scale factor is zero.");
  lasheadercodec::check_bounding_box(*header);
  return true;
}

}  // namespace

namespace {

// The item list the points are written with, and the point type it forms
// (127 when it forms no standard one).
struct PointItems {
  U16 count = 0;
  std::unique_ptr<LASitem[]> list;
  U8 point_type = 0;
};

// The header's own item description, or the point format's. A list that
// records of the header's length could not hold, or that fills a field twice,
// is refused.
bool written_items(const LASheader* header, PointItems& items) {
  if (header->compressor && header->compressor->num_items && header->compressor->items) {
    items.count = header->compressor->num_items;
    items.list = std::make_unique_for_overwrite<LASitem[]>(items.count);
    memcpy(items.list.get(), header->compressor->items, sizeof(LASitem) * items.count);
    items.point_type = 127;
    header->compressor->is_standard(&items.point_type);
    // Records of other sizes than the items add up to would be unreadable.
    Vembra checker;
    if (!checker.check_items(items.count, items.list.get(), header->point_data_record_length)) {
      laserror("%s", checker.get_error());
      return false;
    }
  } else {
    Vembra maker;
    LASitem* made = nullptr;
    const bool set_up =
        maker.setup(&items.count, &made, header->point_data_format, header->point_data_record_length, Vembra::NONE);
    items.list.reset(made);
    if (!set_up) {
      laserror("unknown point type %d with point size %d", header->point_data_format, header->point_data_record_length);
      return false;
    }
    items.point_type = header->point_data_format;
  }
  for (U32 i = 0; i < items.count; i++)
    if (las_item_field_group(items.list[i].type) < 0) return false;
  return !las_items_repeat_a_kind(items.count, items.list.get());
}

void report_unsupported(const LASheader* header, const char* with) {
  laserror("point type %d of size %d not supported%s", header->point_data_format, header->point_data_record_length,
           with);
}
constexpr const char* WITH_VEMBRA = " (with Vembra)";

// The compressor description: made for compressed output, and for plain
// output whose item list forms no standard point type, so that readers learn
// the layout from its record. Stays empty for other plain output.
bool describe_compression(const LASheader* header, const PointItems& items, U32 compressor, I32 requested_version,
                          I32 chunk_size, std::unique_ptr<Vembra>& vembra) {
  const U8 point_type = items.point_type;
  if (compressor != Vembra::NONE) {
    if (point_type > 5 && compressor != Vembra::LAYERED_CHUNKED) {
      laserror("point type %d requires using \"native LAS 1.4 extension\" of Vembra", point_type);
      return false;
    }
    vembra = std::make_unique<Vembra>();
    if (!vembra->setup(items.count, items.list.get(), (U16)compressor)) {
      report_unsupported(header, WITH_VEMBRA);
      return false;
    }
    if (chunk_size >= 0) {
      vembra->set_chunk_size((U32)chunk_size);
      if (chunk_size == 0 && point_type <= 5) {
        laserror("adaptive chunking is depricated for point type %d. only available for new LAS 1.4 point types 6 or higher.",
                 point_type);
        return false;
      }
    }
    const U16 version = requested_version ? (U16)requested_version
                                          : Vembra::get_default_version(point_type, header->version_major, header->version_minor);
    if (!vembra->request_version(version)) {
      laserror("%s", vembra->get_error() ? vembra->get_error() : "cannot request version");
      return false;
    }
  } else if (header->compressor && point_type == 127) {
    vembra = std::make_unique<Vembra>();
    if (!vembra->setup(items.count, items.list.get(), Vembra::NONE)) {
      report_unsupported(header, WITH_VEMBRA);
      return false;
    }
    if (chunk_size >= 0) vembra->set_chunk_size((U32)chunk_size);
    vembra->request_version(0);
  }
  return true;
}

}  // namespace

LASwriterLAS::~LASwriterLAS() {
  if (writer || stream) close(true);
}

// The stream goes with the writer unless its owner kept it.
void LASwriterLAS::release_stream() {
  if (delete_stream) delete stream;
  stream = nullptr;
}

// ------------------------------------------------------------------ opening

bool LASwriterLAS::open(const char* file_name, const LASheader* header, U32 compressor, I32 requested_version,
                        I32 chunk_size, U32 io_buffer_size) {
  if (file_name == nullptr) {
    laserror("file name pointer is zero");
    return false;
  }
  file = output.open(file_name);
  if (file == nullptr) {
    laserror("cannot open file '%s' for write", file_name);
    return false;
  }
  if (setvbuf(file, nullptr, _IOFBF, io_buffer_size) != 0)
    LASMessage(WARNING, "setvbuf() failed with buffer size %d", (int)io_buffer_size);
  if (open(blocked_file_stream(file), header, compressor, requested_version, chunk_size)) return true;
  // Nothing usable was written: the temporary file goes, and the name keeps
  // what it had (a halting error has removed the temporary file already).
  writer.reset();
  release_stream();
  output.discard();
  file = nullptr;
  return false;
}

bool LASwriterLAS::open(FILE* handle, const LASheader* header, U32 compressor, I32 requested_version, I32 chunk_size) {
  if (handle == nullptr) {
    laserror("file pointer is zero");
    return false;
  }
  return open(blocked_file_stream(handle), header, compressor, requested_version, chunk_size);
}

bool LASwriterLAS::open(const LASheader* header, U32 compressor, I32 requested_version, I32 chunk_size) {
  return open(new ByteStreamOutNil(), header, compressor, requested_version, chunk_size);
}

bool LASwriterLAS::open(ByteStreamOut* out, const LASheader* header, U32 compressor, I32 requested_version,
                        I32 chunk_size) {
  if (out == nullptr) {
    laserror("ByteStreamOut pointer is zero");
    return false;
  }
  // Ours from here, whatever follows: close or the destructor lets it go.
  stream = out;
  if (header == nullptr) {
    laserror("LASheader pointer is zero");
    return false;
  }
  if (!check_written_header(header)) return false;
  scaling.x_scale_factor = header->x_scale_factor;
  scaling.y_scale_factor = header->y_scale_factor;
  scaling.z_scale_factor = header->z_scale_factor;
  scaling.x_offset = header->x_offset;
  scaling.y_offset = header->y_offset;
  scaling.z_offset = header->z_offset;

  PointItems items;
  if (!written_items(header, items)) return false;
  std::unique_ptr<Vembra> vembra;
  if (!describe_compression(header, items, compressor, requested_version, chunk_size, vembra) ||
      !set_up_point_writer(header, items.count, items.list.get(), vembra.get())) {
    writer.reset();
    return false;
  }
  const U8 point_type = items.point_type;
  if ((header->version_major > 1 || header->version_minor >= 5) && (point_type & 0x3F) <= 5)
    LASMessage(WARNING, "point type %d is not supported for version %d.%d anymore", point_type, header->version_major,
               header->version_minor);

  if (!write_header_and_records(header, vembra.get(), point_type, compressor) || !writer->init(stream)) {
    // Nothing of the point data is there to be finished by close.
    writer.reset();
    return false;
  }
  points_expected = header->number_of_point_records ? (I64)header->number_of_point_records
                                                     : (I64)header->extended_number_of_point_records;
  points_written = 0;
  if (vembra == nullptr && point_type <= 10) {
    record_format = point_type;
    record_length = header->point_data_record_length;
  }
  return true;
}

// The point writer over the compressor description's items, or over the
// plain item list where there is none.
bool LASwriterLAS::set_up_point_writer(const LASheader* header, U16 num_items, const LASitem* items,
                                       const Vembra* vembra) {
  writer = std::make_unique<LASwritePoint>();
  if (coded_writer_maker) writer->set_coded_writer_maker(coded_writer_maker);
  if (vembra ? writer->setup(vembra->num_items, vembra->items, vembra) : writer->setup(num_items, items)) return true;
  report_unsupported(header, vembra ? WITH_VEMBRA : "");
  return false;
}

namespace {

// The extended counts as written: the legacy count and legacy by-return
// counts where the header gives them.
void set_extended_counts(HeaderImage& image, const LASheader& h) {
  const U64 count = h.number_of_point_records ? h.number_of_point_records : h.extended_number_of_point_records;
  image.set_unsigned(EXTENDED_NUMBER_OF_POINT_RECORDS, count);
  for (U32 i = 0; i < EXTENDED_POINTS_BY_RETURN_COUNT; i++) {
    U64 n = h.extended_number_of_points_by_return[i];
    if (i < POINTS_BY_RETURN_COUNT && h.number_of_points_by_return[i]) n = h.number_of_points_by_return[i];
    image.set_unsigned(EXTENDED_NUMBER_OF_POINTS_BY_RETURN, n, i);
  }
}

// Fields `first` to `last` of the image, entry by entry. A refused write is
// an ERROR of `prefix` and the field's name (or the one `names` gives, by
// position in the range), with "[i]" for an entry of a by-return array.
bool put_header_fields(ByteStreamOut* s, const HeaderImage& image, HeaderField first, HeaderField last,
                       const char* prefix, const char* const* names = nullptr) {
  for (HeaderField f = first; f <= last; f = lasheadercodec::next(f)) {
    const char* name = names ? names[f - first] : HEADER[f].name;
    const U32 elements = HeaderImage::elements(f);
    const U32 size = HeaderImage::element_size(f);
    for (U32 e = 0; e < elements; e++) {
      const bool put = (size == 1) ? s->putByte(*image.at(f, e)) : s->putBytes(image.at(f, e), size);
      if (elements > 1) {
        if (!put_or_report(put, "%s%s[%d]", prefix, name, (I32)e)) return false;
      } else if (!put_or_report(put, "%s%s", prefix, name)) {
        return false;
      }
    }
  }
  return true;
}

// The head of a VLR or an EVLR of the header (they differ in the width of
// the payload length only); `records` names the list in the messages.
template <typename Record>
bool put_record_head(ByteStreamOut* s, const Record& record, const char* records, const U32 index) {
  auto put_length = [&]() {
    if constexpr (sizeof(record.record_length_after_header) == 2) return put16(s, record.record_length_after_header);
    return put64(s, record.record_length_after_header);
  };
  auto report = [&](bool put, RecordHeaderField field) {
    return put_or_report(put, "writing %s[%d].%s", records, (I32)index, VLR_HEADER[field].name);
  };
  return report(put16(s, record.reserved), RECORD_RESERVED) &&
         report(s->putBytes((const U8*)record.user_id, USER_ID_SIZE), RECORD_USER_ID) &&
         report(put16(s, record.record_id), RECORD_RECORD_ID) &&
         report(put_length(), RECORD_LENGTH_AFTER_HEADER) &&
         report(s->putBytes((const U8*)record.description, DESCRIPTION_SIZE), RECORD_DESCRIPTION);
}

// The head of a record the writer adds itself.
bool put_own_record_head(ByteStreamOut* s, const char* user_id, U16 record_id, U16 length, const char* description) {
  return put_or_report(put16(s, 0), "writing reserved %d", 0) &&
         put_or_report(put_text(s, user_id, USER_ID_SIZE), "writing user_id %s", user_id) &&
         put_or_report(put16(s, record_id), "writing record_id %d", record_id) &&
         put_or_report(put16(s, length), "writing record_length_after_header %d", length) &&
         put_or_report(put_text(s, description, DESCRIPTION_SIZE), "writing description %s", description);
}

}  // namespace

// The public header as written: the header's own fields, with version 1 and
// the minor version written, the records the writer adds counted in, the
// compression bit set, no waveform data and the extended counts settled.
void LASwriterLAS::written_header_image(const LASheader* header, const U32 vlrs_added, const U32 bytes_added,
                                        const U8 written_format, HeaderImage& image) const {
  image.encode(*header, FILE_SIGNATURE, TIME_OFFSET);
  image.set_unsigned(VERSION_MAJOR, 1);
  image.set_unsigned(VERSION_MINOR, written_minor);
  image.set_unsigned(OFFSET_TO_POINT_DATA, (U32)(header->offset_to_point_data + bytes_added));
  image.set_unsigned(NUMBER_OF_VARIABLE_LENGTH_RECORDS, (U32)(header->number_of_variable_length_records + vlrs_added));
  image.set_unsigned(POINT_DATA_FORMAT, written_format);
  image.set_unsigned(START_OF_WAVEFORM_DATA_PACKET_RECORD, 0);
  set_extended_counts(image, *header);
}

// The public header and the user data in it. The warnings about fields
// written other than given come just before the field.
bool LASwriterLAS::write_public_header(const LASheader* header, const Vembra* vembra, U8 point_type, U32 compressor) {
  ByteStreamOut* s = stream;
  // The writer's own records follow the header's and move the points back.
  U32 vlrs_added = 0, bytes_added = 0;
  if (vembra) {
    bytes_added += vlr_bytes((U16)compressor_record_size(vembra->num_items));
    vlrs_added++;
  }
  if (header->vlr_lastiling) {
    bytes_added += vlr_bytes(TILING_SIZE);
    vlrs_added++;
  }
  if (header->vlr_lasoriginal) {
    bytes_added += vlr_bytes(ORIGINAL_SIZE);
    vlrs_added++;
  }
  written_minor = (header->version_minor > 5) ? 5 : header->version_minor;
  const U8 written_format = (U8)(compressor ? (point_type | POINT_FORMAT_COMPRESSED_BIT7) : point_type);
  HeaderImage image;
  written_header_image(header, vlrs_added, bytes_added, written_format, image);

  const char* prefix = "writing header->";
  if (!put_header_fields(s, image, FILE_SIGNATURE, PROJECT_ID_GUID_DATA_4, prefix)) return false;
  if (header->version_major != 1)
    LASMessage(WARNING, "header->version_major is %d. writing 1 instead.", header->version_major);
  if (!put_header_fields(s, image, VERSION_MAJOR, VERSION_MAJOR, prefix)) return false;
  if (header->version_minor > 5)
    LASMessage(WARNING, "header->version_minor is %d. writing 5 instead.", header->version_minor);
  if (!put_header_fields(s, image, VERSION_MINOR, MIN_Z, prefix)) return false;
  if (written_minor >= 3) {
    if (header->start_of_waveform_data_packet_record != 0)
      LASMessage(WARNING, "header->start_of_waveform_data_packet_record is %lld. writing 0 instead.",
                 (long long)header->start_of_waveform_data_packet_record);
    const FieldRange added = fields_new_in(3);
    if (!put_header_fields(s, image, added.first, added.last, prefix)) return false;
  }
  writing_las_1_4 = written_minor >= 4;
  writing_new_point_type = writing_las_1_4 && header->point_data_format > 5;
  if (writing_las_1_4) {
    evlrs = header->evlrs;
    start_of_first_extended_variable_length_record = header->start_of_first_extended_variable_length_record;
    number_of_extended_variable_length_records = header->evlrs ? header->number_of_extended_variable_length_records : 0;
  }
  for (U8 minor = 4; minor <= written_minor; minor++) {
    const FieldRange added = fields_new_in(minor);
    if (!put_header_fields(s, image, added.first, added.last, prefix)) return false;
  }

  if (header->user_data_in_header_bytes) {
    if (header->user_data_in_header == nullptr) {
      laserror("there should be %d bytes of data in header->user_data_in_header", header->user_data_in_header_bytes);
      return false;
    }
    if (!put_or_report(s->putBytes(header->user_data_in_header, header->user_data_in_header_bytes),
                       "writing %d bytes of data from header->user_data_in_header", header->user_data_in_header_bytes))
      return false;
  }
  return true;
}

// The header's records. Where the Extra Bytes payload and a COPC root-page
// pointer land is noted here, from the records really written.
bool LASwriterLAS::write_header_vlrs(const LASheader* header) {
  ByteStreamOut* s = stream;
  extra_bytes_payload_position = -1;
  extra_bytes_payload_length = 0;
  copc_root_pointer_position = -1;
  for (U32 i = 0; i < header->number_of_variable_length_records; i++) {
    const LASvlrRecord& vlr = header->vlrs[i];
    if (!put_record_head(s, vlr, "header->vlrs", i)) return false;
    const I64 payload = s->tell() - header_start_position;
    if (extra_bytes_payload_position < 0 && strncmp(vlr.user_id, USER_ID_LASF_SPEC, USER_ID_SIZE) == 0 &&
        vlr.record_id == RECORD_EXTRA_BYTES) {
      extra_bytes_payload_position = payload;
      extra_bytes_payload_length = vlr.record_length_after_header;
    }
    if (copc_root_pointer_position < 0 && strncmp(vlr.user_id, USER_ID_COPC, USER_ID_SIZE) == 0 &&
        vlr.record_id == RECORD_COPC_INFO && vlr.record_length_after_header >= COPC_INFO_ROOT_HIER_SIZE + 8) {
      copc_root_pointer_position = payload + COPC_INFO_ROOT_HIER_OFFSET;
    }
    if (vlr.record_length_after_header) {
      if (vlr.data == nullptr) {
        laserror("there should be %d bytes of data in header->vlrs[%d].data", vlr.record_length_after_header, i);
        return false;
      }
      if (!put_or_report(s->putBytes(vlr.data, vlr.record_length_after_header),
                         "writing %d bytes of data from header->vlrs[%d].data", vlr.record_length_after_header, i))
        return false;
    }
  }
  return true;
}

bool LASwriterLAS::write_compressor_vlr(const Vembra* vembra) {
  ByteStreamOut* s = stream;
  char description[DESCRIPTION_SIZE + 1] = {};
  snprintf(description, sizeof(description), "by vembra of Pelkarts (%d)", PELKARTS_BUILD_NUMBER);
  if (!put_own_record_head(s, USER_ID_COMPRESSOR, RECORD_COMPRESSOR, (U16)compressor_record_size(vembra->num_items),
                           description))
    return false;
  if (!put_or_report(put16(s, vembra->compressor), "writing compressor %d", vembra->compressor)) return false;
  if (!put_or_report(put16(s, vembra->coder), "writing coder %d", vembra->coder)) return false;
  if (!put_or_report(put8(s, vembra->version_major), "writing version_major %d", vembra->version_major)) return false;
  if (!put_or_report(put8(s, vembra->version_minor), "writing version_minor %d", vembra->version_minor)) return false;
  if (!put_or_report(put16(s, vembra->version_revision), "writing version_revision %d", vembra->version_revision))
    return false;
  if (!put_or_report(put32(s, vembra->options), "writing options %d", (int)vembra->options)) return false;
  if (!put_or_report(put32(s, vembra->chunk_size), "writing chunk_size %d", (int)vembra->chunk_size)) return false;
  if (!put_or_report(puti64(s, vembra->number_of_special_evlrs), "writing number_of_special_evlrs %d",
                     (int)vembra->number_of_special_evlrs))
    return false;
  if (!put_or_report(puti64(s, vembra->offset_to_special_evlrs), "writing offset_to_special_evlrs %d",
                     (int)vembra->offset_to_special_evlrs))
    return false;
  if (!put_or_report(put16(s, vembra->num_items), "writing num_items %d", vembra->num_items)) return false;
  for (U32 i = 0; i < vembra->num_items; i++) {
    const LASitem& item = vembra->items[i];
    if (!put_or_report(put16(s, (U16)item.type), "writing type %d of item %d", (int)item.type, i)) return false;
    if (!put_or_report(put16(s, item.size), "writing size %d of item %d", item.size, i)) return false;
    if (!put_or_report(put16(s, item.version), "writing version %d of item %d", item.version, i)) return false;
  }
  return true;
}

bool LASwriterLAS::write_tiling_vlr(const LASvlrTiling* tiling) {
  ByteStreamOut* s = stream;
  char description[DESCRIPTION_SIZE + 1] = {};
  snprintf(description, sizeof(description), TILING_DESCRIPTION_FORMAT, tiling->get_buffer() ? "with" : "without",
           tiling->get_reversible() ? ", reversible" : "");
  if (!put_own_record_head(s, USER_ID_SUITE, RECORD_SUITE_TILING, TILING_SIZE, description)) return false;
  if (!put_or_report(put32(s, tiling->level), "writing header->vlr_lastiling->level %u", tiling->level)) return false;
  if (!put_or_report(put32(s, tiling->level_index), "writing header->vlr_lastiling->level_index %u", tiling->level_index))
    return false;
  if (!put_or_report(put32(s, tiling->implicit_levels_and_flags), "writing header->vlr_lastiling->implicit_levels %u",
                     tiling->get_implicit_levels()))
    return false;
  const F32 bounds[4] = {tiling->min_x, tiling->max_x, tiling->min_y, tiling->max_y};
  for (U32 i = 0; i < 4; i++)
    if (!put_or_report(putf32(s, bounds[i]), "writing header->vlr_lastiling->%s %g", TILING[TILE_MIN_X + i].name,
                       bounds[i]))
      return false;
  return true;
}

bool LASwriterLAS::write_original_vlr(LASvlrOriginal* original) {
  ByteStreamOut* s = stream;
  if (!put_own_record_head(s, USER_ID_SUITE, RECORD_SUITE_ORIGINAL, ORIGINAL_SIZE, ORIGINAL_DESCRIPTION)) return false;
  original->position = s->tell();
  if (!put_or_report(puti64(s, original->number_of_point_records),
                     "writing header->vlr_lasoriginal->number_of_point_records %d",
                     (int)original->number_of_point_records))
    return false;
  for (U32 i = 0; i < EXTENDED_POINTS_BY_RETURN_COUNT; i++)
    if (!put_or_report(puti64(s, original->number_of_points_by_return[i]),
                       "writing header->vlr_lasoriginal->number_of_points_by_return[%u] %d", i,
                       (int)original->number_of_points_by_return[i]))
      return false;
  const F64 bounds[6] = {original->min_x, original->max_x, original->min_y,
                         original->max_y, original->min_z, original->max_z};
  for (U32 i = 0; i < 6; i++)
    if (!put_or_report(putf64(s, bounds[i]), "writing header->vlr_lasoriginal->%s %g", ORIGINAL[ORIG_MIN_X + i].name,
                       bounds[i]))
      return false;
  return true;
}

bool LASwriterLAS::write_header_and_records(const LASheader* header, const Vembra* vembra, U8 point_type,
                                            U32 compressor) {
  ByteStreamOut* s = stream;
  header_start_position = s->tell();
  if (!write_public_header(header, vembra, point_type, compressor) || !write_header_vlrs(header)) return false;
  if (vembra && !write_compressor_vlr(vembra)) return false;
  if (header->vlr_lastiling && !write_tiling_vlr(header->vlr_lastiling.get())) return false;
  if (header->vlr_lasoriginal && !write_original_vlr(header->vlr_lasoriginal.get())) return false;
  if (header->user_data_after_header_bytes) {
    if (header->user_data_after_header == nullptr) {
      laserror("there should be %d bytes of data in header->user_data_after_header",
               header->user_data_after_header_bytes);
      return false;
    }
    if (!put_or_report(s->putBytes(header->user_data_after_header, header->user_data_after_header_bytes),
                       "writing %d bytes of data from header->user_data_after_header",
                       header->user_data_after_header_bytes))
      return false;
  }
  return true;
}

// ------------------------------------------------------------------ points

bool LASwriterLAS::write_point(const LASpoint* point) {
  points_written++;
  return writer->write(point->item_data);
}

// Every raw item copies its bytes between file and point (POINT14 spreads
// them over the point's fields and gathers all of them back), so a record
// read and written in the same standard format comes out as it went in.
bool LASwriterLAS::takes_records(U8 format, U32 length) const {
  return writer && record_format >= 0 && format == record_format && length == record_length;
}

bool LASwriterLAS::write_records(const U8* records, U32 count) {
  if (writer == nullptr || record_format < 0) return false;
  // A single write takes fewer than 2^32 bytes.
  const U32 at_once = U32_MAX / record_length;
  while (count > 0) {
    const U32 now = count < at_once ? count : at_once;
    points_written += now;
    if (!stream->putBytes(records, now * record_length)) return false;
    records += (U64)now * record_length;
    count -= now;
  }
  return true;
}

bool LASwriterLAS::chunk() { return writer->chunk(); }

I64 LASwriterLAS::tell() { return stream ? stream->tell() : 0; }

// ------------------------------------------------------------------ updating

bool LASwriterLAS::update_header(const LASheader* header, bool use_inventory, bool update_extra_bytes) {
  if (header == nullptr) {
    laserror("header pointer is zero");
    return false;
  }
  if (stream == nullptr) {
    laserror("stream pointer is zero");
    return false;
  }
  if (!stream->isSeekable()) {
    LASMessage(WARNING, "stream not seekable. cannot update header.");
    return false;
  }
  // A header that brings a COPC hierarchy brings the EVLRs to write at close.
  for (U32 i = 0; header->evlrs && i < header->number_of_extended_variable_length_records; i++) {
    if (is_copc_hierarchy(header->evlrs[i])) {
      evlrs = header->evlrs;
      number_of_extended_variable_length_records = header->number_of_extended_variable_length_records;
      break;
    }
  }
  // A header left half patched no longer describes the file: close then
  // treats the output as failed.
  if (use_inventory ? !patch_from_inventory(header) : !patch_from_header(header)) {
    patch_failed = true;
    return false;
  }
  stream->seekEnd();
  if (update_extra_bytes && header->number_of_attributes > 0 && !rewrite_extra_bytes(header)) {
    patch_failed = true;
    return false;
  }
  return true;
}

// Point formats 6 to 10 leave the legacy counts at 0 where the extended counts
// carry the points (LAS 1.4 and later, as written); an older header that
// declares such a format has only the legacy counts to say how many there are.
bool LASwriterLAS::legacy_counts_carried(const U8 format, const U8 minor) const {
  return format <= 5 || minor < 4 || written_minor < 4;
}

// Moves the stream to `field` of the written header; a failure is an ERROR
// worded as the write of the field would be.
bool LASwriterLAS::seek_header_field(HeaderField field, const char* prefix, const char* name) {
  return put_or_report(stream->seek(header_start_position + HEADER[field].offset), "%s%s", prefix,
                       name ? name : HEADER[field].name);
}

// The legacy count of `count` points as patched: 0 where the extended counts
// carry the points, U32_MAX (with a warning) where a count beyond 32 bits has
// no other field.
U32 LASwriterLAS::legacy_count(const LASheader* header, const I64 count, const bool legacy_counts) const {
  if (!legacy_counts) return 0;
  if (count <= (I64)U32_MAX) return (U32)count;
  if (header->version_minor < 4) {
    LASMessage(WARNING, "too many points in LAS %d.%d file. limit is %u.", header->version_major, header->version_minor,
               U32_MAX);
    return U32_MAX;
  }
  return 0;
}

// The patches below only touch fields the written header has: a header
// passed in with a later version than the one written must not reach into
// the records behind the header.
bool LASwriterLAS::patch_from_inventory(const LASheader* header) {
  ByteStreamOut* s = stream;
  const U8 format = header->point_data_format & 0x7F;
  const U8 minor = header->version_minor;
  const I64 count = inventory.number_of_point_records;
  const bool legacy_counts = legacy_counts_carried(format, minor);
  const char* prefix = "updating inventory.";
  HeaderImage image;
  if (!seek_header_field(NUMBER_OF_POINT_RECORDS, prefix)) return false;
  image.set_unsigned(NUMBER_OF_POINT_RECORDS, legacy_count(header, count, legacy_counts));
  if (!put_header_fields(s, image, NUMBER_OF_POINT_RECORDS, NUMBER_OF_POINT_RECORDS, prefix)) return false;
  points_expected = count;
  for (U32 r = 1; r <= POINTS_BY_RETURN_COUNT; r++) {
    const I64 n = inventory.number_of_points_by_return[r];
    U32 v = 0;
    if (legacy_counts) v = (n <= (I64)U32_MAX) ? (U32)n : ((minor < 4) ? U32_MAX : 0);
    image.set_unsigned(NUMBER_OF_POINTS_BY_RETURN, v, r - 1);
  }
  if (!put_header_fields(s, image, NUMBER_OF_POINTS_BY_RETURN, NUMBER_OF_POINTS_BY_RETURN, prefix)) return false;

  // The inventory names its bounds by the raw coordinates they come from.
  static const char* const BOUNDS[6] = {"max_X", "min_X", "max_Y", "min_Y", "max_Z", "min_Z"};
  image.set_real(MAX_X, scaling.get_x(inventory.max_X));
  image.set_real(MIN_X, scaling.get_x(inventory.min_X));
  image.set_real(MAX_Y, scaling.get_y(inventory.max_Y));
  image.set_real(MIN_Y, scaling.get_y(inventory.min_Y));
  image.set_real(MAX_Z, scaling.get_z(inventory.max_Z));
  image.set_real(MIN_Z, scaling.get_z(inventory.min_Z));
  if (!seek_header_field(MAX_X, prefix, BOUNDS[0]) || !put_header_fields(s, image, MAX_X, MIN_Z, prefix, BOUNDS))
    return false;
  if (minor >= 4 && written_minor >= 4) {
    image.set_unsigned(EXTENDED_NUMBER_OF_POINT_RECORDS, (U64)count);
    for (U32 r = 1; r <= EXTENDED_POINTS_BY_RETURN_COUNT; r++)
      image.set_unsigned(EXTENDED_NUMBER_OF_POINTS_BY_RETURN, (U64)inventory.number_of_points_by_return[r], r - 1);
    if (!seek_header_field(EXTENDED_NUMBER_OF_POINT_RECORDS, "updating header->") ||
        !put_header_fields(s, image, EXTENDED_NUMBER_OF_POINT_RECORDS, EXTENDED_NUMBER_OF_POINTS_BY_RETURN,
                           "updating header->"))
      return false;
  }
  if (minor >= 5 && written_minor >= 5) {
    image.set_real(MAX_GPS_TIME, inventory.max_gps_time);
    image.set_real(MIN_GPS_TIME, inventory.min_gps_time);
    if (!seek_header_field(MAX_GPS_TIME, prefix) || !put_header_fields(s, image, MAX_GPS_TIME, MIN_GPS_TIME, prefix))
      return false;
  }
  return true;
}

bool LASwriterLAS::patch_from_header(const LASheader* header) {
  ByteStreamOut* s = stream;
  const U8 format = header->point_data_format & 0x7F;
  const U8 minor = header->version_minor;
  const char* prefix = "updating header->";
  HeaderImage image;
  image.encode(*header, FILE_SIGNATURE, TIME_OFFSET);
  if (!legacy_counts_carried(format, minor)) {
    image.set_unsigned(NUMBER_OF_POINT_RECORDS, 0);
    for (U32 i = 0; i < POINTS_BY_RETURN_COUNT; i++) image.set_unsigned(NUMBER_OF_POINTS_BY_RETURN, 0, i);
  }
  image.set_unsigned(START_OF_WAVEFORM_DATA_PACKET_RECORD, 0);
  // The count of the EVLRs that close will really write.
  image.set_unsigned(NUMBER_OF_EXTENDED_VARIABLE_LENGTH_RECORDS, number_of_extended_variable_length_records);
  set_extended_counts(image, *header);

  if (!seek_header_field(NUMBER_OF_POINT_RECORDS, prefix) ||
      !put_header_fields(s, image, NUMBER_OF_POINT_RECORDS, NUMBER_OF_POINT_RECORDS, prefix))
    return false;
  points_expected = header->number_of_point_records ? (I64)header->number_of_point_records
                                                     : (I64)header->extended_number_of_point_records;
  if (!put_header_fields(s, image, NUMBER_OF_POINTS_BY_RETURN, NUMBER_OF_POINTS_BY_RETURN, prefix)) return false;
  if (!seek_header_field(MAX_X, prefix) || !put_header_fields(s, image, MAX_X, MIN_Z, prefix)) return false;
  if (minor >= 3 && written_minor >= 3) {
    const bool waveform_given = header->start_of_waveform_data_packet_record != 0;
    if (waveform_given)
      LASMessage(WARNING, "header->start_of_waveform_data_packet_record is %lld. writing 0 instead.",
                 (long long)header->start_of_waveform_data_packet_record);
    const FieldRange added = fields_new_in(3);
    if (!put_header_fields(s, image, added.first, added.last, waveform_given ? "updating " : prefix)) return false;
  }
  if (minor >= 4 && written_minor >= 4) {
    if (!seek_header_field(START_OF_FIRST_EXTENDED_VARIABLE_LENGTH_RECORD, prefix) ||
        !put_header_fields(s, image, START_OF_FIRST_EXTENDED_VARIABLE_LENGTH_RECORD,
                           START_OF_FIRST_EXTENDED_VARIABLE_LENGTH_RECORD, prefix))
      return false;
    start_of_first_extended_variable_length_record = header->start_of_first_extended_variable_length_record;
    if (!put_header_fields(s, image, NUMBER_OF_EXTENDED_VARIABLE_LENGTH_RECORDS, EXTENDED_NUMBER_OF_POINTS_BY_RETURN,
                           prefix))
      return false;
  }
  if (minor >= 5 && written_minor >= 5) {
    const FieldRange added = fields_new_in(5);
    if (!seek_header_field(MAX_GPS_TIME, prefix) || !put_header_fields(s, image, added.first, added.last, prefix))
      return false;
  }
  return true;
}

// The Extra Bytes record is rewritten where it was written, and only when its
// length is unchanged: a longer or shorter payload would overwrite the next
// record or leave stale bytes behind.
bool LASwriterLAS::rewrite_extra_bytes(const LASheader* header) {
  U32 index = 0;
  const LASvlrRecord* vlr = nullptr;
  for (; index < header->number_of_variable_length_records; index++) {
    const LASvlrRecord& candidate = header->vlrs[index];
    if (candidate.record_id == RECORD_EXTRA_BYTES && strncmp(candidate.user_id, USER_ID_LASF_SPEC, USER_ID_SIZE) == 0) {
      vlr = &candidate;
      break;
    }
  }
  if (vlr == nullptr || extra_bytes_payload_position < 0) {
    LASMessage(WARNING, "could not find extra bytes VLR for update");
    return true;
  }
  if (vlr->record_length_after_header != extra_bytes_payload_length) {
    LASMessage(WARNING, "extra bytes VLR has %d bytes but %u were written. cannot update it in place.",
               vlr->record_length_after_header, extra_bytes_payload_length);
    return true;
  }
  if (vlr->record_length_after_header == 0) return true;
  if (vlr->data == nullptr) {
    laserror("there should be %d bytes of data in header->vlrs[%d].data", vlr->record_length_after_header, index);
    return false;
  }
  if (!put_or_report(stream->seek(header_start_position + extra_bytes_payload_position) &&
                         stream->putBytes(vlr->data, vlr->record_length_after_header),
                     "writing %d bytes of data from header->vlrs[%d].data", vlr->record_length_after_header, index))
    return false;
  stream->seekEnd();
  return true;
}

// ------------------------------------------------------------------ closing

bool LASwriterLAS::write_evlrs() {
  ByteStreamOut* s = stream;
  const I64 evlr_start = s->tell();
  for (U32 i = 0; i < number_of_extended_variable_length_records; i++) {
    const LASevlrRecord& evlr = evlrs[i];
    const bool hierarchy = is_copc_hierarchy(evlr);
    const I64 payload_position = s->tell() + EVLR_HEADER_SIZE;
    if (!put_record_head(s, evlr, "evlrs", i)) return false;
    if (evlr.record_length_after_header) {
      if (evlr.data == nullptr) {
        laserror("there should be %u bytes of data in evlrs[%d].data", (U32)evlr.record_length_after_header, i);
        return false;
      }
      // Payloads beyond 4 GiB go out in parts the stream can take.
      U64 left = evlr.record_length_after_header;
      const U8* data = evlr.data;
      while (left) {
        const U32 part = (left > 0x40000000) ? 0x40000000 : (U32)left;
        if (!put_or_report(s->putBytes(data, part), "writing %u bytes of data from evlrs[%d].data",
                           (U32)evlr.record_length_after_header, i))
          return false;
        data += part;
        left -= part;
      }
    }
    // The COPC information record points at the root page of the hierarchy;
    // only a COPC information record that was written can take the pointer.
    if (hierarchy && copc_root_pointer_position >= 0 && s->isSeekable()) {
      const U64 position = (U64)payload_position;
      if (!put_or_report(s->seek(header_start_position + copc_root_pointer_position) && put64(s, position) &&
                             put64(s, evlr.record_length_after_header) && s->seekEnd(),
                         "updating the root hierarchy offset and size of the COPC information"))
        return false;
    }
  }
  if ((U64)evlr_start != start_of_first_extended_variable_length_record && s->isSeekable()) {
    if (!put_or_report(s->seek(header_start_position + at(START_OF_FIRST_EXTENDED_VARIABLE_LENGTH_RECORD)) &&
                           put64(s, (U64)evlr_start) && s->seekEnd(),
                       "updating header->start_of_first_extended_variable_length_record"))
      return false;
    start_of_first_extended_variable_length_record = (U64)evlr_start;
  }
  return true;
}

// Ends the point data; false after an ERROR.
bool LASwriterLAS::finish_points() {
  if (writer == nullptr) return true;
  const bool done = writer->done();
  if (!done) laserror("finishing the point data failed");
  writer.reset();
  return done;
}

// The point counts in the header, when fewer or more points were written
// than it says and the stream can go back to them.
void LASwriterLAS::patch_point_count() {
  if (!stream->isSeekable()) {
    LASMessage(WARNING, "stream not seekable. cannot update header from %lld to %lld points.",
               (long long)points_expected, (long long)points_written);
    return;
  }
  U32 legacy = 0;
  if (!writing_new_point_type) {
    if (points_written <= (I64)U32_MAX)
      legacy = (U32)points_written;
    else if (!writing_las_1_4)
      legacy = U32_MAX;
  }
  stream->seek(header_start_position + at(NUMBER_OF_POINT_RECORDS));
  put32(stream, legacy);
  if (writing_las_1_4) {
    stream->seek(header_start_position + at(EXTENDED_NUMBER_OF_POINT_RECORDS));
    put64(stream, (U64)points_written);
  }
  stream->seekEnd();
}

// Bytes the file refused, now or in an earlier buffered write, mean the
// output is lost. True for streams that are no file.
bool LASwriterLAS::output_kept() {
  ByteStreamOutFile* file_stream = dynamic_cast<ByteStreamOutFile*>(stream);
  if (file_stream == nullptr) return true;
  bool kept = flush_blocked(stream);
  kept = fflush(file_stream->get_file()) == 0 && kept;
  return kept && !ferror(file_stream->get_file());
}

// Closes the file opened by name; a failed output never takes the name, so
// what was there stays. Gives whether the output failed.
bool LASwriterLAS::close_output_file(bool failed) {
  file = nullptr;
  if (!output.close() && !failed) {
    laserror("closing the output file failed");
    failed = true;
  }
  if (failed) {
    output.discard();
    return true;
  }
  const std::string written_to = output.get_writing_name();
  if (!output.commit()) {
    laserror("cannot rename '%s' to '%s'", written_to.c_str(), output.get_name());
    return true;
  }
  return false;
}

I64 LASwriterLAS::close(bool update_npoints) {
  // Reported when it happened.
  bool failed = patch_failed;
  patch_failed = false;
  if (points_written != points_expected && (points_expected != 0 || !update_npoints))
    LASMessage(WARNING, "written %lld points but expected %lld points", (long long)points_written,
               (long long)points_expected);
  if (!finish_points()) failed = true;
  if (!failed && stream && writing_las_1_4 && number_of_extended_variable_length_records && evlrs) {
    if (!write_evlrs()) failed = true;
  }
  I64 bytes = 0;
  if (stream) {
    if (!failed && update_npoints && points_written != points_expected) patch_point_count();
    bytes = stream->tell() - header_start_position;
    // A lost output is an error, not a byte count.
    if (!output_kept() && !failed) {
      laserror("writing the output failed");
      failed = true;
    }
    release_stream();
  }
  if (file) failed = close_output_file(failed);
  evlrs = nullptr;
  number_of_extended_variable_length_records = 0;
  writing_las_1_4 = false;
  writing_new_point_type = false;
  points_expected = points_written;
  points_written = 0;
  return failed ? 0 : bytes;
}
