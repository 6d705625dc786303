// Criteria on the colour of a point: a closed range on one of red, green,
// blue or near infrared, on the greenness 2 green - red - blue, on the NDVI
// (N - R) / (N + R) of a near-infrared and a red value taken from where the
// option says, and on hue, saturation and value (HSV) or lightness (HSL). The
// channels are read as stored: a point without colour has them at 0. None
// keeps state beyond the point it judges.
//
// The options with a channel word ("-keep_RGB_red", "-keep_HSV_hue", ...) read
// their values before they look at the word; a word that names nothing leaves
// the option and its values for the other parsers.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "core/laspoint.hpp"
#include "core/lasreader.hpp"
#include "filters/lascriterion.hpp"

namespace {

// The word after `prefix` in the option as typed, as an index into `words`;
// -1 when it is none of them.
int word_index(const LASoptionCall& call, const char* const* words, int count) {
  const char* rest = call.typed + strlen(call.option->name);
  for (int k = 0; k < count; k++) {
    if (strcmp(rest, words[k]) == 0) return k;
  }
  return -1;
}

// A name with its channel word, written as one option.
size_t channel_text(std::string& text, const char* name, const char* word) {
  return las_criterion_text(text, (std::string(name) + "_" + word).c_str());
}

// ------------------------------------------------------------------ RGB and NIR

constexpr const char* RGB_WORDS[] = {"red", "green", "blue", "nir"};

template <bool keep>
class LAScriterionRGB : public LAScriterion {
 public:
  LAScriterionRGB(I32 min, I32 max, I32 channel) : min(min), max(max), channel(channel) {}
  const char* name() const override { return keep ? "keep_RGB" : "drop_RGB"; }
  I32 get_command(std::string& text) const override {
    const size_t start = channel_text(text, name(), RGB_WORDS[channel < 3 ? channel : 3]);
    las_option_text_d(text, min);
    las_option_text_d(text, max);
    return las_criterion_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return LAS_SELECTIVE_RGB; }
  bool filter(const LASpoint* point) override {
    const I32 v = point->rgb[channel];
    const bool inside = min <= v && v <= max;
    return inside != keep;
  }

 private:
  I32 min, max, channel;
};

using LAScriterionKeepRGB = LAScriterionRGB<true>;
using LAScriterionDropRGB = LAScriterionRGB<false>;

class LAScriterionKeepRGBgreenness : public LAScriterion {
 public:
  LAScriterionKeepRGBgreenness(I32 min, I32 max) : min(min), max(max) {}
  const char* name() const override { return "keep_RGB_greenness"; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_criterion_text(text, name());
    las_option_text_d(text, min);
    las_option_text_d(text, max);
    return las_criterion_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return LAS_SELECTIVE_RGB; }
  bool filter(const LASpoint* point) override {
    const I32 g = 2 * (I32)point->rgb[1] - (I32)point->rgb[0] - (I32)point->rgb[2];
    return g < min || g > max;
  }

 private:
  I32 min, max;
};

// ------------------------------------------------------------------ NDVI

// Where the near infrared N and the red R of the index are stored.
enum class Ndvi : U8 {
  CHANNEL,    // N in rgb[channel], R in red
  FROM_CIR,   // a colour-infrared image: N in the red slot, R in the green slot
  INTENSITY,  // N in the intensity, R in red
};

template <Ndvi source>
class LAScriterionNDVI : public LAScriterion {
 public:
  LAScriterionNDVI(F32 min, F32 max, I32 channel = 3) : min(min), max(max), channel(channel) {}
  const char* name() const override {
    switch (source) {
      case Ndvi::CHANNEL:
        return "keep_NDVI";
      case Ndvi::FROM_CIR:
        return "keep_NDVI_from_CIR";
      case Ndvi::INTENSITY:
        return "keep_NDVI_intensity_is_NIR";
    }
    return "";
  }
  I32 get_command(std::string& text) const override {
    const char* suffix = "";
    if (source == Ndvi::CHANNEL && channel != 3) suffix = channel == 1 ? "_green_is_NIR" : "_blue_is_NIR";
    const size_t start = las_criterion_text(text, (std::string(name()) + suffix).c_str());
    las_option_text_g(text, min);
    las_option_text_g(text, max);
    return las_criterion_text_size(text, start);
  }
  U32 get_decompress_selective() const override {
    if (source == Ndvi::INTENSITY) return LAS_SELECTIVE_RGB | LAS_SELECTIVE_INTENSITY;
    if (source == Ndvi::CHANNEL && channel == 3) return LAS_SELECTIVE_RGB | LAS_SELECTIVE_NIR;
    return LAS_SELECTIVE_RGB;
  }
  // With N and R both 0 the index is not a number: no comparison holds and
  // the point passes.
  bool filter(const LASpoint* point) override {
    I32 n = point->rgb[channel];
    I32 r = point->rgb[0];
    if (source == Ndvi::FROM_CIR) {
      n = point->rgb[0];
      r = point->rgb[1];
    } else if (source == Ndvi::INTENSITY) {
      n = point->intensity;
    }
    const F32 ndvi = (F32)(n - r) / (F32)(n + r);
    return ndvi < min || ndvi > max;
  }

