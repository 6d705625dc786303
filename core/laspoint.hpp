// One point in memory, as every reader delivers it and every writer, filter,
// transform and voxel rule consumes it. It holds the fields of all LAS point
// formats 0 to 10 at once; a layout (a list of items) says which parts a record
// carries and where the item coders read and write each item's bytes. The
// leading fields are plain values laid out exactly as the coders expect them.
#pragma once

#include <cstddef>
#include <cstring>

#include "core/lasattributer.hpp"
#include "core/lasitem.hpp"

class LASheader;

// The wave packet of a point: 29 unaligned bytes as in the file (descriptor
// index u8, byte offset u64, packet size u32, return point location f32, x(t),
// y(t), z(t) f32).
struct LASwaveformPacket {
  U8 data[29];

  U8 get_index() const { return data[0]; }
  U64 get_offset() const { return las_load<U64>(data + 1); }
  U32 get_size() const { return las_load<U32>(data + 9); }
  F32 get_location() const { return las_load<F32>(data + 13); }
  F32 get_xt() const { return las_load<F32>(data + 17); }
  F32 get_yt() const { return las_load<F32>(data + 21); }
  F32 get_zt() const { return las_load<F32>(data + 25); }
  void set_index(U8 v) { data[0] = v; }
  void set_offset(U64 v) { las_store(data + 1, v); }
  void set_size(U32 v) { las_store(data + 9, v); }
  void set_location(F32 v) { las_store(data + 13, v); }
  void set_xt(F32 v) { las_store(data + 17, v); }
  void set_yt(F32 v) { las_store(data + 21, v); }
  void set_zt(F32 v) { las_store(data + 25, v); }
};
static_assert(sizeof(LASwaveformPacket) == 29);

// Owns `extra_bytes`, `item_data` and `items`; borrows `scaling` and
// `attribute_table` from the header it was laid out for, which must outlive it.
// The coordinate operations need `scaling` set; a null attribute table makes
// every attribute absent.
class LASpoint {
 public:
  // Bits of the legacy return byte.
  static constexpr U8 RETURN_NUMBER_MASK = 0x07;
  static constexpr U8 NUMBER_OF_RETURNS_MASK = 0x38;
  static constexpr U8 SCAN_DIRECTION_FLAG_BIT = 0x40;
  static constexpr U8 EDGE_OF_FLIGHT_LINE_BIT = 0x80;
  // Bits of the legacy class byte.
  static constexpr U8 CLASSIFICATION_MASK = 0x1F;
  static constexpr U8 SYNTHETIC_FLAG_BIT = 0x20;
  static constexpr U8 KEYPOINT_FLAG_BIT = 0x40;
  static constexpr U8 WITHHELD_FLAG_BIT = 0x80;
  // Bits of the extended flags byte; the classification flags are synthetic 1,
  // keypoint 2, withheld 4, overlap 8 within their nibble.
  static constexpr U8 EXTENDED_LAYOUT_MASK = 0x03;
  static constexpr U8 EXTENDED_SCANNER_CHANNEL_MASK = 0x0C;
  static constexpr U8 EXTENDED_CLASSIFICATION_FLAGS_MASK = 0xF0;
  // Bits of the extended return byte.
  static constexpr U8 EXTENDED_RETURN_NUMBER_MASK = 0x0F;
  static constexpr U8 EXTENDED_NUMBER_OF_RETURNS_MASK = 0xF0;
  static constexpr U8 RETURN_ONE_OF_ONE = 0x09;
  static constexpr U8 EXTENDED_RETURN_ONE_OF_ONE = 0x11;

  // X up to and including point_source_ID: the POINT10 record, byte for byte.
  I32 X = 0;
  I32 Y = 0;
  I32 Z = 0;
  U16 intensity = 0;
  U8 return_byte = RETURN_ONE_OF_ONE;
  U8 class_byte = 0;
  I8 scan_angle_rank = 0;
  U8 user_data = 0;
  U16 point_source_ID = 0;
  // LAS 1.4 fields.
  I16 extended_scan_angle = 0;
  U8 extended_flags_byte = 0;
  U8 extended_classification = 0;
  U8 extended_return_byte = EXTENDED_RETURN_ONE_OF_ONE;
  U8 is_deleted = 0;
  U8 unused[2] = {0, 0};
  // Scratch of the layered core coder; part of no record.
  bool time_change_flag = false;
  U8 time_change_unused[3] = {0, 0, 0};
  F64 gps_time = 0.0;
  U16 rgb[4] = {0, 0, 0, 0};
  LASwaveformPacket wave_packet = {};

