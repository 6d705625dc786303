// Intensity operations: set, scale, translate, clamp, and a look-up table read
// from a text file. Results are limited to 0..65535, never wrapped.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/lasmessage.hpp"
#include "transforms/lasoperation.hpp"

namespace {

constexpr U32 U16_LIMIT = 65535;

struct SetIntensity {
  static constexpr const char* name = "set_intensity";
  static constexpr U32 mask = 0;
  U16 value;
  void text(std::string& text) const { las_option_text_d(text, value); }
  void apply(LASpoint* point) const { point->intensity = value; }
};

// The three single-precision formulas share the limiting store.
struct ScaleIntensity {
  static constexpr const char* name = "scale_intensity";
  static constexpr U32 mask = LAS_SELECTIVE_INTENSITY;
  F32 scale;
  explicit ScaleIntensity(const LASoptionValue* v) : scale(v[0].f32) {}
  void text(std::string& text) const { las_option_text_g(text, scale); }
  void apply(LASpoint* point) const { point->intensity = las_limited_u16((F32)point->intensity * scale); }
};

struct TranslateIntensity {
  static constexpr const char* name = "translate_intensity";
  static constexpr U32 mask = LAS_SELECTIVE_INTENSITY;
  F32 offset;
  explicit TranslateIntensity(const LASoptionValue* v) : offset(v[0].f32) {}
  void text(std::string& text) const { las_option_text_g(text, offset); }
  void apply(LASpoint* point) const { point->intensity = las_limited_u16((F32)point->intensity + offset); }
};

struct TranslateThenScaleIntensity {
  static constexpr const char* name = "translate_then_scale_intensity";
  static constexpr U32 mask = LAS_SELECTIVE_INTENSITY;
  F32 offset, scale;
  explicit TranslateThenScaleIntensity(const LASoptionValue* v) : offset(v[0].f32), scale(v[1].f32) {}
  void text(std::string& text) const {
    las_option_text_g(text, offset);
    las_option_text_g(text, scale);
  }
  void apply(LASpoint* point) const { point->intensity = las_limited_u16(((F32)point->intensity + offset) * scale); }
};

// The upper bound is tested first, so that bounds given the wrong way round
// still give a defined answer.
struct ClampIntensity {
  static constexpr const char* name = "clamp_intensity";
  static constexpr U32 mask = LAS_SELECTIVE_INTENSITY;
  U16 below, above;
  void text(std::string& text) const {
    las_option_text_d(text, below);
    las_option_text_d(text, above);
  }
  void apply(LASpoint* point) const {
    if (point->intensity > above) {
      point->intensity = above;
    } else if (point->intensity < below) {
      point->intensity = below;
    }
  }
};

struct ClampIntensityBelow {
  static constexpr const char* name = "clamp_intensity_below";
  static constexpr U32 mask = LAS_SELECTIVE_INTENSITY;
  U16 below;
  void text(std::string& text) const { las_option_text_d(text, below); }
  void apply(LASpoint* point) const {
    if (point->intensity < below) point->intensity = below;
  }
};

struct ClampIntensityAbove {
  static constexpr const char* name = "clamp_intensity_above";
  static constexpr U32 mask = LAS_SELECTIVE_INTENSITY;
  U16 above;
  void text(std::string& text) const { las_option_text_d(text, above); }
  void apply(LASpoint* point) const {
    if (point->intensity > above) point->intensity = above;
  }
};

// A name read back from option text still carries the double quotes the text
// put around it: without them it names the file the operation was built from.
std::string unquoted(const char* name) {
  const size_t n = strlen(name);
  if (n >= 2 && name[0] == '"' && name[n - 1] == '"') return std::string(name + 1, n - 2);
  return name;
}

// Replaces each intensity by its entry of a full table, so a lookup is one
// array access. The file name is kept for the option text.
struct MapIntensity {
  static constexpr const char* name = "map_intensity";
  static constexpr U32 mask = LAS_SELECTIVE_INTENSITY;
  std::string file_name;
  U16 map[U16_LIMIT + 1];

  explicit MapIntensity(const LASoptionValue* v) : file_name(unquoted(v[0].text)) {
    for (U32 i = 0; i <= U16_LIMIT; i++) map[i] = (U16)i;
  }
  void text(std::string& text) const { las_option_text(text, ("\"" + file_name + "\"").c_str()); }
  void apply(LASpoint* point) const { point->intensity = map[point->intensity]; }

  // Reads "from to" lines; a line that is not two numbers up to 65535 is
  // skipped, and a later line for the same value wins. Lines are read in
  // parts of 127 characters, each part scanned on its own.
  void read(FILE* file) {
    char line[128];
    while (fgets(line, sizeof(line), file)) {
      U32 from, to;
      if (scan_pair(line, from, to) && from <= U16_LIMIT && to <= U16_LIMIT) map[from] = (U16)to;
    }
  }

