#include "filters/lasfilter.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "core/laspoint.hpp"
#include "core/lasreader.hpp"
#include "filters/lascriterion.hpp"
#include "support/arg_vector.hpp"
#include "support/filter_check.hpp"
#include "support/halting_off.hpp"

namespace {

// A point to judge: world coordinates (or, with `raw`, the raw integers) and
// its extended class.
struct Where {
  F64 x, y, z;
  U8 extended_class = 0;
};

// Points laid out on a scaling that is not the identity, so world and raw
// criteria differ: x = X / 4 + 1000, y = Y / 4 + 2000, z = Z / 8 + 10.
class Points {
 public:
  Points() {
    scaling.x_scale_factor = 0.25;
    scaling.y_scale_factor = 0.25;
    scaling.z_scale_factor = 0.125;
    scaling.x_offset = 1000.0;
    scaling.y_offset = 2000.0;
    scaling.z_offset = 10.0;
    EXPECT_TRUE(point.init(&scaling, &table, (U8)6, (U16)30));
  }
  const LASpoint* at(const Where& w, bool raw) {
    if (raw) {
      point.X = (I32)w.x;
      point.Y = (I32)w.y;
      point.Z = (I32)w.z;
    } else {
      EXPECT_TRUE(point.set_x(w.x));
      EXPECT_TRUE(point.set_y(w.y));
      EXPECT_TRUE(point.set_z(w.z));
      EXPECT_EQ(point.get_x(), w.x) << "not on the grid of the scaling";
      EXPECT_EQ(point.get_z(), w.z) << "not on the grid of the scaling";
    }
    point.extended_classification = w.extended_class;
    return &point;
  }
  // 'k' for every point kept, 'd' for every point dropped.
  std::string verdicts(LASfilter& filter, const std::vector<Where>& where, bool raw) {
    std::string out;
    for (const Where& w : where) out += filter.filter(at(w, raw)) ? 'd' : 'k';
    return out;
  }

