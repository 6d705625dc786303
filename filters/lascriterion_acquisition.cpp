// Criteria on how a point was recorded: its scan angle (whole degrees, or the
// extended angle in steps of 0.006 degree, compared in single precision), its
// GPS time (a point without one passes every time test) and the index of the
// wave-packet descriptor its waveform refers to. None keeps state.
#include <cstdlib>
#include <type_traits>
#include <utility>

#include "core/laspoint.hpp"
#include "core/lasreader.hpp"
#include "filters/lascriterion.hpp"

namespace {

// The angle in degrees, in single precision as the bounds are stored.
F32 scan_angle_of(const LASpoint* point) {
  if (point->get_extended_layout() != 0) return (F32)point->extended_scan_angle * 0.006f;
  return (F32)point->scan_angle_rank;
}

struct ScanAngle {
  using T = F32;
  static constexpr U32 mask = LAS_SELECTIVE_SCAN_ANGLE;
  // Every point has one.
  static bool has(const LASpoint*) { return true; }
  static T of(const LASpoint* point) { return scan_angle_of(point); }
  static T value(const LASoptionValue& v) { return v.f32; }
  static void text(std::string& text, T v) { las_option_text_3f(text, v); }
};

struct GpsTime {
  using T = F64;
  static constexpr U32 mask = LAS_SELECTIVE_GPS_TIME;
  static bool has(const LASpoint* point) { return point->has_gps_time; }
  static T of(const LASpoint* point) { return point->gps_time; }
  static T value(const LASoptionValue& v) { return v.f64; }
  static void text(std::string& text, T v) { las_option_text_lf(text, v); }
};

enum class Drops : U8 { OUTSIDE, INSIDE, BELOW, ABOVE };

constexpr const char* NAMES[2][4] = {
    {"keep_scan_angle", "drop_scan_angle_between", "drop_scan_angle_below", "drop_scan_angle_above"},
    {"keep_gps_time", "drop_gps_time_between", "drop_gps_time_below", "drop_gps_time_above"},
};

// Drops a point whose value lies outside or inside the closed range `min` to
// `max`, or below or above `min`. A range of scan angles is put in order when
// built; one of GPS times is kept as given.
template <class Field, Drops rule>
class LAScriterionValue : public LAScriterion {
  using T = typename Field::T;
  static constexpr bool range = rule == Drops::OUTSIDE || rule == Drops::INSIDE;

 public:
  LAScriterionValue(T min, T max) : min(min), max(max) {}
  const char* name() const override { return NAMES[std::is_same_v<Field, GpsTime>][(int)rule]; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_criterion_text(text, name());
    Field::text(text, min);
    if (range) Field::text(text, max);
    return las_criterion_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return Field::mask; }
  bool filter(const LASpoint* point) override {
    if (!Field::has(point)) return false;
    const T v = Field::of(point);
    switch (rule) {
      case Drops::OUTSIDE:
        return v < min || v > max;
      case Drops::INSIDE:
        return min <= v && v <= max;
      case Drops::BELOW:
        return v < min;
      case Drops::ABOVE:
        return v > min;
    }
    return false;
  }

 private:
  T min, max;
};

using LAScriterionKeepScanAngle = LAScriterionValue<ScanAngle, Drops::OUTSIDE>;
using LAScriterionDropScanAngleBetween = LAScriterionValue<ScanAngle, Drops::INSIDE>;
using LAScriterionDropScanAngleBelow = LAScriterionValue<ScanAngle, Drops::BELOW>;
using LAScriterionDropScanAngleAbove = LAScriterionValue<ScanAngle, Drops::ABOVE>;
using LAScriterionKeepGpsTime = LAScriterionValue<GpsTime, Drops::OUTSIDE>;
using LAScriterionDropGpsTimeBetween = LAScriterionValue<GpsTime, Drops::INSIDE>;
using LAScriterionDropGpsTimeBelow = LAScriterionValue<GpsTime, Drops::BELOW>;
using LAScriterionDropGpsTimeAbove = LAScriterionValue<GpsTime, Drops::ABOVE>;

// Keeps (or drops) the points whose waveform names descriptor `index`; an
// index above 255 names none.
template <bool keep>
class LAScriterionWavepacket : public LAScriterion {
 public:
  explicit LAScriterionWavepacket(U32 index) : index(index) {}
  const char* name() const override { return keep ? "keep_wavepacket" : "drop_wavepacket"; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_criterion_text(text, name());
    las_option_text_d(text, index);
    return las_criterion_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return LAS_SELECTIVE_WAVEPACKET; }
  bool filter(const LASpoint* point) override { return (point->wave_packet.get_index() == index) != keep; }

