// The colour and extra-bytes attribute criteria: verdicts on points of known
// colour and attributes, the option text (ranges put in order, degrees and
// percents written as fractions) and its read-back, the field masks, and the
// messages of refused options.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/lasattributer.hpp"
#include "core/laspoint.hpp"
#include "core/lasreader.hpp"
#include "filters/lasfilter.hpp"
#include "support/arg_vector.hpp"
#include "support/filter_check.hpp"
#include "support/halting_off.hpp"

namespace {

// Hue, saturation and value of 16-bit colours: red 0 1 ~1, green 1/3 1 ~1,
// blue 2/3, magenta 5/6, point 5 hue 1/3 with saturation 1/3 (HSL 0.2), grey
// hue 0 saturation 0. NDVI of point 5 is (300 - 100) / 400 = 0.5.
constexpr struct {
  U16 red, green, blue, nir, intensity;
  bool has_rgb;
} COLOURS[] = {
    {0, 0, 0, 0, 0, false},         // 0 no colour
    {65535, 0, 0, 0, 0, true},      // 1 red
    {0, 65535, 0, 0, 0, true},      // 2 green
    {0, 0, 65535, 0, 0, true},      // 3 blue
    {65535, 0, 65535, 0, 0, true},  // 4 magenta
    {100, 150, 100, 300, 0, true},  // 5 dark green
    {200, 200, 200, 0, 500, true},  // 6 grey
};

std::string colour_verdicts(LASfilter& filter) {
  std::string out;
  LASpoint point;
  for (const auto& c : COLOURS) {
    point.rgb[0] = c.red;
    point.rgb[1] = c.green;
    point.rgb[2] = c.blue;
    point.rgb[3] = c.nir;
    point.intensity = c.intensity;
    point.has_rgb = c.has_rgb;
    point.rgb_bit_depth = c.has_rgb ? 16 : 0;
    out += filter.filter(&point) ? 'd' : 'k';
  }
  return out;
}

// One option: the verdicts it gives, its option text and its field mask.
struct CriterionCase {
  const char* name;
  const char* options;
  const char* verdicts;
  const char* text;
  U32 selective;
};

void PrintTo(const CriterionCase& c, std::ostream* os) { *os << c.name; }

constexpr U32 RGB = LAS_SELECTIVE_RGB;

const CriterionCase colour_cases[] = {
    {"keep_RGB_red in reverse", "-keep_RGB_red 200 100", "dddddkk", "-keep_RGB_red 100 200 ", RGB},
    {"drop_RGB_green", "-drop_RGB_green 1 65535", "kkdkkdd", "-drop_RGB_green 1 65535 ", RGB},
    {"keep_RGB_blue", "-keep_RGB_blue 0 0", "kkkdddd", "-keep_RGB_blue 0 0 ", RGB},
    {"keep_RGB_nir", "-keep_RGB_nir 64 400", "dddddkd", "-keep_RGB_nir 64 400 ", RGB},
    {"drop_RGB_nir", "-drop_RGB_nir 0 0", "dddddkd", "-drop_RGB_nir 0 0 ", RGB},
    {"keep_RGB_greenness", "-keep_RGB_greenness -70000 0", "kkdkddk", "-keep_RGB_greenness -70000 0 ", RGB},
    // No NIR and no red: not a number, which passes.
    {"keep_NDVI", "-keep_NDVI 0.2 0.7", "kdkkdkd", "-keep_NDVI 0.2 0.7 ", RGB | LAS_SELECTIVE_NIR},
    {"keep_NDVI_green_is_NIR in reverse", "-keep_NDVI_green_is_NIR 0.7 0.2", "kddkdkd",
     "-keep_NDVI_green_is_NIR 0.2 0.7 ", RGB},
    {"keep_NDVI_blue_is_NIR", "-keep_NDVI_blue_is_NIR -1 0", "kkkdkkk", "-keep_NDVI_blue_is_NIR -1 0 ", RGB},
    {"keep_NDVI_from_CIR", "-keep_NDVI_from_CIR 0.1 1", "kkdkkdd", "-keep_NDVI_from_CIR 0.1 1 ", RGB},
    {"keep_NDVI_intensity_is_NIR", "-keep_NDVI_intensity_is_NIR 0.4 0.8", "kdkkddk",
     "-keep_NDVI_intensity_is_NIR 0.4 0.8 ", RGB | LAS_SELECTIVE_INTENSITY},

    {"keep_HSV in degrees", "-keep_HSV 120d 130d 0.3 0.5 0 1", "dddddkd",
     "-keep_HSV 0.333333343 0.361111104 0.300000 0.500000 0.000000 1.000000 ", RGB},
    {"drop_HSV", "-drop_HSV 0 0 0 0 0 1", "dkkkkkd", "-drop_HSV 0.000000 0.000000 0.000000 0.000000 0.000000 1.000000 ",
     RGB},
    {"keep_HSL in percents", "-keep_HSL 0.3 0.4 10p 50p 0 1", "dddddkd",
     "-keep_HSL 0.300000 0.400000 0.100000 0.500000 0.000000 1.000000 ", RGB},
    {"drop_HSL", "-drop_HSL 0 1 0 0 0 1", "dkkkkkd", "-drop_HSL 0.000000 1.000000 0.000000 0.000000 0.000000 1.000000 ",
     RGB},
    {"keep_HSV_value", "-keep_HSV_value 0 0.3", "kddddkk", "-keep_HSV_value 0.000000 0.300000 ", RGB},
    {"keep_HSV_hue in reverse", "-keep_HSV_hue 0.5 0.2", "ddkddkd", "-keep_HSV_hue 0.200000 0.500000 ", RGB},
    {"drop_HSV_saturation", "-drop_HSV_saturation 25% 1", "kdddddk", "-drop_HSV_saturation 0.250000 1.000000 ", RGB},
    {"keep_HSL_lightness", "-keep_HSL_lightness 0.4 0.6", "dkkkkdd", "-keep_HSL_lightness 0.400000 0.600000 ", RGB},
    {"drop_HSL_hue of magenta", "-drop_HSL_hue 300D 1", "kkkkdkk", "-drop_HSL_hue 0.833333313 1.000000 ", RGB},
    {"keep_HSL_saturation", "-keep_HSL_saturation 0.1 0.25", "dddddkd", "-keep_HSL_saturation 0.100000 0.250000 ", RGB},
};

class ColourCriteria : public HaltingOff<::testing::TestWithParam<CriterionCase>> {};

TEST_P(ColourCriteria, VerdictsTextAndReadBack) {
  const CriterionCase& c = GetParam();
  LASfilter filter;
  expect_options_give(filter, c.options, 1, colour_verdicts, c.verdicts, c.text);
  EXPECT_EQ(selective_of(filter), c.selective);
}

INSTANTIATE_TEST_SUITE_P(EveryOption, ColourCriteria, ::testing::ValuesIn(colour_cases),
                         [](const ::testing::TestParamInfo<CriterionCase>& info) {
                           return test_name_of(info.param.name);
                         });

// A six-number criterion followed by another keeps the blank between them.
TEST(ColourText, SixNumbersAndANeighbourReadBack) {
  LASfilter filter;
  expect_options_give(filter, "-keep_HSV 0 1 0 1 0 0.5 -drop_RGB_red 7 9", 2, colour_verdicts, "kddddkk",
                      "-keep_HSV 0.000000 1.000000 0.000000 1.000000 0.000000 0.500000 -drop_RGB_red 7 9 ");
}

class ColourOptions : public HaltingOff<> {};

TEST_F(ColourOptions, RefusedOptionsBuildNothing) {
  expect_refusals({
      {{"-keep_RGB_red", "1"}, "'-keep_RGB_red' needs 2 arguments: min max"},
      {{"-drop_RGB_blue", "x", "1"}, "'-drop_RGB_blue' needs 2 arguments: min max but 'x' is no valid min"},
      {{"-keep_RGB_greenness", "1", "1.5"},
       "'-keep_RGB_greenness' needs 2 arguments: min max but '1.5' is no valid max"},
      // The values are read before the word is looked at.
      {{"-keep_RGB_foo", "1", "y"}, "'-keep_RGB_foo' needs 2 arguments: min max but 'y' is no valid max"},
      {{"-keep_NDVI_from_CIR", "0.1"}, "'-keep_NDVI_from_CIR' needs 2 arguments: min max"},
      {{"-keep_NDVI", "a", "0.5"}, "'-keep_NDVI' needs 2 arguments: min max but 'a' is no valid min"},
      {{"-keep_HSV", "0", "1", "0", "1", "0"}, "'-keep_HSV' needs 6 arguments: h_min h_max s_min s_max v_min v_max"},
      {{"-drop_HSL", "0", "1", "0", "1", "0"}, "'-drop_HSL' needs 6 arguments: h_min h_max s_min s_max v_min v_max"},
      {{"-keep_HSL", "0", "1", "q", "1", "0", "1"}, "'-keep_HSL' argument s_min is not valid: 'q'"},
      {{"-drop_HSV", "0", "1", "0", "1", "0", "deg"}, "'-drop_HSV' argument v_max is not valid: 'deg'"},
      {{"-keep_HSV_hue", "0.2"}, "'-keep_HSV_hue' needs 2 arguments: min max"},
      {{"-drop_HSL_lightness", "p", "1"}, "'-drop_HSL_lightness' needs 2 arguments: min max but 'p' is no valid min"},
  });
}

// The range check writes its own line, counts no message and fails the parse
// even while halting is on.
TEST(ColourRanges, PairsOutsideZeroToOneAreRefused) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"-keep_HSV_hue", "1.5", "2"}, "ERROR: \"-keep_HSV_hue\" argument falls above maximum (2 > 1)\n"},
      {{"-drop_HSL_saturation", "-0.1", "0.5"},
       "ERROR: \"-drop_HSL_saturation\" argument falls below minimum(-0.1 < 0)\n"},
      {{"-keep_HSV", "0", "1", "0", "110p", "0", "1"}, "ERROR: \"-keep_HSV\" argument falls above maximum (1.1 > 1)\n"},
      {{"-keep_HSL", "0", "1", "0", "1", "0", "361d"},
       "ERROR: \"-keep_HSL\" argument falls above maximum (1.00278 > 1)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    LASfilter filter;
    ArgVector args(c.args);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(filter.parse(args.argc(), args.argv()));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.err);
    EXPECT_EQ(filter.criteria_count, 0u);
    EXPECT_EQ(args.remaining(), c.args) << "nothing taken";
  }
}

