// The state that a version-1 item reader and its writer both keep, one
// template over the coder so that the two sides hold the same fields, made
// and reset the same way. Version 1 is the older, simpler coding: every field
// is predicted from the previous point alone (no per-return tables), through
// integer compressors rather than per-byte symbol models.
#pragma once

#include <array>
#include <cstring>
#include <vector>

#include "compressor/lasitemcompressed_v2.hpp"
#include "compressor/lasitemcoding.hpp"

// ------------------------------------------------------------------ POINT10

// The median of three values, without sorting them.
inline I32 median_of_three(const I32 d[3]) {
  if (d[0] < d[1]) return d[1] < d[2] ? d[1] : (d[0] < d[2] ? d[2] : d[0]);
  return d[0] < d[2] ? d[0] : (d[1] < d[2] ? d[2] : d[1]);
}

// Bits of the mask of changed fields. The coordinates go before the mask.
enum Point10ChangedV1 : U32 {
  CHANGED_INTENSITY = 32,
  CHANGED_RETURN_BYTE = 16,
  CHANGED_CLASS_BYTE = 8,
  CHANGED_SCAN_ANGLE = 4,
  CHANGED_USER_DATA = 2,
  CHANGED_POINT_SOURCE = 1,
};

// Contexts chosen by the classes of the X and Y correctors: wide X steps make
// wide Y and Z steps likely, and a still scanner a steady scan angle.
inline U32 dy_context_v1(U32 kx) { return kx < 19 ? kx : 19; }
inline U32 z_context_v1(U32 kx, U32 ky) { return (kx + ky) / 2 < 19 ? (kx + ky) / 2 : 19; }
inline U32 scan_angle_context_v1(U32 kx, U32 ky) { return kx + ky <= 5 ? 1 : 0; }

template <typename Coder>
struct Point10StateV1 {
  explicit Point10StateV1(Coder* coder)
      : coder(coder),
        dx_coder(coder, 32, 1, 8, 0),
        dy_coder(coder, 32, 20, 8, 0),
        z_coder(coder, 32, 20, 8, 0),
        intensity_coder(coder, 16, 1, 8, 0),
        scan_angle_coder(coder, 8, 2, 8, 0),
        point_source_coder(coder, 16, 1, 8, 0),
        changed_fields_model(make_model(coder, 64)) {}

  void init(const U8* item) {
    memcpy(&last_point, item, sizeof(Point10));
    for (U32 i = 0; i < 3; i++) last_x_diffs[i] = last_y_diffs[i] = 0;
    diff_slot = 0;
    init_integer_coder(dx_coder, coder);
    init_integer_coder(dy_coder, coder);
    init_integer_coder(z_coder, coder);
    init_integer_coder(intensity_coder, coder);
    init_integer_coder(scan_angle_coder, coder);
    init_integer_coder(point_source_coder, coder);
    coder->initSymbolModel(changed_fields_model.get());
    reset_existing(return_byte_models, coder);
    reset_existing(classification_models, coder);
    reset_existing(user_data_models, coder);
  }

  ArithmeticModel* per_value(std::array<ModelPtr, 256>& models, U8 previous) {
    return model_on_first_use(models[previous], coder, 256);
  }

  // The last three coordinate steps, overwritten in turn.
  void remember_steps(I32 dx, I32 dy) {
    last_x_diffs[diff_slot] = dx;
    last_y_diffs[diff_slot] = dy;
    diff_slot = (diff_slot + 1) % 3;
  }

  Coder* coder;
  Point10 last_point{};
  I32 last_x_diffs[3] = {0, 0, 0};
  I32 last_y_diffs[3] = {0, 0, 0};
  U32 diff_slot = 0;
  IntegerCompressor dx_coder;
  IntegerCompressor dy_coder;
  IntegerCompressor z_coder;
  IntegerCompressor intensity_coder;
  IntegerCompressor scan_angle_coder;
  IntegerCompressor point_source_coder;
  ModelPtr changed_fields_model;
  std::array<ModelPtr, 256> return_byte_models;
  std::array<ModelPtr, 256> classification_models;
  std::array<ModelPtr, 256> user_data_models;
};

// ------------------------------------------------------------------ GPS time

// Symbols: without a reference difference 0 unchanged, 1 a fitting difference,
// 2 raw; with one, 0 to 509 the multiplier of the reference (0 standing for
// any below 1, 509 for any from 509 up), 510 raw, 511 unchanged.
enum GpsTimeSymbolV1 : U32 {
  GPS_ZERO_UNCHANGED = 0,
  GPS_ZERO_FITS = 1,
  GPS_ZERO_RAW = 2,
  GPS_MULTIPLIER_LIMIT = 509,
  GPS_MULTIPLIER_RAW = 510,
  GPS_MULTIPLIER_UNCHANGED = 511,
};

// The multiplier symbol of a fitting difference against a reference that is
// not 0: the quotient in single precision plus a half, truncated. The limits
// are applied on the float, so that a quotient beyond the 32-bit integers is
// never converted.
inline U32 gps_multiplier_symbol_v1(I32 difference, I32 reference) {
  const F32 quotient = (F32)difference / (F32)reference + 0.5f;
  if (!(quotient >= 1.0f)) return 0;
  if (quotient >= (F32)GPS_MULTIPLIER_LIMIT) return GPS_MULTIPLIER_LIMIT;
  return (U32)quotient;
}

// How a multiplier symbol (below 510) predicts the difference.
struct GpsPredictionV1 {
  I32 prediction;
  U32 context;
};

