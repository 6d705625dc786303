// Colour operations: set and scale red, green, blue and NIR, move them
// between 8-bit and 16-bit depth, swap and copy channels, turn the colour
// into a grey intensity, and weight a channel by the scaled intensity.
#include <cstring>
#include <string>

#include "core/lasmessage.hpp"
#include "transforms/lasoperation.hpp"

namespace {

enum Channel : int { R = 0, G = 1, B = 2, NIR = 3 };
constexpr U32 U16_LIMIT = 65535;
constexpr U32 RGB_AND_INTENSITY = LAS_SELECTIVE_RGB | LAS_SELECTIVE_INTENSITY;

// ------------------------------------------------------------------ values

struct ForceRGB {
  static constexpr const char* name = "force_RGB";
  static constexpr U32 mask = 0;
  void apply(LASpoint* point) const { point->has_rgb = true; }
};

struct SetRGB {
  static constexpr const char* name = "set_RGB";
  static constexpr U32 mask = 0;
  U16 rgb[3];
  void text(std::string& text) const {
    for (U16 v : rgb) las_option_text_d(text, v);
  }
  void apply(LASpoint* point) const {
    for (int c = R; c <= B; c++) point->rgb[c] = rgb[c];
  }
};

// Legacy points are compared by their five class bits, so the flags in the
// class byte do not matter; LAS 1.4 points by their extended class.
struct SetRGBofClass {
  static constexpr const char* name = "set_RGB_of_class";
  static constexpr U32 mask = LAS_SELECTIVE_CLASSIFICATION;
  U8 classification;
  U16 rgb[3];
  void text(std::string& text) const {
    las_option_text_d(text, classification);
    for (U16 v : rgb) las_option_text_d(text, v);
  }
  void apply(LASpoint* point) const {
    const U8 c = point->get_extended_layout() ? point->extended_classification : point->get_classification();
    if (c == classification) {
      for (int k = R; k <= B; k++) point->rgb[k] = rgb[k];
    }
  }
};

struct SetNIR {
  static constexpr const char* name = "set_NIR";
  static constexpr U32 mask = 0;
  U16 value;
  void text(std::string& text) const { las_option_text_d(text, value); }
  void apply(LASpoint* point) const { point->rgb[NIR] = value; }
};

struct ScaleRGB {
  static constexpr const char* name = "scale_RGB";
  static constexpr U32 mask = LAS_SELECTIVE_RGB;
  F32 scale[3];
  explicit ScaleRGB(const LASoptionValue* v) : scale{v[0].f32, v[1].f32, v[2].f32} {}
  void text(std::string& text) const {
    for (F32 s : scale) las_option_text_g(text, s);
  }
  void apply(LASpoint* point) const {
    for (int c = R; c <= B; c++) point->rgb[c] = las_limited_u16((F32)point->rgb[c] * scale[c]);
  }
};

struct ScaleNIR {
  static constexpr const char* name = "scale_NIR";
  static constexpr U32 mask = LAS_SELECTIVE_NIR;
  F32 scale;
  explicit ScaleNIR(const LASoptionValue* v) : scale(v[0].f32) {}
  void text(std::string& text) const { las_option_text_g(text, scale); }
  void apply(LASpoint* point) const { point->rgb[NIR] = las_limited_u16((F32)point->rgb[NIR] * scale); }
};

// Depth changes of the channels first to last, all by 8 bits. `when` decides
// from all the channels whether they change at all.
enum class Shift { DOWN, UP, TO_8BIT, TO_16BIT, CLAMP_8BIT };

template <Shift shift, int first, int last>
struct Depth {
  static constexpr const char* names[2][5] = {
      {"scale_RGB_down", "scale_RGB_up", "scale_RGB_to_8bit", "scale_RGB_to_16bit", "clamp_RGB_to_8bit"},
      {"scale_NIR_down", "scale_NIR_up", "scale_NIR_to_8bit", "scale_NIR_to_16bit", ""}};
  static constexpr const char* name = names[first == NIR][(int)shift];
  static constexpr U32 mask = first == NIR ? LAS_SELECTIVE_NIR : LAS_SELECTIVE_RGB;
  void apply(LASpoint* point) const {
    U16* v = point->rgb;
    bool any_above_8bit = false;
    for (int c = first; c <= last; c++) any_above_8bit = any_above_8bit || v[c] > 255;
    for (int c = first; c <= last; c++) {
      switch (shift) {
        case Shift::DOWN:
          v[c] = (U16)(v[c] >> 8);
          break;
        case Shift::UP:
          v[c] = (U16)(v[c] << 8);
          break;
        case Shift::TO_8BIT:
          if (any_above_8bit) v[c] = (U16)(v[c] >> 8);
          break;
        case Shift::TO_16BIT:
          if (!any_above_8bit) v[c] = (U16)(v[c] << 8);
          break;
        case Shift::CLAMP_8BIT:
          if (v[c] > 255) v[c] = 255;
          break;
      }
    }
  }
};

// ------------------------------------------------------------------ switches and copies

// Fields read by index: 0 to 3 the colour channels, 4 the intensity.
constexpr int INTENSITY = 4;
inline U16& field(LASpoint* point, int k) { return k == INTENSITY ? point->intensity : point->rgb[k]; }

// How a switch or copy moves fields: each target receives its source; all
// sources are read before any write.
struct Rearrange {
  static constexpr int MAX = 3;
  const char* name;
  U32 mask;
  int count;
  int to[MAX];
  int from[MAX];
  void apply(LASpoint* point) const {
    U16 old[MAX];
    for (int k = 0; k < count; k++) old[k] = field(point, from[k]);
    for (int k = 0; k < count; k++) field(point, to[k]) = old[k];
  }
};

// The switch and copy options, as rearrangements of the point's fields.
constexpr Rearrange rearrangements[] = {
    {"switch_R_G", LAS_SELECTIVE_RGB, 2, {R, G}, {G, R}},
    {"switch_R_B", LAS_SELECTIVE_RGB, 2, {R, B}, {B, R}},
    {"switch_G_B", LAS_SELECTIVE_RGB, 2, {G, B}, {B, G}},
    {"switch_RGBI_into_CIR", LAS_SELECTIVE_RGB | LAS_SELECTIVE_NIR, 3, {R, G, B}, {NIR, R, G}},
    {"switch_RGB_intensity_into_CIR", RGB_AND_INTENSITY, 3, {R, G, B}, {INTENSITY, R, G}},
    {"copy_R_into_intensity", LAS_SELECTIVE_RGB, 1, {INTENSITY}, {R}},
    {"copy_G_into_intensity", LAS_SELECTIVE_RGB, 1, {INTENSITY}, {G}},
    {"copy_B_into_intensity", LAS_SELECTIVE_RGB, 1, {INTENSITY}, {B}},
    {"copy_NIR_into_intensity", LAS_SELECTIVE_NIR, 1, {INTENSITY}, {NIR}},
    {"copy_R_into_NIR", LAS_SELECTIVE_RGB, 1, {NIR}, {R}},
    {"copy_G_into_NIR", LAS_SELECTIVE_RGB, 1, {NIR}, {G}},
    {"copy_B_into_NIR", LAS_SELECTIVE_RGB, 1, {NIR}, {B}},
    {"copy_intensity_into_NIR", LAS_SELECTIVE_INTENSITY, 1, {NIR}, {INTENSITY}},
};

template <int index>
LASoptionResult add_rearrangement(LAStransformParse& parse, const LASoptionCall&) {
  return las_add_rule(parse, rearrangements[index]);
}

// The weights add up to 0.9999, so the grey value stays below 65535.
struct CopyRGBintoIntensity {
  static constexpr const char* name = "copy_RGB_into_intensity";
  static constexpr U32 mask = LAS_SELECTIVE_RGB;
  void apply(LASpoint* point) const {
    const F64 grey = 0.2989 * point->rgb[R] + 0.587 * point->rgb[G] + 0.114 * point->rgb[B];
    point->intensity = (U16)(grey + 0.5);
  }
};

// ------------------------------------------------------------------ intensity-weighted colour

constexpr const char* CHANNEL_WORDS[4] = {"red", "green", "blue", "nir"};

struct MultiplyScaledIntensityIntoRGB {
  static constexpr const char* name = "multiply_scaled_intensity_into_RGB";
  static constexpr U32 mask = RGB_AND_INTENSITY;
  U32 channel;
  F32 scale;
  // The channel word belongs to the option word: "..._RGB_red 0.5".
  void text(std::string& text) const {
    text.back() = '_';
    las_option_text(text, CHANNEL_WORDS[channel]);
    las_option_text_f(text, scale);
  }
  void apply(LASpoint* point) const {
    U16& v = point->rgb[channel];
    v = las_limited_u16((F32)point->intensity * scale * (F32)v);
  }
};

// Built for a channel word that names no channel: it keeps the option
// accepted but changes no point, and refuses offset adjustment.
class LASoperationMultiplyScaledIntensityRangeIntoRGB : public LASoperation {
 public:
  explicit LASoperationMultiplyScaledIntensityRangeIntoRGB(F32 scale) : scale(scale) {}
  const char* name() const override { return "multiply_scaled_intensity_range_into_RGB"; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_operation_text(text, name());
    las_option_text_f(text, scale);
    return las_operation_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return RGB_AND_INTENSITY; }
  F64* transform_coords_for_offset_adjustment(F64, F64, F64) override {
    LASMessage(WARNING,
               "The adjustment of the offset using '-offset_adjust' is not supported for the operation '%s' yet.",
               name());
    return nullptr;
  }
  void transform(LASpoint*) override {}

