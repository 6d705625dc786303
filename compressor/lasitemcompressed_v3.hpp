// What the layered POINT14 reader and writer (versions 3 and 4) share: the
// point block they code, the return-context tables, the field streams and the
// state of one scanner channel. The state is one template over the coder so
// that both sides make, reset and update it the same way.
//
// Each field of the point goes into a code stream of its own, so a reader can
// decode only the fields it needs, and a field that never changes within a
// chunk costs no code at all. Every scanner channel keeps its own predictions
// and statistics; a point coded on a channel is predicted from the last point
// of that channel.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <memory>
#include <type_traits>

#include "compressor/lasitemcompressed_v2.hpp"
#include "compressor/lasitemcoding.hpp"
#include "core/laspoint.hpp"

// The leading 48 bytes of a LASpoint, which the coder reads and writes as one
// block: the legacy and extended fields, the coder's time-change flag, the GPS
// time and the colour words.
struct Point14Block {
  I32 X, Y, Z;
  U16 intensity;
  U8 return_byte;  // legacy: return number 0-2, number of returns 3-5, scan direction 6, edge 7
  U8 class_byte;   // legacy: classification 0-4, synthetic, keypoint, withheld 5-7
  I8 scan_angle_rank;
  U8 user_data;
  U16 point_source_ID;
  I16 extended_scan_angle;
  U8 extended_flags_byte;  // layout 0-1, scanner channel 2-3, classification flags 4-7
  U8 extended_classification;
  U8 extended_return_byte;  // return number 0-3, number of returns 4-7
  U8 is_deleted;
  U8 unused[2];
  U8 time_change_flag;
  U8 time_change_unused[3];
  F64 gps_time;
  U16 rgb[4];

  U32 channel() const { return (extended_flags_byte >> 2) & 3; }
  U32 returns() const { return extended_return_byte >> 4; }
  U32 return_number() const { return extended_return_byte & 15; }
  // Edge of flight line x 32 + scan direction x 16 + the classification flags.
  U32 flags() const { return (U32)((return_byte >> 7) << 5) | (U32)(((return_byte >> 6) & 1) << 4) | (U32)(extended_flags_byte >> 4); }
  U64 time_bits() const {
    U64 bits;
    memcpy(&bits, &gps_time, sizeof(bits));
    return bits;
  }
};
static_assert(sizeof(Point14Block) == 48);
static_assert(offsetof(Point14Block, extended_scan_angle) == offsetof(LASpoint, extended_scan_angle));
static_assert(offsetof(Point14Block, extended_return_byte) == offsetof(LASpoint, extended_return_byte));
static_assert(offsetof(Point14Block, time_change_flag) == offsetof(LASpoint, time_change_flag));
static_assert(offsetof(Point14Block, gps_time) == offsetof(LASpoint, gps_time));
static_assert(offsetof(Point14Block, rgb) == offsetof(LASpoint, rgb));

// Indexed by the extended return byte, number of returns n x 16 + return
// number r: the return class of the coordinate predictions (0 to 5) and how far
// the return lies from the last one (0 to 7).
extern const U8 number_return_map_6ctx[256];
inline constexpr std::array<U8, 256> number_return_level_8ctx = [] {
  std::array<U8, 256> t{};
  for (int n = 0; n < 16; n++)
    for (int r = 0; r < 16; r++) {
      const int d = n > r ? n - r : r - n;
      t[n * 16 + r] = (U8)(d < 7 ? d : 7);
    }
  return t;
}();

// The kind of return: 3 single, 2 first of several, 1 last, 0 in between.
inline U32 return_kind(U32 n, U32 r) { return (r == 1 ? 2u : 0u) + (r >= n ? 1u : 0u); }
// The same of a remembered point, bits the other way round, and whether its
// time changed: the context of the next point's change mask (0 to 7).
inline U32 previous_kind(const Point14Block& p) {
  return (p.return_number() == 1 ? 1u : 0u) + (p.return_number() >= p.returns() ? 2u : 0u) + (p.time_change_flag ? 4u : 0u);
}

// The legacy returns as a reader of the extended ones sees them: more than 7
// returns fold into 7, the returns after the sixth become 6, or 7 for the last.
inline void set_legacy_returns(Point14Block& p, U32 n, U32 r) {
  U32 legacy_n = n, legacy_r = r & 7;
  if (n > 7) {
    legacy_n = 7;
    legacy_r = (r <= 6) ? r : (r < n ? 6 : 7);
  }
  p.return_byte = (U8)((p.return_byte & 0xC0) | legacy_r | (legacy_n << 3));
}
inline void set_legacy_classification(Point14Block& p) {
  const U8 c = p.extended_classification;
  p.class_byte = (U8)((p.class_byte & 0xE0) | (c < 32 ? c : 0));
}
// The scan angle rank of an extended angle (units of 0.006 degrees), rounded
// half away from zero and clamped to a signed byte.
inline I8 scan_angle_rank_of_extended(I16 angle) {
  const F64 degrees = (F64)((F32)angle * 0.006f);
  const I16 rank = (I16)(degrees < 0 ? degrees - 0.5 : degrees + 0.5);
  return (I8)(rank < -128 ? -128 : (rank > 127 ? 127 : rank));
}