inline GpsPredictionV1 gps_prediction_v1(U32 symbol, I32 reference) {
  if (symbol == 1) return {reference, 1};
  if (symbol == 0) return {reference / 4, 2};
  const I32 product = (I32)(symbol * (U32)reference);  // wraps in 32 bits, as both sides do
  if (symbol < 10) return {product, 3};
  if (symbol < 50) return {product, 4};
  return {product, 5};
}

template <typename Coder>
struct GpsTime11StateV1 {
  explicit GpsTime11StateV1(Coder* coder)
      : coder(coder),
        multiplier_model(make_model(coder, 512)),
        zero_delta_model(make_model(coder, 3)),
        time_coder(coder, 32, 6, 8, 0) {}

  void init(const U8* item) {
    memcpy(&last_time, item, sizeof(last_time));
    time_delta = 0;
    outlier_count = 0;
    coder->initSymbolModel(multiplier_model.get());
    coder->initSymbolModel(zero_delta_model.get());
    init_integer_coder(time_coder, coder);
  }

  // After a multiplier-coded difference: multiplier 1 makes it the reference
  // difference; the extreme symbols (0 and 509) count as outliers, and at the
  // fourth since the last multiplier 1 the latest difference becomes the
  // reference.
  void after_multiplier(U32 symbol, I32 difference) {
    if (symbol == 1) {
      time_delta = difference;
      outlier_count = 0;
    } else if ((symbol == 0 || symbol == GPS_MULTIPLIER_LIMIT) && ++outlier_count > 3) {
      time_delta = difference;
      outlier_count = 0;
    }
  }

  Coder* coder;
  U64 last_time = 0;
  ModelPtr multiplier_model;
  ModelPtr zero_delta_model;
  IntegerCompressor time_coder;
  I32 outlier_count = 0;
  I32 time_delta = 0;
};

// ------------------------------------------------------------------ RGB

// Byte k of a colour: red low, red high, green low, green high, blue low, blue high.
inline U8 colour_byte(const U16* colour, U32 k) { return (k & 1) ? hi_byte(colour[k / 2]) : lo_byte(colour[k / 2]); }

template <typename Coder>
struct Rgb12StateV1 {
  explicit Rgb12StateV1(Coder* coder)
      : coder(coder), changed_bytes_model(make_model(coder, 64)), rgb_coder(coder, 8, 6, 8, 0) {}

  void init(const U8* item) {
    memcpy(reference, item, sizeof(reference));
    coder->initSymbolModel(changed_bytes_model.get());
    init_integer_coder(rgb_coder, coder);
  }

  Coder* coder;
  U16 reference[3] = {0, 0, 0};
  ModelPtr changed_bytes_model;
  IntegerCompressor rgb_coder;
};

// ------------------------------------------------------------------ bytes

// Extra bytes: one integer compressor context per byte position.
template <typename Coder>
struct BytesStateV1 {
  BytesStateV1(Coder* coder, U32 number)
      : coder(coder), number(number), reference(number), byte_coder(coder, 8, number, 8, 0) {}

  void init(const U8* item) {
    memcpy(reference.data(), item, number);
    init_integer_coder(byte_coder, coder);
  }

  Coder* coder;
  U32 number;
  std::vector<U8> reference;
  IntegerCompressor byte_coder;
};

// ------------------------------------------------------------------ wave packets

// A wave packet item: descriptor index at 0, then 28 bytes that are the
// reference of the next item: byte offset (u64) at 1, packet size (u32) at 9,
// return point location and dx, dy, dz (f32, coded as their bit patterns) at
// 13, 17, 21 and 25.
constexpr U32 WAVEPACKET13_REFERENCE_SIZE = 28;

template <typename Coder>
struct WavePacket13State {
  explicit WavePacket13State(Coder* coder)
      : coder(coder),
        packet_index_model(make_model(coder, 256)),
        offset_symbol_models{make_model(coder, 4), make_model(coder, 4), make_model(coder, 4), make_model(coder, 4)},
        offset_coder(coder, 32, 1, 8, 0),
        packet_size_coder(coder, 32, 1, 8, 0),
        location_coder(coder, 32, 1, 8, 0),
        xyz_coder(coder, 32, 3, 8, 0) {}

  void init(const U8* item) {
    last_offset_diff = 0;
    last_offset_symbol = 0;
    coder->initSymbolModel(packet_index_model.get());
    for (ModelPtr& m : offset_symbol_models) coder->initSymbolModel(m.get());
    init_integer_coder(offset_coder, coder);
    init_integer_coder(packet_size_coder, coder);
    init_integer_coder(location_coder, coder);
    init_integer_coder(xyz_coder, coder);
    memcpy(reference, item + 1, WAVEPACKET13_REFERENCE_SIZE);
  }

  // Fields of the reference (offsets within it, one less than in the item).
  U64 offset() const { return load<U64>(0); }
  U32 packet_size() const { return load<U32>(8); }
  I32 bits_at(U32 at) const { return load<I32>(at); }
  template <typename T>
  T load(U32 at) const {
    T value;
    memcpy(&value, reference + at, sizeof(T));
    return value;
  }

  Coder* coder;
  U8 reference[WAVEPACKET13_REFERENCE_SIZE] = {};
  I32 last_offset_diff = 0;
  U32 last_offset_symbol = 0;
  ModelPtr packet_index_model;
  std::array<ModelPtr, 4> offset_symbol_models;
  IntegerCompressor offset_coder;
  IntegerCompressor packet_size_coder;
  IntegerCompressor location_coder;
  IntegerCompressor xyz_coder;
};

// Offset symbols: the same offset, the offset just after the previous packet,
// a difference that fits 32 bits, or the whole 64-bit offset.
enum WavePacketOffsetSymbol : U32 { OFFSET_SAME = 0, OFFSET_FOLLOWS = 1, OFFSET_DIFFERENCE = 2, OFFSET_RAW = 3 };
