// Header bookkeeping: records added and removed with offset_to_point_data kept in
// step, the Extra Bytes record rebuilt from the attribute table, clean-up in a
// fixed order, and the take-over of every owned part by another header.
#include "core/lasheader.hpp"

#include <cstdint>
#include <cstdlib>
#include <utility>

#include "core/lasheadercodec.hpp"

namespace {

bool same_record(const char* stored_user_id, U16 stored_record_id, const char* user_id, U16 record_id) {
  return stored_record_id == record_id && strncmp(stored_user_id, user_id, 16) == 0;
}

void copy_user_id(char (&target)[17], const char* user_id) {
  size_t n = strnlen(user_id, 16);
  memcpy(target, user_id, n);
  target[n] = '\0';
}

bool points_into(const void* pointer, const U8* data, U64 length) {
  uintptr_t p = (uintptr_t)pointer;
  uintptr_t start = (uintptr_t)data;
  return pointer != nullptr && p >= start && (U64)(p - start) <= length;
}

}  // namespace

void LASheader::release_payload(U8* data, U64 length) {
  if (data == nullptr) return;
  if (points_into(vlr_geo_keys, data, length)) vlr_geo_keys = nullptr;
  if (points_into(geo_key_entries, data, length)) geo_key_entries = nullptr;
  if (points_into(geo_double_params, data, length)) geo_double_params = nullptr;
  if (points_into(geo_ascii_params, data, length)) geo_ascii_params = nullptr;
  if (points_into(ogc_math_transform_wkt, data, length)) ogc_math_transform_wkt = nullptr;
  if (points_into(ogc_coordinate_system_wkt, data, length)) ogc_coordinate_system_wkt = nullptr;
  if (points_into(classification_lookup, data, length)) classification_lookup = nullptr;
  if (wave_packet_descriptors && !borrows_vlr_parts) {
    for (int i = 0; i < 256; i++)
      if (points_into(wave_packet_descriptors[i], data, length)) wave_packet_descriptors[i] = nullptr;
  }
  if (data != (U8*)attributes) free(data);
}

void LASheader::free_owned_parts() {
  if (user_data_in_header) {
    header_size -= user_data_in_header_bytes;
    offset_to_point_data -= user_data_in_header_bytes;
    free(user_data_in_header);
    user_data_in_header = nullptr;
    user_data_in_header_bytes = 0;
  }
  if (vlrs) {
    for (U32 i = 0; i < number_of_variable_length_records; i++) {
      offset_to_point_data -= LAS_VLR_HEADER_SIZE + vlrs[i].record_length_after_header;
      if (vlrs[i].data != (U8*)attributes) free(vlrs[i].data);
    }
    free(vlrs);
    vlrs = nullptr;
    number_of_variable_length_records = 0;
  }
  // The wave packet table and the COPC parts belong to the VLRs; they are
  // freed here also when no VLR array is left (a COPC file read without its
  // COPC records), unless they went to another header with the VLRs.
  if (!borrows_vlr_parts) {
    free(wave_packet_descriptors);
    free(copc_entries);
  }
  // The COPC information never stays behind in a header that gave it away.
  copc_info.reset();
  vlr_geo_keys = nullptr;
  geo_key_entries = nullptr;
  geo_double_params = nullptr;
  geo_ascii_params = nullptr;
  ogc_math_transform_wkt = nullptr;
  ogc_coordinate_system_wkt = nullptr;
  classification_lookup = nullptr;
  wave_packet_descriptors = nullptr;
  copc_entries = nullptr;
  number_of_copc_entries = 0;
  borrows_vlr_parts = false;
  if (evlrs) {
    for (U32 i = 0; i < number_of_extended_variable_length_records; i++)
      if (evlrs[i].data != (U8*)attributes) free(evlrs[i].data);
    free(evlrs);
    evlrs = nullptr;
  }
  start_of_first_extended_variable_length_record = 0;
  number_of_extended_variable_length_records = 0;
  compressor.reset();
  vlr_lastiling.reset();
  vlr_lasoriginal.reset();
  if (user_data_after_header) {
    offset_to_point_data -= user_data_after_header_bytes;
    free(user_data_after_header);
    user_data_after_header = nullptr;
    user_data_after_header_bytes = 0;
  }
  clean_attributes();
}