 private:
  LASscaling scaling;
  LASattributeTable table;
  LASpoint point;
};

class LasFilterTest : public HaltingOff<> {};

struct VerdictCase {
  const char* name;
  const char* options;
  bool raw;
  std::vector<Where> points;
  const char* verdicts;
  const char* text;  // the option text, or null where only its round trip matters
};

void PrintTo(const VerdictCase& c, std::ostream* os) { *os << c.name; }

// Every option of the coordinate and combined criteria: its verdicts at the
// edges, its option text, and the round trip of that text through both parse
// forms to a filter with the same verdicts.
const VerdictCase verdict_cases[] = {
    {"keep_tile", "-keep_tile 0 0 10", false, {{0, 0, 0}, {9.75, 9.75, 0}, {10, 5, 0}, {5, 10, 0}, {-0.25, 5, 0}}, "kkddd",
     "-keep_tile 0 0 10 "},
    {"keep_tile digits", "-keep_tile 631000.5 4834000 1000", false, {{631000.5, 4834000, 0}, {631000.25, 4834000, 0}},
     "kd", "-keep_tile 631000.5 4.834e+06 1000 "},
    {"keep_circle", "-keep_circle 0 0 1", false, {{1, 0, 0}, {0.75, 0, 0}, {0, -1, 0}, {0.5, 0.5, 0}}, "dkdk",
     "-keep_circle 0.000000 0.000000 1.000000 "},
    {"keep_xy", "-keep_xy 0 0 10 10", false, {{0, 0, 0}, {10, 5, 0}, {5, 10, 0}, {9.75, 9.75, 0}}, "kddk",
     "-keep_xy 0.000000 0.000000 10.000000 10.000000 "},
    {"drop_xy", "-drop_xy 0 0 10 10", false, {{0, 0, 0}, {10, 5, 0}, {5, 10, 0}, {9.75, 9.75, 0}}, "dkkd",
     "-drop_xy 0.000000 0.000000 10.000000 10.000000 "},
    {"keep_xyz", "-keep_xyz 0 0 0 10 10 10", false, {{0, 0, 0}, {5, 5, 10}, {10, 5, 5}, {5, 5, 9.875}}, "kddk",
     "-keep_xyz 0.000000 0.000000 0.000000 10.000000 10.000000 10.000000 "},
    {"drop_xyz", "-drop_xyz 0 0 0 10 10 10", false, {{0, 0, 0}, {5, 5, 10}, {10, 5, 5}, {5, 5, 9.875}}, "dkkd",
     nullptr},
    {"keep_x", "-keep_x 1 2", false, {{1, 0, 0}, {1.75, 0, 0}, {2, 0, 0}, {0.75, 0, 0}}, "kkdd",
     "-keep_x 1.000000 2.000000 "},
    {"drop_x", "-drop_x 1 2", false, {{1, 0, 0}, {1.75, 0, 0}, {2, 0, 0}, {0.75, 0, 0}}, "ddkk", nullptr},
    {"keep_x digits", "-keep_x 0.1234567 630250.1234567", false, {{0, 0, 0}, {0.25, 0, 0}, {630250.25, 0, 0}}, "dkd",
     "-keep_x 0.1234567 630250.12345670001 "},
    {"keep_x reversed", "-keep_x 10 5", false, {{4, 0, 0}, {7, 0, 0}, {11, 0, 0}}, "ddd", nullptr},
    {"keep_y", "-keep_y 1 2", false, {{0, 1, 0}, {0, 1.75, 0}, {0, 2, 0}, {0, 0.75, 0}}, "kkdd", nullptr},
    {"drop_y", "-drop_y 1 2", false, {{0, 1, 0}, {0, 1.75, 0}, {0, 2, 0}, {0, 0.75, 0}}, "ddkk", nullptr},
    {"keep_z", "-keep_z 1 2", false, {{0, 0, 1}, {0, 0, 1.875}, {0, 0, 2}, {0, 0, 0.875}}, "kkdd", nullptr},
    {"drop_z", "-drop_z 1 2", false, {{0, 0, 1}, {0, 0, 1.875}, {0, 0, 2}, {0, 0, 0.875}}, "ddkk", nullptr},
    {"drop_x_below", "-drop_x_below 100", false, {{100, 0, 0}, {99.75, 0, 0}}, "kd", "-drop_x_below 100.000000 "},
    {"drop_x_above", "-drop_x_above 100", false, {{100, 0, 0}, {99.75, 0, 0}}, "dk", "-drop_x_above 100.000000 "},
    {"drop_y_below", "-drop_y_below -3", false, {{0, -3, 0}, {0, -3.25, 0}}, "kd", nullptr},
    {"drop_y_above", "-drop_y_above -3", false, {{0, -3, 0}, {0, -3.25, 0}}, "dk", nullptr},
    {"drop_z_below", "-drop_z_below 5", false, {{0, 0, 5}, {0, 0, 4.875}}, "kd", nullptr},
    {"drop_z_above", "-drop_z_above 5", false, {{0, 0, 5}, {0, 0, 4.875}}, "dk", nullptr},
    {"keep_z_above", "-keep_z_above 5", false, {{0, 0, 5}, {0, 0, 4.875}}, "kd", "-drop_z_below 5.000000 "},
    {"keep_z_below", "-keep_z_below 5", false, {{0, 0, 5}, {0, 0, 4.875}}, "dk", "-drop_z_above 5.000000 "},
    {"keep_profile", "-keep_profile 0 0 10 0 2", false, {{0, 1, 0}, {10, -1, 0}, {5, 0, 0}, {5, 1.5, 0}, {-0.5, 0, 0}},
     "kkkdd", "-keep_profile 0.000000 0.000000 10.000000 0.000000 2.000000 "},
    {"keep_profile slanted", "-keep_profile 0 0 10 10 2", false, {{5, 5, 0}, {5.5, 4.5, 0}, {6, 4, 0}, {10.5, 10.5, 0}},
     "kkdd", nullptr},
    {"keep_profile of a point", "-keep_profile 3 3 3 3 1", false, {{3, 3, 0}, {500, -7, 0}}, "kk", nullptr},

    {"keep_XY", "-keep_XY 0 0 10 10", true, {{0, 0, 0}, {10, 5, 0}, {5, 10, 0}, {9, 9, 0}}, "kddk",
     "-keep_XY 0 0 10 10 "},
    {"keep_X", "-keep_X 100 200", true, {{100, 0, 0}, {199, 0, 0}, {200, 0, 0}, {99, 0, 0}}, "kkdd",
     "-keep_X 100 200 "},
    {"drop_X", "-drop_X 100 200", true, {{100, 0, 0}, {199, 0, 0}, {200, 0, 0}, {99, 0, 0}}, "ddkk", nullptr},
    {"keep_Y", "-keep_Y -5 5", true, {{0, -5, 0}, {0, 4, 0}, {0, 5, 0}, {0, -6, 0}}, "kkdd", nullptr},
    {"drop_Y", "-drop_Y -5 5", true, {{0, -5, 0}, {0, 4, 0}, {0, 5, 0}, {0, -6, 0}}, "ddkk", nullptr},
    {"keep_Z", "-keep_Z -2147483648 2147483647", true, {{0, 0, -2147483648.0}, {0, 0, 2147483647}}, "kd",
     "-keep_Z -2147483648 2147483647 "},
    {"drop_Z", "-drop_Z 0 1", true, {{0, 0, 0}, {0, 0, 1}}, "dk", nullptr},
    {"drop_X_below", "-drop_X_below 7", true, {{7, 0, 0}, {6, 0, 0}}, "kd", nullptr},
    {"drop_X_above", "-drop_X_above 7", true, {{7, 0, 0}, {6, 0, 0}}, "dk", nullptr},
    {"drop_Y_below", "-drop_Y_below 0", true, {{0, 0, 0}, {0, -1, 0}}, "kd", nullptr},
    {"drop_Y_above", "-drop_Y_above 0", true, {{0, 0, 0}, {0, -1, 0}}, "dk", "-drop_Y_above 0 "},
    {"drop_Z_below", "-drop_Z_below 50", true, {{0, 0, 50}, {0, 0, 49}}, "kd", nullptr},
    {"drop_Z_above", "-drop_Z_above 50", true, {{0, 0, 50}, {0, 0, 49}}, "dk", nullptr},
    {"keep_Z_above", "-keep_Z_above 50", true, {{0, 0, 50}, {0, 0, 49}}, "kd", "-drop_Z_below 50 "},
    {"keep_Z_below", "-keep_Z_below 50", true, {{0, 0, 50}, {0, 0, 49}}, "dk", "-drop_Z_above 50 "},

    // X in [100, 200) is x in [1025, 1050).
    {"filter_or", "-keep_z 0 10 -keep_X 100 200 -filter_or", false,
     {{1030, 0, 1}, {1030, 0, 11}, {0, 0, 1}, {0, 0, 11}}, "kddd",
     "-keep_z 0.000000 10.000000 -keep_X 100 200 -filter_or "},
    {"filter_and", "-keep_z 0 10 -keep_X 100 200 -filter_and", false,
     {{1030, 0, 1}, {1030, 0, 11}, {0, 0, 1}, {0, 0, 11}}, "kkkd",
     "-keep_z 0.000000 10.000000 -keep_X 100 200 -filter_and "},
    {"postfix tree", "-keep_x 0 1 -keep_y 0 1 -filter_or -keep_z 0 1 -filter_and", false,
     {{0.5, 0.5, 5}, {5, 0.5, 0.5}, {5, 0.5, 5}}, "kkd",
     "-keep_x 0.000000 1.000000 -keep_y 0.000000 1.000000 -filter_or -keep_z 0.000000 1.000000 -filter_and "},
    {"only the last two combine", "-keep_x 0 1 -keep_y 0 1 -keep_z 0 1 -filter_and", false,
     {{0.5, 5, 0.5}, {5, 0.5, 0.5}, {0.5, 5, 5}}, "kdd", nullptr},

    {"extended class mask", "-drop_extended_classification_mask 0 0 0 0 0 0 2 4", false,
     {{0, 0, 0, 2}, {0, 0, 0, 3}, {0, 0, 0, 33}, {0, 0, 0, 0}}, "dkdk",
     "-drop_extended_classification_mask 0 0 0 0 0 0 2 4 "},
};

class LasFilterVerdicts : public HaltingOff<::testing::TestWithParam<VerdictCase>> {};

TEST_P(LasFilterVerdicts, EdgesTextAndRoundTrip) {
  const VerdictCase& c = GetParam();
  Points points;
  LASfilter filter;
  ArgVector args = ArgVector::from_text(c.options);
  ASSERT_TRUE(filter.parse(args.argc(), args.argv()));
  EXPECT_EQ(args.remaining(), std::vector<std::string>{}) << "every word is taken";
  EXPECT_EQ(points.verdicts(filter, c.points, c.raw), c.verdicts);
  const std::string text = filter_text(filter);
  if (c.text) {
    EXPECT_EQ(text, c.text);
  }

  // Probes around the case's points, so that a rebuilt filter that differs
  // anywhere near the edges shows.
  std::vector<Where> probes;
  const F64 step = c.raw ? 1.0 : 0.25;
  for (const Where& w : c.points) {
    for (F64 d : {-step, 0.0, step}) {
      const Where probe = {w.x + d, w.y - d, w.z + d, w.extended_class};
      const bool fits = !c.raw || (std::max({probe.x, probe.y, probe.z}) <= 2147483647.0 &&
                                   std::min({probe.x, probe.y, probe.z}) >= -2147483648.0);
      if (fits) probes.push_back(probe);
    }
  }
  const std::string expected = points.verdicts(filter, probes, c.raw);

  expect_text_reads_back(
      text, [&](LASfilter& rebuilt) { return points.verdicts(rebuilt, probes, c.raw); }, expected);
}

INSTANTIATE_TEST_SUITE_P(EveryOption, LasFilterVerdicts, ::testing::ValuesIn(verdict_cases),
                         [](const ::testing::TestParamInfo<VerdictCase>& info) {
                           return test_name_of(info.param.name);
                         });

TEST(LasFilterZ, AnAttributeStandingInForZIsWhatZCriteriaRead) {
  LASscaling scaling;
  scaling.z_scale_factor = 0.5;
  LASattributeTable table;
  LASattributeDescriptor height(LAS_ATTRIBUTE_F64, "height");
  ASSERT_EQ(table.add_attribute(height), 0);
  LASpoint point;
  ASSERT_TRUE(point.init(&scaling, &table, (U8)0, (U16)28));
  point.Z = 1000;  // 500 as a stored z: out of both ranges below
  ASSERT_TRUE(point.set_attribute_as_float(0, 7.0));
  scaling.z_from_attribute = 0;

  LASfilter world;
  ASSERT_TRUE(world.parse("-keep_z 6 8"));
  EXPECT_FALSE(world.filter(&point));
  LASfilter raw;  // 7.0 re-quantised by 0.5 is 14
  ASSERT_TRUE(raw.parse("-keep_Z 14 15"));
  EXPECT_FALSE(raw.filter(&point));
  ASSERT_TRUE(point.set_attribute_as_float(0, 8.0));
  EXPECT_TRUE(world.filter(&point));
  EXPECT_TRUE(raw.filter(&point));
}

// The messages of every option, worded as users read them: too few values,
// and each value that is no number.
TEST_F(LasFilterTest, EveryOptionNamesItsValuesInItsMessages) {
  struct Case {
    const char* option;
    std::vector<std::string> names;
  } cases[] = {
      {"-keep_tile", {"llx", "lly", "size"}},
      {"-keep_circle", {"center_x", "center_y", "radius"}},
      {"-keep_xy", {"min_x", "min_y", "max_x", "max_y"}},
      {"-drop_xy", {"min_x", "min_y", "max_x", "max_y"}},
      {"-keep_xyz", {"min_x", "min_y", "min_z", "max_x", "max_y", "max_z"}},
      {"-drop_xyz", {"min_x", "min_y", "min_z", "max_x", "max_y", "max_z"}},
      {"-keep_x", {"min_x", "max_x"}},
      {"-drop_x", {"min_x", "max_x"}},
      {"-keep_y", {"min_y", "max_y"}},
      {"-drop_y", {"min_y", "max_y"}},
      {"-keep_z", {"min_z", "max_z"}},
      {"-drop_z", {"min_z", "max_z"}},
      {"-drop_x_below", {"min_x"}},
      {"-drop_x_above", {"max_x"}},
      {"-drop_y_below", {"min_y"}},
      {"-drop_y_above", {"max_y"}},
      {"-drop_z_below", {"min_z"}},
      {"-drop_z_above", {"max_z"}},
      {"-keep_z_above", {"min_z"}},
      {"-keep_z_below", {"max_z"}},
      {"-keep_profile", {"p1_x", "p1_y", "p2_x", "p2_y", "width"}},
      {"-keep_XY", {"min_X", "min_Y", "max_X", "max_Y"}},
      {"-keep_X", {"min_X", "max_X"}},
      {"-drop_X", {"min_X", "max_X"}},
      {"-keep_Y", {"min_Y", "max_Y"}},
      {"-drop_Y", {"min_Y", "max_Y"}},
      {"-keep_Z", {"min_Z", "max_Z"}},
      {"-drop_Z", {"min_Z", "max_Z"}},
      {"-drop_X_below", {"min_X"}},
      {"-drop_X_above", {"max_X"}},
      {"-drop_Y_below", {"min_Y"}},
      {"-drop_Y_above", {"max_Y"}},
      {"-drop_Z_below", {"min_Z"}},
      {"-drop_Z_above", {"max_Z"}},
      {"-keep_Z_above", {"min_Z"}},
      {"-keep_Z_below", {"max_Z"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    const size_t n = c.names.size();
    std::string needs = std::string("'") + c.option + "' needs " + std::to_string(n) +
                        (n == 1 ? " argument:" : " arguments:");
    for (const std::string& name : c.names) needs += " " + name;

    std::vector<std::string> words = {c.option};
    for (size_t k = 0; k + 1 < n; k++) words.push_back("1");
    ArgVector few(words);
    LASfilter filter;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(filter.parse(few.argc(), few.argv()));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ERROR: " + needs + "\n");
    EXPECT_EQ(few.remaining(), words) << "nothing taken";

    for (size_t k = 0; k < n; k++) {
      std::vector<std::string> bad = {c.option};
      for (size_t v = 0; v < n; v++) bad.push_back(v == k ? "1x" : "1");
      ArgVector args(bad);
      ::testing::internal::CaptureStderr();
      EXPECT_FALSE(filter.parse(args.argc(), args.argv()));
      EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                "ERROR: " + needs + " but '1x' is no valid " + c.names[k] + "\n");
    }
    EXPECT_EQ(filter.criteria_count, 0u);
  }
}

TEST_F(LasFilterTest, GrammarMessages) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string err;
    U32 criteria;  // left in the filter
  } cases[] = {
      {"and first", {"-filter_and"}, "ERROR: '-filter_and' needs to be preceeded by at least two filters\n", 0},
      {"or after one", {"-keep_x", "0", "1", "-filter_or"},
       "ERROR: '-filter_or' needs to be preceeded by at least two filters\n", 1},
      {"a value that looks like an option", {"-keep_z", "0", "-keep_x", "0", "1"},
       "ERROR: '-keep_z' needs 2 arguments: min_z max_z but '-keep_x' is no valid max_z\n", 0},
      {"an emptied value", {"-keep_z", "0", ""}, "ERROR: '-keep_z' needs 2 arguments: min_z max_z but '' is no valid max_z\n",
       0},
      {"a raw coordinate is an integer", {"-keep_X", "12.7", "20"},
       "ERROR: '-keep_X' needs 2 arguments: min_X max_X but '12.7' is no valid min_X\n", 0},
      {"out of 32 bits", {"-drop_Z_below", "2147483648"},
       "ERROR: '-drop_Z_below' needs 1 argument: min_Z but '2147483648' is no valid min_Z\n", 0},
      {"not finite", {"-keep_circle", "0", "0", "inf"},
       "ERROR: '-keep_circle' needs 3 arguments: center_x center_y radius but 'inf' is no valid radius\n", 0},
      {"mask words", {"-drop_extended_classification_mask", "0", "0", "0", "0", "0", "0", "-1", "0"},
       "ERROR: '-drop_extended_classification_mask' needs 8 arguments: mask7 mask6 mask5 mask4 mask3 mask2 mask1 mask0\n"
       "       but '-1' is a bad argument for mask1\n",
       0},
      {"mask count", {"-drop_extended_classification_mask", "0", "0"},
       "ERROR: '-drop_extended_classification_mask' needs 8 arguments: mask7 mask6 mask5 mask4 mask3 mask2 mask1 mask0\n",
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ArgVector args(c.args);
    LASfilter filter;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(filter.parse(args.argc(), args.argv()));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.err);
    EXPECT_EQ(filter.criteria_count, c.criteria);
  }
}

