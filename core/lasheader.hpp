// The in-memory LAS header with everything kept beside it: the variable-length
// and extended records, the special records decoded from them, the compressor
// description, the tiling and origin-counts records, the extra-bytes attribute
// table and the user data around the records. It owns all of these. The byte
// layout on disk belongs to the reader and writer; this is only the model.
#pragma once

#include <memory>

#include "core/lasattributer.hpp"
#include "core/lasitem.hpp"
#include "core/lasvlr.hpp"

class Vembra;

// Deletes a compressor description. Defined beside the description, so that a
// header can own one knowing only its name.
struct LASdeleteVembra {
  void operator()(Vembra* vembra) const;
};

// The description of every record the framework adds to a header.
constexpr const char* LAS_RECORD_DESCRIPTION = "by Pelkarts of Vantroskel GmbH";

// Ownership and how each owned part is released:
// - with free(): user_data_in_header, user_data_after_header, the vlrs and
//   evlrs arrays and every payload in them, the wave_packet_descriptors table,
//   copc_entries (and the attribute arrays, see LASattributeTable);
// - held in std::unique_ptr (so reset() or a move, never delete): compressor,
//   vlr_lastiling, vlr_lasoriginal, copc_info.
// vlr_geo_keys to classification_lookup and the entries of the wave packet
// table point into payloads of vlrs or evlrs and are never freed on their own.
class LASheader : public LASscaling, public LASattributeTable {
 public:
  char file_signature[4] = {'L', 'A', 'S', 'F'};
  U16 file_source_ID = 0;
  U16 global_encoding = 0;
  U32 project_ID_GUID_data_1 = 0;
  U16 project_ID_GUID_data_2 = 0;
  U16 project_ID_GUID_data_3 = 0;
  U8 project_ID_GUID_data_4[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  U8 version_major = 1;
  U8 version_minor = 2;
  char system_identifier[33] = {};
  char generating_software[33] = {};
  U16 file_creation_day = 0;
  U16 file_creation_year = 0;
  U16 header_size = 227;
  U32 offset_to_point_data = 227;
  U32 number_of_variable_length_records = 0;
  U8 point_data_format = 0;
  U16 point_data_record_length = 20;
  U32 number_of_point_records = 0;
  U32 number_of_points_by_return[5] = {0, 0, 0, 0, 0};
  F64 max_x = 0.0;
  F64 min_x = 0.0;
  F64 max_y = 0.0;
  F64 min_y = 0.0;
  F64 max_z = 0.0;
  F64 min_z = 0.0;
  U64 start_of_waveform_data_packet_record = 0;
  U64 start_of_first_extended_variable_length_record = 0;
  U32 number_of_extended_variable_length_records = 0;
  U64 extended_number_of_point_records = 0;
  U64 extended_number_of_points_by_return[15] = {};
  F64 max_gps_time = 0.0;
  F64 min_gps_time = 0.0;
  U16 time_offset = 0;

  U32 user_data_in_header_bytes = 0;
  U8* user_data_in_header = nullptr;
  LASvlrRecord* vlrs = nullptr;
  LASevlrRecord* evlrs = nullptr;
  LASvlrGeoKeys* vlr_geo_keys = nullptr;
  LASvlrKeyEntry* geo_key_entries = nullptr;
  F64* geo_double_params = nullptr;
  char* geo_ascii_params = nullptr;
  char* ogc_math_transform_wkt = nullptr;
  char* ogc_coordinate_system_wkt = nullptr;
  LASvlrClassification* classification_lookup = nullptr;
  // 256 entries, index = record id - 99; entry 0 stays empty.
  LASvlrWavePacketDescr** wave_packet_descriptors = nullptr;
  U32 number_of_copc_entries = 0;
  std::unique_ptr<LASvlrCopcInfo> copc_info;
  LASvlr_copc_entry* copc_entries = nullptr;
  std::unique_ptr<Vembra, LASdeleteVembra> compressor;
  std::unique_ptr<LASvlrTiling> vlr_lastiling;
  std::unique_ptr<LASvlrOriginal> vlr_lasoriginal;
  U32 user_data_after_header_bytes = 0;
  U8* user_data_after_header = nullptr;

  LASheader() = default;
  ~LASheader() { free_owned_parts(); }
  // Headers own raw arrays: a copy that takes the records is made by take_over.
  LASheader(const LASheader&) = delete;
  LASheader& operator=(const LASheader&) = delete;

  // Frees every owned part and restores every default.
  void clean();

  // Adds a VLR, or replaces the payload of the first one with the same user id
  // (first 16 characters) and record id, keeping offset_to_point_data in step.
  // The header owns `data` from the call on (released with free()), also when
  // the record cannot be added (false, nothing changed) or when the length is 0
  // (the record then has no payload). The description is at most 31 characters,
  // LAS_RECORD_DESCRIPTION when none is given.
  bool add_vlr(const char* user_id, const U16 record_id, const U16 record_length_after_header, U8* data,
               const char* description = nullptr);
  // Removes the first VLR with that user id and record id; the last VLR moves
  // into its slot. False when there is none.
  bool remove_vlr(const char* user_id, const U16 record_id);
  // The same for the EVLR list; the EVLR start is cleared when none remains.
  bool remove_evlr(const char* user_id, const U16 record_id);
  // The first VLR with that user id and record id, or null.
  const LASvlrRecord* get_vlr(const char* user_id, const U16 record_id) const;

  // Rewrites the Extra Bytes record ("LASF_Spec" 4) from the attribute table:
  // removed without attributes; not touched with more than 341, whose
  // descriptors do not fit a 16-bit record length.
  bool update_extra_bytes_vlr();

  // This header becomes a field-by-field copy of `from` and takes over every
  // part `from` owns; `from` keeps no user data, VLRs, EVLRs, compressor,
  // tiling or origin-counts record and no longer owns its attribute arrays, and
  // its offset to point data becomes its header size. The wave packet table and
  // the COPC parts go with the VLRs; `from` still points to the table and the
  // COPC entries, but no longer to the COPC information. With
  // `duplicate_attributes` this header gets its own copies of the attribute
  // arrays and `from` keeps owning its arrays.
  void take_over(LASheader& from, const bool duplicate_attributes = false);

 private:
  void free_owned_parts();
  void copy_fields_from(const LASheader& other);
  // Releases a payload that leaves a record: the special-record pointers into it
  // become null, and it is freed unless it is the attribute descriptor array.
  void release_payload(U8* data, U64 length);
  // Set in a header that gave its wave packet table and COPC parts away with
  // its VLRs: it still points to them but must not free them.
  bool borrows_vlr_parts = false;
};