void LASheader::clean() {
  free_owned_parts();
  const LASheader defaults;
  copy_fields_from(defaults);
}

void LASheader::copy_fields_from(const LASheader& o) {
  static_cast<LASscaling&>(*this) = static_cast<const LASscaling&>(o);
  lasheadercodec::copy_fields(o, *this);
  user_data_in_header_bytes = o.user_data_in_header_bytes;
  user_data_in_header = o.user_data_in_header;
  vlrs = o.vlrs;
  evlrs = o.evlrs;
  vlr_geo_keys = o.vlr_geo_keys;
  geo_key_entries = o.geo_key_entries;
  geo_double_params = o.geo_double_params;
  geo_ascii_params = o.geo_ascii_params;
  ogc_math_transform_wkt = o.ogc_math_transform_wkt;
  ogc_coordinate_system_wkt = o.ogc_coordinate_system_wkt;
  classification_lookup = o.classification_lookup;
  wave_packet_descriptors = o.wave_packet_descriptors;
  number_of_copc_entries = o.number_of_copc_entries;
  copc_entries = o.copc_entries;
  user_data_after_header_bytes = o.user_data_after_header_bytes;
  user_data_after_header = o.user_data_after_header;
}

bool LASheader::add_vlr(const char* user_id, const U16 record_id, const U16 record_length_after_header, U8* data,
                        const char* description) {
  if (user_id == nullptr) {
    release_payload(data, record_length_after_header);
    return false;
  }
  LASvlrRecord* slot = nullptr;
  for (U32 i = 0; vlrs && i < number_of_variable_length_records; i++) {
    if (same_record(vlrs[i].user_id, vlrs[i].record_id, user_id, record_id)) {
      slot = &vlrs[i];
      break;
    }
  }
  if (slot) {
    // The slot and its 54 header bytes stay; only the payload changes.
    offset_to_point_data -= slot->record_length_after_header;
    if (slot->data != data) release_payload(slot->data, slot->record_length_after_header);
  } else {
    // A new block rather than realloc_las, whose answer on failure (the old
    // block) cannot be told from growth in place.
    LASvlrRecord* grown =
        (LASvlrRecord*)malloc_las(sizeof(LASvlrRecord) * ((U64)number_of_variable_length_records + 1));
    if (grown == nullptr) {
      release_payload(data, record_length_after_header);
      return false;
    }
    if (vlrs) memcpy((void*)grown, vlrs, sizeof(LASvlrRecord) * (U64)number_of_variable_length_records);
    free(vlrs);
    vlrs = grown;
    slot = &vlrs[number_of_variable_length_records];
    number_of_variable_length_records++;
    offset_to_point_data += LAS_VLR_HEADER_SIZE;
  }
  *slot = LASvlrRecord();
  copy_user_id(slot->user_id, user_id);
  slot->record_id = record_id;
  slot->record_length_after_header = record_length_after_header;
  snprintf(slot->description, sizeof(slot->description), "%.31s", description ? description : LAS_RECORD_DESCRIPTION);
  if (record_length_after_header) {
    offset_to_point_data += record_length_after_header;
    slot->data = data;
  } else {
    release_payload(data, 0);
  }
  return true;
}