// A word after a channel prefix that names nothing leaves the option and its
// values, and the walk goes on behind the option.
TEST(ColourWords, UnlistedWordsAreLeft) {
  LASfilter filter;
  ArgVector args({"-keep_RGB_foo", "1", "2", "-drop_RGB_greenness", "1", "2", "-keep_NDVI_x", "0", "1",
                  "-keep_HSV_hue2", "0", "1", "-keep_HSL_value", "0", "1", "-keep_RGB_red", "3", "4"});
  ASSERT_TRUE(filter.parse(args.argc(), args.argv()));
  EXPECT_EQ(args.remaining(),
            (std::vector<std::string>{"-keep_RGB_foo", "1", "2", "-drop_RGB_greenness", "1", "2", "-keep_NDVI_x", "0",
                                      "1", "-keep_HSV_hue2", "0", "1", "-keep_HSL_value", "0", "1"}));
  EXPECT_EQ(filter_text(filter), "-keep_RGB_red 3 4 ");
}

// ------------------------------------------------------------------ attributes

// Attribute 0: unsigned 16 bits scaled by 0.01 (bytes 0-1); 1: signed 32 bits
// (bytes 2-5); 2: a double at bytes 6-13, beyond the 6 extra bytes the points
// carry, so it reads 0 and nothing past the record.
class AttributePoints {
 public:
  AttributePoints() {
    LASattributeDescriptor scaled(LAS_ATTRIBUTE_U16, "scaled");
    scaled.set_scale(0.01);
    EXPECT_EQ(table.add_attribute(scaled), 0);
    EXPECT_EQ(table.add_attribute(LASattributeDescriptor(LAS_ATTRIBUTE_I32, "plain")), 1);
    EXPECT_EQ(table.add_attribute(LASattributeDescriptor(LAS_ATTRIBUTE_F64, "outside")), 2);
    EXPECT_TRUE(point.init(&scaling, &table, (U8)0, (U16)26));
    EXPECT_EQ(point.extra_bytes_count, 6);
  }
  std::string verdicts(LASfilter& filter) {
    static constexpr struct {
      U16 scaled;
      I32 plain;
    } values[] = {{600, 2}, {500, 1}, {0, -3}, {1000, 2}};  // 6.0, 5.0, 0.0, 10.0
    std::string out;
    for (const auto& v : values) {
      memcpy(point.extra_bytes, &v.scaled, 2);
      memcpy(point.extra_bytes + 2, &v.plain, 4);
      out += filter.filter(&point) ? 'd' : 'k';
    }
    return out;
  }

