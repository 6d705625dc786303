// The two header parts that a point links to: the scaling that turns raw
// integer coordinates into real ones, and the table of extra-bytes attributes
// that gives the point's extra bytes names and types. Writers and readers also
// hold their own copies of the scaling, so both stand apart from the header.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/mydefs.hpp"

// Truncation toward zero with a defined answer outside the target range: NaN
// and values that do not fit give the lowest value, as the hardware conversion
// does, instead of undefined behaviour.
inline I64 las_f64_to_i64(F64 value) {
  if (value > -9223372036854775808.0 && value < 9223372036854775808.0) return (I64)value;
  return INT64_MIN;
}
inline I32 las_f64_to_i32(F64 value) {
  if (value > -2147483649.0 && value < 2147483648.0) return (I32)value;
  return I32_MIN;
}
// Nearest integer, halves away from zero.
inline I64 las_round_i64(F64 value) { return las_f64_to_i64(value >= 0 ? value + 0.5 : value - 0.5); }
// Quantisation of a real coordinate: (value - offset) / scale, rounded half away
// from zero (the half decided by value against offset).
inline I64 las_quantize(F64 value, F64 offset, F64 scale) {
  // The half takes the sign of value - offset by bit operations, not by a
  // branch: values on both sides of the offset come in no predictable order,
  // and a mispredicted branch costs more than the rest. (Where that sign and
  // value >= offset disagree, at -0 and NaN, n rounds to the same either way.)
  const F64 d = value - offset;
  return las_f64_to_i64(d / scale + std::copysign(0.5, d));
}
inline bool las_fits_i32(I64 value) { return value >= (I64)I32_MIN && value <= (I64)I32_MAX; }

// Scale factors and offsets of the three axes and the extra-bytes attribute that
// stands in for Z (-1 for none). Real coordinate = integer x scale + offset.
struct LASscaling {
  F64 x_scale_factor = 0.01;
  F64 y_scale_factor = 0.01;
  F64 z_scale_factor = 0.01;
  F64 x_offset = 0.0;
  F64 y_offset = 0.0;
  F64 z_offset = 0.0;
  I16 z_from_attribute = -1;

  F64 get_x(const I32 X) const { return X * x_scale_factor + x_offset; }
  F64 get_y(const I32 Y) const { return Y * y_scale_factor + y_offset; }
  F64 get_z(const I32 Z) const { return Z * z_scale_factor + z_offset; }
  // The 64-bit integer of a real coordinate; it fits a point when las_fits_i32.
  I64 get_X(const F64 x) const { return las_quantize(x, x_offset, x_scale_factor); }
  I64 get_Y(const F64 y) const { return las_quantize(y, y_offset, y_scale_factor); }
  I64 get_Z(const F64 z) const { return las_quantize(z, z_offset, z_scale_factor); }
};

// Data types of the extra-bytes descriptor (1-based in the file; these are the
// 0-based base types).
enum LAS_ATTRIBUTE_TYPE {
  LAS_ATTRIBUTE_U8 = 0,
  LAS_ATTRIBUTE_I8 = 1,
  LAS_ATTRIBUTE_U16 = 2,
  LAS_ATTRIBUTE_I16 = 3,
  LAS_ATTRIBUTE_U32 = 4,
  LAS_ATTRIBUTE_I32 = 5,
  LAS_ATTRIBUTE_U64 = 6,
  LAS_ATTRIBUTE_I64 = 7,
  LAS_ATTRIBUTE_F32 = 8,
  LAS_ATTRIBUTE_F64 = 9
};

// Validity bits of the descriptor's options byte.
constexpr U8 LAS_ATTRIBUTE_OPTION_NO_DATA = 0x01;
constexpr U8 LAS_ATTRIBUTE_OPTION_MIN = 0x02;
constexpr U8 LAS_ATTRIBUTE_OPTION_MAX = 0x04;
constexpr U8 LAS_ATTRIBUTE_OPTION_SCALE = 0x08;
constexpr U8 LAS_ATTRIBUTE_OPTION_OFFSET = 0x10;

// No-data, minimum and maximum hold an integer for the integer types and a
// double for the float types.
union LASattributeValue {
  U64 u64;
  I64 i64;
  F64 f64;
};

// One 192-byte descriptor, byte for byte as in the Extra Bytes record.
struct LASattributeDescriptor {
  U8 reserved[2] = {0, 0};
  U8 data_type = 0;
  U8 options = 0;
  char name[32] = {};
  U8 unused[4] = {0, 0, 0, 0};
  LASattributeValue no_data[3] = {};
  LASattributeValue min[3] = {};
  LASattributeValue max[3] = {};
  F64 scale[3] = {0.0, 0.0, 0.0};
  F64 offset[3] = {0.0, 0.0, 0.0};
  char description[32] = {};