bool LASheader::remove_vlr(const char* user_id, const U16 record_id) {
  if (user_id == nullptr) return false;
  for (U32 i = 0; vlrs && i < number_of_variable_length_records; i++) {
    if (!same_record(vlrs[i].user_id, vlrs[i].record_id, user_id, record_id)) continue;
    offset_to_point_data -= LAS_VLR_HEADER_SIZE + vlrs[i].record_length_after_header;
    release_payload(vlrs[i].data, vlrs[i].record_length_after_header);
    number_of_variable_length_records--;
    if (number_of_variable_length_records == 0) {
      free(vlrs);
      vlrs = nullptr;
    } else {
      vlrs[i] = vlrs[number_of_variable_length_records];
      // A failed shrink keeps the larger block, which is still correct.
      vlrs = (LASvlrRecord*)realloc_las(vlrs, sizeof(LASvlrRecord) * (U64)number_of_variable_length_records);
    }
    return true;
  }
  return false;
}

bool LASheader::remove_evlr(const char* user_id, const U16 record_id) {
  if (user_id == nullptr) return false;
  for (U32 i = 0; evlrs && i < number_of_extended_variable_length_records; i++) {
    if (!same_record(evlrs[i].user_id, evlrs[i].record_id, user_id, record_id)) continue;
    release_payload(evlrs[i].data, evlrs[i].record_length_after_header);
    number_of_extended_variable_length_records--;
    if (number_of_extended_variable_length_records == 0) {
      free(evlrs);
      evlrs = nullptr;
      start_of_first_extended_variable_length_record = 0;
    } else {
      evlrs[i] = evlrs[number_of_extended_variable_length_records];
      evlrs = (LASevlrRecord*)realloc_las(evlrs,
                                          sizeof(LASevlrRecord) * (U64)number_of_extended_variable_length_records);
    }
    return true;
  }
  return false;
}

const LASvlrRecord* LASheader::get_vlr(const char* user_id, const U16 record_id) const {
  if (user_id == nullptr) return nullptr;
  for (U32 i = 0; vlrs && i < number_of_variable_length_records; i++)
    if (same_record(vlrs[i].user_id, vlrs[i].record_id, user_id, record_id)) return &vlrs[i];
  return nullptr;
}

bool LASheader::update_extra_bytes_vlr() {
  if (number_of_attributes <= 0) {
    remove_vlr("LASF_Spec", 4);
    return true;
  }
  if (number_of_attributes > 341) return false;  // 342 x 192 bytes exceed 65535
  U32 length = (U32)number_of_attributes * (U32)sizeof(LASattributeDescriptor);
  U8* copy = (U8*)malloc_las(length);
  if (copy == nullptr) return false;
  memcpy(copy, (const void*)attributes, length);
  return add_vlr("LASF_Spec", 4, (U16)length, copy);
}

void LASheader::take_over(LASheader& from, const bool duplicate_attributes) {
  if (&from == this) return;
  free_owned_parts();
  copy_fields_from(from);
  copc_info = std::move(from.copc_info);
  compressor = std::move(from.compressor);
  vlr_lastiling = std::move(from.vlr_lastiling);
  vlr_lasoriginal = std::move(from.vlr_lasoriginal);
  borrows_vlr_parts = from.borrows_vlr_parts;
  if (duplicate_attributes) {
    init_attributes((U32)from.number_of_attributes, from.attributes);
  } else {
    number_of_attributes = from.number_of_attributes;
    attributes = from.attributes;
    attribute_starts = from.attribute_starts;
    attribute_sizes = from.attribute_sizes;
    owns_arrays = from.owns_arrays;
    from.owns_arrays = false;
  }

  // `from` keeps its other fields and its pointers to the special records and
  // the attribute arrays, but owns none of the parts that moved.
  from.user_data_in_header = nullptr;
  from.user_data_in_header_bytes = 0;
  from.vlrs = nullptr;
  from.number_of_variable_length_records = 0;
  from.evlrs = nullptr;
  from.number_of_extended_variable_length_records = 0;
  from.start_of_first_extended_variable_length_record = 0;
  from.user_data_after_header = nullptr;
  from.user_data_after_header_bytes = 0;
  from.offset_to_point_data = from.header_size;
  from.borrows_vlr_parts = true;
}
