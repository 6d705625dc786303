// Byte layout of LAS and VMB files as the LAS reader and writer see it: the
// public header of LAS 1.0 to 1.5, the VLR and EVLR headers, the point items
// and the payloads of the records the framework decodes or writes itself.
// Everything is little-endian and packed; strings are zero-padded fixed-width
// fields. The tables live here once so the reader and the writer cannot drift,
// and the static_asserts below make the compiler check that they add up.
#pragma once

#include "core/mydefs.hpp"

namespace laslayout {

// One packed field: its name as the messages spell it ("reading header.%s"),
// its offset from the start of its record, its total width and, in the public
// header, the first minor version of LAS 1.x that has it.
struct Field {
  const char* name;
  U32 offset;
  U32 size;
  U8 min_minor;
};

// The fields of a table follow each other without gaps.
template <typename Table>
constexpr bool contiguous(const Table& table) {
  U32 next = 0;
  for (const Field& field : table) {
    if (field.offset != next || field.size == 0) return false;
    next = field.offset + field.size;
  }
  return true;
}

template <typename Table>
constexpr U32 table_size(const Table& table) {
  U32 end = 0;
  for (const Field& field : table) end = field.offset + field.size;
  return end;
}

// ---------------------------------------------------------------- public header

enum HeaderField {
  FILE_SIGNATURE,
  FILE_SOURCE_ID,
  GLOBAL_ENCODING,
  PROJECT_ID_GUID_DATA_1,
  PROJECT_ID_GUID_DATA_2,
  PROJECT_ID_GUID_DATA_3,
  PROJECT_ID_GUID_DATA_4,
  VERSION_MAJOR,
  VERSION_MINOR,
  SYSTEM_IDENTIFIER,
  GENERATING_SOFTWARE,
  FILE_CREATION_DAY,
  FILE_CREATION_YEAR,
  HEADER_SIZE,
  OFFSET_TO_POINT_DATA,
  NUMBER_OF_VARIABLE_LENGTH_RECORDS,
  POINT_DATA_FORMAT,
  POINT_DATA_RECORD_LENGTH,
  NUMBER_OF_POINT_RECORDS,
  NUMBER_OF_POINTS_BY_RETURN,
  X_SCALE_FACTOR,
  Y_SCALE_FACTOR,
  Z_SCALE_FACTOR,
  X_OFFSET,
  Y_OFFSET,
  Z_OFFSET,
  MAX_X,
  MIN_X,
  MAX_Y,
  MIN_Y,
  MAX_Z,
  MIN_Z,
  START_OF_WAVEFORM_DATA_PACKET_RECORD,
  START_OF_FIRST_EXTENDED_VARIABLE_LENGTH_RECORD,
  NUMBER_OF_EXTENDED_VARIABLE_LENGTH_RECORDS,
  EXTENDED_NUMBER_OF_POINT_RECORDS,
  EXTENDED_NUMBER_OF_POINTS_BY_RETURN,
  MAX_GPS_TIME,
  MIN_GPS_TIME,
  TIME_OFFSET,
  HEADER_FIELD_COUNT
};

inline constexpr Field HEADER[HEADER_FIELD_COUNT] = {
    {"file_signature", 0, 4, 0},
    {"file_source_ID", 4, 2, 0},
    {"global_encoding", 6, 2, 0},
    {"project_ID_GUID_data_1", 8, 4, 0},
    {"project_ID_GUID_data_2", 12, 2, 0},
    {"project_ID_GUID_data_3", 14, 2, 0},
    {"project_ID_GUID_data_4", 16, 8, 0},
    {"version_major", 24, 1, 0},
    {"version_minor", 25, 1, 0},
    {"system_identifier", 26, 32, 0},
    {"generating_software", 58, 32, 0},
    {"file_creation_day", 90, 2, 0},
    {"file_creation_year", 92, 2, 0},
    {"header_size", 94, 2, 0},
    {"offset_to_point_data", 96, 4, 0},
    {"number_of_variable_length_records", 100, 4, 0},
    {"point_data_format", 104, 1, 0},
    {"point_data_record_length", 105, 2, 0},
    {"number_of_point_records", 107, 4, 0},
    {"number_of_points_by_return", 111, 20, 0},
    {"x_scale_factor", 131, 8, 0},
    {"y_scale_factor", 139, 8, 0},
    {"z_scale_factor", 147, 8, 0},
    {"x_offset", 155, 8, 0},
    {"y_offset", 163, 8, 0},
    {"z_offset", 171, 8, 0},
    {"max_x", 179, 8, 0},
    {"min_x", 187, 8, 0},
    {"max_y", 195, 8, 0},
    {"min_y", 203, 8, 0},
    {"max_z", 211, 8, 0},
    {"min_z", 219, 8, 0},
    {"start_of_waveform_data_packet_record", 227, 8, 3},
    {"start_of_first_extended_variable_length_record", 235, 8, 4},
    {"number_of_extended_variable_length_records", 243, 4, 4},
    {"extended_number_of_point_records", 247, 8, 4},
    {"extended_number_of_points_by_return", 255, 120, 4},
    {"max_gps_time", 375, 8, 5},
    {"min_gps_time", 383, 8, 5},
    {"time_offset", 391, 2, 5},
};

// Entries of the two by-return arrays.
inline constexpr U32 POINTS_BY_RETURN_COUNT = 5;
inline constexpr U32 EXTENDED_POINTS_BY_RETURN_COUNT = 15;

// Standard sizes of the public header by version; the bytes beyond them (up to
// header_size) are user data in the header.
inline constexpr U32 HEADER_SIZE_1_0 = 227;  // also 1.1 and 1.2
inline constexpr U32 HEADER_SIZE_1_3 = 235;
inline constexpr U32 HEADER_SIZE_1_4 = 375;
inline constexpr U32 HEADER_SIZE_1_5 = 393;

// Standard header size of LAS 1.`minor` (later minors than 5 take 1.5's).
constexpr U32 standard_header_size(U8 minor) {
  return (minor >= 5) ? HEADER_SIZE_1_5 : (minor == 4) ? HEADER_SIZE_1_4 : (minor == 3) ? HEADER_SIZE_1_3 : HEADER_SIZE_1_0;
}

// End of the fields that LAS 1.`minor` has.
constexpr U32 header_end_of_version(U8 minor) {
  U32 end = 0;
  for (const Field& field : HEADER)
    if (field.min_minor <= minor) end = field.offset + field.size;
  return end;
}

// Point data formats LAS 1.`minor` allows: 1.0 and 1.1 formats 0-1, 1.2 0-3,
// 1.3 0-5, 1.4 0-10, 1.5 and later 6-10. Compression bits must be cleared first.
constexpr bool point_format_allowed(U8 minor, U8 format) {
  if (format > 10) return false;
  if (minor <= 1) return format <= 1;
  if (minor == 2) return format <= 3;
  if (minor == 3) return format <= 5;
  if (minor == 4) return true;
  return format >= 6;
}

// Bits of point_data_format that mark compressed point data.
inline constexpr U8 POINT_FORMAT_COMPRESSED_BIT7 = 0x80;
inline constexpr U8 POINT_FORMAT_COMPRESSED_BIT6 = 0x40;
inline constexpr U8 POINT_FORMAT_COMPRESSED_BITS = 0xC0;

inline constexpr char FILE_SIGNATURE_TEXT[5] = "LASF";

static_assert(contiguous(HEADER));
static_assert(header_end_of_version(0) == HEADER_SIZE_1_0);
static_assert(header_end_of_version(2) == HEADER_SIZE_1_0);
static_assert(header_end_of_version(3) == HEADER_SIZE_1_3);
static_assert(header_end_of_version(4) == HEADER_SIZE_1_4);
static_assert(header_end_of_version(5) == HEADER_SIZE_1_5);
static_assert(table_size(HEADER) == HEADER_SIZE_1_5);
static_assert(HEADER[NUMBER_OF_POINTS_BY_RETURN].size == 4 * POINTS_BY_RETURN_COUNT);
static_assert(HEADER[EXTENDED_NUMBER_OF_POINTS_BY_RETURN].size == 8 * EXTENDED_POINTS_BY_RETURN_COUNT);
static_assert(standard_header_size(2) == 227 && standard_header_size(3) == 235 && standard_header_size(4) == 375 &&
              standard_header_size(5) == 393);

// -------------------------------------------------------- VLR and EVLR headers

enum RecordHeaderField { RECORD_RESERVED, RECORD_USER_ID, RECORD_RECORD_ID, RECORD_LENGTH_AFTER_HEADER, RECORD_DESCRIPTION, RECORD_HEADER_FIELD_COUNT };

inline constexpr Field VLR_HEADER[RECORD_HEADER_FIELD_COUNT] = {
    {"reserved", 0, 2, 0},
    {"user_id", 2, 16, 0},
    {"record_id", 18, 2, 0},
    {"record_length_after_header", 20, 2, 0},
    {"description", 22, 32, 0},
};
inline constexpr Field EVLR_HEADER[RECORD_HEADER_FIELD_COUNT] = {
    {"reserved", 0, 2, 0},
    {"user_id", 2, 16, 0},
    {"record_id", 18, 2, 0},
    {"record_length_after_header", 20, 8, 0},
    {"description", 28, 32, 0},
};
inline constexpr U32 VLR_HEADER_SIZE = 54;
inline constexpr U32 EVLR_HEADER_SIZE = 60;
inline constexpr U32 USER_ID_SIZE = 16;
inline constexpr U32 DESCRIPTION_SIZE = 32;

static_assert(contiguous(VLR_HEADER) && table_size(VLR_HEADER) == VLR_HEADER_SIZE);
static_assert(contiguous(EVLR_HEADER) && table_size(EVLR_HEADER) == EVLR_HEADER_SIZE);
static_assert(VLR_HEADER[RECORD_USER_ID].size == USER_ID_SIZE && VLR_HEADER[RECORD_DESCRIPTION].size == DESCRIPTION_SIZE);
static_assert(EVLR_HEADER[RECORD_USER_ID].size == USER_ID_SIZE && EVLR_HEADER[RECORD_DESCRIPTION].size == DESCRIPTION_SIZE);

// ---------------------------------------------------------------- point items

// Disk sizes of the item kinds (BYTE and BYTE14 have the size of the extra bytes).
inline constexpr U32 POINT10_SIZE = 20;
inline constexpr U32 GPSTIME11_SIZE = 8;
inline constexpr U32 RGB12_SIZE = 6;  // also RGB14
inline constexpr U32 RGBNIR14_SIZE = 8;
inline constexpr U32 WAVEPACKET_SIZE = 29;  // WAVEPACKET13 and WAVEPACKET14
inline constexpr U32 POINT14_SIZE = 30;

enum Point10Field { P10_X, P10_Y, P10_Z, P10_INTENSITY, P10_RETURN_BYTE, P10_CLASS_BYTE, P10_SCAN_ANGLE_RANK, P10_USER_DATA, P10_POINT_SOURCE_ID, POINT10_FIELD_COUNT };
inline constexpr Field POINT10[POINT10_FIELD_COUNT] = {
    {"X", 0, 4, 0},
    {"Y", 4, 4, 0},
    {"Z", 8, 4, 0},
    {"intensity", 12, 2, 0},
    {"return byte", 14, 1, 0},
    {"class byte", 15, 1, 0},
    {"scan_angle_rank", 16, 1, 0},
    {"user_data", 17, 1, 0},
    {"point_source_ID", 18, 2, 0},
};
// POINT10 return byte and class byte.
inline constexpr U8 P10_RETURN_NUMBER_MASK = 0x07;         // bits 0-2
inline constexpr U8 P10_NUMBER_OF_RETURNS_MASK = 0x38;     // bits 3-5
inline constexpr U8 P10_NUMBER_OF_RETURNS_SHIFT = 3;
inline constexpr U8 P10_SCAN_DIRECTION_BIT = 0x40;         // bit 6 (also POINT14 flags byte)
inline constexpr U8 P10_EDGE_OF_FLIGHT_LINE_BIT = 0x80;    // bit 7 (also POINT14 flags byte)
inline constexpr U8 P10_CLASSIFICATION_MASK = 0x1F;        // bits 0-4
inline constexpr U8 P10_SYNTHETIC_BIT = 0x20;
inline constexpr U8 P10_KEYPOINT_BIT = 0x40;
inline constexpr U8 P10_WITHHELD_BIT = 0x80;

enum Point14Field {
  P14_X,
  P14_Y,
  P14_Z,
  P14_INTENSITY,
  P14_RETURN_BYTE,
  P14_FLAGS_BYTE,
  P14_CLASSIFICATION,
  P14_USER_DATA,
  P14_SCAN_ANGLE,
  P14_POINT_SOURCE_ID,
  P14_GPS_TIME,
  POINT14_FIELD_COUNT
};
inline constexpr Field POINT14[POINT14_FIELD_COUNT] = {
    {"X", 0, 4, 0},
    {"Y", 4, 4, 0},
    {"Z", 8, 4, 0},
    {"intensity", 12, 2, 0},
    {"return byte", 14, 1, 0},
    {"flags byte", 15, 1, 0},
    {"classification", 16, 1, 0},
    {"user_data", 17, 1, 0},
    {"scan_angle", 18, 2, 0},
    {"point_source_ID", 20, 2, 0},
    {"gps_time", 22, 8, 0},
};
// POINT14 return byte and flags byte.
inline constexpr U8 P14_RETURN_NUMBER_MASK = 0x0F;       // bits 0-3
inline constexpr U8 P14_NUMBER_OF_RETURNS_SHIFT = 4;     // bits 4-7
inline constexpr U8 P14_CLASSIFICATION_FLAGS_MASK = 0x0F;  // synthetic 1, keypoint 2, withheld 4, overlap 8
inline constexpr U8 P14_OVERLAP_BIT = 0x08;
inline constexpr U8 P14_SCANNER_CHANNEL_MASK = 0x30;     // bits 4-5
inline constexpr U8 P14_SCANNER_CHANNEL_SHIFT = 4;
inline constexpr U8 P14_SCAN_DIRECTION_BIT = 0x40;
inline constexpr U8 P14_EDGE_OF_FLIGHT_LINE_BIT = 0x80;
// Scan angle of POINT14 in units of this many degrees.
inline constexpr F32 P14_SCAN_ANGLE_UNIT = 0.006f;

enum WavePacketField { WP_DESCRIPTOR_INDEX, WP_OFFSET, WP_PACKET_SIZE, WP_RETURN_POINT_LOCATION, WP_DX, WP_DY, WP_DZ, WAVEPACKET_FIELD_COUNT };
inline constexpr Field WAVEPACKET[WAVEPACKET_FIELD_COUNT] = {
    {"descriptor index", 0, 1, 0},
    {"byte offset to waveform data", 1, 8, 0},
    {"waveform packet size", 9, 4, 0},
    {"return point waveform location", 13, 4, 0},
    {"x(t)", 17, 4, 0},
    {"y(t)", 21, 4, 0},
    {"z(t)", 25, 4, 0},
};

static_assert(contiguous(POINT10) && table_size(POINT10) == POINT10_SIZE);
static_assert(contiguous(POINT14) && table_size(POINT14) == POINT14_SIZE);
static_assert(contiguous(WAVEPACKET) && table_size(WAVEPACKET) == WAVEPACKET_SIZE);

// Where the parts of a point record of each point data format lie: the core
// item at 0, then the optional parts in item order; -1 for a part the format
// lacks. Extra bytes (BYTE for 0-5, BYTE14 for 6-10) follow at base_size.
struct PointFormat {
  U16 base_size;
  U16 core_size;  // POINT10 or POINT14
  I16 gps_time;   // GPSTIME11 offset; formats 6-10 carry GPS time inside POINT14
  I16 rgb;        // RGB12 / RGB14 / RGBNIR14 offset
  U8 rgb_size;    // 0, 6 or 8
  I16 wave_packet;
};

inline constexpr U8 POINT_FORMAT_COUNT = 11;
inline constexpr PointFormat POINT_FORMATS[POINT_FORMAT_COUNT] = {
    {20, 20, -1, -1, 0, -1},  // 0: POINT10
    {28, 20, 20, -1, 0, -1},  // 1: POINT10 GPSTIME11
    {26, 20, -1, 20, 6, -1},  // 2: POINT10 RGB12
    {34, 20, 20, 28, 6, -1},  // 3: POINT10 GPSTIME11 RGB12
    {57, 20, 20, -1, 0, 28},  // 4: POINT10 GPSTIME11 WAVEPACKET13
    {63, 20, 20, 28, 6, 34},  // 5: POINT10 GPSTIME11 RGB12 WAVEPACKET13
    {30, 30, -1, -1, 0, -1},  // 6: POINT14
    {36, 30, -1, 30, 6, -1},  // 7: POINT14 RGB14
    {38, 30, -1, 30, 8, -1},  // 8: POINT14 RGBNIR14
    {59, 30, -1, -1, 0, 30},  // 9: POINT14 WAVEPACKET14
    {67, 30, -1, 30, 8, 38},  // 10: POINT14 RGBNIR14 WAVEPACKET14
};

constexpr U16 point_format_base_size(U8 format) { return (format < POINT_FORMAT_COUNT) ? POINT_FORMATS[format].base_size : 0; }

// The parts of each format, laid end to end, give its base size.
constexpr bool point_formats_add_up() {
  for (U8 f = 0; f < POINT_FORMAT_COUNT; f++) {
    const PointFormat& p = POINT_FORMATS[f];
    U32 end = p.core_size;
    if (p.core_size != ((f < 6) ? POINT10_SIZE : POINT14_SIZE)) return false;
    if (p.gps_time >= 0) {
      if ((U32)p.gps_time != end) return false;
      end += GPSTIME11_SIZE;
    }
    if (p.rgb >= 0) {
      if ((U32)p.rgb != end || (p.rgb_size != RGB12_SIZE && p.rgb_size != RGBNIR14_SIZE)) return false;
      end += p.rgb_size;
    } else if (p.rgb_size != 0) {
      return false;
    }
    if (p.wave_packet >= 0) {
      if ((U32)p.wave_packet != end) return false;
      end += WAVEPACKET_SIZE;
    }
    if (end != p.base_size) return false;
  }
  return true;
}
static_assert(point_formats_add_up());

// ------------------------------------------------------------ special records

inline constexpr char USER_ID_LASF_SPEC[] = "LASF_Spec";
inline constexpr char USER_ID_LASF_PROJECTION[] = "LASF_Projection";
inline constexpr char USER_ID_SUITE[] = "Pelkarts";
inline constexpr char USER_ID_SUITE_TILE[] = "pelkarts tile";
inline constexpr char USER_ID_COMPRESSOR[] = "vembra encoded";
inline constexpr char USER_ID_COPC[] = "copc";

// LASF_Spec records.
inline constexpr U16 RECORD_CLASSIFICATION_LOOKUP = 0;
inline constexpr U16 RECORD_EXTRA_BYTES = 4;
inline constexpr U16 RECORD_WAVE_PACKET_DESCR_FIRST = 100;  // descriptor index = record id - 99
inline constexpr U16 RECORD_WAVE_PACKET_DESCR_LAST = 354;
// LASF_Projection records.
inline constexpr U16 RECORD_GEO_KEY_DIRECTORY = 34735;
inline constexpr U16 RECORD_GEO_DOUBLE_PARAMS = 34736;
inline constexpr U16 RECORD_GEO_ASCII_PARAMS = 34737;
inline constexpr U16 RECORD_WKT_MATH_TRANSFORM = 2111;
inline constexpr U16 RECORD_WKT_COORDINATE_SYSTEM = 2112;
// The suite's own records; those below RECORD_SUITE_ORDINARY_FIRST are decoded
// or dropped by the reader, the others are ordinary VLRs.
inline constexpr U16 RECORD_SUITE_TILING = 10;
inline constexpr U16 RECORD_SUITE_ORIGINAL = 20;
inline constexpr U16 RECORD_SUITE_INDEX = 30;  // EVLR
inline constexpr U16 RECORD_SUITE_ORDINARY_FIRST = 2000;
inline constexpr U16 RECORD_SUITE_PTS = 2000;
inline constexpr U16 RECORD_SUITE_PTX = 2001;
// Compressor record.
inline constexpr U16 RECORD_COMPRESSOR = 22204;
// COPC records.
inline constexpr U16 RECORD_COPC_INFO = 1;
inline constexpr U16 RECORD_COPC_EXTENTS = 10000;
inline constexpr U16 RECORD_COPC_HIERARCHY = 1000;  // EVLR

// Extra Bytes descriptor (LASF_Spec 4), 192 bytes each.
enum ExtraBytesField { EB_RESERVED, EB_DATA_TYPE, EB_OPTIONS, EB_NAME, EB_UNUSED, EB_NO_DATA, EB_MIN, EB_MAX, EB_SCALE, EB_OFFSET, EB_DESCRIPTION, EXTRA_BYTES_FIELD_COUNT };
inline constexpr Field EXTRA_BYTES_DESCRIPTOR[EXTRA_BYTES_FIELD_COUNT] = {
    {"reserved", 0, 2, 0},
    {"data_type", 2, 1, 0},
    {"options", 3, 1, 0},
    {"name", 4, 32, 0},
    {"unused", 36, 4, 0},
    {"no_data", 40, 24, 0},
    {"min", 64, 24, 0},
    {"max", 88, 24, 0},
    {"scale", 112, 24, 0},
    {"offset", 136, 24, 0},
    {"description", 160, 32, 0},
};
inline constexpr U32 EXTRA_BYTES_DESCRIPTOR_SIZE = 192;
inline constexpr U8 EXTRA_BYTES_OPTION_SCALE = 0x08;
inline constexpr U8 EXTRA_BYTES_OPTION_OFFSET = 0x10;
// Descriptors that fit the 16-bit record length.
inline constexpr U32 EXTRA_BYTES_MAX_DESCRIPTORS = 65535 / EXTRA_BYTES_DESCRIPTOR_SIZE;
static_assert(contiguous(EXTRA_BYTES_DESCRIPTOR) && table_size(EXTRA_BYTES_DESCRIPTOR) == EXTRA_BYTES_DESCRIPTOR_SIZE);
static_assert(EXTRA_BYTES_MAX_DESCRIPTORS == 341);

// Wave packet descriptor (LASF_Spec 100 to 354), 26 bytes.
enum WavePacketDescrField { WPD_BITS_PER_SAMPLE, WPD_COMPRESSION_TYPE, WPD_NUMBER_OF_SAMPLES, WPD_TEMPORAL_SPACING, WPD_DIGITIZER_GAIN, WPD_DIGITIZER_OFFSET, WAVE_PACKET_DESCR_FIELD_COUNT };
inline constexpr Field WAVE_PACKET_DESCR[WAVE_PACKET_DESCR_FIELD_COUNT] = {
    {"bits_per_sample", 0, 1, 0},
    {"compression_type", 1, 1, 0},
    {"number_of_samples", 2, 4, 0},
    {"temporal_spacing", 6, 4, 0},
    {"digitizer_gain", 10, 8, 0},
    {"digitizer_offset", 18, 8, 0},
};
inline constexpr U32 WAVE_PACKET_DESCR_SIZE = 26;
static_assert(contiguous(WAVE_PACKET_DESCR) && table_size(WAVE_PACKET_DESCR) == WAVE_PACKET_DESCR_SIZE);

// GeoKeyDirectoryTag (LASF_Projection 34735): an 8-byte head, then entries of 8.
enum GeoKeysField { GK_KEY_DIRECTORY_VERSION, GK_KEY_REVISION, GK_MINOR_REVISION, GK_NUMBER_OF_KEYS, GEO_KEYS_FIELD_COUNT };
inline constexpr Field GEO_KEYS[GEO_KEYS_FIELD_COUNT] = {
    {"key_directory_version", 0, 2, 0},
    {"key_revision", 2, 2, 0},
    {"minor_revision", 4, 2, 0},
    {"number_of_keys", 6, 2, 0},
};
enum GeoKeyEntryField { GKE_KEY_ID, GKE_TIFF_TAG_LOCATION, GKE_COUNT, GKE_VALUE_OFFSET, GEO_KEY_ENTRY_FIELD_COUNT };
inline constexpr Field GEO_KEY_ENTRY[GEO_KEY_ENTRY_FIELD_COUNT] = {
    {"key_id", 0, 2, 0},
    {"tiff_tag_location", 2, 2, 0},
    {"count", 4, 2, 0},
    {"value_offset", 6, 2, 0},
};
inline constexpr U32 GEO_KEYS_HEAD_SIZE = 8;
inline constexpr U32 GEO_KEY_ENTRY_SIZE = 8;
static_assert(contiguous(GEO_KEYS) && table_size(GEO_KEYS) == GEO_KEYS_HEAD_SIZE);
static_assert(contiguous(GEO_KEY_ENTRY) && table_size(GEO_KEY_ENTRY) == GEO_KEY_ENTRY_SIZE);

// Tiling record (Pelkarts 10, or any record of "pelkarts tile"), 28 bytes.
enum TilingField { TILE_LEVEL, TILE_LEVEL_INDEX, TILE_FLAGS, TILE_MIN_X, TILE_MAX_X, TILE_MIN_Y, TILE_MAX_Y, TILING_FIELD_COUNT };
inline constexpr Field TILING[TILING_FIELD_COUNT] = {
    {"level", 0, 4, 0},
    {"level_index", 4, 4, 0},
    {"implicit_levels", 8, 4, 0},
    {"min_x", 12, 4, 0},
    {"max_x", 16, 4, 0},
    {"min_y", 20, 4, 0},
    {"max_y", 24, 4, 0},
};
inline constexpr U32 TILING_SIZE = 28;
inline constexpr U32 TILE_IMPLICIT_LEVELS_MASK = 0x3FFFFFFF;  // bits 0-29 of the flags word
inline constexpr U32 TILE_BUFFER_BIT = 0x40000000;            // bit 30
inline constexpr U32 TILE_REVERSIBLE_BIT = 0x80000000;        // bit 31
// Description as written: "with"/"without", then ", reversible" or "".
inline constexpr char TILING_DESCRIPTION_FORMAT[] = "tile %s buffer %s";
static_assert(contiguous(TILING) && table_size(TILING) == TILING_SIZE);

// Origin-counts record (Pelkarts 20), 176 bytes; its box is minimum first.
enum OriginalField { ORIG_NUMBER_OF_POINT_RECORDS, ORIG_NUMBER_OF_POINTS_BY_RETURN, ORIG_MIN_X, ORIG_MAX_X, ORIG_MIN_Y, ORIG_MAX_Y, ORIG_MIN_Z, ORIG_MAX_Z, ORIGINAL_FIELD_COUNT };
inline constexpr Field ORIGINAL[ORIGINAL_FIELD_COUNT] = {
    {"number_of_point_records", 0, 8, 0},
    {"number_of_points_by_return", 8, 120, 0},
    {"min_x", 128, 8, 0},
    {"max_x", 136, 8, 0},
    {"min_y", 144, 8, 0},
    {"max_y", 152, 8, 0},
    {"min_z", 160, 8, 0},
    {"max_z", 168, 8, 0},
};
inline constexpr U32 ORIGINAL_SIZE = 176;
inline constexpr char ORIGINAL_DESCRIPTION[] = "counters and bbox of original";
static_assert(contiguous(ORIGINAL) && table_size(ORIGINAL) == ORIGINAL_SIZE);

// COPC information (copc 1): only the root hierarchy page is read.
inline constexpr U32 COPC_INFO_SIZE = 160;
inline constexpr U32 COPC_INFO_ROOT_HIER_OFFSET = 40;  // u64
inline constexpr U32 COPC_INFO_ROOT_HIER_SIZE = 48;    // u64
// COPC hierarchy entry (EVLR copc 1000).
enum CopcEntryField { COPC_LEVEL, COPC_X, COPC_Y, COPC_Z, COPC_BYTE_OFFSET, COPC_BYTE_SIZE, COPC_POINT_COUNT, COPC_ENTRY_FIELD_COUNT };
inline constexpr Field COPC_ENTRY[COPC_ENTRY_FIELD_COUNT] = {
    {"level", 0, 4, 0},
    {"x", 4, 4, 0},
    {"y", 8, 4, 0},
    {"z", 12, 4, 0},
    {"offset", 16, 8, 0},
    {"byte_size", 24, 4, 0},
    {"point_count", 28, 4, 0},
};
inline constexpr U32 COPC_ENTRY_SIZE = 32;
static_assert(contiguous(COPC_ENTRY) && table_size(COPC_ENTRY) == COPC_ENTRY_SIZE);
static_assert(COPC_INFO_ROOT_HIER_SIZE + 8 <= COPC_INFO_SIZE);

// Compressor record (vembra encoded 22204): a 34-byte head, then 6 per item.
enum CompressorField {
  CMP_COMPRESSOR,
  CMP_CODER,
  CMP_VERSION_MAJOR,
  CMP_VERSION_MINOR,
  CMP_VERSION_REVISION,
  CMP_OPTIONS,
  CMP_CHUNK_SIZE,
  CMP_NUMBER_OF_SPECIAL_EVLRS,
  CMP_OFFSET_TO_SPECIAL_EVLRS,
  CMP_NUM_ITEMS,
  COMPRESSOR_FIELD_COUNT
};
inline constexpr Field COMPRESSOR[COMPRESSOR_FIELD_COUNT] = {
    {"compressor", 0, 2, 0},
    {"coder", 2, 2, 0},
    {"version_major", 4, 1, 0},
    {"version_minor", 5, 1, 0},
    {"version_revision", 6, 2, 0},
    {"options", 8, 4, 0},
    {"chunk_size", 12, 4, 0},
    {"number_of_special_evlrs", 16, 8, 0},
    {"offset_to_special_evlrs", 24, 8, 0},
    {"num_items", 32, 2, 0},
};
enum CompressorItemField { CMP_ITEM_TYPE, CMP_ITEM_SIZE, CMP_ITEM_VERSION, COMPRESSOR_ITEM_FIELD_COUNT };
inline constexpr Field COMPRESSOR_ITEM[COMPRESSOR_ITEM_FIELD_COUNT] = {
    {"type", 0, 2, 0},
    {"size", 2, 2, 0},
    {"version", 4, 2, 0},
};
inline constexpr U32 COMPRESSOR_HEAD_SIZE = 34;
inline constexpr U32 COMPRESSOR_ITEM_SIZE = 6;
constexpr U32 compressor_record_size(U32 num_items) { return COMPRESSOR_HEAD_SIZE + COMPRESSOR_ITEM_SIZE * num_items; }
static_assert(contiguous(COMPRESSOR) && table_size(COMPRESSOR) == COMPRESSOR_HEAD_SIZE);
static_assert(contiguous(COMPRESSOR_ITEM) && table_size(COMPRESSOR_ITEM) == COMPRESSOR_ITEM_SIZE);
static_assert(compressor_record_size(2) == 46);

// Bytes a record of each kind adds to the point data offset when written.
inline constexpr U32 vlr_bytes(U16 payload) { return VLR_HEADER_SIZE + payload; }
inline constexpr U64 evlr_bytes(U64 payload) { return EVLR_HEADER_SIZE + payload; }
static_assert(vlr_bytes(28) == 82 && evlr_bytes(28) == 88);

}  // namespace laslayout