 private:
  F32 min, max;
  I32 channel;
};

// ------------------------------------------------------------------ HSV and HSL

enum class Model : U8 { HSV, HSL };

constexpr const char* COMPONENT_WORDS[2][3] = {{"hue", "saturation", "value"}, {"hue", "saturation", "lightness"}};

// Hue, saturation and value or lightness of the point, each in 0 to 1; all 0
// for a point without colour.
template <Model model>
void components_of(const LASpoint* point, F32 hsx[3]) {
  hsx[0] = hsx[1] = hsx[2] = 0.0f;
  if (!point->has_rgb) return;
  const F32 depth = std::ldexp(1.0f, point->rgb_bit_depth);
  const F32 r = point->rgb[0] / depth;
  const F32 g = point->rgb[1] / depth;
  const F32 b = point->rgb[2] / depth;
  const F32 M = std::max(r, std::max(g, b));
  const F32 m = std::min(r, std::min(g, b));
  const F32 delta = M - m;
  if (M != m) {
    if (r == M) {
      hsx[0] = ((g - b) / delta + (b > g ? 6.0f : 0.0f)) / 6.0f;
    } else if (g == M) {
      hsx[0] = ((b - r) / delta + 2.0f) / 6.0f;
    } else {
      hsx[0] = ((r - g) / delta + 4.0f) / 6.0f;
    }
  }
  if (model == Model::HSV) {
    hsx[2] = M;
    hsx[1] = M != 0.0f ? delta / M : 0.0f;
  } else {
    hsx[2] = (M + m) * 0.5f;
    if (M != m) hsx[1] = hsx[2] <= 0.5f ? delta / (M + m) : delta / (2.0f - M - m);
  }
}

// Ranges on all three components: keep drops a point with any component
// outside its range, drop one with all three inside.
template <Model model, bool keep>
class LAScriterionHSXA : public LAScriterion {
 public:
  explicit LAScriterionHSXA(const F32 bounds[6]) {
    for (int k = 0; k < 6; k++) this->bounds[k] = bounds[k];
  }
  const char* name() const override {
    if (model == Model::HSV) return keep ? "keep_HSV" : "drop_HSV";
    return keep ? "keep_HSL" : "drop_HSL";
  }
  I32 get_command(std::string& text) const override {
    const size_t start = las_criterion_text(text, name());
    for (F32 bound : bounds) las_option_text_f(text, bound);
    return las_criterion_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return LAS_SELECTIVE_RGB; }
  bool filter(const LASpoint* point) override {
    components_of<model>(point, hsx);
    bool inside = true;
    for (int k = 0; k < 3; k++) inside = inside && bounds[2 * k] <= hsx[k] && hsx[k] <= bounds[2 * k + 1];
    return inside != keep;
  }

 private:
  F32 bounds[6];  // hue, saturation, value or lightness: min, max each
  F32 hsx[3] = {0.0f, 0.0f, 0.0f};
};

// A range on one component (`channel` 0 hue, 1 saturation, 2 value or
// lightness). A component that is not a number is outside every range.
template <Model model, bool keep>
class LAScriterionHSX : public LAScriterion {
 public:
  LAScriterionHSX(F32 min, F32 max, I32 channel) : min(min), max(max), channel(channel) {}
  const char* name() const override {
    if (model == Model::HSV) return keep ? "keep_HSV" : "drop_HSV";
    return keep ? "keep_HSL" : "drop_HSL";
  }
  I32 get_command(std::string& text) const override {
    const size_t start = channel_text(text, name(), COMPONENT_WORDS[(int)model][channel < 2 ? channel : 2]);
    las_option_text_f(text, min);
    las_option_text_f(text, max);
    return las_criterion_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return LAS_SELECTIVE_RGB; }
  bool filter(const LASpoint* point) override {
    components_of<model>(point, hsx);
    const F32 v = hsx[channel];
    if (keep) return v < min || v > max;
    return min <= v && v <= max;
  }