  LASattributeDescriptor() = default;
  // From a base type (0 U8 .. 9 F64), a name and a description of up to 31
  // characters each; scales start at 1. A type above 9 leaves data type 0.
  LASattributeDescriptor(U32 type, const char* name, const char* description = nullptr);

  // Bytes of the attribute in a point: data type 0 takes its options byte, 1 to
  // 30 take dimension x base size; anything else 0.
  I32 get_size() const;
  // Base type 0..9 of data types 1 to 30; -1 for 0 and above 30.
  I32 get_type() const { return (data_type >= 1 && data_type <= 30) ? (data_type - 1) % 10 : -1; }
  I32 get_dim() const { return (data_type >= 1 && data_type <= 30) ? (data_type - 1) / 10 + 1 : 1; }
  // Bytes read or written for the attribute's numeric value: the base size, or
  // 8 for data type 0 of exactly 8 bytes (read as a double); 0 when there is no
  // numeric value, as for opaque bytes of any other length.
  I32 get_value_size() const;

  bool has_no_data() const { return options & LAS_ATTRIBUTE_OPTION_NO_DATA; }
  bool has_min() const { return options & LAS_ATTRIBUTE_OPTION_MIN; }
  bool has_max() const { return options & LAS_ATTRIBUTE_OPTION_MAX; }
  bool has_scale() const { return options & LAS_ATTRIBUTE_OPTION_SCALE; }
  bool has_offset() const { return options & LAS_ATTRIBUTE_OPTION_OFFSET; }

  // Each stores the value in the representation of the data type (rounded half
  // away from zero for the integer types) and sets its option bit; false for
  // data types outside 1 to 10.
  bool set_no_data(F64 value);
  bool set_min(F64 value);
  bool set_max(F64 value);
  // Widen the range by a value, compared in the data type's representation.
  bool update_min(F64 value);
  bool update_max(F64 value);
  void set_scale(F64 value) {
    scale[0] = value;
    options |= LAS_ATTRIBUTE_OPTION_SCALE;
  }
  void set_offset(F64 value) {
    offset[0] = value;
    options |= LAS_ATTRIBUTE_OPTION_OFFSET;
  }

  // The first element at `bytes` as a double, times scale[0] when the scale bit
  // is set, plus offset[0] when the offset bit is set. Opaque bytes (data type
  // 0) read as a double without scale or offset, their options byte being their
  // size. The caller makes sure that get_value_size() bytes are there.
  F64 get_value_as_float(const U8* bytes) const {
    F64 v;
    switch (data_type ? (data_type - 1) % 10 : LAS_ATTRIBUTE_F64) {
      case LAS_ATTRIBUTE_U8: v = *bytes; break;
      case LAS_ATTRIBUTE_I8: v = (I8)*bytes; break;
      case LAS_ATTRIBUTE_U16: v = load<U16>(bytes); break;
      case LAS_ATTRIBUTE_I16: v = load<I16>(bytes); break;
      case LAS_ATTRIBUTE_U32: v = load<U32>(bytes); break;
      case LAS_ATTRIBUTE_I32: v = load<I32>(bytes); break;
      case LAS_ATTRIBUTE_U64:  // read as signed, like the 64-bit signed type
      case LAS_ATTRIBUTE_I64: v = (F64)load<I64>(bytes); break;
      case LAS_ATTRIBUTE_F32: v = load<F32>(bytes); break;
      default: v = load<F64>(bytes); break;
    }
    if (data_type == 0) return v;  // the options byte of opaque bytes is their size
    if (options & LAS_ATTRIBUTE_OPTION_SCALE) v *= scale[0];
    if (options & LAS_ATTRIBUTE_OPTION_OFFSET) v += offset[0];
    return v;
  }
  // The inverse: offset taken off and scale divided out as the options say, then
  // stored by base type. Unsigned types store 0 below 0 (and for NaN), else
  // value + 0.5 truncated; signed types round half away from zero; integers are
  // not clamped, only their low bytes stored (8- and 16-bit types of a 32-bit
  // conversion, 32-bit unsigned of a 64-bit one). Beyond the range of that
  // conversion the 8- and 16-bit types and the 32-bit unsigned one store 0,
  // the others saturate; NaN stores 0.
  void set_value_as_float(U8* bytes, F64 value) const {
    if (data_type == 0) {
      store<F64>(bytes, value);
      return;
    }
    if (options & LAS_ATTRIBUTE_OPTION_SCALE) {
      value = (options & LAS_ATTRIBUTE_OPTION_OFFSET) ? (value - offset[0]) / scale[0] : value / scale[0];
    } else if (options & LAS_ATTRIBUTE_OPTION_OFFSET) {
      value -= offset[0];
    }
    const bool positive = (value >= 0);  // false for NaN
    switch (data_type ? (data_type - 1) % 10 : LAS_ATTRIBUTE_F64) {
      case LAS_ATTRIBUTE_U8: *bytes = positive ? (U8)las_f64_to_i32(value + 0.5) : 0; break;
      case LAS_ATTRIBUTE_I8: *bytes = (U8)las_f64_to_i32(positive ? value + 0.5 : value - 0.5); break;
      case LAS_ATTRIBUTE_U16: store<U16>(bytes, positive ? (U16)las_f64_to_i32(value + 0.5) : 0); break;
      case LAS_ATTRIBUTE_I16: store<I16>(bytes, (I16)las_f64_to_i32(positive ? value + 0.5 : value - 0.5)); break;
      case LAS_ATTRIBUTE_U32: store<U32>(bytes, positive ? (U32)las_f64_to_i64(value + 0.5) : 0); break;
      case LAS_ATTRIBUTE_I32: store<I32>(bytes, (I32)saturated_i64(positive ? value + 0.5 : value - 0.5, 31)); break;
      case LAS_ATTRIBUTE_U64: store<U64>(bytes, positive ? f64_to_u64(value + 0.5) : 0); break;
      case LAS_ATTRIBUTE_I64: store<I64>(bytes, saturated_i64(positive ? value + 0.5 : value - 0.5, 63)); break;
      case LAS_ATTRIBUTE_F32: store<F32>(bytes, (F32)value); break;
      default: store<F64>(bytes, value); break;
    }
  }