  LASscaling scaling;
  LASattributeTable table;
  LASpoint point;
};

constexpr U32 EXTRA = LAS_SELECTIVE_EXTRA_BYTES;

const CriterionCase attribute_cases[] = {
    {"keep_attribute_above", "-keep_attribute_above 0 5.0", "kddk", "-keep_attribute_above 0 5.000000 ", EXTRA},
    {"keep_attribute_below", "-keep_attribute_below 0 6", "dkkd", "-keep_attribute_below 0 6.000000 ", EXTRA},
    {"keep_attribute_between", "-keep_attribute_between 0 5 6", "kkdd", "-keep_attribute_between 0 5.000000 6.000000 ",
     EXTRA},
    {"keep_attribute_between min above max", "-keep_attribute_between 0 10 5", "dddd",
     "-keep_attribute_between 0 10.000000 5.000000 ", EXTRA},
    {"drop_attribute_between", "-drop_attribute_between 1 2 2", "dkkd", "-drop_attribute_between 1 2.000000 2.000000 ",
     EXTRA},
    {"drop_attribute_below", "-drop_attribute_below 1 0", "kkdk", "-drop_attribute_below 1 0.000000 ", EXTRA},
    {"drop_attribute_above", "-drop_attribute_above 0 5.5", "dkkd", "-drop_attribute_above 0 5.500000 ", EXTRA},
    {"an attribute beyond the extra bytes reads 0", "-keep_attribute_above 2 -1", "kkkk",
     "-keep_attribute_above 2 -1.000000 ", EXTRA},
    {"no such attribute", "-keep_attribute_above 7 1.0", "dddd", "-keep_attribute_above 7 1.000000 ", EXTRA},
    {"a negative index", "-keep_attribute_below -1 1", "kkkk", "-keep_attribute_below -1 1.000000 ", EXTRA},
};