// The field streams of a chunk, in the order of their sizes and bytes.
enum Point14Stream : U32 {
  STREAM_XY,  // change mask, scanner channel, returns, X and Y: always decoded
  STREAM_Z,
  STREAM_CLASSIFICATION,
  STREAM_FLAGS,
  STREAM_INTENSITY,
  STREAM_SCAN_ANGLE,
  STREAM_USER_DATA,
  STREAM_POINT_SOURCE,
  STREAM_GPS_TIME,
  POINT14_STREAMS
};

// Bits of the change mask of a layered point.
namespace point14_mask {
constexpr U32 CHANNEL = 64;
constexpr U32 POINT_SOURCE = 32;
constexpr U32 TIME = 16;
constexpr U32 SCAN_ANGLE = 8;
constexpr U32 RETURNS = 4;
constexpr U32 RETURN_NUMBER = 3;  // 0 same, 1 next, 2 previous, 3 coded
}  // namespace point14_mask

// Scanner channels of a point: two bits.
constexpr U32 POINT14_CHANNELS = 4;

template <typename Coder>
using Point14GpsTime = std::conditional_t<std::is_same_v<Coder, ArithmeticEncoder>, GpsTimeWriter, GpsTimeReader>;

// The state of one scanner channel. Models and compressors are made at the
// channel's first seeding in the coder's life, each bound to the coder of its
// stream, and reset at every later seeding.
template <typename Coder>
struct Point14Channel {
  using IC = std::unique_ptr<IntegerCompressor>;

  // Starts the channel from the point `p`, with coder s the one of stream s.
  void seed(Coder* const* coders, const Point14Block& p) {
    if (!made) make(coders);
    Coder* xy = coders[STREAM_XY];
    for (ModelPtr& m : changed_fields_models) xy->initSymbolModel(m.get());
    xy->initSymbolModel(channel_model.get());
    reset_existing(return_count_models, xy);
    xy->initSymbolModel(return_step_model.get());
    reset_existing(return_number_models, xy);
    reset_existing(classification_models, coders[STREAM_CLASSIFICATION]);
    reset_existing(flags_models, coders[STREAM_FLAGS]);
    reset_existing(user_data_models, coders[STREAM_USER_DATA]);
    for (IntegerCompressor* ic : {dx_coder.get(), dy_coder.get(), z_coder.get(), intensity_coder.get(),
                                  scan_angle_coder.get(), point_source_coder.get()})
      init_integer_coder(*ic, xy);
    for (MedianOfFive& m : dx_medians) m.reset();
    for (MedianOfFive& m : dy_medians) m.reset();
    for (I32& z : z_by_level) z = p.Z;
    for (U16& i : intensity_by_kind) i = p.intensity;
    gps->init(p.time_bits());
    last = p;
    last.time_change_flag = 0;
    in_use = true;
  }

  // A per-value model, made and reset the first time its value needs it.
  template <size_t N>
  ArithmeticModel* per_value(std::array<ModelPtr, N>& models, U32 value, Coder* coder, U32 symbols) {
    return model_on_first_use(models[value], coder, symbols);
  }

  bool in_use = false;
  Point14Block last{};
  U16 intensity_by_kind[8] = {};
  MedianOfFive dx_medians[12];
  MedianOfFive dy_medians[12];
  I32 z_by_level[8] = {};
  bool made = false;
  std::array<ModelPtr, 8> changed_fields_models;
  ModelPtr channel_model;
  std::array<ModelPtr, 16> return_count_models;
  ModelPtr return_step_model;
  std::array<ModelPtr, 16> return_number_models;
  IC dx_coder, dy_coder, z_coder;
  std::array<ModelPtr, 64> classification_models;
  std::array<ModelPtr, 64> flags_models;
  std::array<ModelPtr, 64> user_data_models;
  IC intensity_coder, scan_angle_coder, point_source_coder;
  std::unique_ptr<Point14GpsTime<Coder>> gps;

 private:
  void make(Coder* const* coders) {
    Coder* xy = coders[STREAM_XY];
    for (ModelPtr& m : changed_fields_models) m = make_model(xy, 128);
    channel_model = make_model(xy, 3);
    return_step_model = make_model(xy, 13);
    dx_coder = std::make_unique<IntegerCompressor>(xy, 32, 2, 8, 0);
    dy_coder = std::make_unique<IntegerCompressor>(xy, 32, 22, 8, 0);
    z_coder = std::make_unique<IntegerCompressor>(coders[STREAM_Z], 32, 20, 8, 0);
    intensity_coder = std::make_unique<IntegerCompressor>(coders[STREAM_INTENSITY], 16, 4, 8, 0);
    scan_angle_coder = std::make_unique<IntegerCompressor>(coders[STREAM_SCAN_ANGLE], 16, 2, 8, 0);
    point_source_coder = std::make_unique<IntegerCompressor>(coders[STREAM_POINT_SOURCE], 16, 1, 8, 0);
    gps = std::make_unique<Point14GpsTime<Coder>>(coders[STREAM_GPS_TIME], false);
    made = true;
  }
};

// The contexts of the coordinate compressors are those of POINT10 (see
// lasitemcompressed_v2.hpp); the return class and level come from the 4-bit
// extended returns instead.
inline U32 median_slot(U32 m, U32 t) { return 2 * m + t; }