 private:
  F32 scale;
};

// The channel word at `at` in the option word, or -1.
int channel_at(const char* word, size_t at) {
  if (strlen(word) < at) return -1;
  for (int c = R; c <= NIR; c++) {
    if (strcmp(word + at, CHANNEL_WORDS[c]) == 0) return c;
  }
  return -1;
}

// "-multiply_scaled_intensity_into_RGB" is 35 characters; the character
// after it is not looked at, the channel word follows.
LASoptionResult add_multiply_scaled(LAStransformParse& parse, const LASoptionCall& call) {
  const F32 scale = call.values[0].f32;
  if (scale == 0.0f) {
    laserror("'%s' needs 1 argument: scale but '%g' is no valid scale", call.typed, scale);
    return LASoptionResult::FAILED;
  }
  const int channel = channel_at(call.typed, 36);
  if (channel < 0) {
    parse.add(new LASoperationMultiplyScaledIntensityRangeIntoRGB(scale));
    return LASoptionResult::TAKEN;
  }
  return las_add_rule(parse, MultiplyScaledIntensityIntoRGB{(U32)channel, scale});
}

// The word the range operation writes for itself: child processes and
// layer files rebuild it from there.
LASoptionResult add_multiply_range(LAStransformParse& parse, const LASoptionCall& call) {
  parse.add(new LASoperationMultiplyScaledIntensityRangeIntoRGB(call.values[0].f32));
  return LASoptionResult::TAKEN;
}

// "-multiply_divided_intensity_into_RG" matched; the two characters after it
// are not looked at. A word that names no channel is left for other parsers.
LASoptionResult add_multiply_divided(LAStransformParse& parse, const LASoptionCall& call) {
  const F32 divisor = call.values[0].f32;
  if (divisor == 0.0f) {
    laserror("'%s' needs 1 argument: scale but '%g' is no valid divisor", call.typed, divisor);
    return LASoptionResult::FAILED;
  }
  const int channel = channel_at(call.typed, 37);
  if (channel < 0) return LASoptionResult::LEFT;
  return las_add_rule(parse, MultiplyScaledIntensityIntoRGB{(U32)channel, 1.0f / divisor});
}

// ------------------------------------------------------------------ parsing

bool fits(U32 value, U32 limit, const char* message) {
  if (value <= limit) return true;
  laserror(message, value, limit);
  return false;
}

// The three colour values from `first` on, checked in order.
bool read_rgb(const LASoptionCall& call, size_t first, U16 (&rgb)[3]) {
  static constexpr const char* messages[3] = {"cannot set RGB because R is %u, which is larger than %u",
                                              "cannot set RGB because G is %u, which is larger than %u",
                                              "cannot set RGB because B is %u, which is larger than %u"};
  for (int c = R; c <= B; c++) {
    if (!fits(call.values[first + c].u32, U16_LIMIT, messages[c])) return false;
    rgb[c] = (U16)call.values[first + c].u32;
  }
  return true;
}

LASoptionResult add_set_rgb(LAStransformParse& parse, const LASoptionCall& call) {
  SetRGB rule;
  if (!read_rgb(call, 0, rule.rgb)) return LASoptionResult::FAILED;
  return las_add_rule(parse, rule);
}

LASoptionResult add_set_rgb_of_class(LAStransformParse& parse, const LASoptionCall& call) {
  SetRGBofClass rule;
  const U32 classification = call.values[0].u32;
  if (!fits(classification, 255, "cannot set RGB because classification is %u, which is larger than %u")) {
    return LASoptionResult::FAILED;
  }
  rule.classification = (U8)classification;
  if (!read_rgb(call, 1, rule.rgb)) return LASoptionResult::FAILED;
  return las_add_rule(parse, rule);
}

LASoptionResult add_set_nir(LAStransformParse& parse, const LASoptionCall& call) {
  const U32 value = call.values[0].u32;
  if (!fits(value, U16_LIMIT, "cannot set NIR because value is %u, which is larger than %u")) {
    return LASoptionResult::FAILED;
  }
  return las_add_rule(parse, SetNIR{(U16)value});
}

using RGBdown = LASoperationOf<Depth<Shift::DOWN, R, B>>;
using RGBup = LASoperationOf<Depth<Shift::UP, R, B>>;
using RGBto8 = LASoperationOf<Depth<Shift::TO_8BIT, R, B>>;
using RGBto16 = LASoperationOf<Depth<Shift::TO_16BIT, R, B>>;
using RGBclamp8 = LASoperationOf<Depth<Shift::CLAMP_8BIT, R, B>>;
using NIRdown = LASoperationOf<Depth<Shift::DOWN, NIR, NIR>>;
using NIRup = LASoperationOf<Depth<Shift::UP, NIR, NIR>>;
using NIRto8 = LASoperationOf<Depth<Shift::TO_8BIT, NIR, NIR>>;
using NIRto16 = LASoperationOf<Depth<Shift::TO_16BIT, NIR, NIR>>;

constexpr const char* NUMBER = "{needs} but '{arg}' is no valid number";
constexpr const char* SCALE_RGB_VALUES = "scale_R scale_G scale_B";

const LASoperationOption options[] = {
    {{"-force_RGB", "", 0, ""}, las_add_operation<LASoperationOf<ForceRGB>>},
    {{"-set_RGB", "R G B", 3, "%u"}, add_set_rgb},
    {{"-set_RGB_of_class", "classification R G B", 4, "%u"}, add_set_rgb_of_class},
    {{"-set_NIR", "value", 1, "%u", 0, nullptr, "{needs} but '{arg}' is not valid"}, add_set_nir},
    {{"-scale_RGB", SCALE_RGB_VALUES, 3, "%f", 0, nullptr, NUMBER}, las_add_operation<LASoperationOf<ScaleRGB>>},
    {{"-scale_rgb", SCALE_RGB_VALUES, 3, "%f", 0, nullptr, NUMBER}, las_add_operation<LASoperationOf<ScaleRGB>>},
    {{"-scale_RGB_down", "", 0, ""}, las_add_operation<RGBdown>},
    {{"-scale_rgb_down", "", 0, ""}, las_add_operation<RGBdown>},
    {{"-scale_RGB_up", "", 0, ""}, las_add_operation<RGBup>},
    {{"-scale_rgb_up", "", 0, ""}, las_add_operation<RGBup>},
    {{"-scale_RGB_to_8bit", "", 0, ""}, las_add_operation<RGBto8>},
    {{"-scale_rgb_to_8bit", "", 0, ""}, las_add_operation<RGBto8>},
    {{"-scale_RGB_to_16bit", "", 0, ""}, las_add_operation<RGBto16>},
    {{"-scale_rgb_to_16bit", "", 0, ""}, las_add_operation<RGBto16>},
    {{"-clamp_RGB_to_8bit", "", 0, ""}, las_add_operation<RGBclamp8>},
    {{"-scale_NIR", "scale_NIR", 1, "%f", 0, nullptr, NUMBER}, las_add_operation<LASoperationOf<ScaleNIR>>},
    {{"-scale_nir", "scale_NIR", 1, "%f", 0, nullptr, NUMBER}, las_add_operation<LASoperationOf<ScaleNIR>>},
    {{"-scale_NIR_down", "", 0, ""}, las_add_operation<NIRdown>},
    {{"-scale_nir_down", "", 0, ""}, las_add_operation<NIRdown>},
    {{"-scale_NIR_up", "", 0, ""}, las_add_operation<NIRup>},
    {{"-scale_nir_up", "", 0, ""}, las_add_operation<NIRup>},
    {{"-scale_NIR_to_8bit", "", 0, ""}, las_add_operation<NIRto8>},
    {{"-scale_nir_to_8bit", "", 0, ""}, las_add_operation<NIRto8>},
    {{"-scale_NIR_to_16bit", "", 0, ""}, las_add_operation<NIRto16>},
    {{"-scale_nir_to_16bit", "", 0, ""}, las_add_operation<NIRto16>},
    {{"-switch_R_G", "", 0, ""}, add_rearrangement<0>},
    {{"-switch_R_B", "", 0, ""}, add_rearrangement<1>},
    {{"-switch_G_B", "", 0, ""}, add_rearrangement<2>},
    {{"-switch_RGBI_into_CIR", "", 0, ""}, add_rearrangement<3>},
    {{"-switch_RGB_intensity_into_CIR", "", 0, ""}, add_rearrangement<4>},
    {{"-copy_R_into_intensity", "", 0, ""}, add_rearrangement<5>},
    {{"-copy_G_into_intensity", "", 0, ""}, add_rearrangement<6>},
    {{"-copy_B_into_intensity", "", 0, ""}, add_rearrangement<7>},
    {{"-copy_NIR_into_intensity", "", 0, ""}, add_rearrangement<8>},
    {{"-copy_R_into_NIR", "", 0, ""}, add_rearrangement<9>},
    {{"-copy_G_into_NIR", "", 0, ""}, add_rearrangement<10>},
    {{"-copy_B_into_NIR", "", 0, ""}, add_rearrangement<11>},
    {{"-copy_intensity_into_NIR", "", 0, ""}, add_rearrangement<12>},
    {{"-copy_RGB_into_intensity", "", 0, ""}, las_add_operation<LASoperationOf<CopyRGBintoIntensity>>},
    {{"-multiply_scaled_intensity_into_RGB", "scale", 1, "%f", 0, nullptr, "{needs} but '{arg}' is no valid scale",
      nullptr, true},
     add_multiply_scaled},
    {{"-multiply_scaled_intensity_range_into_RGB", "scale", 1, "%f", 0, nullptr,
      "{needs} but '{arg}' is no valid scale"},
     add_multiply_range},
    {{"-multiply_divided_intensity_into_RG", "divisor", 1, "%f", 0, "'{option}' needs 1 argument: divisor ",
      "'{option}' needs 1 argument: scale but '{arg}' is no valid divisor", nullptr, true},
     add_multiply_divided},
};

const LASoperationUsage usage[] = {
    {3, 8, "-copy_RGB_into_intensity"},
    {3, 9, "-copy_NIR_into_intensity"},
    {12, 1, "-set_RGB 255 0 127"},
    {12, 2, "-set_RGB_of_class 9 0 0 255"},
    {12, 3, "-scale_RGB 2 4 2"},
    {12, 4, "-scale_RGB_down (by 256)"},
    {12, 5, "-scale_RGB_up (by 256)"},
    {12, 6, "-scale_RGB_to_8bit (only scales down 16 bit values)"},
    {12, 7, "-scale_RGB_to_16bit (only scales up 8 bit values)"},
    {12, 8, "-clamp_RGB_to_8bit"},
    {12, 9, "-set_NIR 65535"},
    {12, 10, "-scale_NIR 2"},
    {12, 11, "-scale_NIR_down (by 256)"},
    {12, 12, "-scale_NIR_up (by 256)"},
    {12, 13, "-scale_NIR_to_8bit (only scales down 16 bit values)"},
    {12, 14, "-scale_NIR_to_16bit (only scales up 8 bit values)"},
    {12, 15, "-switch_R_G -switch_R_B -switch_G_B"},
    {12, 16, "-copy_R_into_NIR -copy_R_into_intensity"},
    {12, 17, "-copy_G_into_NIR -copy_G_into_intensity"},
    {12, 18, "-copy_B_into_NIR -copy_B_into_intensity"},
    {12, 19, "-copy_intensity_into_NIR"},
    {12, 20, "-switch_RGBI_into_CIR"},
    {12, 21, "-switch_RGB_intensity_into_CIR"},
    {12, 22, "-force_RGB"},
};

}  // namespace

LASoperationFamily las_color_operations() { return {options, usage}; }