 private:
  // Two unsigned numbers at the start of the text; a number too long for
  // 32 bits counts as too large rather than wrapping.
  static bool scan_pair(const char* text, U32& first, U32& second) {
    U32* values[2] = {&first, &second};
    const char* p = text;
    for (U32* value : values) {
      char* end;
      const unsigned long long v = strtoull(p, &end, 10);
      if (end == p) return false;
      *value = v > U32_MAX ? U32_MAX : (U32)v;
      p = end;
    }
    return true;
  }
};

LASoptionResult add_map_intensity(LAStransformParse& parse, const LASoptionCall& call) {
  FILE* file = LASfopen(unquoted(call.values[0].text).c_str(), "r");
  if (file == nullptr) {
    laserror("'%s' needs text file with map but '%s' cannot be opened", call.typed, call.values[0].text);
    return LASoptionResult::FAILED;
  }
  auto operation = std::make_unique<LASoperationOf<MapIntensity>>(call.values.data());
  operation->get_rule().read(file);
  fclose(file);
  parse.add(operation.release());
  return LASoptionResult::TAKEN;
}

// A %u value above 65535 is refused with the option's "cannot" message.
bool fits_u16(U32 value, const char* message) {
  if (value <= U16_LIMIT) return true;
  laserror(message, value, U16_LIMIT);
  return false;
}

LASoptionResult add_set(LAStransformParse& parse, const LASoptionCall& call) {
  const U32 value = call.values[0].u32;
  if (!fits_u16(value, "cannot set intensity because value of %u is larger than %u")) return LASoptionResult::FAILED;
  return las_add_rule(parse, SetIntensity{(U16)value});
}

constexpr const char* BELOW_TOO_LARGE = "cannot clamp intensity because below value of %u is larger than %u";
constexpr const char* ABOVE_TOO_LARGE = "cannot clamp intensity because above value of %u is larger than %u";

LASoptionResult add_clamp(LAStransformParse& parse, const LASoptionCall& call) {
  const U32 below = call.values[0].u32, above = call.values[1].u32;
  if (!fits_u16(below, BELOW_TOO_LARGE) || !fits_u16(above, ABOVE_TOO_LARGE)) return LASoptionResult::FAILED;
  return las_add_rule(parse, ClampIntensity{(U16)below, (U16)above});
}
LASoptionResult add_clamp_below(LAStransformParse& parse, const LASoptionCall& call) {
  if (!fits_u16(call.values[0].u32, BELOW_TOO_LARGE)) return LASoptionResult::FAILED;
  return las_add_rule(parse, ClampIntensityBelow{(U16)call.values[0].u32});
}
LASoptionResult add_clamp_above(LAStransformParse& parse, const LASoptionCall& call) {
  if (!fits_u16(call.values[0].u32, ABOVE_TOO_LARGE)) return LASoptionResult::FAILED;
  return las_add_rule(parse, ClampIntensityAbove{(U16)call.values[0].u32});
}

const LASoperationOption options[] = {
    {{"-set_intensity", "value", 1, "%u"}, add_set},
    {{"-scale_intensity", "scale", 1, "%f", 0, nullptr, "{needs} but '{arg}' is no valid number"},
     las_add_operation<LASoperationOf<ScaleIntensity>>},
    {{"-translate_intensity", "offset", 1, "%f"}, las_add_operation<LASoperationOf<TranslateIntensity>>},
    {{"-translate_then_scale_intensity", "offset scale", 2, "%f"},
     las_add_operation<LASoperationOf<TranslateThenScaleIntensity>>},
    {{"-clamp_intensity", "below above", 2, "%u", 0, nullptr, "{needs} but '{arg}' is no valid {name} value"},
     add_clamp},
    {{"-clamp_intensity_below", "below", 1, "%u", 0, nullptr, "{needs} but '{arg}' is no valid below value"},
     add_clamp_below},
    {{"-clamp_intensity_above", "above", 1, "%u", 0, nullptr, "{needs} but '{arg}' is no valid above value"},
     add_clamp_above},
    {{"-map_intensity", "map_file_name.txt", 1, "%s"}, add_map_intensity},
};

const LASoperationUsage usage[] = {
    {3, 1, "-set_intensity 0"},
    {3, 2, "-scale_intensity 2.5"},
    {3, 3, "-translate_intensity 50"},
    {3, 4, "-translate_then_scale_intensity 0.5 3.1"},
    {3, 5, "-clamp_intensity 0 255"},
    {3, 6, "-clamp_intensity_above 255"},
    {3, 7, "-map_intensity map_file.txt"},
};

}  // namespace

LASoperationFamily las_intensity_operations() { return {options, usage}; }