 private:
  template <typename T>
  static T load(const U8* bytes) {
    T v;
    memcpy(&v, bytes, sizeof(T));
    return v;
  }
  template <typename T>
  static void store(U8* bytes, T v) {
    memcpy(bytes, &v, sizeof(T));
  }
  // Values beyond the 64-bit range give the largest value.
  static U64 f64_to_u64(F64 value) {
    if (value < 9223372036854775808.0) return (U64)las_f64_to_i64(value);
    if (value < 18446744073709551616.0) return (U64)value;
    return UINT64_MAX;
  }
  // Truncation to a signed integer of `bits` + 1 bits that saturates beyond its
  // range and gives 0 for NaN, where the plain conversion is undefined.
  static I64 saturated_i64(F64 value, int bits) {
    const F64 limit = std::ldexp(1.0, bits);
    if (!(value == value)) return 0;
    if (value >= limit) return (I64)((U64(1) << bits) - 1);
    if (value <= -limit) return -(I64)((U64(1) << bits) - 1) - 1;
    return (I64)value;
  }
  bool store_range_value(LASattributeValue& target, F64 value) const;
  bool range_value_below(const LASattributeValue& a, const LASattributeValue& b) const;
};
static_assert(sizeof(LASattributeDescriptor) == 192);
static_assert(offsetof(LASattributeDescriptor, data_type) == 2);
static_assert(offsetof(LASattributeDescriptor, options) == 3);
static_assert(offsetof(LASattributeDescriptor, name) == 4);
static_assert(offsetof(LASattributeDescriptor, no_data) == 40);
static_assert(offsetof(LASattributeDescriptor, min) == 64);
static_assert(offsetof(LASattributeDescriptor, max) == 88);
static_assert(offsetof(LASattributeDescriptor, scale) == 112);
static_assert(offsetof(LASattributeDescriptor, offset) == 136);
static_assert(offsetof(LASattributeDescriptor, description) == 160);

// The extra-bytes descriptors with the start and size of each attribute in a
// point's extra bytes. Owns its three arrays only while `owns_arrays` is set:
// after a header take-over the arrays belong to the receiving header.
class LASattributeTable {
 public:
  LASattributeTable() = default;
  ~LASattributeTable() { clean_attributes(); }
  LASattributeTable(const LASattributeTable&) = delete;
  LASattributeTable& operator=(const LASattributeTable&) = delete;

  // Appends a copy; its start follows the previous attribute. Answers the new
  // index, or -1 (nothing changed) for an attribute of size 0 or when memory
  // runs out.
  I32 add_attribute(const LASattributeDescriptor& descriptor);
  // Replaces the table by copies of `number` descriptors (an Extra Bytes record).
  bool init_attributes(U32 number, const LASattributeDescriptor* descriptors);
  // Frees the arrays when owned and empties the table.
  void clean_attributes();

  I32 get_attribute_index(const char* name) const;
  // Start in the extra bytes of the attribute of that name, -1 when there is none.
  I32 get_attribute_start(const char* name) const;
  I32 get_attribute_start(I32 index) const;
  I32 get_attribute_size(I32 index) const;
  // Bytes of all attributes: the last one's start plus its size.
  I32 get_attributes_size() const;

  bool owns_arrays = false;
  I32 number_of_attributes = 0;
  LASattributeDescriptor* attributes = nullptr;
  I32* attribute_starts = nullptr;
  I32* attribute_sizes = nullptr;
};