 private:
  U32 index;
};

using LAScriterionKeepWavepacket = LAScriterionWavepacket<true>;
using LAScriterionDropWavepacket = LAScriterionWavepacket<false>;

// ------------------------------------------------------------------ applies

// A range as read; scan-angle ranges are put in order.
template <class Criterion, class Field>
LASoptionResult add_range(LASfilterParse& parse, const LASoptionCall& call) {
  typename Field::T min = Field::value(call.values[0]);
  typename Field::T max = Field::value(call.values[1]);
  if (std::is_same_v<Field, ScanAngle> && min > max) std::swap(min, max);
  parse.add(new Criterion(min, max));
  return LASoptionResult::TAKEN;
}

template <class Criterion, class Field>
LASoptionResult add_bound(LASfilterParse& parse, const LASoptionCall& call) {
  parse.add(new Criterion(Field::value(call.values[0]), 0));
  return LASoptionResult::TAKEN;
}

// |a| above max is dropped: the angles from -max to max are kept.
LASoptionResult drop_abs_scan_angle_above(LASfilterParse& parse, const LASoptionCall& call) {
  const F32 max = call.values[0].f32;
  parse.add(max < -max ? new LAScriterionKeepScanAngle(max, -max) : new LAScriterionKeepScanAngle(-max, max));
  return LASoptionResult::TAKEN;
}

// The range from 1 - min to min - 1: for whole degrees exactly the angles
// whose magnitude is below min.
LASoptionResult drop_abs_scan_angle_below(LASfilterParse& parse, const LASoptionCall& call) {
  const F32 min = call.values[0].f32;
  F32 low = 1 - min;
  F32 high = min - 1;
  if (low > high) std::swap(low, high);
  parse.add(new LAScriterionDropScanAngleBetween(low, high));
  return LASoptionResult::TAKEN;
}

// The index is the integer the argument begins with (0 when none), cut to 32
// bits: any text is taken.
template <class Criterion>
LASoptionResult add_wavepacket(LASfilterParse& parse, const LASoptionCall& call) {
  parse.add(new Criterion((U32)strtoll(call.values[0].text, nullptr, 10)));
  return LASoptionResult::TAKEN;
}

template <class Criterion>
constexpr auto angle_range = add_range<Criterion, ScanAngle>;
template <class Criterion>
constexpr auto angle_bound = add_bound<Criterion, ScanAngle>;
template <class Criterion>
constexpr auto time_range = add_range<Criterion, GpsTime>;
template <class Criterion>
constexpr auto time_bound = add_bound<Criterion, GpsTime>;

const LAScriterionOption options[] = {
    {{"-keep_scan_angle", "min max", 2, "%f"}, angle_range<LAScriterionKeepScanAngle>},
    {{"-keep_scan_angle_between", "min max", 2, "%f"}, angle_range<LAScriterionKeepScanAngle>},
    {{"-drop_abs_scan_angle_above", "max", 1, "%f"}, drop_abs_scan_angle_above},
    {{"-drop_abs_scan_angle_below", "min", 1, "%f"}, drop_abs_scan_angle_below},
    {{"-drop_scan_angle_above", "max", 1, "%f"}, angle_bound<LAScriterionDropScanAngleAbove>},
    {{"-drop_scan_angle_below", "min", 1, "%f"}, angle_bound<LAScriterionDropScanAngleBelow>},
    {{"-drop_scan_angle_between", "min max", 2, "%f"}, angle_range<LAScriterionDropScanAngleBetween>},

    {{"-keep_gps_time", "start end", 2, "%lf"}, time_range<LAScriterionKeepGpsTime>},
    {{"-keep_gpstime", "start end", 2, "%lf"}, time_range<LAScriterionKeepGpsTime>},
    {{"-keep_gps_time_between", "start end", 2, "%lf"}, time_range<LAScriterionKeepGpsTime>},
    {{"-keep_gpstime_between", "start end", 2, "%lf"}, time_range<LAScriterionKeepGpsTime>},
    {{"-keep_gps_time_above", "time", 1, "%lf"}, time_bound<LAScriterionDropGpsTimeBelow>},
    {{"-keep_gpstime_above", "time", 1, "%lf"}, time_bound<LAScriterionDropGpsTimeBelow>},
    {{"-keep_gps_time_below", "time", 1, "%lf"}, time_bound<LAScriterionDropGpsTimeAbove>},
    {{"-keep_gpstime_below", "time", 1, "%lf"}, time_bound<LAScriterionDropGpsTimeAbove>},
    {{"-drop_gps_time_above", "max_gps_time", 1, "%lf"}, time_bound<LAScriterionDropGpsTimeAbove>},
    {{"-drop_gpstime_above", "max_gps_time", 1, "%lf"}, time_bound<LAScriterionDropGpsTimeAbove>},
    {{"-drop_gps_time_below", "min_gps_time", 1, "%lf"}, time_bound<LAScriterionDropGpsTimeBelow>},
    {{"-drop_gpstime_below", "min_gps_time", 1, "%lf"}, time_bound<LAScriterionDropGpsTimeBelow>},
    {{"-drop_gps_time_between", "min max", 2, "%lf"}, time_range<LAScriterionDropGpsTimeBetween>},
    {{"-drop_gpstime_between", "min max", 2, "%lf"}, time_range<LAScriterionDropGpsTimeBetween>},

    {{"-keep_wavepacket", "index", 1, "%s"}, add_wavepacket<LAScriterionKeepWavepacket>},
    {{"-drop_wavepacket", "index", 1, "%s"}, add_wavepacket<LAScriterionDropWavepacket>},
};

}  // namespace

std::span<const LAScriterionOption> las_acquisition_criterion_options() { return options; }