  U8* extra_bytes = nullptr;
  const LASscaling* scaling = nullptr;
  F64 coordinates[3] = {0.0, 0.0, 0.0};
  const LASattributeTable* attribute_table = nullptr;
  U8** item_data = nullptr;
  bool has_gps_time = false;
  bool has_rgb = false;
  bool has_nir = false;
  bool has_wave_packet = false;
  I32 extra_bytes_count = 0;
  U32 record_size = 0;
  U8 rgb_bit_depth = 0;
  U16 num_items = 0;
  LASitem* items = nullptr;

  LASpoint() = default;
  ~LASpoint() { clean(); }
  // A point with the same layout, links and content.
  LASpoint(const LASpoint& other);
  // Copies the content of `other` into this point's own layout (see laspoint.cpp).
  LASpoint& operator=(const LASpoint& other);

  // Lays the point out for an item list (copied) and links it to the scaling
  // and attribute table. False, with the point left clean, for an empty list,
  // an item kind outside the list, a list that fills a part of the point twice,
  // or no memory.
  bool init(const LASscaling* scaling, const LASattributeTable* attribute_table, const U16 num_items,
            const LASitem* items);
  // The same for a LAS point format and record length (items as Vembra::setup
  // makes them); false for a combination that has no item list.
  bool init(const LASscaling* scaling, const LASattributeTable* attribute_table, const U8 point_type,
            const U16 point_size);
  // The same, linked to the header's scaling and attribute table.
  bool init(const LASheader* header, const U16 num_items, const LASitem* items);
  bool init(const LASheader* header, const U8 point_type, const U16 point_size);
  // Back to the defaults without a layout; the links and coordinates stay.
  void clean();
  // Back to the empty point within the layout: everything 0, return 1 of 1
  // (legacy and extended); the layout marker and the extra bytes stay.
  void reset();

  // Legacy return and class bytes.
  U8 get_return_number() const { return return_byte & RETURN_NUMBER_MASK; }
  U8 get_number_of_returns() const { return (return_byte & NUMBER_OF_RETURNS_MASK) >> 3; }
  U8 get_scan_direction_flag() const { return (return_byte & SCAN_DIRECTION_FLAG_BIT) >> 6; }
  U8 get_edge_of_flight_line() const { return (return_byte & EDGE_OF_FLIGHT_LINE_BIT) >> 7; }
  U8 get_classification() const { return class_byte & CLASSIFICATION_MASK; }
  U8 get_synthetic_flag() const { return (class_byte & SYNTHETIC_FLAG_BIT) >> 5; }
  U8 get_keypoint_flag() const { return (class_byte & KEYPOINT_FLAG_BIT) >> 6; }
  U8 get_withheld_flag() const { return (class_byte & WITHHELD_FLAG_BIT) >> 7; }
  void set_return_number(U8 v) { return_byte = (U8)((return_byte & ~RETURN_NUMBER_MASK) | (v & 0x07)); }
  void set_number_of_returns(U8 v) { return_byte = (U8)((return_byte & ~NUMBER_OF_RETURNS_MASK) | ((v & 0x07) << 3)); }
  void set_scan_direction_flag(U8 v) { set_bit(return_byte, SCAN_DIRECTION_FLAG_BIT, v); }
  void set_edge_of_flight_line(U8 v) { set_bit(return_byte, EDGE_OF_FLIGHT_LINE_BIT, v); }
  void set_classification(U8 v) { class_byte = (U8)((class_byte & ~CLASSIFICATION_MASK) | (v & CLASSIFICATION_MASK)); }
  void set_synthetic_flag(U8 v) { set_bit(class_byte, SYNTHETIC_FLAG_BIT, v); }
  void set_keypoint_flag(U8 v) { set_bit(class_byte, KEYPOINT_FLAG_BIT, v); }
  void set_withheld_flag(U8 v) { set_bit(class_byte, WITHHELD_FLAG_BIT, v); }

