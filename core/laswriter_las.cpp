// LAS and VMB writer: checks of the header, the item list and the compressor
// description, the header and records at open, the in-place updates of the
// header, and the EVLRs and count patches at close.
#include "core/laswriter_las.hpp"

#include <cstdarg>
#include <cstring>

#include "compressor/vembra.hpp"
#include "core/bytestreamout_file.hpp"
#include "core/bytestreamout_nil.hpp"
#include "core/lasheader.hpp"
#include "core/laslayout.hpp"
#include "core/laspoint.hpp"

using namespace laslayout;

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

// Point data formats a version allows: 1.0 and 1.1 formats 0-1, 1.2 0-3,
// 1.3 0-5, 1.4 every one, 1.5 and later only those above 5.
bool format_fits_version(U8 minor, U8 format) {
  if (format > 10) return minor >= 4;
  return point_format_allowed(minor, format);
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

}  // namespace

LASwriterLAS::~LASwriterLAS() {
  if (writer || stream) close(true);
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
  delete writer;
  writer = nullptr;
  if (delete_stream) delete stream;
  stream = nullptr;
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
  stream = out;
  if (header == nullptr) {
    laserror("LASheader pointer is zero");
    return false;
  }
  if (strncmp(header->file_signature, FILE_SIGNATURE_TEXT, 4) != 0) {
    char signature[5] = {};
    memcpy(signature, header->file_signature, 4);
    laserror("wrong file signature '%4s'", signature);
    return false;
  }
  if (header->version_major != 1 || header->version_minor > 5)
    LASMessage(WARNING, "unknown version %d.%d (allowed 1.0-1.5)", header->version_major, header->version_minor);
  const U8 format = header->point_data_format & 0x7F;
  if (!format_fits_version(header->version_minor, format))
    LASMessage(WARNING, "LAS version %d.%d does not allow point format %d", header->version_major, header->version_minor,
               format);
  if (header->header_size < HEADER_SIZE_1_0) {
    laserror("header size is %d but should be at least 227", header->header_size);
    return false;
  }
  if (header->offset_to_point_data < header->header_size) {
    laserror("offset to point data %d is smaller than header size %d", header->offset_to_point_data,
             header->header_size);
    return false;
  }
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
  if ((header->number_of_point_records || header->extended_number_of_point_records) &&
      (header->min_x > header->max_x || header->min_y > header->max_y || header->min_z > header->max_z)) {
    LASMessage(WARNING, "invalid bounding box [ %g %g %g / %g %g %g ]", header->min_x, header->min_y, header->min_z,
               header->max_x, header->max_y, header->max_z);
  }
  scaling.x_scale_factor = header->x_scale_factor;
  scaling.y_scale_factor = header->y_scale_factor;
  scaling.z_scale_factor = header->z_scale_factor;
  scaling.x_offset = header->x_offset;
  scaling.y_offset = header->y_offset;
  scaling.z_offset = header->z_offset;

  // The item list: the header's description, or the point format's own.
  U16 num_items = 0;
  LASitem* items = nullptr;
  U8 point_type;
  if (header->compressor && header->compressor->num_items && header->compressor->items) {
    num_items = header->compressor->num_items;
    items = new LASitem[num_items];
    memcpy(items, header->compressor->items, sizeof(LASitem) * num_items);
    point_type = 127;
    header->compressor->is_standard(&point_type);
    // Records of other sizes than the items add up to would be unreadable.
    Vembra checker;
    if (!checker.check_items(num_items, items, header->point_data_record_length)) {
      laserror("%s", checker.get_error());
      delete[] items;
      return false;
    }
  } else {
    Vembra maker;
    if (!maker.setup(&num_items, &items, header->point_data_format, header->point_data_record_length, Vembra::NONE)) {
      laserror("unknown point type %d with point size %d", header->point_data_format, header->point_data_record_length);
      return false;
    }
    point_type = header->point_data_format;
  }
  for (U32 i = 0; i < num_items; i++) {
    if (las_item_field_group(items[i].type) < 0) {
      delete[] items;
      return false;
    }
  }
  if (las_items_repeat_a_kind(num_items, items)) {
    delete[] items;
    return false;
  }

  // The compressor description: made for compressed output, and for plain
  // output whose item list forms no standard point type, so that readers
  // learn the layout from its record.
  Vembra* vembra = nullptr;
  auto give_up = [&]() {
    delete vembra;
    delete[] items;
    delete writer;
    writer = nullptr;
    return false;
  };
  if (compressor != Vembra::NONE) {
    if (point_type > 5 && compressor != Vembra::LAYERED_CHUNKED) {
      laserror("point type %d requires using \"native LAS 1.4 extension\" of Vembra", point_type);
      return give_up();
    }
    vembra = new Vembra();
    if (!vembra->setup(num_items, items, (U16)compressor)) {
      laserror("point type %d of size %d not supported (with Vembra)", header->point_data_format,
               header->point_data_record_length);
      return give_up();
    }
    if (chunk_size >= 0) {
      vembra->set_chunk_size((U32)chunk_size);
      if (chunk_size == 0 && point_type <= 5) {
        laserror("adaptive chunking is depricated for point type %d. only available for new LAS 1.4 point types 6 or higher.",
                 point_type);
        return give_up();
      }
    }
    const U16 version = requested_version ? (U16)requested_version
                                          : Vembra::get_default_version(point_type, header->version_major, header->version_minor);
    if (!vembra->request_version(version)) {
      laserror("%s", vembra->get_error() ? vembra->get_error() : "cannot request version");
      return give_up();
    }
  } else if (header->compressor && point_type == 127) {
    vembra = new Vembra();
    if (!vembra->setup(num_items, items, Vembra::NONE)) {
      laserror("point type %d of size %d not supported (with Vembra)", header->point_data_format,
               header->point_data_record_length);
      return give_up();
    }
    if (chunk_size >= 0) vembra->set_chunk_size((U32)chunk_size);
    vembra->request_version(0);
  }

  writer = new LASwritePoint();
  if (coded_writer_maker) writer->set_coded_writer_maker(coded_writer_maker);
  const bool set_up = vembra ? writer->setup(vembra->num_items, vembra->items, vembra) : writer->setup(num_items, items);
  if (!set_up) {
    if (vembra)
      laserror("point type %d of size %d not supported (with Vembra)", header->point_data_format,
               header->point_data_record_length);
    else
      laserror("point type %d of size %d not supported", header->point_data_format, header->point_data_record_length);
    return give_up();
  }
  delete[] items;
  items = nullptr;
  if ((header->version_major > 1 || header->version_minor >= 5) && (point_type & 0x3F) <= 5)
    LASMessage(WARNING, "point type %d is not supported for version %d.%d anymore", point_type, header->version_major,
               header->version_minor);

  const bool written = write_header_and_records(header, vembra, point_type, compressor);
  delete vembra;
  if (!written || !writer->init(stream)) {
    // Nothing of the point data is there to be finished by close.
    delete writer;
    writer = nullptr;
    return false;
  }
  points_expected = header->number_of_point_records ? (I64)header->number_of_point_records
                                                     : (I64)header->extended_number_of_point_records;
  points_written = 0;
  return true;
}