class AttributeCriteria : public HaltingOff<::testing::TestWithParam<CriterionCase>> {};

TEST_P(AttributeCriteria, VerdictsTextAndReadBack) {
  const CriterionCase& c = GetParam();
  AttributePoints points;
  LASfilter filter;
  expect_options_give(
      filter, c.options, 1, [&](LASfilter& f) { return points.verdicts(f); }, c.verdicts, c.text);
  EXPECT_EQ(selective_of(filter), c.selective);
}

INSTANTIATE_TEST_SUITE_P(EveryOption, AttributeCriteria, ::testing::ValuesIn(attribute_cases),
                         [](const ::testing::TestParamInfo<CriterionCase>& info) {
                           return test_name_of(info.param.name);
                         });

// A point with no attribute table reads 0 for every attribute.
TEST(AttributeValues, NoTableReadsZero) {
  LASfilter filter;
  ASSERT_TRUE(filter.parse("-keep_attribute_below 0 1.0 -drop_attribute_below 3 -0.5"));
  LASpoint point;
  EXPECT_FALSE(filter.filter(&point));
  LASfilter above;
  ASSERT_TRUE(above.parse("-keep_attribute_above 0 1.0"));
  EXPECT_TRUE(above.filter(&point));
}

class AttributeOptions : public HaltingOff<> {};

TEST_F(AttributeOptions, RefusedOptionsBuildNothing) {
  expect_refusals({
      {{"-keep_attribute_below", "0"}, "'-keep_attribute_below' needs 2 arguments: index value"},
      {{"-keep_attribute_above", "x", "1"},
       "'-keep_attribute_above' needs 2 arguments: index value but 'x' is no valid index"},
      {{"-keep_attribute_above", "0", "y"},
       "'-keep_attribute_above' needs 2 arguments: min max but 'y' is no valid value"},
      {{"-keep_attribute_between", "0", "1"}, "'-keep_attribute_between' needs 3 arguments: index min max"},
      {{"-keep_attribute_between", "0", "a", "1"},
       "'-keep_attribute_between' needs 3 arguments: index min max but 'a' is no valid min"},
      {{"-keep_attribute_between", "0", "1", "b"},
       "'-keep_attribute_between' needs 3 arguments: index min max but 'b' is no valid max"},
      {{"-drop_attribute_below", "1.5", "1"},
       "'-drop_attribute_below' needs 2 arguments: index value but '1.5' is no valid index"},
      {{"-drop_attribute_above", "0", "z"},
       "'-drop_attribute_above' needs 2 arguments: index value 'z' is no valid value"},
      {{"-drop_attribute_between", "0", "1"}, "'-drop_attribute_between' needs 3 arguments: index below above"},
      {{"-drop_attribute_between", "0", "1", "c"},
       "'-drop_attribute_between' needs 3 arguments: index below above but 'c' is no valid above"},
  });
}

}  // namespace