  // Extended flags and return bytes.
  U8 get_extended_layout() const { return extended_flags_byte & EXTENDED_LAYOUT_MASK; }
  U8 get_extended_scanner_channel() const { return (extended_flags_byte & EXTENDED_SCANNER_CHANNEL_MASK) >> 2; }
  U8 get_extended_classification_flags() const { return (extended_flags_byte & EXTENDED_CLASSIFICATION_FLAGS_MASK) >> 4; }
  U8 get_extended_overlap_flag() const { return (extended_flags_byte & 0x80) >> 7; }
  U8 get_extended_return_number() const { return extended_return_byte & EXTENDED_RETURN_NUMBER_MASK; }
  U8 get_extended_number_of_returns() const { return (extended_return_byte & EXTENDED_NUMBER_OF_RETURNS_MASK) >> 4; }
  U8 get_extended_classification() const { return extended_classification; }
  void set_extended_layout(U8 v) { extended_flags_byte = (U8)((extended_flags_byte & ~EXTENDED_LAYOUT_MASK) | (v & 0x03)); }
  void set_extended_scanner_channel(U8 v) {
    extended_flags_byte = (U8)((extended_flags_byte & ~EXTENDED_SCANNER_CHANNEL_MASK) | ((v & 0x03) << 2));
  }
  void set_extended_classification_flags(U8 v) {
    extended_flags_byte = (U8)((extended_flags_byte & ~EXTENDED_CLASSIFICATION_FLAGS_MASK) | ((v & 0x0F) << 4));
  }
  void set_extended_overlap_flag(U8 v) { set_bit(extended_flags_byte, 0x80, v); }
  void set_extended_return_number(U8 v) {
    extended_return_byte = (U8)((extended_return_byte & ~EXTENDED_RETURN_NUMBER_MASK) | (v & 0x0F));
  }
  void set_extended_number_of_returns(U8 v) {
    extended_return_byte = (U8)((extended_return_byte & ~EXTENDED_NUMBER_OF_RETURNS_MASK) | ((v & 0x0F) << 4));
  }

  U16 get_intensity() const { return intensity; }
  F64 get_gps_time() const { return gps_time; }

  // Real coordinates: raw integer x scale factor + offset (z from the raw Z).
  F64 get_x() const { return scaling->get_x(X); }
  F64 get_y() const { return scaling->get_y(Y); }
  F64 get_z() const { return scaling->get_z(Z); }
  I32 get_X() const { return X; }
  I32 get_Y() const { return Y; }
  // The integer Z the point stands for: the raw Z, or, when the scaling names a
  // z attribute, that attribute re-quantised to the z scale and offset and
  // clamped to 32 bits (0 for an absent attribute).
  I32 get_Z() const {
    if (scaling == nullptr || scaling->z_from_attribute < 0) return Z;
    I64 q = las_quantize(get_attribute_as_float((U32)scaling->z_from_attribute), scaling->z_offset,
                         scaling->z_scale_factor);
    if (q < -2147483647) return I32_MIN;
    if (q > 2147483646) return I32_MAX;
    return (I32)q;
  }
  // Store a real coordinate: the raw integer takes the low 32 bits of the
  // quantised value; false when that value does not fit 32 bits.
  bool set_x(const F64 x) { return store_quantized(X, scaling->get_X(x)); }
  bool set_y(const F64 y) { return store_quantized(Y, scaling->get_Y(y)); }
  // With a z attribute the value goes into that attribute (nothing when it is
  // absent) and the answer is true.
  bool set_z(const F64 z) {
    if (scaling->z_from_attribute < 0) return store_quantized(Z, scaling->get_Z(z));
    set_attribute_as_float((U32)scaling->z_from_attribute, z);
    return true;
  }
  // `coordinates` from the raw integers, and back (false when one did not fit).
  void compute_coordinates() {
    coordinates[0] = get_x();
    coordinates[1] = get_y();
    coordinates[2] = get_z();
  }
  bool compute_XYZ() {
    bool fits = set_x(coordinates[0]);
    fits = set_y(coordinates[1]) && fits;
    return store_quantized(Z, scaling->get_Z(coordinates[2])) && fits;
  }