bool LASwriterLAS::write_header_and_records(const LASheader* header, const Vembra* vembra, U8 point_type,
                                            U32 compressor) {
  ByteStreamOut* s = stream;
  header_start_position = s->tell();

  if (!put_or_report(s->putBytes((const U8*)header->file_signature, 4), "writing header->file_signature")) return false;
  if (!put_or_report(put16(s, header->file_source_ID), "writing header->file_source_ID")) return false;
  if (!put_or_report(put16(s, header->global_encoding), "writing header->global_encoding")) return false;
  if (!put_or_report(put32(s, header->project_ID_GUID_data_1), "writing header->project_ID_GUID_data_1")) return false;
  if (!put_or_report(put16(s, header->project_ID_GUID_data_2), "writing header->project_ID_GUID_data_2")) return false;
  if (!put_or_report(put16(s, header->project_ID_GUID_data_3), "writing header->project_ID_GUID_data_3")) return false;
  if (!put_or_report(s->putBytes(header->project_ID_GUID_data_4, 8), "writing header->project_ID_GUID_data_4"))
    return false;
  if (header->version_major != 1)
    LASMessage(WARNING, "header->version_major is %d. writing 1 instead.", header->version_major);
  if (!put_or_report(put8(s, 1), "writing header->version_major")) return false;
  written_minor = header->version_minor;
  if (written_minor > 5) {
    LASMessage(WARNING, "header->version_minor is %d. writing 5 instead.", header->version_minor);
    written_minor = 5;
  }
  if (!put_or_report(put8(s, written_minor), "writing header->version_minor")) return false;
  if (!put_or_report(s->putBytes((const U8*)header->system_identifier, 32), "writing header->system_identifier"))
    return false;
  if (!put_or_report(s->putBytes((const U8*)header->generating_software, 32), "writing header->generating_software"))
    return false;
  if (!put_or_report(put16(s, header->file_creation_day), "writing header->file_creation_day")) return false;
  if (!put_or_report(put16(s, header->file_creation_year), "writing header->file_creation_year")) return false;
  if (!put_or_report(put16(s, header->header_size), "writing header->header_size")) return false;

  // The writer's own records follow the header's and move the points back.
  U32 offset_to_point_data = header->offset_to_point_data;
  U32 number_of_variable_length_records = header->number_of_variable_length_records;
  if (vembra) {
    offset_to_point_data += vlr_bytes((U16)compressor_record_size(vembra->num_items));
    number_of_variable_length_records++;
  }
  if (header->vlr_lastiling) {
    offset_to_point_data += vlr_bytes(TILING_SIZE);
    number_of_variable_length_records++;
  }
  if (header->vlr_lasoriginal) {
    offset_to_point_data += vlr_bytes(ORIGINAL_SIZE);
    number_of_variable_length_records++;
  }
  if (!put_or_report(put32(s, offset_to_point_data), "writing header->offset_to_point_data")) return false;
  if (!put_or_report(put32(s, number_of_variable_length_records), "writing header->number_of_variable_length_records"))
    return false;
  const U8 written_format = (U8)(compressor ? (point_type | POINT_FORMAT_COMPRESSED_BIT7) : point_type);
  if (!put_or_report(put8(s, written_format), "writing header->point_data_format")) return false;
  if (!put_or_report(put16(s, header->point_data_record_length), "writing header->point_data_record_length"))
    return false;
  if (!put_or_report(put32(s, header->number_of_point_records), "writing header->number_of_point_records"))
    return false;
  for (U32 i = 0; i < POINTS_BY_RETURN_COUNT; i++)
    if (!put_or_report(put32(s, header->number_of_points_by_return[i]),
                       "writing header->number_of_points_by_return[%d]", i))
      return false;
  if (!put_or_report(putf64(s, header->x_scale_factor), "writing header->x_scale_factor")) return false;
  if (!put_or_report(putf64(s, header->y_scale_factor), "writing header->y_scale_factor")) return false;
  if (!put_or_report(putf64(s, header->z_scale_factor), "writing header->z_scale_factor")) return false;
  if (!put_or_report(putf64(s, header->x_offset), "writing header->x_offset")) return false;
  if (!put_or_report(putf64(s, header->y_offset), "writing header->y_offset")) return false;
  if (!put_or_report(putf64(s, header->z_offset), "writing header->z_offset")) return false;
  if (!put_or_report(putf64(s, header->max_x), "writing header->max_x")) return false;
  if (!put_or_report(putf64(s, header->min_x), "writing header->min_x")) return false;
  if (!put_or_report(putf64(s, header->max_y), "writing header->max_y")) return false;
  if (!put_or_report(putf64(s, header->min_y), "writing header->min_y")) return false;
  if (!put_or_report(putf64(s, header->max_z), "writing header->max_z")) return false;
  if (!put_or_report(putf64(s, header->min_z), "writing header->min_z")) return false;

  if (written_minor >= 3) {
    if (header->start_of_waveform_data_packet_record != 0)
      LASMessage(WARNING, "header->start_of_waveform_data_packet_record is %lld. writing 0 instead.",
                 (long long)header->start_of_waveform_data_packet_record);
    if (!put_or_report(put64(s, 0), "writing header->start_of_waveform_data_packet_record")) return false;
  }
  if (written_minor >= 4) {
    writing_las_1_4 = true;
    writing_new_point_type = header->point_data_format > 5;
    evlrs = header->evlrs;
    start_of_first_extended_variable_length_record = header->start_of_first_extended_variable_length_record;
    number_of_extended_variable_length_records = header->evlrs ? header->number_of_extended_variable_length_records : 0;
    if (!put_or_report(put64(s, header->start_of_first_extended_variable_length_record),
                       "writing header->start_of_first_extended_variable_length_record"))
      return false;
    if (!put_or_report(put32(s, header->number_of_extended_variable_length_records),
                       "writing header->number_of_extended_variable_length_records"))
      return false;
    const U64 count = header->number_of_point_records ? header->number_of_point_records
                                                      : header->extended_number_of_point_records;
    if (!put_or_report(put64(s, count), "writing header->extended_number_of_point_records")) return false;
    for (U32 i = 0; i < EXTENDED_POINTS_BY_RETURN_COUNT; i++) {
      U64 n = header->extended_number_of_points_by_return[i];
      if (i < POINTS_BY_RETURN_COUNT && header->number_of_points_by_return[i]) n = header->number_of_points_by_return[i];
      if (!put_or_report(put64(s, n), "writing header->extended_number_of_points_by_return[%d]", i)) return false;
    }
  } else {
    writing_las_1_4 = false;
    writing_new_point_type = false;
  }
  if (written_minor >= 5) {
    if (!put_or_report(putf64(s, header->max_gps_time), "writing header->max_gps_time")) return false;
    if (!put_or_report(putf64(s, header->min_gps_time), "writing header->min_gps_time")) return false;
    if (!put_or_report(put16(s, header->time_offset), "writing header->time_offset")) return false;
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

  // The header's records. Where the Extra Bytes payload and a COPC root-page
  // pointer land is noted here, from the records really written.
  extra_bytes_payload_position = -1;
  extra_bytes_payload_length = 0;
  copc_root_pointer_position = -1;
  for (U32 i = 0; i < header->number_of_variable_length_records; i++) {
    const LASvlrRecord& vlr = header->vlrs[i];
    if (!put_or_report(put16(s, vlr.reserved), "writing header->vlrs[%d].reserved", i)) return false;
    if (!put_or_report(s->putBytes((const U8*)vlr.user_id, USER_ID_SIZE), "writing header->vlrs[%d].user_id", i))
      return false;
    if (!put_or_report(put16(s, vlr.record_id), "writing header->vlrs[%d].record_id", i)) return false;
    if (!put_or_report(put16(s, vlr.record_length_after_header), "writing header->vlrs[%d].record_length_after_header",
                       i))
      return false;
    if (!put_or_report(s->putBytes((const U8*)vlr.description, DESCRIPTION_SIZE),
                       "writing header->vlrs[%d].description", i))
      return false;
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

  if (vembra) {
    if (!put_or_report(put16(s, 0), "writing reserved %d", 0)) return false;
    if (!put_or_report(put_text(s, USER_ID_COMPRESSOR, USER_ID_SIZE), "writing user_id %s", USER_ID_COMPRESSOR))
      return false;
    if (!put_or_report(put16(s, RECORD_COMPRESSOR), "writing record_id %d", RECORD_COMPRESSOR)) return false;
    const U16 length = (U16)compressor_record_size(vembra->num_items);
    if (!put_or_report(put16(s, length), "writing record_length_after_header %d", length)) return false;
    char description[DESCRIPTION_SIZE + 1] = {};
    snprintf(description, sizeof(description), "by vembra of Pelkarts (%d)", PELKARTS_BUILD_NUMBER);
    if (!put_or_report(put_text(s, description, DESCRIPTION_SIZE), "writing description %s", description)) return false;
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
  }

  if (const LASvlrTiling* tiling = header->vlr_lastiling) {
    if (!put_or_report(put16(s, 0), "writing reserved %d", 0)) return false;
    if (!put_or_report(put_text(s, USER_ID_SUITE, USER_ID_SIZE), "writing user_id %s", USER_ID_SUITE)) return false;
    if (!put_or_report(put16(s, RECORD_SUITE_TILING), "writing record_id %d", RECORD_SUITE_TILING)) return false;
    if (!put_or_report(put16(s, TILING_SIZE), "writing record_length_after_header %d", TILING_SIZE)) return false;
    char description[DESCRIPTION_SIZE + 1] = {};
    snprintf(description, sizeof(description), TILING_DESCRIPTION_FORMAT, tiling->get_buffer() ? "with" : "without",
             tiling->get_reversible() ? ", reversible" : "");
    if (!put_or_report(put_text(s, description, DESCRIPTION_SIZE), "writing description %s", description)) return false;
    if (!put_or_report(put32(s, tiling->level), "writing header->vlr_lastiling->level %u", tiling->level)) return false;
    if (!put_or_report(put32(s, tiling->level_index), "writing header->vlr_lastiling->level_index %u",
                       tiling->level_index))
      return false;
    if (!put_or_report(put32(s, tiling->implicit_levels_and_flags), "writing header->vlr_lastiling->implicit_levels %u",
                       tiling->get_implicit_levels()))
      return false;
    if (!put_or_report(putf32(s, tiling->min_x), "writing header->vlr_lastiling->min_x %g", tiling->min_x))
      return false;
    if (!put_or_report(putf32(s, tiling->max_x), "writing header->vlr_lastiling->max_x %g", tiling->max_x))
      return false;
    if (!put_or_report(putf32(s, tiling->min_y), "writing header->vlr_lastiling->min_y %g", tiling->min_y))
      return false;
    if (!put_or_report(putf32(s, tiling->max_y), "writing header->vlr_lastiling->max_y %g", tiling->max_y))
      return false;
  }

  if (LASvlrOriginal* original = header->vlr_lasoriginal) {
    if (!put_or_report(put16(s, 0), "writing reserved %d", 0)) return false;
    if (!put_or_report(put_text(s, USER_ID_SUITE, USER_ID_SIZE), "writing user_id %s", USER_ID_SUITE)) return false;
    if (!put_or_report(put16(s, RECORD_SUITE_ORIGINAL), "writing record_id %d", RECORD_SUITE_ORIGINAL)) return false;
    if (!put_or_report(put16(s, ORIGINAL_SIZE), "writing record_length_after_header %d", ORIGINAL_SIZE)) return false;
    if (!put_or_report(put_text(s, ORIGINAL_DESCRIPTION, DESCRIPTION_SIZE), "writing description %s",
                       ORIGINAL_DESCRIPTION))
      return false;
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
    if (!put_or_report(putf64(s, original->min_x), "writing header->vlr_lasoriginal->min_x %g", original->min_x))
      return false;
    if (!put_or_report(putf64(s, original->max_x), "writing header->vlr_lasoriginal->max_x %g", original->max_x))
      return false;
    if (!put_or_report(putf64(s, original->min_y), "writing header->vlr_lasoriginal->min_y %g", original->min_y))
      return false;
    if (!put_or_report(putf64(s, original->max_y), "writing header->vlr_lasoriginal->max_y %g", original->max_y))
      return false;
    if (!put_or_report(putf64(s, original->min_z), "writing header->vlr_lasoriginal->min_z %g", original->min_z))
      return false;
    if (!put_or_report(putf64(s, original->max_z), "writing header->vlr_lasoriginal->max_z %g", original->max_z))
      return false;
  }

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

// The patches below only touch fields the written header has: a header
// passed in with a later version than the one written must not reach into
// the records behind the header.
bool LASwriterLAS::patch_from_inventory(const LASheader* header) {
  ByteStreamOut* s = stream;
  const U8 format = header->point_data_format & 0x7F;
  const U8 minor = header->version_minor;
  const I64 count = inventory.number_of_point_records;
  const bool legacy_counts = legacy_counts_carried(format, minor);
  if (!put_or_report(s->seek(header_start_position + at(NUMBER_OF_POINT_RECORDS)),
                     "updating inventory.number_of_point_records"))
    return false;
  U32 legacy = 0;
  if (legacy_counts) {
    if (count <= (I64)U32_MAX) {
      legacy = (U32)count;
    } else if (minor < 4) {
      LASMessage(WARNING, "too many points in LAS %d.%d file. limit is %u.", header->version_major, minor, U32_MAX);
      legacy = U32_MAX;
    }
  }
  if (!put_or_report(put32(s, legacy), "updating inventory.number_of_point_records")) return false;
  points_expected = count;
  for (U32 r = 1; r <= POINTS_BY_RETURN_COUNT; r++) {
    const I64 n = inventory.number_of_points_by_return[r];
    U32 v = 0;
    if (legacy_counts) v = (n <= (I64)U32_MAX) ? (U32)n : ((minor < 4) ? U32_MAX : 0);
    if (!put_or_report(put32(s, v), "updating inventory.number_of_points_by_return[%d]", r - 1)) return false;
  }
  if (!put_or_report(s->seek(header_start_position + at(MAX_X)), "updating inventory.max_X")) return false;
  if (!put_or_report(putf64(s, scaling.get_x(inventory.max_X)), "updating inventory.max_X")) return false;
  if (!put_or_report(putf64(s, scaling.get_x(inventory.min_X)), "updating inventory.min_X")) return false;
  if (!put_or_report(putf64(s, scaling.get_y(inventory.max_Y)), "updating inventory.max_Y")) return false;
  if (!put_or_report(putf64(s, scaling.get_y(inventory.min_Y)), "updating inventory.min_Y")) return false;
  if (!put_or_report(putf64(s, scaling.get_z(inventory.max_Z)), "updating inventory.max_Z")) return false;
  if (!put_or_report(putf64(s, scaling.get_z(inventory.min_Z)), "updating inventory.min_Z")) return false;
  if (minor >= 4 && written_minor >= 4) {
    if (!put_or_report(s->seek(header_start_position + at(EXTENDED_NUMBER_OF_POINT_RECORDS)),
                       "updating header->extended_number_of_point_records"))
      return false;
    if (!put_or_report(put64(s, (U64)count), "updating header->extended_number_of_point_records")) return false;
    for (U32 r = 1; r <= EXTENDED_POINTS_BY_RETURN_COUNT; r++)
      if (!put_or_report(put64(s, (U64)inventory.number_of_points_by_return[r]),
                         "updating header->extended_number_of_points_by_return[%d]", r - 1))
        return false;
  }
  if (minor >= 5 && written_minor >= 5) {
    if (!put_or_report(s->seek(header_start_position + at(MAX_GPS_TIME)), "updating inventory.max_gps_time"))
      return false;
    if (!put_or_report(putf64(s, inventory.max_gps_time), "updating inventory.max_gps_time")) return false;
    if (!put_or_report(putf64(s, inventory.min_gps_time), "updating inventory.min_gps_time")) return false;
  }
  return true;
}

bool LASwriterLAS::patch_from_header(const LASheader* header) {
  ByteStreamOut* s = stream;
  const U8 format = header->point_data_format & 0x7F;
  const U8 minor = header->version_minor;
  const bool legacy_counts = legacy_counts_carried(format, minor);
  if (!put_or_report(s->seek(header_start_position + at(NUMBER_OF_POINT_RECORDS)),
                     "updating header->number_of_point_records"))
    return false;
  if (!put_or_report(put32(s, legacy_counts ? header->number_of_point_records : 0),
                     "updating header->number_of_point_records"))
    return false;
  points_expected = header->number_of_point_records ? (I64)header->number_of_point_records
                                                     : (I64)header->extended_number_of_point_records;
  for (U32 i = 0; i < POINTS_BY_RETURN_COUNT; i++)
    if (!put_or_report(put32(s, legacy_counts ? header->number_of_points_by_return[i] : 0),
                       "updating header->number_of_points_by_return[%d]", i))
      return false;
  if (!put_or_report(s->seek(header_start_position + at(MAX_X)), "updating header->max_x")) return false;
  if (!put_or_report(putf64(s, header->max_x), "updating header->max_x")) return false;
  if (!put_or_report(putf64(s, header->min_x), "updating header->min_x")) return false;
  if (!put_or_report(putf64(s, header->max_y), "updating header->max_y")) return false;
  if (!put_or_report(putf64(s, header->min_y), "updating header->min_y")) return false;
  if (!put_or_report(putf64(s, header->max_z), "updating header->max_z")) return false;
  if (!put_or_report(putf64(s, header->min_z), "updating header->min_z")) return false;
  if (minor >= 3 && written_minor >= 3) {
    if (header->start_of_waveform_data_packet_record != 0) {
      LASMessage(WARNING, "header->start_of_waveform_data_packet_record is %lld. writing 0 instead.",
                 (long long)header->start_of_waveform_data_packet_record);
      if (!put_or_report(put64(s, 0), "updating start_of_waveform_data_packet_record")) return false;
    } else {
      if (!put_or_report(put64(s, 0), "updating header->start_of_waveform_data_packet_record")) return false;
    }
  }
  if (minor >= 4 && written_minor >= 4) {
    if (!put_or_report(s->seek(header_start_position + at(START_OF_FIRST_EXTENDED_VARIABLE_LENGTH_RECORD)),
                       "updating header->start_of_first_extended_variable_length_record"))
      return false;
    if (!put_or_report(put64(s, header->start_of_first_extended_variable_length_record),
                       "updating header->start_of_first_extended_variable_length_record"))
      return false;
    start_of_first_extended_variable_length_record = header->start_of_first_extended_variable_length_record;
    // The count of the EVLRs that close will really write.
    if (!put_or_report(put32(s, number_of_extended_variable_length_records),
                       "updating header->number_of_extended_variable_length_records"))
      return false;
    const U64 count = header->number_of_point_records ? header->number_of_point_records
                                                      : header->extended_number_of_point_records;
    if (!put_or_report(put64(s, count), "updating header->extended_number_of_point_records")) return false;
    for (U32 i = 0; i < EXTENDED_POINTS_BY_RETURN_COUNT; i++) {
      U64 n = header->extended_number_of_points_by_return[i];
      if (i < POINTS_BY_RETURN_COUNT && header->number_of_points_by_return[i]) n = header->number_of_points_by_return[i];
      if (!put_or_report(put64(s, n), "updating header->extended_number_of_points_by_return[%d]", i)) return false;
    }
  }
  if (minor >= 5 && written_minor >= 5) {
    if (!put_or_report(s->seek(header_start_position + at(MAX_GPS_TIME)), "updating header->max_gps_time"))
      return false;
    if (!put_or_report(putf64(s, header->max_gps_time), "updating header->max_gps_time")) return false;
    if (!put_or_report(putf64(s, header->min_gps_time), "updating header->min_gps_time")) return false;
    if (!put_or_report(put16(s, header->time_offset), "updating header->time_offset")) return false;
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
    if (!put_or_report(put16(s, evlr.reserved), "writing evlrs[%d].reserved", i)) return false;
    if (!put_or_report(s->putBytes((const U8*)evlr.user_id, USER_ID_SIZE), "writing evlrs[%d].user_id", i))
      return false;
    if (!put_or_report(put16(s, evlr.record_id), "writing evlrs[%d].record_id", i)) return false;
    if (!put_or_report(put64(s, evlr.record_length_after_header), "writing evlrs[%d].record_length_after_header", i))
      return false;
    if (!put_or_report(s->putBytes((const U8*)evlr.description, DESCRIPTION_SIZE), "writing evlrs[%d].description", i))
      return false;
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

I64 LASwriterLAS::close(bool update_npoints) {
  // Reported when it happened.
  bool failed = patch_failed;
  patch_failed = false;
  if (points_written != points_expected && (points_expected != 0 || !update_npoints))
    LASMessage(WARNING, "written %lld points but expected %lld points", (long long)points_written,
               (long long)points_expected);
  if (writer) {
    if (!writer->done()) {
      laserror("finishing the point data failed");
      failed = true;
    }
    delete writer;
    writer = nullptr;
  }
  if (!failed && stream && writing_las_1_4 && number_of_extended_variable_length_records && evlrs) {
    if (!write_evlrs()) failed = true;
  }
  I64 bytes = 0;
  if (stream) {
    if (!failed && update_npoints && points_written != points_expected) {
      if (stream->isSeekable()) {
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
      } else {
        LASMessage(WARNING, "stream not seekable. cannot update header from %lld to %lld points.",
                   (long long)points_expected, (long long)points_written);
      }
    }
    bytes = stream->tell() - header_start_position;
    // Bytes the file refused, now or in an earlier buffered write, mean the
    // output is lost: that is an error, not a byte count.
    if (ByteStreamOutFile* file_stream = dynamic_cast<ByteStreamOutFile*>(stream)) {
      bool kept = flush_blocked(stream);
      kept = fflush(file_stream->get_file()) == 0 && kept;
      kept = kept && !ferror(file_stream->get_file());
      if (!kept && !failed) {
        laserror("writing the output failed");
        failed = true;
      }
    }
    if (delete_stream) delete stream;
    stream = nullptr;
  }
  if (file) {
    file = nullptr;
    if (!output.close() && !failed) {
      laserror("closing the output file failed");
      failed = true;
    }
    // A failed output never takes the name: what was there stays.
    if (failed) {
      output.discard();
    } else {
      const std::string written_to = output.get_writing_name();
      if (!output.commit()) {
        laserror("cannot rename '%s' to '%s'", written_to.c_str(), output.get_name());
        failed = true;
      }
    }
  }
  evlrs = nullptr;
  number_of_extended_variable_length_records = 0;
  writing_las_1_4 = false;
  writing_new_point_type = false;
  points_expected = points_written;
  points_written = 0;
  return failed ? 0 : bytes;
}