 private:
  F32 min, max;
  I32 channel;
  F32 hsx[3] = {0.0f, 0.0f, 0.0f};
};

// ------------------------------------------------------------------ applies

template <bool keep>
LASoptionResult add_rgb(LASfilterParse& parse, const LASoptionCall& call) {
  I32 min = call.values[0].i32;
  I32 max = call.values[1].i32;
  if (min > max) std::swap(min, max);
  if (keep && strcmp(call.typed, "-keep_RGB_greenness") == 0) {
    parse.add(new LAScriterionKeepRGBgreenness(min, max));
    return LASoptionResult::TAKEN;
  }
  const int channel = word_index(call, RGB_WORDS, 4);
  if (channel < 0) return LASoptionResult::LEFT;
  parse.add(new LAScriterionRGB<keep>(min, max, channel));
  return LASoptionResult::TAKEN;
}

LASoptionResult add_ndvi(LASfilterParse& parse, const LASoptionCall& call) {
  F32 min = call.values[0].f32;
  F32 max = call.values[1].f32;
  if (min > max) std::swap(min, max);
  static const char* const suffixes[] = {"", "_green_is_NIR", "_blue_is_NIR", "_from_CIR", "_intensity_is_NIR"};
  switch (word_index(call, suffixes, 5)) {
    case 0:
      parse.add(new LAScriterionNDVI<Ndvi::CHANNEL>(min, max, 3));
      break;
    case 1:
      parse.add(new LAScriterionNDVI<Ndvi::CHANNEL>(min, max, 1));
      break;
    case 2:
      parse.add(new LAScriterionNDVI<Ndvi::CHANNEL>(min, max, 2));
      break;
    case 3:
      parse.add(new LAScriterionNDVI<Ndvi::FROM_CIR>(min, max));
      break;
    case 4:
      parse.add(new LAScriterionNDVI<Ndvi::INTENSITY>(min, max));
      break;
    default:
      return LASoptionResult::LEFT;
  }
  return LASoptionResult::TAKEN;
}

// Reads pairs of hue, saturation, value or lightness (degrees and percents
// allowed) into `bounds`, each pair put in order and checked to lie in 0 to 1.
// A range refused by the check has already been reported.
bool read_pairs(const LASoptionCall& call, F32* bounds, size_t pairs) {
  for (size_t p = 0; p < pairs; p++) {
    for (size_t k = 2 * p; k < 2 * p + 2; k++) {
      if (strToFloatDegPcFail(call.values[k].text, &bounds[k])) {
        laserror("%s", call.invalid_message(k).c_str());
        return false;
      }
    }
    if (!rangeValidate<F32>(call.typed, &bounds[2 * p], &bounds[2 * p + 1], 0.0f, 1.0f)) return false;
  }
  return true;
}

template <Model model, bool keep>
LASoptionResult add_all_components(LASfilterParse& parse, const LASoptionCall& call) {
  F32 bounds[6];
  if (!read_pairs(call, bounds, 3)) return LASoptionResult::FAILED;
  parse.add(new LAScriterionHSXA<model, keep>(bounds));
  return LASoptionResult::TAKEN;
}

template <Model model, bool keep>
LASoptionResult add_component(LASfilterParse& parse, const LASoptionCall& call) {
  F32 bounds[2];
  if (!read_pairs(call, bounds, 1)) return LASoptionResult::FAILED;
  const int channel = word_index(call, COMPONENT_WORDS[(int)model], 3);
  if (channel < 0) return LASoptionResult::LEFT;
  parse.add(new LAScriterionHSX<model, keep>(bounds[0], bounds[1], channel));
  return LASoptionResult::TAKEN;
}

constexpr const char* SIX = "h_min h_max s_min s_max v_min v_max";
constexpr const char* SIX_INVALID = "'{option}' argument {name} is not valid: '{arg}'";

const LAScriterionOption options[] = {
    {{"-keep_RGB_", "min max", 2, "%d", 0, nullptr, nullptr, nullptr, true}, add_rgb<true>},
    {{"-drop_RGB_", "min max", 2, "%d", 0, nullptr, nullptr, nullptr, true}, add_rgb<false>},
    {{"-keep_NDVI", "min max", 2, "%f", 0, nullptr, nullptr, nullptr, true}, add_ndvi},

    {{"-keep_HSV", SIX, 6, "%s", 0, nullptr, SIX_INVALID}, add_all_components<Model::HSV, true>},
    {{"-drop_HSV", SIX, 6, "%s", 0, nullptr, SIX_INVALID}, add_all_components<Model::HSV, false>},
    {{"-keep_HSL", SIX, 6, "%s", 0, nullptr, SIX_INVALID}, add_all_components<Model::HSL, true>},
    {{"-drop_HSL", SIX, 6, "%s", 0, nullptr, SIX_INVALID}, add_all_components<Model::HSL, false>},
    {{"-keep_HSV_", "min max", 2, "%s", 0, nullptr, nullptr, nullptr, true}, add_component<Model::HSV, true>},
    {{"-drop_HSV_", "min max", 2, "%s", 0, nullptr, nullptr, nullptr, true}, add_component<Model::HSV, false>},
    {{"-keep_HSL_", "min max", 2, "%s", 0, nullptr, nullptr, nullptr, true}, add_component<Model::HSL, true>},
    {{"-drop_HSL_", "min max", 2, "%s", 0, nullptr, nullptr, nullptr, true}, add_component<Model::HSL, false>},
};

}  // namespace

std::span<const LAScriterionOption> las_colour_criterion_options() { return options; }