  // Attribute `index` of the attribute table as a double (first element, scale
  // and offset applied). An attribute is absent when there is no table, the
  // index is not below the attribute count, or its bytes do not lie within this
  // point's extra bytes; an absent attribute reads 0 and is never written.
  F64 get_attribute_as_float(const U32 index) const {
    const U8* bytes = attribute_bytes(index);
    return bytes ? attribute_table->attributes[index].get_value_as_float(bytes) : 0.0;
  }
  // Where attribute `index` lies among the extra bytes, -1 where the point
  // has none (get_attribute_as_float reads 0 then).
  I64 attribute_start(const U32 index) const {
    const U8* bytes = attribute_bytes(index);
    return bytes ? bytes - extra_bytes : -1;
  }
  // Stores a value by the attribute's type (LASattributeDescriptor::set_value_as_float);
  // false when the attribute is absent.
  bool set_attribute_as_float(const U32 index, const F64 value) {
    U8* bytes = const_cast<U8*>(attribute_bytes(index));
    if (bytes == nullptr) return false;
    attribute_table->attributes[index].set_value_as_float(bytes, value);
    return true;
  }

  // After a POINT14 record was read into the extended fields: the legacy
  // returns (returns above 7 folded into 7, return 6, or 7 for the last), the
  // classification (0 above 31), the synthetic, keypoint and withheld flags and
  // the scan angle rank.
  void derive_legacy_fields();
  // Scan angles between the LAS 1.4 units of 0.006 degree and whole degrees,
  // in single precision, rounded half away from zero; ranks clamp to -128..127.
  static I8 scan_angle_rank_of(const I16 extended_scan_angle) {
    F32 degrees = 0.006f * extended_scan_angle;
    I32 rank = (I32)(degrees >= 0 ? degrees + 0.5f : degrees - 0.5f);
    return (I8)(rank < -127 ? -128 : (rank > 127 ? 127 : rank));
  }
  static I16 extended_scan_angle_of(const I8 scan_angle_rank) {
    F32 units = scan_angle_rank / 0.006f;
    return (I16)(units >= 0 ? units + 0.5f : units - 0.5f);
  }

 private:
  static void set_bit(U8& byte, U8 bit, U8 on) { byte = on ? (U8)(byte | bit) : (U8)(byte & ~bit); }
  static bool store_quantized(I32& target, I64 value) {
    target = (I32)(U32)(U64)value;
    return las_fits_i32(value);
  }
  const U8* attribute_bytes(const U32 index) const {
    if (attribute_table == nullptr || index >= (U32)attribute_table->number_of_attributes) return nullptr;
    const I64 start = attribute_table->attribute_starts[index];
    const I64 size = attribute_table->attribute_sizes[index];
    const I64 value_size = attribute_table->attributes[index].get_value_size();
    if (value_size <= 0 || size < value_size || start < 0 || start + size > extra_bytes_count) return nullptr;
    return extra_bytes + start;
  }
};

// The layout the item coders and the layered core coder rely on.
static_assert(offsetof(LASpoint, X) == 0);
static_assert(offsetof(LASpoint, Y) == 4);
static_assert(offsetof(LASpoint, Z) == 8);
static_assert(offsetof(LASpoint, intensity) == 12);
static_assert(offsetof(LASpoint, return_byte) == 14);
static_assert(offsetof(LASpoint, class_byte) == 15);
static_assert(offsetof(LASpoint, scan_angle_rank) == 16);
static_assert(offsetof(LASpoint, user_data) == 17);
static_assert(offsetof(LASpoint, point_source_ID) == 18);
static_assert(offsetof(LASpoint, extended_scan_angle) == 20);
static_assert(offsetof(LASpoint, extended_flags_byte) == 22);
static_assert(offsetof(LASpoint, extended_classification) == 23);
static_assert(offsetof(LASpoint, extended_return_byte) == 24);
static_assert(offsetof(LASpoint, is_deleted) == 25);
static_assert(offsetof(LASpoint, time_change_flag) == 28);
static_assert(offsetof(LASpoint, gps_time) == 32);
static_assert(offsetof(LASpoint, rgb) == 40);
static_assert(offsetof(LASpoint, wave_packet) == 48);
static_assert(offsetof(LASpoint, wave_packet) + sizeof(LASwaveformPacket) == 77);
// The block from X to rgb that the layered core coder copies whole.
constexpr size_t LAS_POINT_CORE_BLOCK_SIZE = 48;
static_assert(offsetof(LASpoint, rgb) + sizeof(LASpoint::rgb) == LAS_POINT_CORE_BLOCK_SIZE);
