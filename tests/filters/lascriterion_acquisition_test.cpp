// The scan-angle, GPS-time and wave-packet criteria: verdicts on legacy and
// extended points, with and without GPS time, the option text (the absolute
// angle and the keep-above/below time options come back as the criteria
// they build) and its read-back, and the messages of refused options.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/laspoint.hpp"
#include "core/lasreader.hpp"
#include "filters/lasfilter.hpp"
#include "support/arg_vector.hpp"
#include "support/filter_check.hpp"
#include "support/halting_off.hpp"

namespace {

// An extended point carries its angle in steps of 0.006 degree: 2500 is 15
// degrees exactly, 2501 just above, 417 is 2.502 and 333 is 1.998.
constexpr struct {
  bool extended;
  I16 angle;  // whole degrees, or steps of an extended point
  bool has_time;
  F64 time;
  U8 wave;
} POINTS[] = {
    {false, -3, true, 5.0, 0},      // 0
    {false, -2, true, 10.0, 3},     // 1
    {false, 2, false, 100.0, 255},  // 2
    {false, 3, true, 20.0, 1},      // 3
    {true, 2500, true, 15.0, 3},    // 4
    {true, 2501, true, -1.0, 0},    // 5
    {true, 417, true, 130.725, 0},  // 6
    {true, 333, true, 11.125, 0},   // 7
    {true, -2500, false, 0.0, 0},   // 8
};

std::string verdicts(LASfilter& filter) {
  std::string out;
  LASpoint point;
  for (const auto& p : POINTS) {
    point.set_extended_layout(p.extended ? 1 : 0);
    point.scan_angle_rank = p.extended ? 0 : (I8)p.angle;
    point.extended_scan_angle = p.extended ? p.angle : 0;
    point.has_gps_time = p.has_time;
    point.gps_time = p.time;
    point.wave_packet.set_index(p.wave);
    out += filter.filter(&point) ? 'd' : 'k';
  }
  return out;
}

struct RecordCase {
  const char* name;
  const char* options;
  const char* verdicts;  // on POINTS
  const char* text;
  U32 selective;
};

void PrintTo(const RecordCase& c, std::ostream* os) { *os << c.name; }

constexpr U32 ANGLE = LAS_SELECTIVE_SCAN_ANGLE;
constexpr U32 TIME = LAS_SELECTIVE_GPS_TIME;
constexpr U32 WAVE = LAS_SELECTIVE_WAVEPACKET;

const RecordCase record_cases[] = {
    {"keep_scan_angle", "-keep_scan_angle -15 15", "kkkkkdkkk", "-keep_scan_angle -15.000 15.000 ", ANGLE},
    {"keep_scan_angle_between in reverse", "-keep_scan_angle_between 10 -10", "kkkkddkkd",
     "-keep_scan_angle -10.000 10.000 ", ANGLE},
    {"keep_scan_angle with every digit", "-keep_scan_angle 0.0001 2.5", "ddkddddkd",
     "-keep_scan_angle 9.99999975e-05 2.500 ", ANGLE},
    {"drop_abs_scan_angle_above", "-drop_abs_scan_angle_above 15", "kkkkkdkkk", "-keep_scan_angle -15.000 15.000 ",
     ANGLE},
    {"drop_abs_scan_angle_above a negative", "-drop_abs_scan_angle_above -2", "dkkddddkd",
     "-keep_scan_angle -2.000 2.000 ", ANGLE},
    // Whole degrees below 3 in magnitude; extended angles between 2 and 3 pass.
    {"drop_abs_scan_angle_below", "-drop_abs_scan_angle_below 3", "kddkkkkdk", "-drop_scan_angle_between -2.000 2.000 ",
     ANGLE},
    {"drop_scan_angle_below", "-drop_scan_angle_below -2", "dkkkkkkkd", "-drop_scan_angle_below -2.000 ", ANGLE},
    {"drop_scan_angle_above", "-drop_scan_angle_above 15", "kkkkkdkkk", "-drop_scan_angle_above 15.000 ", ANGLE},
    {"drop_scan_angle_between in reverse", "-drop_scan_angle_between 3 -3", "ddddkkddk",
     "-drop_scan_angle_between -3.000 3.000 ", ANGLE},

    {"keep_gps_time", "-keep_gps_time 10 20", "dkkkkddkk", "-keep_gps_time 10.000000 20.000000 ", TIME},
    {"keep_gpstime_between", "-keep_gpstime_between 10 20", "dkkkkddkk", "-keep_gps_time 10.000000 20.000000 ", TIME},
    {"keep_gps_time with start after end", "-keep_gps_time 20 10", "ddkdddddk", "-keep_gps_time 20.000000 10.000000 ",
     TIME},
    {"keep_gps_time 0 0", "-keep_gpstime 0 0", "ddkdddddk", "-keep_gps_time 0.000000 0.000000 ", TIME},
    {"keep_gps_time_above", "-keep_gps_time_above 11.125", "ddkkkdkkk", "-drop_gps_time_below 11.125000 ", TIME},
    {"keep_gpstime_below", "-keep_gpstime_below 15", "kkkdkkdkk", "-drop_gps_time_above 15.000000 ", TIME},
    {"drop_gps_time_below with every digit", "-drop_gpstime_below 11.1250000001", "ddkkkdkdk",
     "-drop_gps_time_below 11.1250000001 ", TIME},
    {"drop_gps_time_above", "-drop_gps_time_above 130.725", "kkkkkkkkk", "-drop_gps_time_above 130.725000 ", TIME},
    {"drop_gps_time_between", "-drop_gps_time_between 10 15", "kdkkdkkdk",
     "-drop_gps_time_between 10.000000 15.000000 ", TIME},

    {"keep_wavepacket", "-keep_wavepacket 3", "dkddkdddd", "-keep_wavepacket 3 ", WAVE},
    {"drop_wavepacket", "-drop_wavepacket 0", "dkkkkdddd", "-drop_wavepacket 0 ", WAVE},
    {"keep_wavepacket of no number", "-keep_wavepacket abc", "kddddkkkk", "-keep_wavepacket 0 ", WAVE},
    {"keep_wavepacket of a leading number", "-keep_wavepacket 255th", "ddkdddddd", "-keep_wavepacket 255 ", WAVE},
    {"keep_wavepacket above any index", "-keep_wavepacket 256", "ddddddddd", "-keep_wavepacket 256 ", WAVE},
    {"drop_wavepacket of a negative", "-drop_wavepacket -1", "kkkkkkkkk", "-drop_wavepacket 4294967295 ", WAVE},
};

class RecordCriteria : public HaltingOff<::testing::TestWithParam<RecordCase>> {};

TEST_P(RecordCriteria, VerdictsTextAndReadBack) {
  const RecordCase& c = GetParam();
  LASfilter filter;
  expect_options_give(filter, c.options, 1, verdicts, c.verdicts, c.text);
  EXPECT_EQ(selective_of(filter), c.selective);
}

INSTANTIATE_TEST_SUITE_P(EveryOption, RecordCriteria, ::testing::ValuesIn(record_cases),
                         [](const ::testing::TestParamInfo<RecordCase>& info) {
                           return test_name_of(info.param.name);
                         });

class RecordOptions : public HaltingOff<> {};

TEST_F(RecordOptions, RefusedOptionsBuildNothing) {
  expect_refusals({
      {{"-keep_scan_angle", "1"}, "'-keep_scan_angle' needs 2 arguments: min max"},
      {{"-keep_scan_angle_between", "1", "x"},
       "'-keep_scan_angle_between' needs 2 arguments: min max but 'x' is no valid max"},
      {{"-drop_scan_angle_between", "a", "1"},
       "'-drop_scan_angle_between' needs 2 arguments: min max but 'a' is no valid min"},
      {{"-drop_abs_scan_angle_above", "x"},
       "'-drop_abs_scan_angle_above' needs 1 argument: max but 'x' is no valid max"},
      {{"-drop_abs_scan_angle_below"}, "'-drop_abs_scan_angle_below' needs 1 argument: min"},
      {{"-drop_scan_angle_below", "nan"}, "'-drop_scan_angle_below' needs 1 argument: min but 'nan' is no valid min"},
      {{"-keep_gpstime", "1"}, "'-keep_gpstime' needs 2 arguments: start end"},
      {{"-keep_gps_time", "a", "2"}, "'-keep_gps_time' needs 2 arguments: start end but 'a' is no valid start"},
      {{"-keep_gps_time_above", "t"}, "'-keep_gps_time_above' needs 1 argument: time but 't' is no valid time"},
      {{"-drop_gps_time_below", "x"},
       "'-drop_gps_time_below' needs 1 argument: min_gps_time but 'x' is no valid min_gps_time"},
      {{"-drop_gpstime_above"}, "'-drop_gpstime_above' needs 1 argument: max_gps_time"},
      {{"-drop_gpstime_between", "1", "inf"},
       "'-drop_gpstime_between' needs 2 arguments: min max but 'inf' is no valid max"},
      {{"-keep_wavepacket"}, "'-keep_wavepacket' needs 1 argument: index"},
  });
}

// Words that only begin like these options are left for other parsers.
TEST_F(RecordOptions, NearNamesAreLeft) {
  LASfilter filter;
  ArgVector args({"-keep_gps_time_from", "1", "-drop_abs_scan_angle_", "-keep_scan_angles", "1", "2"});
  ASSERT_TRUE(filter.parse(args.argc(), args.argv()));
  EXPECT_EQ(args.remaining(), (std::vector<std::string>{"-keep_gps_time_from", "1", "-drop_abs_scan_angle_",
                                                        "-keep_scan_angles", "1", "2"}));
  EXPECT_EQ(filter.criteria_count, 0u);
}

}  // namespace
