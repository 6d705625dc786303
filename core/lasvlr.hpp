// Variable-length records as the header keeps them in memory, and the special
// records that the framework decodes from them. The byte layout on disk is
// written by the reader and writer field by field; the structs that point into
// payloads (GeoTIFF keys, wave packet descriptors) match the payload bytes.
#pragma once

#include <cstddef>
#include <cstring>

#include "core/mydefs.hpp"

// One VLR: 54 bytes of header in the file, then the payload the header owns.
struct LASvlrRecord {
  U16 reserved = 0;
  char user_id[17] = {};  // 16 characters in the file, kept terminated
  U16 record_id = 0;
  U16 record_length_after_header = 0;
  char description[33] = {};  // 32 characters in the file, kept terminated
  U8* data = nullptr;
};

// One EVLR: as a VLR with a 64-bit payload length (60 bytes of header in the file).
struct LASevlrRecord {
  U16 reserved = 0;
  char user_id[17] = {};
  U16 record_id = 0;
  U64 record_length_after_header = 0;
  char description[33] = {};
  U8* data = nullptr;
};

constexpr U32 LAS_VLR_HEADER_SIZE = 54;
constexpr U32 LAS_EVLR_HEADER_SIZE = 60;

// GeoKeyDirectoryTag ("LASF_Projection" 34735): this header, then
// `number_of_keys` entries.
struct LASvlrGeoKeys {
  U16 key_directory_version;
  U16 key_revision;
  U16 minor_revision;
  U16 number_of_keys;
};
struct LASvlrKeyEntry {
  U16 key_id;
  U16 tiff_tag_location;
  U16 count;
  U16 value_offset;
};
static_assert(sizeof(LASvlrGeoKeys) == 8 && sizeof(LASvlrKeyEntry) == 8);

// One entry of the classification lookup ("LASF_Spec" 0), carried as it is.
struct LASvlrClassification {
  U8 class_number;
  char description[15];
};
static_assert(sizeof(LASvlrClassification) == 16);

// Wave packet descriptor ("LASF_Spec" 100 to 354), 26 unaligned bytes read in
// place from the payload.
struct LASvlrWavePacketDescr {
  U8 data[26];

  U8 get_bits_per_sample() const { return data[0]; }
  U8 get_compression_type() const { return data[1]; }
  U32 get_number_of_samples() const { return las_load<U32>(data + 2); }
  U32 get_temporal_spacing() const { return las_load<U32>(data + 6); }
  F64 get_digitizer_gain() const { return las_load<F64>(data + 10); }
  F64 get_digitizer_offset() const { return las_load<F64>(data + 18); }
  void set_bits_per_sample(U8 v) { data[0] = v; }
  void set_compression_type(U8 v) { data[1] = v; }
  void set_number_of_samples(U32 v) { las_store(data + 2, v); }
  void set_temporal_spacing(U32 v) { las_store(data + 6, v); }
  void set_digitizer_gain(F64 v) { las_store(data + 10, v); }
  void set_digitizer_offset(F64 v) { las_store(data + 18, v); }
};
static_assert(sizeof(LASvlrWavePacketDescr) == 26);

// COPC information ("copc" 1), 160 bytes.
struct LASvlrCopcInfo {
  F64 center_x;
  F64 center_y;
  F64 center_z;
  F64 halfsize;
  F64 spacing;
  U64 root_hier_offset;
  U64 root_hier_size;
  F64 gpstime_minimum;
  F64 gpstime_maximum;
  U64 reserved[11];
};
static_assert(sizeof(LASvlrCopcInfo) == 160);
static_assert(offsetof(LASvlrCopcInfo, root_hier_offset) == 40);
static_assert(offsetof(LASvlrCopcInfo, root_hier_size) == 48);

// One entry of the COPC hierarchy ("copc" EVLR 1000), 32 bytes.
struct LASvlr_copc_entry {
  I32 level;
  I32 x;
  I32 y;
  I32 z;
  U64 offset;
  I32 byte_size;
  I32 point_count;  // -1: the entry names a further page
};
static_assert(sizeof(LASvlr_copc_entry) == 32);

// Tiling record ("Pelkarts" 10), 28 bytes. The third word packs the implicit
// levels (bits 0-29) with the buffer (bit 30) and reversible (bit 31) flags.
struct LASvlrTiling {
  static constexpr U32 IMPLICIT_LEVELS_MASK = 0x3FFFFFFF;
  static constexpr U32 BUFFER_BIT = 0x40000000;
  static constexpr U32 REVERSIBLE_BIT = 0x80000000;

  U32 level = 0;
  U32 level_index = 0;
  U32 implicit_levels_and_flags = 0;
  F32 min_x = 0.0f;
  F32 max_x = 0.0f;
  F32 min_y = 0.0f;
  F32 max_y = 0.0f;

  U32 get_implicit_levels() const { return implicit_levels_and_flags & IMPLICIT_LEVELS_MASK; }
  bool get_buffer() const { return implicit_levels_and_flags & BUFFER_BIT; }
  bool get_reversible() const { return implicit_levels_and_flags & REVERSIBLE_BIT; }
  void set_implicit_levels(U32 levels) {
    implicit_levels_and_flags = (implicit_levels_and_flags & ~IMPLICIT_LEVELS_MASK) | (levels & IMPLICIT_LEVELS_MASK);
  }
  void set_buffer(bool on) { set_bit(BUFFER_BIT, on); }
  void set_reversible(bool on) { set_bit(REVERSIBLE_BIT, on); }

 private:
  void set_bit(U32 bit, bool on) { implicit_levels_and_flags = on ? (implicit_levels_and_flags | bit) : (implicit_levels_and_flags & ~bit); }
};
static_assert(sizeof(LASvlrTiling) == 28);

// Counts and bounds of the file a point set was taken from ("Pelkarts" 20): a
// 176-byte payload (bounds minimum first in the file) and the file position of
// that payload, which the writer patches.
struct LASvlrOriginal {
  I64 number_of_point_records = 0;
  I64 number_of_points_by_return[15] = {};
  F64 max_x = 0.0;
  F64 min_x = 0.0;
  F64 max_y = 0.0;
  F64 min_y = 0.0;
  F64 max_z = 0.0;
  F64 min_z = 0.0;
  I64 position = 0;
};
constexpr U32 LAS_VLR_ORIGINAL_PAYLOAD_SIZE = 176;
constexpr U32 LAS_VLR_TILING_PAYLOAD_SIZE = 28;