// The whole message is checked through the program; here, that the criteria
// before the refused name stay.
TEST_F(LasFilterTest, OldNamesAreRefused) {
  ArgVector args({"-keep_x", "0", "1", "-clip_box", "0", "0", "0", "1", "1", "1"});
  LASfilter filter;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(filter.parse(args.argc(), args.argv()));
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("ERROR: '-clip_box' is no longer recognized. check documentation with '-h'.\n", 0), 0u) << err;
  EXPECT_EQ(filter.criteria_count, 1u);
}

TEST_F(LasFilterTest, WordsOfOtherParsersStay) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> left;
    const char* text;
  } cases[] = {
      {"none", {}, {}, ""},
      {"other options", {"-i", "a.las", "-v", "-o", "b.las"}, {"-i", "a.las", "-v", "-o", "b.las"}, ""},
      {"unknown names with known beginnings", {"-keep_", "-keep_xyzw", "-drop_x_between", "-filter_xor", "-thin_x", "-clip"},
       {"-keep_", "-keep_xyzw", "-drop_x_between", "-filter_xor", "-thin_x", "-clip"}, ""},
      {"case matters", {"-Keep_xy", "0", "0", "1", "1", "-keep_XY", "0", "0", "1", "1"}, {"-Keep_xy", "0", "0", "1", "1"},
       "-keep_XY 0 0 1 1 "},
      {"between others", {"-v", "-keep_x", "0", "1", "-step", "2"}, {"-v", "-step", "2"},
       "-keep_x 0.000000 1.000000 "},
      {"help ends the parse", {"-keep_x", "0", "1", "-h", "-keep_y", "0", "1"}, {"-h", "-keep_y", "0", "1"},
       "-keep_x 0.000000 1.000000 "},
      {"long help too", {"-help", "-keep_y", "0", "1"}, {"-help", "-keep_y", "0", "1"}, ""},
      {"help after the mask", {"-drop_extended_classification_mask", "0", "0", "0", "0", "0", "0", "0", "1", "-h"},
       {"-h"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ArgVector args(c.args);
    LASfilter filter;
    EXPECT_TRUE(filter.parse(args.argc(), args.argv()));
    EXPECT_EQ(args.remaining(), c.left);
    EXPECT_EQ(filter_text(filter), c.text);
  }
}

TEST_F(LasFilterTest, ExtendedClassesMakeOneLastCriterion) {
  // Wherever the mask stands, its criterion comes last; a later mask
  // replaces an earlier one; an empty mask adds nothing.
  LASfilter filter;
  ASSERT_TRUE(filter.parse(
      "-drop_extended_classification_mask 0 0 0 0 0 0 0 1 -keep_x 0 1 "
      "-drop_extended_classification_mask 0 0 0 0 0 0 0 6 -keep_y 0 1"));
  EXPECT_EQ(filter_text(filter),
            "-keep_x 0.000000 1.000000 -keep_y 0.000000 1.000000 -drop_extended_classification_mask 0 0 0 0 0 0 0 6 ");
  LASfilter none;
  ASSERT_TRUE(none.parse("-drop_extended_classification_mask 0 0 0 0 0 0 0 0"));
  EXPECT_EQ(none.criteria_count, 0u);

  struct Case {
    const char* name;
    U32 keep0, drop0;
    bool keep_class_used;
    bool ok;
    const char* text;
    std::string err;
  } cases[] = {
      {"kept classes drop the rest", 1u << 2, 0, false, true,
       "-drop_extended_classification_mask 4294967295 4294967295 4294967295 4294967295 4294967295 4294967295 "
       "4294967295 4294967291 ",
       ""},
      {"keep and drop conflict", 4, 8, false, false, "",
       "ERROR: cannot use '-drop_extended_class' and '-keep_extended_class' simultaneously\n"},
      {"legacy keep-class warns", 4, 0, true, true, "",
       "WARNING: cannot combine '-keep_class' together with '-keep_extended_class'. use\n"
       "         exclusively 'extended' filters for filtering points with classes above 31\n"},
      {"nothing named", 0, 0, true, true, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASfilter target;
    LASfilterParse parse(target);
    parse.keep_extended[0] = c.keep0;
    parse.drop_extended[0] = c.drop0;
    parse.keep_class_used = c.keep_class_used;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(parse.finish(), c.ok);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.err);
    EXPECT_EQ(filter_text(target), c.text);
  }
  // Keeping all 256 classes drops none: no criterion.
  LASfilter target;
  LASfilterParse all(target);
  for (U32& w : all.keep_extended) w = 0xFFFFFFFF;
  EXPECT_TRUE(all.finish());
  EXPECT_EQ(target.criteria_count, 0u);
}

TEST_F(LasFilterTest, HelpPrintsTheUsageAndEndsTheParse) {
  ArgVector args({"-keep_x", "0", "1", "-hh", "-keep_y", "0", "1"});
  LASfilter filter;
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(filter.parse(args.argc(), args.argv()));
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(args.remaining(), (std::vector<std::string>{"-hh", "-keep_y", "0", "1"}));
  EXPECT_EQ(filter.criteria_count, 1u);
  EXPECT_EQ(err.rfind("Filter points based on their coordinates.\n  -keep_tile 631000 4834000 1000 (ll_x ll_y size)\n", 0),
            0u)
      << err;
  EXPECT_NE(err.find("\n  -drop_xyz 620000 4830000 100 621000 4831000 200 (min_x min_y min_z max_x max_y max_z)\n"
                     "Filter points based on their return numbering.\n"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("\n  -thin_points_with_time 0.000001\nBoolean combination of filters.\n  -filter_and\n"),
            std::string::npos)
      << err;

  // Only the INFO level shows it.
  set_message_log_level(WARNING);
  ::testing::internal::CaptureStderr();
  filter.usage();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  set_message_log_level(INFO);
}

// A test that counts the points it is asked about and drops every other one.
class Counting : public LAScriterion {
 public:
  explicit Counting(const char* name, U32 mask = 0) : label(name), mask(mask) {}
  const char* name() const override { return label; }
  I32 get_command(std::string& text) const override {
    text += std::string("-") + label + " ";
    return (I32)strlen(label) + 2;
  }
  U32 get_decompress_selective() const override { return mask; }
  bool filter(const LASpoint*) override { return (asked++ % 2) == 1; }
  void reset() override { asked = 0; }
  U32 asked = 0;

 private:
  const char* label;
  U32 mask;
};

TEST_F(LasFilterTest, CombinedChildrenSeeOnlyThePointsThatReachThem) {
  LASpoint point;
  for (bool is_and : {true, false}) {
    SCOPED_TRACE(is_and ? "and" : "or");
    LASfilter filter;
    Counting* first = new Counting("first", LAS_SELECTIVE_Z);
    Counting* second = new Counting("second", LAS_SELECTIVE_CLASSIFICATION);
    filter.add_criterion(first);
    filter.add_criterion(second);
    ASSERT_TRUE(filter.parse(is_and ? "-filter_and" : "-filter_or"));
    ASSERT_EQ(filter.criteria_count, 1u);
    EXPECT_EQ(filter.criteria[0]->get_decompress_selective(), LAS_SELECTIVE_Z | LAS_SELECTIVE_CLASSIFICATION);
    EXPECT_EQ(filter_text(filter), is_and ? "-first -second -filter_and " : "-first -second -filter_or ");
    // first: keep, drop, keep, drop, ...; second asked only where first
    // drops (and) or keeps (or).
    std::string verdicts;
    for (int k = 0; k < 6; k++) verdicts += filter.filter(&point) ? 'd' : 'k';
    EXPECT_EQ(first->asked, 6u);
    EXPECT_EQ(second->asked, 3u);
    EXPECT_EQ(verdicts, is_and ? "kkkdkk" : "kdddkd");
    filter.reset();
    EXPECT_EQ(first->asked + second->asked, 0u) << "reset reaches both children";
  }
}

TEST_F(LasFilterTest, TheFirstDropEndsTheVerdict) {
  LASfilter filter;
  Counting* front = new Counting("front");
  Counting* back = new Counting("back");
  filter.add_criterion(front);
  filter.add_criterion(back);
  LASpoint point;
  for (int k = 0; k < 4; k++) filter.filter(&point);
  EXPECT_EQ(front->asked, 4u);
  EXPECT_EQ(back->asked, 2u) << "only the points the front kept";
}

TEST_F(LasFilterTest, ListGrowsBySixteenAndKeepsItsOrder) {
  LASfilter filter;
  std::string options;
  for (int k = 0; k < 17; k++) options += "-drop_X_below " + std::to_string(k) + " ";
  ASSERT_TRUE(filter.parse(options.c_str()));
  EXPECT_EQ(filter.criteria_count, 17u);
  EXPECT_EQ(filter.criteria.capacity(), 32u);
  EXPECT_EQ(filter_text(filter), options);

  // Emptied and parsed again it equals a fresh filter from the same options.
  filter.clean();
  EXPECT_EQ(filter.criteria_count, 0u);
  EXPECT_EQ(filter.criteria.capacity(), 0u);
  ASSERT_TRUE(filter.parse("-keep_x 0 1 -keep_Y 2 3"));
  LASfilter fresh;
  ASSERT_TRUE(fresh.parse("-keep_x 0 1 -keep_Y 2 3"));
  EXPECT_EQ(filter_text(filter), filter_text(fresh));

  // Option text of any length parses, in one string.
  std::string many;
  for (int k = 0; k < 100; k++) many += "-keep_XY 0 0 " + std::to_string(k + 1) + " 1 ";
  LASfilter large;
  ASSERT_TRUE(large.parse(("  " + many + "  ").c_str()));
  EXPECT_EQ(large.criteria_count, 100u);
  EXPECT_EQ(filter_text(large), many);
}

TEST_F(LasFilterTest, AnEmptyFilterKeepsEverythingAndWritesNothing) {
  LASfilter filter;
  std::string text = "before ";
  EXPECT_EQ(filter.unparse(text), 0);
  EXPECT_EQ(text, "before ");
  LASpoint point;
  EXPECT_FALSE(filter.filter(&point));
  filter.reset();
  EXPECT_EQ(filter.take_last_criterion(), nullptr);
}

TEST_F(LasFilterTest, TakeLastNamedAbsorbsOnlyTheDirectlyPrecedingCriterion) {
  LASfilter filter;
  LASfilterParse parse(filter);
  EXPECT_EQ(parse.take_last_named("keep_classification_mask"), nullptr);
  parse.add(new Counting("keep_classification_mask"));
  parse.add(new Counting("drop_z_below"));
  EXPECT_EQ(parse.take_last_named("keep_classification_mask"), nullptr);
  EXPECT_EQ(filter.criteria_count, 2u);
  std::unique_ptr<LAScriterion> last = parse.take_last_named("drop_z_below");
  ASSERT_NE(last, nullptr);
  EXPECT_STREQ(last->name(), "drop_z_below");
  EXPECT_EQ(filter.criteria_count, 1u);
  EXPECT_NE(parse.take_last_named("keep_classification_mask"), nullptr);
  EXPECT_EQ(filter.criteria_count, 0u);
}

TEST(LasFilterNumbers, DegreesAndPercents) {
  struct Case {
    const char* text;
    bool fails;
    F32 value;
  } cases[] = {
      {"0.25", false, 0.25f},
      {"120d", false, 120.0f / 360.0f},
      {"90D", false, 0.25f},
      {"90\xB0", false, 0.25f},
      {"90\xC2\xB0", false, 0.25f},
      {"40p", false, 0.4f},
      {"40P", false, 0.4f},
      {"50%", false, 0.5f},
      {"abc", true, 0.0f},
      {"d", true, 0.0f},
      {"12x", true, 0.0f},
      {"12dd", true, 0.0f},
      {"", true, 0.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    F32 value = 0.0f;
    EXPECT_EQ(strToFloatDegPcFail(c.text, &value), c.fails);
    if (!c.fails) {
      EXPECT_FLOAT_EQ(value, c.value);
    }
  }
}

TEST(LasFilterNumbers, RangeValidateOrdersThePairAndChecksIt) {
  struct Case {
    F32 min, max;
    bool ok;
    F32 ordered_min, ordered_max;
    std::string err;
  } cases[] = {
      {0.7f, 0.2f, true, 0.2f, 0.7f, ""},
      {0.0f, 1.0f, true, 0.0f, 1.0f, ""},
      {-0.1f, 0.5f, false, -0.1f, 0.5f, "ERROR: \"-keep_HSV_hue\" argument falls below minimum(-0.1 < 0)\n"},
      {1.5f, 2.0f, false, 1.5f, 2.0f, "ERROR: \"-keep_HSV_hue\" argument falls above maximum (2 > 1)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.min << " " << c.max);
    F32 min = c.min, max = c.max;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(rangeValidate<F32>("-keep_HSV_hue", &min, &max, 0.0f, 1.0f), c.ok);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.err);
    EXPECT_EQ(min, c.ordered_min);
    EXPECT_EQ(max, c.ordered_max);
  }
}

}  // namespace

namespace {

// Every filter option by name, with arguments it accepts: each is taken whole
// and builds a criterion. With the three help options these are all 182 names.
TEST(LasFilterNames, EveryOptionParses) {
  const char* const options[] = {
      "-keep_tile 0 0 10", "-keep_circle 0 0 1", "-keep_xy 0 0 1 1", "-drop_xy 0 0 1 1", "-keep_xyz 0 0 0 1 1 1",
      "-drop_xyz 0 0 0 1 1 1", "-keep_x 0 1", "-drop_x 0 1", "-keep_y 0 1", "-drop_y 0 1", "-keep_z 0 1", "-drop_z 0 1",
      "-drop_x_below 0", "-drop_x_above 0", "-drop_y_below 0", "-drop_y_above 0", "-drop_z_below 0", "-drop_z_above 0",
      "-keep_z_above 0", "-keep_z_below 0", "-keep_profile 0 0 1 1 1",
      "-keep_XY 0 0 1 1", "-keep_X 0 1", "-drop_X 0 1", "-keep_Y 0 1", "-drop_Y 0 1", "-keep_Z 0 1", "-drop_Z 0 1",
      "-drop_X_below 0", "-drop_X_above 0", "-drop_Y_below 0", "-drop_Y_above 0", "-drop_Z_below 0", "-drop_Z_above 0",
      "-keep_Z_above 0", "-keep_Z_below 0",
      "-keep_first", "-first_only", "-keep_first_of_many", "-keep_middle", "-keep_last", "-last_only",
      "-keep_last_of_many", "-keep_second_last", "-drop_first", "-drop_first_of_many", "-drop_middle", "-drop_last",
      "-drop_last_of_many", "-drop_second_last", "-keep_return 1 2", "-keep_return_mask 3", "-drop_return 1",
      "-drop_return_mask 3", "-keep_number_of_returns 2", "-drop_number_of_returns 2", "-keep_single", "-keep_double",
      "-keep_triple", "-keep_quadruple", "-keep_quintuple", "-drop_single", "-drop_double", "-drop_triple",
      "-drop_quadruple", "-drop_quintuple",
      "-keep_class 2", "-keep_classification 2", "-keep_classification_mask 4", "-drop_class 2",
      "-drop_classification 2", "-drop_classification_mask 4", "-keep_extended_class 40",
      "-keep_extended_classification 40", "-drop_extended_class 40", "-drop_extended_classification 40",
      "-drop_extended_classification_mask 0 0 0 0 0 0 0 1", "-keep_synthetic", "-drop_synthetic", "-keep_keypoint",
      "-drop_keypoint", "-keep_withheld", "-drop_withheld", "-keep_overlap", "-drop_overlap", "-drop_scan_direction 1",
      "-keep_scan_direction_change", "-keep_edge_of_flight_line", "-drop_edge_of_flight_line",
      "-keep_scanner_channel 1", "-drop_scanner_channel 1",
      "-keep_intensity 1 2", "-keep_intensity_above 1", "-keep_intensity_below 1", "-drop_intensity_above 1",
      "-drop_intensity_below 1", "-drop_intensity_between 1 2", "-keep_user_data 1", "-keep_user_data_below 1",
      "-keep_user_data_above 1", "-keep_user_data_between 1 2", "-drop_user_data 1", "-drop_user_data_below 1",
      "-drop_user_data_above 1", "-drop_user_data_between 1 2", "-keep_point_source 1",
      "-keep_point_source_between 1 2", "-drop_point_source 1", "-drop_point_source_below 1",
      "-drop_point_source_above 1", "-drop_point_source_between 1 2",
      "-keep_scan_angle -1 1", "-keep_scan_angle_between -1 1", "-drop_abs_scan_angle_above 1",
      "-drop_abs_scan_angle_below 1", "-drop_scan_angle_above 1", "-drop_scan_angle_below 1",
      "-drop_scan_angle_between 1 2", "-keep_gps_time 1 2", "-keep_gpstime 1 2", "-keep_gps_time_between 1 2",
      "-keep_gpstime_between 1 2", "-keep_gps_time_above 1", "-keep_gpstime_above 1", "-keep_gps_time_below 1",
      "-keep_gpstime_below 1", "-drop_gps_time_above 1", "-drop_gpstime_above 1", "-drop_gps_time_below 1",
      "-drop_gpstime_below 1", "-drop_gps_time_between 1 2", "-drop_gpstime_between 1 2", "-keep_wavepacket 1",
      "-drop_wavepacket 1",
      "-keep_attribute_below 0 1", "-keep_attribute_above 0 1", "-keep_attribute_between 0 1 2",
      "-drop_attribute_below 0 1", "-drop_attribute_above 0 1", "-drop_attribute_between 0 1 2",
      "-keep_RGB_red 1 2", "-keep_RGB_green 1 2", "-keep_RGB_blue 1 2", "-keep_RGB_nir 1 2",
      "-keep_RGB_greenness 1 2", "-drop_RGB_red 1 2", "-drop_RGB_green 1 2", "-drop_RGB_blue 1 2",
      "-drop_RGB_nir 1 2", "-keep_NDVI 0 1", "-keep_NDVI_from_CIR 0 1", "-keep_NDVI_green_is_NIR 0 1",
      "-keep_NDVI_blue_is_NIR 0 1", "-keep_NDVI_intensity_is_NIR 0 1",
      "-keep_HSV 0 1 0 1 0 1", "-drop_HSV 0 1 0 1 0 1", "-keep_HSL 0 1 0 1 0 1", "-drop_HSL 0 1 0 1 0 1",
      "-keep_HSV_hue 0 1", "-keep_HSV_saturation 0 1", "-keep_HSV_value 0 1", "-drop_HSV_hue 0 1",
      "-drop_HSV_saturation 0 1", "-drop_HSV_value 0 1", "-keep_HSL_hue 0 1", "-keep_HSL_saturation 0 1",
      "-keep_HSL_lightness 0 1", "-drop_HSL_hue 0 1", "-drop_HSL_saturation 0 1", "-drop_HSL_lightness 0 1",
      "-keep_every_nth 2", "-drop_every_nth 2", "-keep_random_fraction 0.5", "-thin_with_grid 1",
      "-thin_pulses_with_time 1", "-thin_with_time 1", "-thin_points_with_time 1",
      "-keep_x 0 1 -keep_y 0 1 -filter_and", "-keep_x 0 1 -keep_y 0 1 -filter_or",
  };
  EXPECT_EQ(std::size(options) + 3, 182u);
  for (const char* option : options) {
    SCOPED_TRACE(option);
    LASfilter filter;
    ArgVector args = ArgVector::from_text(option);
    ASSERT_TRUE(filter.parse(args.argc(), args.argv()));
    EXPECT_EQ(args.remaining(), std::vector<std::string>{});
    EXPECT_EQ(filter.criteria_count, 1u);
    // The text reads back to the same text.
    const std::string text = filter_text(filter);
    LASfilter back;
    ASSERT_TRUE(back.parse(text.c_str()));
    EXPECT_EQ(filter_text(back), text);
  }
}

}  // namespace
