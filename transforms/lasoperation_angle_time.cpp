// Scan-angle, GPS-time and waveform operations: set, scale and translate the
// scan angle, convert time stamps between adjusted standard GPS time and time
// of week, turn angles and times into bin numbers, and reverse the waveform
// direction vector.
#include <cmath>
#include <string>

#include "core/lasmessage.hpp"
#include "transforms/lasoperation.hpp"

namespace {

// One unit of the extended scan angle in degrees.
constexpr F32 EXTENDED_UNIT = 0.006f;

// Applies a formula on degrees (extended points) or ranks (legacy points) in
// single precision and keeps the low bits of the rounded result: scan angles
// wrap, they are not limited.
template <class Formula>
void change_scan_angle(LASpoint* point, const Formula& formula) {
  if (point->get_extended_layout()) {
    const F32 degrees = formula((F32)point->extended_scan_angle * EXTENDED_UNIT);
    point->extended_scan_angle = (I16)(U16)(U32)las_rounded_i32(degrees / EXTENDED_UNIT);
  } else {
    point->scan_angle_rank = (I8)(U8)(U32)las_rounded_i32(formula((F32)point->scan_angle_rank));
  }
}

struct SetScanAngle {
  static constexpr const char* name = "set_scan_angle";
  static constexpr U32 mask = 0;
  F32 value;
  void text(std::string& text) const { las_option_text_g(text, value); }
  void apply(LASpoint* point) const {
    change_scan_angle(point, [this](F32) { return value; });
  }
};

struct ScaleScanAngle {
  static constexpr const char* name = "scale_scan_angle";
  static constexpr U32 mask = LAS_SELECTIVE_SCAN_ANGLE;
  F32 scale;
  explicit ScaleScanAngle(const LASoptionValue* v) : scale(v[0].f32) {}
  void text(std::string& text) const { las_option_text_g(text, scale); }
  void apply(LASpoint* point) const {
    change_scan_angle(point, [this](F32 angle) { return angle * scale; });
  }
};

struct TranslateScanAngle {
  static constexpr const char* name = "translate_scan_angle";
  static constexpr U32 mask = LAS_SELECTIVE_SCAN_ANGLE;
  F32 offset;
  explicit TranslateScanAngle(const LASoptionValue* v) : offset(v[0].f32) {}
  void text(std::string& text) const { las_option_text_g(text, offset); }
  void apply(LASpoint* point) const {
    change_scan_angle(point, [this](F32 angle) { return angle + offset; });
  }
};

struct TranslateThenScaleScanAngle {
  static constexpr const char* name = "translate_then_scale_scan_angle";
  static constexpr U32 mask = LAS_SELECTIVE_SCAN_ANGLE;
  F32 offset, scale;
  explicit TranslateThenScaleScanAngle(const LASoptionValue* v) : offset(v[0].f32), scale(v[1].f32) {}
  void text(std::string& text) const {
    las_option_text_g(text, offset);
    las_option_text_g(text, scale);
  }
  void apply(LASpoint* point) const {
    change_scan_angle(point, [this](F32 angle) { return (angle + offset) * scale; });
  }
};

// A bin number is limited to the point source ID's range.
struct BinAbsScanAngleIntoPointSource {
  static constexpr const char* name = "bin_abs_scan_angle_into_point_source";
  static constexpr U32 mask = LAS_SELECTIVE_SCAN_ANGLE;
  F32 bin_size;
  void text(std::string& text) const { las_option_text_g(text, bin_size); }
  void apply(LASpoint* point) const {
    const F32 angle = point->get_extended_layout() ? (F32)std::abs(point->extended_scan_angle) * EXTENDED_UNIT
                                                   : (F32)std::abs((I32)point->scan_angle_rank);
    point->point_source_ID = las_limited_u16(angle / bin_size);
  }
};

// The GPS-time operations write the field whatever the point format stores.
struct SetGpsTime {
  static constexpr const char* name = "set_gps_time";
  static constexpr U32 mask = 0;
  F64 value;
  explicit SetGpsTime(const LASoptionValue* v) : value(v[0].f64) {}
  void text(std::string& text) const { las_option_text_lf(text, value); }
  void apply(LASpoint* point) const { point->gps_time = value; }
};

struct TranslateGpsTime {
  static constexpr const char* name = "translate_gps_time";
  static constexpr U32 mask = LAS_SELECTIVE_GPS_TIME;
  F64 offset;
  explicit TranslateGpsTime(const LASoptionValue* v) : offset(v[0].f64) {}
  void text(std::string& text) const { las_option_text_lf(text, offset); }
  void apply(LASpoint* point) const { point->gps_time += offset; }
};

constexpr F64 SECONDS_PER_WEEK = 604800.0;
// Adjusted standard GPS time is GPS time minus one billion seconds.
constexpr I64 ADJUSTMENT = 1000000000;

// A time stamp becomes the seconds since the start of its GPS week. A time
// whose week has no integer value (NaN, or beyond 32 bits) stays as it is.
struct AdjustedToWeek {
  static constexpr const char* name = "adjusted_to_week";
  static constexpr U32 mask = LAS_SELECTIVE_GPS_TIME;
  void apply(LASpoint* point) const {
    const F64 week = std::trunc(point->gps_time / SECONDS_PER_WEEK + 1653.4391534391534);
    if (!(std::fabs(week) < 2147483648.0)) return;
    const I64 start_of_week = (I64)week * (I64)SECONDS_PER_WEEK - ADJUSTMENT;
    point->gps_time -= (F64)start_of_week;
  }
};

struct WeekToAdjusted {
  static constexpr const char* name = "week_to_adjusted";
  static constexpr U32 mask = LAS_SELECTIVE_GPS_TIME;
  U32 week;
  I64 offset;
  explicit WeekToAdjusted(const LASoptionValue* v)
      : week(v[0].u32), offset((I64)week * (I64)SECONDS_PER_WEEK - ADJUSTMENT) {}
  void text(std::string& text) const { las_option_text_d(text, week); }
  void apply(LASpoint* point) const { point->gps_time += (F64)offset; }
};

// The bin number of the time, rounded, keeps its low 16 bits: bins wrap.
inline U16 gps_time_bin(F64 gps_time, F64 bin_size) { return (U16)(U32)las_rounded_i32(gps_time / bin_size); }

struct BinGpsTimeIntoIntensity {
  static constexpr const char* name = "bin_gps_time_into_intensity";
  static constexpr U32 mask = LAS_SELECTIVE_GPS_TIME;
  F64 bin_size;
  void text(std::string& text) const { las_option_text_lf(text, bin_size); }
  void apply(LASpoint* point) const { point->intensity = gps_time_bin(point->gps_time, bin_size); }
};

struct BinGpsTimeIntoPointSource {
  static constexpr const char* name = "bin_gps_time_into_point_source";
  static constexpr U32 mask = LAS_SELECTIVE_GPS_TIME;
  F64 bin_size;
  void text(std::string& text) const { las_option_text_lf(text, bin_size); }
  void apply(LASpoint* point) const { point->point_source_ID = gps_time_bin(point->gps_time, bin_size); }
};

// Inverts the sign bits of X(t), Y(t) and Z(t): the high bit of the last
// byte of each little-endian F32 (0 becomes -0).
struct FlipWaveformDirection {
  static constexpr const char* name = "flip_waveform_direction";
  static constexpr U32 mask = LAS_SELECTIVE_WAVEPACKET;
  void apply(LASpoint* point) const {
    for (int sign_byte : {20, 24, 28}) point->wave_packet.data[sign_byte] ^= 0x80;
  }
};

// ------------------------------------------------------------------ parsing

LASoptionResult add_set_scan_angle(LAStransformParse& parse, const LASoptionCall& call) {
  const F32 value = call.values[0].f32;
  if (value < -180.0f) {
    laserror("cannot set scan angle because value %g is smaller than -180", value);
    return LASoptionResult::FAILED;
  }
  if (value > 180.0f) {
    laserror("cannot set scan angle rank because value %g is larger than 180", value);
    return LASoptionResult::FAILED;
  }
  return las_add_rule(parse, SetScanAngle{value});
}

LASoptionResult add_bin_abs_scan_angle(LAStransformParse& parse, const LASoptionCall& call) {
  const F32 bin_size = call.values[0].f32;
  if (bin_size <= 0.0f) {
    laserror("%f is no valid bin_size for '%s'", bin_size, call.typed);
    return LASoptionResult::FAILED;
  }
  return las_add_rule(parse, BinAbsScanAngleIntoPointSource{bin_size});
}

template <class Bin>
LASoptionResult add_bin_gps_time(LAStransformParse& parse, const LASoptionCall& call) {
  const F64 bin_size = call.values[0].f64;
  if (bin_size <= 0.0) {
    laserror("%g is no valid bin_size for '%s'", bin_size, call.typed);
    return LASoptionResult::FAILED;
  }
  return las_add_rule(parse, Bin{bin_size});
}

constexpr const char* NUMBER = "{needs} but '{arg}' is no valid number";

const LASoperationOption options[] = {
    {{"-set_scan_angle", "value", 1, "%f", 0, "'{option}' need 1 argument: value",
      "'{option}' needs 1 argument: value but '{arg}' is no valid value"},
     add_set_scan_angle},
    {{"-scale_scan_angle", "scale", 1, "%f", 0, nullptr, NUMBER}, las_add_operation<LASoperationOf<ScaleScanAngle>>},
    {{"-translate_scan_angle", "offset", 1, "%f"}, las_add_operation<LASoperationOf<TranslateScanAngle>>},
    {{"-translate_then_scale_scan_angle", "offset scale", 2, "%f"},
     las_add_operation<LASoperationOf<TranslateThenScaleScanAngle>>},
    {{"-bin_abs_scan_angle_into_point_source", "bin_size", 1, "%f"}, add_bin_abs_scan_angle},
    {{"-set_gps_time", "gps_time", 1, "%lf"}, las_add_operation<LASoperationOf<SetGpsTime>>},
    {{"-translate_gps_time", "offset", 1, "%lf"}, las_add_operation<LASoperationOf<TranslateGpsTime>>},
    {{"-adjusted_to_week", "", 0, ""}, las_add_operation<LASoperationOf<AdjustedToWeek>>},
    {{"-week_to_adjusted", "week", 1, "%u"}, las_add_operation<LASoperationOf<WeekToAdjusted>>},
    {{"-bin_gps_time_into_intensity", "bin_size", 1, "%lf"}, add_bin_gps_time<BinGpsTimeIntoIntensity>},
    {{"-bin_gps_time_into_point_source", "bin_size", 1, "%lf"}, add_bin_gps_time<BinGpsTimeIntoPointSource>},
    {{"-flip_waveform_direction", "", 0, ""}, las_add_operation<LASoperationOf<FlipWaveformDirection>>},
};

const LASoperationUsage usage[] = {
    {3, 11, "-bin_gps_time_into_intensity 0.5"},
    {4, 1, "-set_scan_angle 0.0"},
    {4, 2, "-scale_scan_angle 1.944445"},
    {4, 3, "-translate_scan_angle -5"},
    {4, 4, "-translate_then_scale_scan_angle -0.5 2.1"},
    {10, 10, "-bin_abs_scan_angle_into_point_source 2"},
    {10, 11, "-bin_gps_time_into_point_source 5.0"},
    {11, 1, "-set_gps_time 113556962.005715"},
    {11, 2, "-translate_gps_time 40.50"},
    {11, 3, "-adjusted_to_week : converts time stamps from Adjusted Standard GPS to GPS week"},
    {11, 4, "-week_to_adjusted n : converts time stamps from GPS week [n] to Adjusted Standard GPS"},
};

}  // namespace

LASoperationFamily las_angle_time_operations() { return {options, usage}; }
