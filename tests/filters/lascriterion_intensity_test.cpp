// The intensity, user-data and point-source criteria: verdicts on a fixed
// set of points, option text and its read-back, the And chain of several kept
// point sources, and the messages of refused options.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/laspoint.hpp"
#include "core/lasreader.hpp"
#include "filters/lasfilter.hpp"
#include "support/filter_check.hpp"
#include "support/halting_off.hpp"

namespace {

constexpr struct {
  U16 intensity;
  U8 user_data;
  U16 point_source;
} POINTS[] = {
    {0, 0, 0}, {99, 1, 3}, {100, 44, 5}, {380, 150, 6}, {4500, 255, 7}, {65535, 20, 65535},
};

std::string verdicts(LASfilter& filter) {
  std::string out;
  LASpoint point;
  for (const auto& p : POINTS) {
    point.intensity = p.intensity;
    point.user_data = p.user_data;
    point.point_source_ID = p.point_source;
    out += filter.filter(&point) ? 'd' : 'k';
  }
  return out;
}

struct FieldCase {
  const char* name;
  const char* options;
  U32 criteria;
  const char* verdicts;  // on POINTS
  const char* text;
  U32 selective;
};

void PrintTo(const FieldCase& c, std::ostream* os) { *os << c.name; }

constexpr U32 INTENSITY = LAS_SELECTIVE_INTENSITY;
constexpr U32 USER_DATA = LAS_SELECTIVE_USER_DATA;
constexpr U32 SOURCE = LAS_SELECTIVE_POINT_SOURCE;

const FieldCase field_cases[] = {
    {"keep_intensity", "-keep_intensity 20 380", 1, "dkkkdd", "-keep_intensity 20 380 ", INTENSITY},
    {"keep_intensity to the top", "-keep_intensity 4500 65535", 1, "ddddkk", "-keep_intensity 4500 65535 ", INTENSITY},
    {"keep_intensity with min above max", "-keep_intensity 500 100", 1, "dddddd", "-keep_intensity 500 100 ",
     INTENSITY},
    {"keep_intensity_below", "-keep_intensity_below 100", 1, "kkdddd", "-keep_intensity_below 100 ", INTENSITY},
    {"keep_intensity_above", "-keep_intensity_above 380", 1, "ddddkk", "-keep_intensity_above 380 ", INTENSITY},
    {"drop_intensity_below", "-drop_intensity_below 100", 1, "ddkkkk", "-drop_intensity_below 100 ", INTENSITY},
    {"drop_intensity_below a negative", "-drop_intensity_below -5", 1, "kkkkkk", "-drop_intensity_below -5 ",
     INTENSITY},
    {"drop_intensity_above", "-drop_intensity_above 380", 1, "kkkkdd", "-drop_intensity_above 380 ", INTENSITY},
    {"drop_intensity_between", "-drop_intensity_between 4000 65535", 1, "kkkkdd", "-drop_intensity_between 4000 65535 ",
     INTENSITY},

    // 300 keeps its low 8 bits, 44.
    {"keep_user_data", "-keep_user_data 300", 1, "ddkddd", "-keep_user_data 44 ", USER_DATA},
    {"keep_user_data_below", "-keep_user_data_below 44", 1, "kkdddk", "-keep_user_data_below 44 ", USER_DATA},
    {"keep_user_data_above", "-keep_user_data_above 150", 1, "ddddkd", "-keep_user_data_above 150 ", USER_DATA},
    {"keep_user_data_between", "-keep_user_data_between 20 44", 1, "ddkddk", "-keep_user_data_between 20 44 ",
     USER_DATA},
    {"drop_user_data", "-drop_user_data 1 255", 2, "kdkkdk", "-drop_user_data 1 -drop_user_data 255 ", USER_DATA},
    {"drop_user_data_below", "-drop_user_data_below 1", 1, "dkkkkk", "-drop_user_data_below 1 ", USER_DATA},
    {"drop_user_data_above", "-drop_user_data_above 150", 1, "kkkkdk", "-drop_user_data_above 150 ", USER_DATA},
    {"drop_user_data_between", "-drop_user_data_between 20 44", 1, "kkdkkd", "-drop_user_data_between 20 44 ",
     USER_DATA},

    {"keep_point_source", "-keep_point_source 6", 1, "dddkdd", "-keep_point_source 6 ", SOURCE},
    {"keep_point_source of several", "-keep_point_source 3 5 7", 1, "dkkdkd",
     "-keep_point_source 3 -keep_point_source 5 -filter_and -keep_point_source 7 -filter_and ", SOURCE},
    // The chain takes only the criteria of its own option.
    {"keep_point_source behind another", "-drop_intensity_below 100 -keep_point_source 5 65535", 2, "ddkddk",
     "-drop_intensity_below 100 -keep_point_source 5 -keep_point_source 65535 -filter_and ", INTENSITY | SOURCE},
    {"keep_point_source_between", "-keep_point_source_between 3 6", 1, "dkkkdd", "-keep_point_source_between 3 6 ",
     SOURCE},
    {"drop_point_source", "-drop_point_source 3 65535", 2, "kdkkkd", "-drop_point_source 3 -drop_point_source 65535 ",
     SOURCE},
    {"drop_point_source_below", "-drop_point_source_below 6", 1, "dddkkk", "-drop_point_source_below 6 ", SOURCE},
    {"drop_point_source_above", "-drop_point_source_above 6", 1, "kkkkdd", "-drop_point_source_above 6 ", SOURCE},
    {"drop_point_source_between", "-drop_point_source_between 5 7", 1, "kkdddk", "-drop_point_source_between 5 7 ",
     SOURCE},
};

class FieldCriteria : public HaltingOff<::testing::TestWithParam<FieldCase>> {};

TEST_P(FieldCriteria, VerdictsTextAndReadBack) {
  const FieldCase& c = GetParam();
  LASfilter filter;
  expect_options_give(filter, c.options, c.criteria, verdicts, c.verdicts, c.text);
  EXPECT_EQ(selective_of(filter), c.selective);
}

INSTANTIATE_TEST_SUITE_P(EveryOption, FieldCriteria, ::testing::ValuesIn(field_cases),
                         [](const ::testing::TestParamInfo<FieldCase>& info) { return test_name_of(info.param.name); });

class FieldOptions : public HaltingOff<> {};

TEST_F(FieldOptions, RefusedOptionsBuildNothing) {
  expect_refusals({
      {{"-keep_intensity", "5"}, "'-keep_intensity' needs 2 arguments: min max"},
      {{"-keep_intensity", "0", "70000"}, "cannot keep intensity because max of 70000 is larger than 65535"},
      // Both values are read before either is checked.
      {{"-keep_intensity", "70000", "x"}, "'-keep_intensity' needs 2 arguments: min max but 'x' is no valid max"},
      {{"-keep_intensity", "70000", "0"}, "cannot keep intensity because min of 70000 is larger than 65535"},
      {{"-keep_intensity_below", "65536"}, "cannot keep intensity below min of 65536 because it is larger than 65535"},
      {{"-keep_intensity_above", "x"}, "'-keep_intensity_above' needs 1 argument: max but 'x' is no valid max"},
      {{"-keep_intensity_above", "65536"}, "cannot keep intensity above max of 65536 because it is larger than 65535"},
      {{"-drop_intensity_below"}, "'-drop_intensity_below' needs 1 argument: min"},
      {{"-drop_intensity_between", "1", "a"},
       "'-drop_intensity_between' needs 2 arguments: min max but 'a' is no valid max"},
      {{"-keep_user_data"}, "'-keep_user_data' needs 1 argument: value"},
      {{"-keep_user_data_above", "x"}, "'-keep_user_data_above' needs 1 argument: value but 'x' is no valid value"},
      {{"-keep_user_data_between", "x", "1"},
       "'-keep_user_data_between' needs 2 arguments: min max but 'x' is no valid min"},
      {{"-drop_user_data"}, "'-drop_user_data' needs at least 1 argument: value"},
      {{"-drop_user_data", "300"}, "cannot drop user data 300 because it is larger than 255"},
      {{"-drop_user_data", "1", "2x"}, "'-drop_user_data' needs at least 1 argument: value but '2x' is no valid value"},
      {{"-drop_user_data_below", "x"}, "'-drop_user_data_below' needs 1 argument: below but 'x' is no valid value"},
      {{"-drop_user_data_below", "256"}, "cannot drop user data below 256 because it is larger than 255"},
      {{"-drop_user_data_above"}, "'-drop_user_data_above' needs 1 argument: above"},
      {{"-drop_user_data_above", "256"}, "cannot drop user data above 256 because it is larger than 255"},
      // The minimum's range is checked before the maximum is read.
      {{"-drop_user_data_between", "300", "x"},
       "cannot drop user data between min and max because min of 300 is larger than 255"},
      {{"-drop_user_data_between", "3", "x"},
       "'-drop_user_data_between' needs 2 arguments: min max but 'x' is no valid max"},
      {{"-drop_user_data_between", "3", "256"},
       "cannot drop user data between min and max because max of 256 is larger than 255"},
      {{"-keep_point_source"}, "'-keep_point_source' needs at least 1 argument: ID"},
      {{"-keep_point_source", "x"}, "'-keep_point_source' needs at least 1 argument: ID but 'x' is no valid ID"},
      {{"-keep_point_source", "3", "5x"}, "'-keep_point_source' takes one or more IDs but '5x' is no valid ID"},
      {{"-keep_point_source", "3", "70000"}, "cannot keep_point_source ID 70000 because it is larger than 65535"},
      {{"-keep_point_source_between", "1"}, "'-keep_point_source_between' needs 2 arguments: min_ID max_ID"},
      {{"-keep_point_source_between", "1", "65536"},
       "cannot keep point source because max_ID of 65536 is larger than 65535"},
      {{"-drop_point_source", "7", "65536"}, "cannot drop_point_source ID 65536 because it is larger than 65535"},
      {{"-drop_point_source", "-1"}, "'-drop_point_source' needs at least 1 argument: ID but '-1' is no valid ID"},
      {{"-drop_point_source_below", "x"},
       "'-drop_point_source_below' needs 1 argument: min_ID max_ID but 'x' is no valid min_ID"},
      {{"-drop_point_source_below", "65536"},
       "cannot drop point source below min_ID of 65536 because it is larger than 65535"},
      {{"-drop_point_source_above"}, "'-drop_point_source_above' needs 1 argument: max_ID"},
      {{"-drop_point_source_above", "70000"},
       "cannot drop point source above max_ID of 70000 because it is larger than 65535"},
      {{"-drop_point_source_between", "65536", "1"},
       "cannot drop point source because min_ID of 65536 is larger than 65535"},
  });
}

}  // namespace
