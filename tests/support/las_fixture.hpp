// LAS test fixtures, built and checked byte by byte.
//
// This is a second, independent reading of the LAS 1.0-1.5 layout. It shares no
// code and no constants with core/ or compressor/ (it does not even include
// their headers), so a reader test fed by it is not just our writer agreeing
// with itself, and a writer test parsed by it checks the bytes, not our reader.
//
// Build a file:
//   lasfix::LasFile f;                           // LAS 1.2, point format 0, no records
//   f.header.version_minor = 4;
//   f.header.point_data_format = 6;
//   f.extra_bytes = 3;                           // record length 30 + 3
//   f.points = {lasfix::varied_point(6, 0, 3), lasfix::varied_point(6, 1, 3)};
//   f.vlrs.push_back({"LASF_Spec", 4, payload});  // user id, record id, payload, description
//   lasfix::Built b = f.build();                 // bytes, the header as written, positions
//   temp.write("in.las", b.bytes);
// Corrupt it:
//   lasfix::put_u32(b.bytes, lasfix::header_offset("offset_to_point_data"), 1);
//   b.bytes[b.point_position(1) + 14] = 0xFF;    // return byte of point 1
// Header fields that are derived from the rest (sizes, offsets, counts, the
// bounding box, ...) are std::optional: left empty they are computed, set they
// are written as given, true or not. Everything else has a plain default.
// Check a written file:
//   lasfix::Parsed p = lasfix::parse(bytes);     // throws std::runtime_error if malformed
//   EXPECT_EQ(*p.header.number_of_point_records, 2u);
//   EXPECT_EQ(p.points[1], expected);
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lasfix {

// ------------------------------------------------------------------ header

struct Header {
  std::string file_signature = "LASF";  // written as 4 bytes, zero-padded or cut
  uint16_t file_source_ID = 0;
  uint16_t global_encoding = 0;
  uint32_t project_ID_GUID_data_1 = 0;
  uint16_t project_ID_GUID_data_2 = 0;
  uint16_t project_ID_GUID_data_3 = 0;
  std::array<uint8_t, 8> project_ID_GUID_data_4{};
  uint8_t version_major = 1;
  uint8_t version_minor = 2;  // decides which fields are written (major 1 only)
  std::string system_identifier = "fixture";      // 32 bytes, zero-padded
  std::string generating_software = "lasfix";     // 32 bytes, zero-padded
  uint16_t file_creation_day = 1;
  uint16_t file_creation_year = 2020;
  std::optional<uint16_t> header_size;            // standard size + user data in header
  std::optional<uint32_t> offset_to_point_data;   // header + VLRs + user data after them
  std::optional<uint32_t> number_of_variable_length_records;  // vlrs.size()
  uint8_t point_data_format = 0;                  // compression bits 7 and 6 included as given
  std::optional<uint16_t> point_data_record_length;  // base size + extra bytes
  std::optional<uint32_t> number_of_point_records;   // points; 0 for formats 6-10 from LAS 1.4 on
  std::optional<std::array<uint32_t, 5>> number_of_points_by_return;  // counted like the above
  double x_scale_factor = 0.01, y_scale_factor = 0.01, z_scale_factor = 0.01;
  double x_offset = 0, y_offset = 0, z_offset = 0;
  std::optional<double> max_x, min_x, max_y, min_y, max_z, min_z;  // of the points, 0 without
  // LAS 1.3 and later
  uint64_t start_of_waveform_data_packet_record = 0;
  // LAS 1.4 and later
  std::optional<uint64_t> start_of_first_extended_variable_length_record;  // after the points
  std::optional<uint32_t> number_of_extended_variable_length_records;      // evlrs.size()
  std::optional<uint64_t> extended_number_of_point_records;                // points
  std::optional<std::array<uint64_t, 15>> extended_number_of_points_by_return;
  // LAS 1.5 and later
  std::optional<double> max_gps_time, min_gps_time;  // of the points, 0 without
  uint16_t time_offset = 0;
};

// Standard header size of LAS major.minor: 227 (1.0-1.2 and majors other than
// 1), 235 (1.3), 375 (1.4), 393 (1.5 and later minors).
uint16_t standard_header_size(uint8_t major, uint8_t minor);
// Offset and width of a public header field, by its name in Header (also
// "number_of_points_by_return" and the extended array as a whole). Throws for
// an unknown name.
size_t header_offset(const std::string& field);
size_t header_field_size(const std::string& field);

// ------------------------------------------------------------------ records

struct Vlr {
  Vlr() = default;
  Vlr(std::string user_id, uint16_t record_id, std::string payload = "", std::string description = "")
      : user_id(std::move(user_id)), record_id(record_id), description(std::move(description)), payload(std::move(payload)) {}
  uint16_t reserved = 0;
  std::string user_id;      // 16 bytes, zero-padded or cut
  uint16_t record_id = 0;
  std::string description;  // 32 bytes, zero-padded or cut
  std::string payload;
  std::optional<uint16_t> record_length_after_header;  // payload size
};

struct Evlr {
  Evlr() = default;
  Evlr(std::string user_id, uint16_t record_id, std::string payload = "", std::string description = "")
      : user_id(std::move(user_id)), record_id(record_id), description(std::move(description)), payload(std::move(payload)) {}
  uint16_t reserved = 0;
  std::string user_id;
  uint16_t record_id = 0;
  std::string description;
  std::string payload;
  std::optional<uint64_t> record_length_after_header;
};

// ------------------------------------------------------------------ points

// One point record as fields; which of them a format stores is the format's
// business. Formats 0-5: 3-bit returns, 5-bit classification, scan_angle as
// the i8 rank; formats 6-10: 4-bit returns, 8-bit classification, overlap and
// scanner channel, scan_angle as i16 in units of 0.006 degree, GPS time in the
// core. Values wider than their bits are cut to them when encoded.
struct Point {
  int32_t X = 0, Y = 0, Z = 0;
  uint16_t intensity = 0;
  uint8_t return_number = 1, number_of_returns = 1;
  bool scan_direction_flag = false, edge_of_flight_line = false;
  uint8_t classification = 0;
  bool synthetic = false, keypoint = false, withheld = false, overlap = false;
  uint8_t scanner_channel = 0;
  int16_t scan_angle = 0;
  uint8_t user_data = 0;
  uint16_t point_source_ID = 0;
  double gps_time = 0;
  uint16_t red = 0, green = 0, blue = 0, nir = 0;
  uint8_t wave_descriptor_index = 0;
  uint64_t wave_offset = 0;
  uint32_t wave_size = 0;
  float wave_location = 0, wave_dx = 0, wave_dy = 0, wave_dz = 0;
  std::string extra_bytes;  // padded with zeros or cut to the record's extra bytes
  bool operator==(const Point&) const = default;
};

// Base record size of point data formats 0-10 (20 28 26 34 57 63 30 36 38 59
// 67); 0 for others. Bits 7 and 6 of the format byte are ignored.
uint16_t point_base_size(uint8_t format);
// The record of `point` in `format` (low 6 bits), `record_length` bytes long:
// the base fields, then the extra bytes (cut if the length is short).
std::string encode_point(const Point& point, uint8_t format, uint16_t record_length);
// The fields `format` stores, read from `record_length` bytes at `data`; the
// fields it lacks keep their defaults.
Point decode_point(const char* data, uint8_t format, uint16_t record_length);
// A deterministic point with every field of `format` set to a value that
// differs from point to point (index) and survives encode and decode.
Point varied_point(uint8_t format, uint32_t index, uint16_t extra_bytes = 0);

// ------------------------------------------------------------------ files

struct Built {
  std::string bytes;
  Header header;  // as written: every optional is set
  std::vector<size_t> vlr_positions;   // file position of each VLR header
  size_t point_data_position = 0;      // where the points (or point_data) begin
  uint16_t record_length = 0;
  std::vector<size_t> evlr_positions;  // file position of each EVLR header
  size_t point_position(size_t index) const { return point_data_position + index * record_length; }
};

struct LasFile {
  Header header;
  std::string user_data_in_header;     // after the standard header fields
  std::vector<Vlr> vlrs;
  std::string user_data_after_header;  // between the last VLR and the points
  uint16_t extra_bytes = 0;            // per record, beyond the format's base size
  std::vector<Point> points;
  // When set, written in place of `points` (e.g. a compressed block); the point
  // counts then default to 0 and are set by the test.
  std::optional<std::string> point_data;
  std::vector<Evlr> evlrs;  // written after the point data when present
  Built build() const;
  std::string bytes() const { return build().bytes; }
};

// A file read back. Throws std::runtime_error naming the first part that does
// not fit the bytes.
struct Parsed {
  Header header;  // every optional set (fields a version lacks stay empty/0)
  std::string user_data_in_header;
  std::vector<Vlr> vlrs;  // record_length_after_header set
  std::string user_data_after_header;
  std::string point_data;     // from offset_to_point_data to the EVLRs (or the end)
  std::vector<Point> points;  // decoded unless the format byte marks compression
  std::vector<Evlr> evlrs;
  uint64_t point_count() const;  // the legacy count, or the extended one when that is 0
};
Parsed parse(const std::string& bytes);

// ------------------------------------------------------------------ bytes

// Little-endian stores into and loads from a byte string at a position (the
// string grows when a store runs past its end). Stores are for corrupting.
void put_u8(std::string& bytes, size_t at, uint8_t value);
void put_u16(std::string& bytes, size_t at, uint16_t value);
void put_u32(std::string& bytes, size_t at, uint32_t value);
void put_u64(std::string& bytes, size_t at, uint64_t value);
void put_f32(std::string& bytes, size_t at, float value);
void put_f64(std::string& bytes, size_t at, double value);
uint8_t get_u8(const std::string& bytes, size_t at);
uint16_t get_u16(const std::string& bytes, size_t at);
uint32_t get_u32(const std::string& bytes, size_t at);
uint64_t get_u64(const std::string& bytes, size_t at);
float get_f32(const std::string& bytes, size_t at);
double get_f64(const std::string& bytes, size_t at);

// ------------------------------------------------------------------ payloads

// Extra Bytes descriptor (LASF_Spec 4), 192 bytes each.
struct ExtraBytesAttribute {
  uint8_t data_type = 0;  // 0 opaque (size in options), 1-10 u8 i8 u16 i16 u32 i32 u64 i64 f32 f64
  uint8_t options = 0;    // 0x08 scale valid, 0x10 offset valid, ...
  std::string name;
  std::string description;
  std::array<double, 3> scale{1, 1, 1};
  std::array<double, 3> offset{0, 0, 0};
  std::array<uint64_t, 3> no_data{}, min{}, max{};  // raw 8 bytes each
};
std::string extra_bytes_payload(const std::vector<ExtraBytesAttribute>& attributes);

// Wave packet descriptor (LASF_Spec 100-354), 26 bytes.
std::string wave_packet_descriptor_payload(uint8_t bits_per_sample, uint8_t compression_type, uint32_t number_of_samples,
                                           uint32_t temporal_spacing, double digitizer_gain, double digitizer_offset);

// GeoKeyDirectoryTag (LASF_Projection 34735): versions 1, 1, 0, then the keys
// as (key_id, tiff_tag_location, count, value_offset).
std::string geo_keys_payload(const std::vector<std::array<uint16_t, 4>>& keys);

// The suite's tiling record (Pelkarts 10), 28 bytes.
struct Tiling {
  uint32_t level = 0, level_index = 0, implicit_levels = 0;
  bool buffer = false, reversible = false;
  float min_x = 0, max_x = 0, min_y = 0, max_y = 0;
  bool operator==(const Tiling&) const = default;
};
std::string tiling_payload(const Tiling& tiling);
Tiling parse_tiling(const std::string& payload);

// The suite's origin-counts record (Pelkarts 20), 176 bytes, box minimum first.
struct Original {
  int64_t number_of_point_records = 0;
  std::array<int64_t, 15> number_of_points_by_return{};
  double min_x = 0, max_x = 0, min_y = 0, max_y = 0, min_z = 0, max_z = 0;
  bool operator==(const Original&) const = default;
};
std::string original_payload(const Original& original);
Original parse_original(const std::string& payload);

// Compressor record (vembra encoded 22204): 34 bytes and 6 per item.
struct CompressorItem {
  uint16_t type = 0, size = 0, version = 0;
  bool operator==(const CompressorItem&) const = default;
};
struct Compressor {
  uint16_t compressor = 2, coder = 0;
  uint8_t version_major = 3, version_minor = 5;
  uint16_t version_revision = 0;
  uint32_t options = 0, chunk_size = 50000;
  int64_t number_of_special_evlrs = -1, offset_to_special_evlrs = -1;
  std::vector<CompressorItem> items;
  bool operator==(const Compressor&) const = default;
};
std::string compressor_payload(const Compressor& compressor);
Compressor parse_compressor(const std::string& payload);
// Items of a standard point format (type codes: BYTE 0, POINT10 6, GPSTIME11 7,
// RGB12 8, WAVEPACKET13 9, POINT14 10, RGB14 11, RGBNIR14 12, WAVEPACKET14 13,
// BYTE14 14), all of `version`, with a last extra-bytes item when
// `record_length` exceeds the base size.
std::vector<CompressorItem> standard_items(uint8_t format, uint16_t record_length, uint16_t version);

// COPC information (copc 1), 160 bytes with only the root hierarchy page set.
std::string copc_info_payload(uint64_t root_hier_offset, uint64_t root_hier_size);

}  // namespace lasfix
