// The filter options through the built program: the points that reach the
// output in a one-pass run (-every_nth 1) and in the two-pass voxel mode, on
// every input, and the messages and exit code of refused options.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "support/cores_check.hpp"
#include "support/header_scan.hpp"
#include "support/las_fixture.hpp"
#include "support/run_tool.hpp"
#include "support/temp_dir.hpp"

namespace {

// A 10 x 10 grid at x = i, y = j (i, j in 0..9) with z = i + j, stored with
// scale 0.01 and offset 0 (so X = 100 i).
lasfix::LasFile grid_file() {
  lasfix::LasFile f;
  for (int i = 0; i < 10; i++) {
    for (int j = 0; j < 10; j++) {
      lasfix::Point p;
      p.X = 100 * i;
      p.Y = 100 * j;
      p.Z = 100 * (i + j);
      p.intensity = (uint16_t)(10 * i + j);
      f.points.push_back(p);
    }
  }
  return f;
}

// Runs the tool on the file with the options, once in one pass (-every_nth 1)
// and once in voxel mode with voxels that hold one point each, and expects
// just the `expected` points, in order, in both outputs.
void expect_both_modes_keep(const lasfix::LasFile& file, const std::vector<std::string>& options,
                            const std::vector<lasfix::Point>& expected) {
  ASSERT_FALSE(expected.empty());
  ASSERT_LT(expected.size(), file.points.size());
  TempDir dir;
  dir.write("in.las", file.bytes());
  for (const std::vector<std::string>& mode : {std::vector<std::string>{"-every_nth", "1"},
                                               std::vector<std::string>{"-step", "0.5"}}) {
    SCOPED_TRACE(mode[0]);
    std::vector<std::string> args = {"-i", dir.file("in.las"), "-o", dir.file("out.las")};
    args.insert(args.end(), mode.begin(), mode.end());
    args.insert(args.end(), options.begin(), options.end());
    ToolResult r = run_voxsifter(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err.rfind("done with '", 0), 0u) << r.err;
    lasfix::Parsed out = lasfix::parse(dir.read("out.las"));
    EXPECT_EQ(out.points, expected);
    expect_header_matches_points(out);
  }
}

struct FilterCase {
  const char* name;
  std::vector<std::string> options;
  std::function<bool(int i, int j)> kept;
};

void PrintTo(const FilterCase& c, std::ostream* os) { *os << c.name; }

class FilterRunTest : public ::testing::TestWithParam<FilterCase> {};

// The same points come out whether the file is read once or twice: a voxel
// of 0.5 holds at most one grid point, so every point that passes the filter
// in both passes survives.
TEST_P(FilterRunTest, OnePassAndVoxelModeKeepTheFilteredPoints) {
  const FilterCase& c = GetParam();
  const lasfix::LasFile file = grid_file();
  std::vector<lasfix::Point> expected;
  for (const lasfix::Point& p : file.points) {
    if (c.kept(p.X / 100, p.Y / 100)) expected.push_back(p);
  }
  expect_both_modes_keep(file, c.options, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Options, FilterRunTest,
    ::testing::Values(
        FilterCase{"keep_xy_half_open", {"-keep_xy", "0", "0", "5", "5"}, [](int i, int j) { return i < 5 && j < 5; }},
        FilterCase{"drop_xy", {"-drop_xy", "2", "2", "5", "5"},
                   [](int i, int j) { return !(i >= 2 && i < 5 && j >= 2 && j < 5); }},
        FilterCase{"keep_z_above", {"-keep_z_above", "5"}, [](int i, int j) { return i + j >= 5; }},
        FilterCase{"keep_circle", {"-keep_circle", "0", "0", "3"}, [](int i, int j) { return i * i + j * j < 9; }},
        FilterCase{"keep_tile", {"-keep_tile", "2", "2", "3"},
                   [](int i, int j) { return i >= 2 && i < 5 && j >= 2 && j < 5; }},
        FilterCase{"keep_profile", {"-keep_profile", "0", "0", "9", "9", "1"}, [](int i, int j) { return i == j; }},
        FilterCase{"keep_xyz", {"-keep_xyz", "1", "1", "4", "8", "8", "6"},
                   [](int i, int j) { return i >= 1 && i < 8 && j >= 1 && j < 8 && i + j >= 4 && i + j < 6; }},
        FilterCase{"raw_coordinates", {"-keep_X", "100", "300", "-drop_Y_below", "500", "-drop_Z_above", "900"},
                   [](int i, int j) { return i >= 1 && i < 3 && j >= 5 && i + j < 9; }},
        FilterCase{"raw_Z", {"-keep_Z", "300", "400"}, [](int i, int j) { return i + j == 3; }},
        FilterCase{"filter_or_drops_when_either_drops", {"-keep_z", "0", "10", "-keep_X", "100", "200", "-filter_or"},
                   [](int i, int j) { return i == 1 && i + j < 10; }},
        FilterCase{"filter_and_keeps_when_either_keeps",
                   {"-keep_z", "0", "3", "-keep_X", "500", "700", "-filter_and"},
                   [](int i, int j) { return i + j < 3 || i == 5 || i == 6; }},
        FilterCase{"three_criteria", {"-drop_x_below", "1", "-drop_y_above", "8", "-drop_z", "5", "10"},
                   [](int i, int j) { return i >= 1 && j < 8 && !(i + j >= 5 && i + j < 10); }},
        // Point 10 i + j in file order.
        FilterCase{"keep_every_nth", {"-keep_every_nth", "2"}, [](int, int j) { return j % 2 == 1; }},
        FilterCase{"thin_with_grid", {"-thin_with_grid", "2.0"}, [](int i, int j) { return i % 2 == 0 && j % 2 == 0; }},
        FilterCase{"thin_with_grid_3", {"-thin_with_grid", "3"}, [](int i, int j) { return i % 3 == 0 && j % 3 == 0; }},
        FilterCase{"thin_with_grid_behind_a_box", {"-keep_xy", "1", "1", "9", "9", "-thin_with_grid", "2"},
                   [](int i, int j) {
                     return i >= 1 && j >= 1 && i < 9 && j < 9 && (i == 1 || i % 2 == 0) && (j == 1 || j % 2 == 0);
                   }},
        FilterCase{"keep_intensity", {"-keep_intensity", "20", "39"}, [](int i, int) { return i == 2 || i == 3; }}),
    [](const ::testing::TestParamInfo<FilterCase>& info) { return std::string(info.param.name); });

// ------------------------------------------------------------------ point fields

// 40 points at x = i (X = 100 i) whose return, class, flag, scanline and
// channel fields vary independently. Format 6 files carry classes up to 49
// and returns beyond 7 (whose 3-bit values the reader derives: 8 of 10 reads
// as 6 of 7, 10 of 10 as 7 of 7, 6 of 9 as 6 of 7, 9 of 9 as 7 of 7).
lasfix::LasFile field_file(uint8_t format) {
  static const uint8_t legacy_pulses[10][2] = {{1, 1}, {1, 2}, {2, 2}, {1, 3}, {2, 3},
                                               {3, 3}, {1, 4}, {2, 4}, {3, 4}, {4, 4}};
  static const uint8_t extended_pulses[10][2] = {{1, 1}, {1, 2}, {2, 2}, {1, 3}, {2, 3},
                                                 {3, 3}, {8, 10}, {10, 10}, {6, 9}, {9, 9}};
  const bool extended = format >= 6;
  lasfix::LasFile f;
  f.header.point_data_format = format;
  if (extended) f.header.version_minor = 4;
  for (int i = 0; i < 40; i++) {
    lasfix::Point p;
    p.X = 100 * i;
    const uint8_t* pulse = extended ? extended_pulses[i % 10] : legacy_pulses[i % 10];
    p.return_number = pulse[0];
    p.number_of_returns = pulse[1];
    p.classification = (uint8_t)(extended ? (i * 11) % 50 : i % 7);
    p.synthetic = i % 2;
    p.keypoint = (i / 2) % 2;
    p.withheld = (i / 4) % 2;
    p.overlap = extended && (i / 8) % 2;
    p.scan_direction_flag = (i / 3) % 2;
    p.edge_of_flight_line = i % 5 == 0;
    p.scanner_channel = extended ? i % 4 : 0;
    p.intensity = (uint16_t)i;
    f.points.push_back(p);
  }
  return f;
}

struct FieldCase {
  const char* name;
  uint8_t format;
  std::vector<std::string> options;
  std::function<bool(const lasfix::Point& p)> kept;
};

void PrintTo(const FieldCase& c, std::ostream* os) { *os << c.name; }

// Both modes keep just the points of the file that the case keeps.
void expect_case_keeps(const lasfix::LasFile& file, const FieldCase& c) {
  std::vector<lasfix::Point> expected;
  for (const lasfix::Point& p : file.points) {
    if (c.kept(p)) expected.push_back(p);
  }
  expect_both_modes_keep(file, c.options, expected);
}

class FieldFilterRunTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(FieldFilterRunTest, OnePassAndVoxelModeKeepTheFilteredPoints) {
  const FieldCase& c = GetParam();
  expect_case_keeps(field_file(c.format), c);
}

using lasfix::Point;

INSTANTIATE_TEST_SUITE_P(
    Options, FieldFilterRunTest,
    ::testing::Values(
        FieldCase{"keep_return", 1, {"-keep_return", "1", "2"}, [](const Point& p) { return p.return_number <= 2; }},
        FieldCase{"keep_return_lists_merge", 1, {"-keep_return_mask", "8", "-keep_return", "1"},
                  [](const Point& p) { return p.return_number == 1 || p.return_number == 3; }},
        FieldCase{"keep_first", 1, {"-keep_first"}, [](const Point& p) { return p.return_number == 1; }},
        FieldCase{"keep_last", 1, {"-keep_last"},
                  [](const Point& p) { return p.return_number == p.number_of_returns; }},
        FieldCase{"drop_single", 1, {"-drop_single"}, [](const Point& p) { return p.number_of_returns != 1; }},
        FieldCase{"keep_middle", 1, {"-keep_middle"},
                  [](const Point& p) { return p.return_number > 1 && p.return_number < p.number_of_returns; }},
        FieldCase{"keep_second_last_and_drop_double", 1, {"-keep_second_last", "-drop_double"},
                  [](const Point& p) { return p.number_of_returns > 2 && p.return_number == p.number_of_returns - 1; }},
        FieldCase{"keep_last_of_extended_returns", 6, {"-keep_last"},
                  [](const Point& p) { return p.return_number == p.number_of_returns; }},
        FieldCase{"keep_return_6_of_extended_returns", 6, {"-keep_return", "6"},
                  [](const Point& p) { return p.return_number == 8 || p.return_number == 6; }},
        FieldCase{"keep_number_of_returns_7_of_extended_returns", 6, {"-keep_number_of_returns", "7"},
                  [](const Point& p) { return p.number_of_returns > 7; }},
        FieldCase{"keep_class", 1, {"-keep_class", "1", "3"},
                  [](const Point& p) { return p.classification == 1 || p.classification == 3; }},
        FieldCase{"keep_class_merges_with_a_mask", 1, {"-keep_classification_mask", "6", "-keep_class", "3"},
                  [](const Point& p) { return p.classification >= 1 && p.classification <= 3; }},
        FieldCase{"drop_class", 1, {"-drop_class", "0", "6"},
                  [](const Point& p) { return p.classification != 0 && p.classification != 6; }},
        FieldCase{"keep_extended_class", 6, {"-keep_extended_class", "43"},
                  [](const Point& p) { return p.classification == 43; }},
        FieldCase{"drop_extended_class", 6, {"-drop_extended_class", "0", "44", "5"},
                  [](const Point& p) {
                    return p.classification != 0 && p.classification != 44 && p.classification != 5;
                  }},
        FieldCase{"keep_class_0_drops_classes_above_31", 6, {"-keep_class", "0"},
                  [](const Point& p) { return p.classification == 0; }},
        FieldCase{"drop_class_0_passes_classes_above_31", 6, {"-drop_class", "0", "22"},
                  [](const Point& p) { return p.classification != 0 && p.classification != 22; }},
        FieldCase{"keep_withheld", 1, {"-keep_withheld"}, [](const Point& p) { return p.withheld; }},
        FieldCase{"drop_keypoint", 1, {"-drop_keypoint"}, [](const Point& p) { return !p.keypoint; }},
        FieldCase{"keep_synthetic_extended", 6, {"-keep_synthetic"}, [](const Point& p) { return p.synthetic; }},
        FieldCase{"keep_overlap", 6, {"-keep_overlap"}, [](const Point& p) { return p.overlap; }},
        FieldCase{"keep_scanner_channel", 6, {"-keep_scanner_channel", "2"},
                  [](const Point& p) { return p.scanner_channel == 2; }},
        FieldCase{"drop_scanner_channel", 6, {"-drop_scanner_channel", "0"},
                  [](const Point& p) { return p.scanner_channel != 0; }},
        // Directions 0 0 0 1 1 1 0 0 0 ...: the first point of each run after
        // the first run.
        FieldCase{"keep_scan_direction_change", 1, {"-keep_scan_direction_change"},
                  [](const Point& p) { return p.X > 0 && (p.X / 100) % 3 == 0; }},
        FieldCase{"drop_scan_direction", 1, {"-drop_scan_direction", "1"},
                  [](const Point& p) { return !p.scan_direction_flag; }},
        FieldCase{"keep_edge_of_flight_line", 1, {"-keep_edge_of_flight_line"},
                  [](const Point& p) { return p.edge_of_flight_line; }},
        FieldCase{"classes_or_flags", 1, {"-keep_class", "2", "-keep_withheld", "-filter_or", "-drop_first"},
                  [](const Point& p) { return p.classification == 2 && p.withheld && p.return_number != 1; }}),
    [](const ::testing::TestParamInfo<FieldCase>& info) { return std::string(info.param.name); });

// ------------------------------------------------------------------ record fields and thinning

// 41 points at x = i (an odd count: a count that ran on from one pass into
// the next would pick other points there) with intensity, user data, point
// source, scan angle (whole degrees i - 20, or 1.5 (i - 20) degrees for
// extended points), GPS time (two returns per pulse, four pulses per second)
// and wave-packet index (of formats that carry one) set from i.
lasfix::LasFile record_file(uint8_t format) {
  const bool extended = format >= 6;
  lasfix::LasFile f;
  f.header.point_data_format = format;
  f.header.version_minor = extended ? 4 : (format >= 4 ? 3 : 2);
  for (int i = 0; i <= 40; i++) {
    lasfix::Point p;
    p.X = 100 * i;
    p.intensity = (uint16_t)(100 * i);
    p.user_data = (uint8_t)(7 * i);
    p.point_source_ID = (uint16_t)(i % 9);
    p.scan_angle = (int16_t)(extended ? 250 * (i - 20) : i - 20);
    p.gps_time = (i / 2) * 0.25;
    p.return_number = (uint8_t)(1 + i % 2);
    p.number_of_returns = 2;
    if (format == 4 || format == 5 || format >= 9) p.wave_descriptor_index = (uint8_t)(i % 4);
    f.points.push_back(p);
  }
  return f;
}

class RecordFilterRunTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(RecordFilterRunTest, OnePassAndVoxelModeKeepTheFilteredPoints) {
  const FieldCase& c = GetParam();
  expect_case_keeps(record_file(c.format), c);
}

int index_of(const Point& p) { return p.X / 100; }

INSTANTIATE_TEST_SUITE_P(
    Options, RecordFilterRunTest,
    ::testing::Values(
        FieldCase{"keep_every_nth", 1, {"-keep_every_nth", "2"}, [](const Point& p) { return index_of(p) % 2 == 1; }},
        FieldCase{"drop_every_nth", 1, {"-drop_every_nth", "3"},
                  [](const Point& p) { return (index_of(p) + 1) % 3 != 0; }},
        FieldCase{"keep_every_nth_behind_a_drop", 1, {"-drop_user_data", "0", "-keep_every_nth", "2"},
                  [](const Point& p) { return index_of(p) > 0 && index_of(p) % 2 == 0; }},
        FieldCase{"thin_pulses_with_time", 1, {"-thin_pulses_with_time", "1"},
                  [](const Point& p) { return index_of(p) % 8 < 2; }},
        FieldCase{"thin_with_time", 1, {"-thin_with_time", "0.5"}, [](const Point& p) { return index_of(p) % 4 < 2; }},
        FieldCase{"thin_points_with_time", 1, {"-thin_points_with_time", "1"},
                  [](const Point& p) { return index_of(p) % 8 == 0; }},
        FieldCase{"keep_intensity", 1, {"-keep_intensity", "1000", "2000"},
                  [](const Point& p) { return p.intensity >= 1000 && p.intensity <= 2000; }},
        FieldCase{"drop_user_data_between", 1, {"-drop_user_data_between", "10", "100"},
                  [](const Point& p) { return p.user_data < 10 || p.user_data > 100; }},
        FieldCase{"keep_point_source", 1, {"-keep_point_source", "3", "5", "7"},
                  [](const Point& p) { return p.point_source_ID % 2 == 1 && p.point_source_ID >= 3; }},
        FieldCase{"drop_point_source", 1, {"-drop_point_source", "0", "8"},
                  [](const Point& p) { return p.point_source_ID != 0 && p.point_source_ID != 8; }},
        FieldCase{"drop_abs_scan_angle_below", 1, {"-drop_abs_scan_angle_below", "3"},
                  [](const Point& p) { return std::abs(p.scan_angle) >= 3; }},
        // 1.5 degrees is dropped, 3 degrees kept.
        FieldCase{"drop_abs_scan_angle_below_extended", 6, {"-drop_abs_scan_angle_below", "3"},
                  [](const Point& p) { return std::abs(index_of(p) - 20) >= 2; }},
        FieldCase{"keep_scan_angle_extended", 6, {"-keep_scan_angle", "-15", "15"},
                  [](const Point& p) { return std::abs(index_of(p) - 20) <= 10; }},
        FieldCase{"keep_gps_time", 1, {"-keep_gps_time", "2", "5"}, [](const Point& p) { return index_of(p) >= 16; }},
        FieldCase{"keep_gps_time_extended", 6, {"-keep_gpstime_between", "2", "3"},
                  [](const Point& p) { return index_of(p) >= 16 && index_of(p) < 26; }},
        FieldCase{"keep_wavepacket", 4, {"-keep_wavepacket", "2"}, [](const Point& p) { return index_of(p) % 4 == 2; }},
        FieldCase{"drop_wavepacket_extended", 9, {"-drop_wavepacket", "0"},
                  [](const Point& p) { return index_of(p) % 4 != 0; }}),
    [](const ::testing::TestParamInfo<FieldCase>& info) { return std::string(info.param.name); });

// ------------------------------------------------------------------ colours and attributes

// 40 points at x = i with red 10 i + 10, green 1000 i, blue 40000 - 1000 i,
// near infrared 30 i (format 8 only) and an extra-bytes attribute 0 of
// unsigned 16 bits scaled by 0.01 that holds i (stored 100 i).
lasfix::LasFile colour_file(uint8_t format) {
  lasfix::LasFile f;
  f.header.point_data_format = format;
  f.header.version_minor = format >= 6 ? 4 : 2;
  f.extra_bytes = 2;
  lasfix::ExtraBytesAttribute attribute;
  attribute.data_type = 3;  // u16
  attribute.options = 0x08;
  attribute.scale = {0.01, 1, 1};
  attribute.name = "height";
  f.vlrs.push_back({"LASF_Spec", 4, lasfix::extra_bytes_payload({attribute})});
  for (int i = 0; i < 40; i++) {
    lasfix::Point p;
    p.X = 100 * i;
    p.red = (uint16_t)(10 * i + 10);
    p.green = (uint16_t)(1000 * i);
    p.blue = (uint16_t)(40000 - 1000 * i);
    if (format == 8 || format == 10) p.nir = (uint16_t)(30 * i);
    const uint16_t stored = (uint16_t)(100 * i);
    p.extra_bytes = std::string((const char*)&stored, 2);
    f.points.push_back(p);
  }
  return f;
}

class ColourFilterRunTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(ColourFilterRunTest, OnePassAndVoxelModeKeepTheFilteredPoints) {
  const FieldCase& c = GetParam();
  expect_case_keeps(colour_file(c.format), c);
}

float ndvi_of(int n, int r) { return (float)(n - r) / (float)(n + r); }

INSTANTIATE_TEST_SUITE_P(
    Options, ColourFilterRunTest,
    ::testing::Values(
        FieldCase{"keep_RGB_red_in_reverse", 3, {"-keep_RGB_red", "200", "100"},
                  [](const Point& p) { return p.red >= 100 && p.red <= 200; }},
        // Format 3 has no near infrared: it reads 0.
        FieldCase{"keep_RGB_nir_without_nir", 3, {"-keep_RGB_nir", "0", "0", "-drop_RGB_green", "5000", "30000"},
                  [](const Point& p) { return p.green < 5000 || p.green > 30000; }},
        FieldCase{"keep_RGB_nir", 8, {"-keep_RGB_nir", "300", "600"},
                  [](const Point& p) { return p.nir >= 300 && p.nir <= 600; }},
        FieldCase{"keep_RGB_greenness", 3, {"-keep_RGB_greenness", "0", "65535"},
                  [](const Point& p) {
                    const int g = 2 * p.green - p.red - p.blue;
                    return g >= 0 && g <= 65535;
                  }},
        FieldCase{"keep_NDVI", 8, {"-keep_NDVI", "0.2", "0.7"},
                  [](const Point& p) {
                    const float n = ndvi_of(p.nir, p.red);
                    return n >= 0.2f && n <= 0.7f;
                  }},
        // The red slot holds near infrared and the green slot red.
        FieldCase{"keep_NDVI_from_CIR", 3, {"-keep_NDVI_from_CIR", "-0.99", "0"},
                  [](const Point& p) {
                    const float n = ndvi_of(p.red, p.green);
                    return n >= -0.99f && n <= 0.0f;
                  }},
        FieldCase{"keep_HSV_value", 8, {"-keep_HSV_value", "0", "50p"},
                  [](const Point& p) { return std::max({p.red, p.green, p.blue}) <= 32768; }},
        // Green at least blue and above red: hue from 1/6 (yellow) to 1/2
        // (cyan, where green equals blue).
        FieldCase{"drop_HSL_hue", 3, {"-drop_HSL_hue", "60d", "180d"},
                  [](const Point& p) { return p.green < p.blue; }},
        FieldCase{"keep_attribute_above", 3, {"-keep_attribute_above", "0", "5.0"},
                  [](const Point& p) { return index_of(p) > 5; }},
        FieldCase{"drop_attribute_between", 8, {"-drop_attribute_between", "0", "10", "12"},
                  [](const Point& p) { return index_of(p) < 10 || index_of(p) > 12; }},
        // Attribute 1 does not exist: it reads 0.
        FieldCase{"keep_attribute_below_no_such_attribute", 8,
                  {"-keep_attribute_below", "1", "0.5", "-keep_attribute_below", "0", "3"},
                  [](const Point& p) { return index_of(p) < 3; }}),
    [](const ::testing::TestParamInfo<FieldCase>& info) { return std::string(info.param.name); });

TEST(FilterRun, ChildProcessesRebuildColourAndAttributeFilters) {
  const std::vector<std::string> options = {
      "-keep_HSV", "0", "1", "0", "1", "0.1", "0.9", "-drop_HSL_saturation", "0", "10p", "-keep_NDVI_intensity_is_NIR",
      "-1", "1", "-keep_RGB_blue", "39000", "2000", "-drop_attribute_above", "0", "30.000001", "-keep_HSV_hue",
      "0.1", "170d", "-filter_or"};
  const lasfix::LasFile a = colour_file(8);
  lasfix::LasFile b = colour_file(8);
  for (Point& p : b.points) p.blue = (uint16_t)(p.blue / 2);
  for (const char* mode : {"-every_nth", "-step"}) {
    SCOPED_TRACE(mode);
    std::vector<std::string> args = {mode, std::string(mode) == "-step" ? "0.5" : "1"};
    args.insert(args.end(), options.begin(), options.end());
    expect_children_write_the_same({{"a.las", a.bytes()}, {"b.las", b.bytes()}}, args);
  }
}

// In one voxel, the first point met survives. The second pass must meet the
// same points as the first, or the survivor is never written.
TEST(FilterRun, EveryNthCountsEachPassAfresh) {
  TempDir dir;
  const lasfix::LasFile file = record_file(1);
  dir.write("in.las", file.bytes());
  ToolResult r = run_voxsifter({"-i", dir.file("in.las"), "-o", dir.file("out.las"), "-step", "1000",
                                "-keep_every_nth", "2"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(lasfix::parse(dir.read("out.las")).points, std::vector<Point>{file.points[1]});
}

// The seed decides the points: the same in every run, in either mode, and
// in child processes, which are given the seed in the option text.
TEST(FilterRun, RandomFractionIsStable) {
  TempDir dir;
  const lasfix::LasFile file = record_file(1);
  dir.write("in.las", file.bytes());
  std::vector<std::vector<Point>> outputs;
  for (const char* mode : {"-every_nth", "-step", "-every_nth"}) {
    ToolResult r = run_voxsifter({"-i", dir.file("in.las"), "-o", dir.file("out.las"), mode,
                                  std::string(mode) == "-step" ? "0.5" : "1", "-keep_random_fraction", "0.5", "4711"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    outputs.push_back(lasfix::parse(dir.read("out.las")).points);
  }
  EXPECT_GT(outputs[0].size(), 5u);
  EXPECT_LT(outputs[0].size(), 36u);
  EXPECT_EQ(outputs[1], outputs[0]);
  EXPECT_EQ(outputs[2], outputs[0]);

  lasfix::LasFile b = file;
  for (Point& p : b.points) p.X += 7;
  for (const char* mode : {"-every_nth", "-step"}) {
    SCOPED_TRACE(mode);
    expect_children_write_the_same({{"a.las", file.bytes()}, {"b.las", b.bytes()}},
                                   {mode, std::string(mode) == "-step" ? "0.5" : "1", "-keep_random_fraction", "0.5",
                                    "4711"});
  }
}

TEST(FilterRun, ChildProcessesRebuildRecordAndThinningFilters) {
  const std::vector<std::string> options = {
      "-drop_scan_angle_between", "-2.5", "0.0001", "-keep_point_source", "0", "1", "2", "3", "5", "7",
      "-keep_gps_time_above", "0.3", "-drop_intensity_between", "-3", "150", "-thin_with_grid", "2.0000001",
      "-keep_random_fraction", "0.9", "77", "-thin_pulses_with_time", "0.7"};
  const lasfix::LasFile a = record_file(6);
  lasfix::LasFile b = record_file(6);
  for (Point& p : b.points) p.point_source_ID = (uint16_t)(p.point_source_ID + 1);
  for (const char* mode : {"-every_nth", "-step"}) {
    SCOPED_TRACE(mode);
    std::vector<std::string> args = {mode, std::string(mode) == "-step" ? "0.5" : "1"};
    args.insert(args.end(), options.begin(), options.end());
    expect_children_write_the_same({{"a.las", a.bytes()}, {"b.las", b.bytes()}}, args);
  }
}

TEST(FilterRun, ChildProcessesRebuildTheFilter) {
  // Lists after masks, empty lists and the extended criterion must reach the
  // children as text that rebuilds the same filter.
  const std::vector<std::string> options = {"-keep_return", "1", "2", "3", "-keep_return_mask", "6",
                                            "-drop_return_mask", "0", "-drop_class", "1", "-drop_classification_mask",
                                            "4", "-drop_extended_class", "44", "-keep_scan_direction_change"};
  lasfix::LasFile a = field_file(6);
  lasfix::LasFile b = field_file(6);
  for (Point& p : b.points) p.scan_direction_flag = !p.scan_direction_flag;
  for (const char* mode : {"-every_nth", "-step"}) {
    SCOPED_TRACE(mode);
    std::vector<std::string> args = {mode, std::string(mode) == "-step" ? "0.5" : "1"};
    args.insert(args.end(), options.begin(), options.end());
    expect_children_write_the_same({{"a.las", a.bytes()}, {"b.las", b.bytes()}}, args);
  }
}

TEST(FilterRun, EveryInputIsFiltered) {
  TempDir dir;
  lasfix::LasFile a = grid_file();
  lasfix::LasFile b = grid_file();
  for (lasfix::Point& p : b.points) p.X += 100;  // x = i + 1
  dir.write("a.las", a.bytes());
  dir.write("b.las", b.bytes());
  ToolResult r = run_voxsifter({"-i", dir.file("a.las"), dir.file("b.las"), "-odix", "_f", "-every_nth", "1",
                                "-keep_X", "100", "300"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(lasfix::parse(dir.read("a_f.las")).points.size(), 20u);  // i in 1, 2
  EXPECT_EQ(lasfix::parse(dir.read("b_f.las")).points.size(), 20u);  // i in 0, 1
  EXPECT_EQ(lasfix::parse(dir.read("b_f.las")).points[0].X, 100);

  // Read as one, in both modes.
  for (const char* mode : {"-every_nth", "-step"}) {
    SCOPED_TRACE(mode);
    r = run_voxsifter({"-i", dir.file("a.las"), dir.file("b.las"), "-merged", "-o", dir.file("m.las"), mode,
                       std::string(mode) == "-step" ? "0.5" : "1", "-keep_X", "100", "300"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(lasfix::parse(dir.read("m.las")).points.size(), 40u);
  }
}

TEST(FilterRun, RefusedOptionsEndTheRunWithTheirMessage) {
  struct Case {
    const char* name;
    std::vector<std::string> options;
    std::string err;
  } cases[] = {
      {"too few", {"-keep_xy", "0", "0", "10"},
       "ERROR: '-keep_xy' needs 4 arguments: min_x min_y max_x max_y but '-every_nth' is no valid max_y\n"},
      {"too few at the end", {"-keep_xy"}, "ERROR: '-keep_xy' needs 4 arguments: min_x min_y max_x max_y\n"},
      {"not a number", {"-keep_xy", "0", "0", "a", "10"},
       "ERROR: '-keep_xy' needs 4 arguments: min_x min_y max_x max_y but 'a' is no valid max_x\n"},
      {"and without two", {"-keep_z", "0", "1", "-filter_and"},
       "ERROR: '-filter_and' needs to be preceeded by at least two filters\n"},
      {"old name", {"-clip_z_below", "3"},
       "ERROR: '-clip_z_below' is no longer recognized. check documentation with '-h'.\n"
       "  rename '-clip' to '-keep_xy'.\n"
       "  rename '-clip_box' to '-keep_xyz'.\n"
       "  rename '-clip_tile' to '-keep_tile'.\n"
       "  rename '-clip_z_below' to '-drop_z_below'.\n"
       "  rename '-clip_z_above' to '-drop_z_above'.\n"
       "  rename '-clip_z_between' to '-drop_z'.\n"
       "  etc ...\n"},
      {"class out of range", {"-keep_class", "2", "32"},
       "ERROR: '-keep_class' needs arguments between 0 and 31 but '32' is out of range (see -keep_extended_class)\n"},
      {"keep and drop extended classes", {"-drop_extended_class", "40", "-keep_extended_class", "43"},
       "ERROR: cannot use '-drop_extended_class' and '-keep_extended_class' simultaneously\n"},
      {"nth of 0", {"-keep_every_nth", "0"}, "ERROR: 0 is no valid nth for '-keep_every_nth'\n"},
      {"grid spacing of 0", {"-thin_with_grid", "0"},
       "ERROR: '-thin_with_grid' needs 1 argument: grid spacing but '0' is no valid value\n"},
      {"intensity above its range", {"-keep_intensity", "0", "70000"},
       "ERROR: cannot keep intensity because max of 70000 is larger than 65535\n"},
      {"hue out of range", {"-keep_HSV_hue", "1.5", "2"},
       "ERROR: \"-keep_HSV_hue\" argument falls above maximum (2 > 1)\n"
       "ERROR: cannot understand argument '-keep_HSV_hue'. use '-h' or see voxsifter_README.md to get help.\n"},
      {"unknown channel", {"-keep_RGB_foo", "1", "2"},
       "ERROR: cannot understand argument '-keep_RGB_foo'. use '-h' or see voxsifter_README.md to get help.\n"},
      {"attribute value", {"-drop_attribute_above", "0", "x"},
       "ERROR: '-drop_attribute_above' needs 2 arguments: index value 'x' is no valid value\n"},
      {"unknown keep word", {"-keep_foo", "3"},
       "ERROR: cannot understand argument '-keep_foo'. use '-h' or see voxsifter_README.md to get help.\n"},
  };
  TempDir dir;
  dir.write("in.las", grid_file().bytes());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"-i", dir.file("in.las"), "-o", dir.file("out.las")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    if (std::string(c.name) != "too few at the end") {
      args.push_back("-every_nth");
      args.push_back("1");
    }
    ToolResult r = run_voxsifter(args);
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(r.err, c.err);
    EXPECT_FALSE(dir.exists("out.las"));
  }
}

// The warning keeps the run going, with the legacy class criterion only.
TEST(FilterRun, LegacyAndExtendedKeepClassesWarn) {
  TempDir dir;
  const lasfix::LasFile file = field_file(6);
  dir.write("in.las", file.bytes());
  ToolResult r = run_voxsifter({"-i", dir.file("in.las"), "-o", dir.file("out.las"), "-every_nth", "1", "-keep_class",
                                "5", "-keep_extended_class", "43"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err.rfind("WARNING: cannot combine '-keep_class' together with '-keep_extended_class'. use\n"
                        "         exclusively 'extended' filters for filtering points with classes above 31\n",
                        0),
            0u)
      << r.err;
  std::vector<Point> expected;
  for (const Point& p : file.points) {
    if (p.classification == 5) expected.push_back(p);
  }
  EXPECT_EQ(lasfix::parse(dir.read("out.las")).points, expected);
}

// The whole filter help: 113 lines, 3845 characters, then the transform help.
TEST(FilterRun, ExtendedHelpStartsWithTheFilterOptions) {
  const std::string usage =
      "Filter points based on their coordinates.\n"
      "  -keep_tile 631000 4834000 1000 (ll_x ll_y size)\n"
      "  -keep_circle 630250.00 4834750.00 100 (x y radius)\n"
      "  -keep_xy 630000 4834000 631000 4836000 (min_x min_y max_x max_y)\n"
      "  -drop_xy 630000 4834000 631000 4836000 (min_x min_y max_x max_y)\n"
      "  -keep_x 631500.50 631501.00 (min_x max_x)\n"
      "  -drop_x 631500.50 631501.00 (min_x max_x)\n"
      "  -drop_x_below 630000.50 (min_x)\n"
      "  -drop_x_above 630500.50 (max_x)\n"
      "  -keep_y 4834500.25 4834550.25 (min_y max_y)\n"
      "  -drop_y 4834500.25 4834550.25 (min_y max_y)\n"
      "  -drop_y_below 4834500.25 (min_y)\n"
      "  -drop_y_above 4836000.75 (max_y)\n"
      "  -keep_z 11.125 130.725 (min_z max_z)\n"
      "  -drop_z 11.125 130.725 (min_z max_z)\n"
      "  -drop_z_below 11.125 (min_z)\n"
      "  -drop_z_above 130.725 (max_z)\n"
      "  -keep_xyz 620000 4830000 100 621000 4831000 200 (min_x min_y min_z max_x max_y max_z)\n"
      "  -drop_xyz 620000 4830000 100 621000 4831000 200 (min_x min_y min_z max_x max_y max_z)\n"
      "Filter points based on their return numbering.\n"
      "  -keep_first -first_only -drop_first\n"
      "  -keep_last -last_only -drop_last\n"
      "  -keep_second_last -drop_second_last\n"
      "  -keep_first_of_many -keep_last_of_many\n"
      "  -drop_first_of_many -drop_last_of_many\n"
      "  -keep_middle -drop_middle\n"
      "  -keep_return 1 2 3\n"
      "  -drop_return 3 4\n"
      "  -keep_single -drop_single\n"
      "  -keep_double -drop_double\n"
      "  -keep_triple -drop_triple\n"
      "  -keep_quadruple -drop_quadruple\n"
      "  -keep_number_of_returns 5\n"
      "  -drop_number_of_returns 0\n"
      "Filter points based on the scanline flags.\n"
      "  -drop_scan_direction 0\n"
      "  -keep_scan_direction_change\n"
      "  -keep_edge_of_flight_line\n"
      "Filter points based on their intensity.\n"
      "  -keep_intensity 20 380\n"
      "  -drop_intensity_below 20\n"
      "  -drop_intensity_above 380\n"
      "  -drop_intensity_between 4000 5000\n"
      "Filter points based on classifications or flags.\n"
      "  -keep_class 1 3 7\n"
      "  -drop_class 4 2\n"
      "  -keep_extended_class 43\n"
      "  -drop_extended_class 129 135\n"
      "  -drop_synthetic -keep_synthetic\n"
      "  -drop_keypoint -keep_keypoint\n"
      "  -drop_withheld -keep_withheld\n"
      "  -drop_overlap -keep_overlap\n"
      "Filter points based on their user data.\n"
      "  -keep_user_data 1\n"
      "  -drop_user_data 255\n"
      "  -keep_user_data_below 50\n"
      "  -keep_user_data_above 150\n"
      "  -keep_user_data_between 10 20\n"
      "  -drop_user_data_below 1\n"
      "  -drop_user_data_above 100\n"
      "  -drop_user_data_between 10 40\n"
      "Filter points based on their point source ID.\n"
      "  -keep_point_source 3\n"
      "  -keep_point_source_between 2 6\n"
      "  -drop_point_source 27\n"
      "  -drop_point_source_below 6\n"
      "  -drop_point_source_above 15\n"
      "  -drop_point_source_between 17 21\n"
      "Filter points based on their scan angle.\n"
      "  -keep_scan_angle -15 15\n"
      "  -drop_abs_scan_angle_above 15\n"
      "  -drop_abs_scan_angle_below 1\n"
      "  -drop_scan_angle_below -15\n"
      "  -drop_scan_angle_above 15\n"
      "  -drop_scan_angle_between -25 -23\n"
      "Filter points based on their gps time.\n"
      "  -keep_gps_time 11.125 130.725\n"
      "  -drop_gps_time_below 11.125\n"
      "  -drop_gps_time_above 130.725\n"
      "  -drop_gps_time_between 22.0 48.0\n"
      "Filter points based on their RGB/CIR/NIR channels.\n"
      "  -keep_RGB_red 1 1\n"
      "  -drop_RGB_red 5000 20000\n"
      "  -keep_RGB_green 30 100\n"
      "  -drop_RGB_green 2000 10000\n"
      "  -keep_RGB_blue 0 0\n"
      "  -keep_RGB_nir 64 127\n"
      "  -keep_RGB_greenness 200 65535\n"
      "  -keep_NDVI 0.2 0.7 -keep_NDVI_from_CIR -0.1 0.5\n"
      "  -keep_NDVI_intensity_is_NIR 0.4 0.8 -keep_NDVI_green_is_NIR -0.2 0.2\n"
      "  -keep_HSV 120d 130d 0.4 0.5 0 1\n"
      "  -keep_HSV_hue 0.2 0.3\n"
      "  -drop_HSV_saturation 0.25 0.7\n"
      "  -keep_HSV_value 0 0.3\n"
      "  -keep_HSL 0.3 0.4 40p 50p 0 1\n"
      "  -drop_HSL_hue 0 0.5\n"
      "  -keep_HSL_saturation 0.1 0.25\n"
      "  -drop_HSL_lightness 0.1 0.2\n"
      "Filter points based on their wavepacket.\n"
      "  -keep_wavepacket 0\n"
      "  -drop_wavepacket 3\n"
      "Filter points based on extra attributes.\n"
      "  -keep_attribute_above 0 5.0\n"
      "  -drop_attribute_below 1 1.5\n"
      "Filter points with simple thinning.\n"
      "  -keep_every_nth 2 -drop_every_nth 3\n"
      "  -keep_random_fraction 0.1\n"
      "  -keep_random_fraction 0.1 4711\n"
      "  -thin_with_grid 1.0\n"
      "  -thin_pulses_with_time 0.0001\n"
      "  -thin_points_with_time 0.000001\n"
      "Boolean combination of filters.\n"
      "  -filter_and\n"
      "Transform coordinates.\n";
  ASSERT_EQ(usage.size(), 3845u + 1 + strlen("Transform coordinates.\n"));
  ToolResult r = run_voxsifter({"-hh"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err.substr(0, usage.size()), usage);
}

}  // namespace
