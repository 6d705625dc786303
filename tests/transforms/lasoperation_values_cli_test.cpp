// The field operations through the built program in one pass (-every_nth 1):
// the points written are the input points with exactly the fields the
// options change, in a legacy and a LAS 1.4 point format; the complete
// transform help; and every option name of the transform.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "core/lasmessage.hpp"
#include "support/arg_vector.hpp"
#include "support/las_fixture.hpp"
#include "support/run_tool.hpp"
#include "support/temp_dir.hpp"
#include "transforms/lastransform.hpp"

namespace {

// Four points with distinct colours, intensities, angles and times; format 3
// (legacy, RGB) or format 8 (LAS 1.4, RGB and NIR).
lasfix::LasFile colour_file(uint8_t format) {
  lasfix::LasFile f;
  f.header.point_data_format = format;
  if (format >= 6) f.header.version_minor = 4;
  for (int i = 0; i < 4; i++) {
    lasfix::Point p;
    p.X = 1000 * i;
    p.Y = 500 * i;
    p.Z = 100 * i;
    p.intensity = (uint16_t)(3 + 100 * i);
    p.red = (uint16_t)(100 * i);
    p.green = (uint16_t)(300 * i);
    p.blue = (uint16_t)(7 + i);
    if (format >= 6) p.nir = (uint16_t)(40 + i);
    p.classification = (uint8_t)(2 + i);
    p.scan_angle = (int16_t)(format >= 6 ? 1000 * (i - 2) : 5 * (i - 2));
    p.gps_time = 12.5 * i;
    f.points.push_back(p);
  }
  return f;
}

struct RunCase {
  const char* name;
  uint8_t format;
  std::vector<std::string> options;
  std::function<void(lasfix::Point&)> change;
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class ValueRunTest : public ::testing::TestWithParam<RunCase> {};

TEST_P(ValueRunTest, OnePassWritesTheChangedFields) {
  const RunCase& c = GetParam();
  TempDir dir;
  const lasfix::LasFile file = colour_file(c.format);
  dir.write("in.las", file.bytes());
  std::vector<std::string> args = {"-i", dir.file("in.las"), "-o", dir.file("out.las"), "-every_nth", "1"};
  args.insert(args.end(), c.options.begin(), c.options.end());
  ToolResult r = run_voxsifter(args);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::vector<lasfix::Point> expected = file.points;
  for (lasfix::Point& p : expected) c.change(p);
  EXPECT_EQ(lasfix::parse(dir.read("out.las")).points, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Options, ValueRunTest,
    ::testing::Values(
        RunCase{"scale_intensity",
                3,
                {"-scale_intensity", "0.5"},
                [](lasfix::Point& p) { p.intensity = (uint16_t)(p.intensity / 2); }},
        RunCase{"copy_RGB_into_intensity",
                3,
                {"-copy_RGB_into_intensity"},
                [](lasfix::Point& p) {
                  p.intensity = (uint16_t)(0.2989 * p.red + 0.587 * p.green + 0.114 * p.blue + 0.5);
                }},
        RunCase{"set_RGB_of_class",
                3,
                {"-set_RGB_of_class", "3", "1", "2", "65535"},
                [](lasfix::Point& p) {
                  if (p.classification == 3) p.red = 1, p.green = 2, p.blue = 65535;
                }},
        RunCase{"switch_RGBI_into_CIR",
                8,
                {"-switch_RGBI_into_CIR"},
                [](lasfix::Point& p) {
                  const uint16_t r = p.red, g = p.green;
                  p.red = p.nir, p.green = r, p.blue = g;
                }},
        RunCase{"multiply_divided_into_nir",
                8,
                {"-multiply_divided_intensity_into_RGB_nir", "2"},
                [](lasfix::Point& p) {
                  const float v = (float)p.intensity * 0.5f * (float)p.nir;
                  p.nir = v >= 65535 ? 65535 : (uint16_t)v;
                }},
        RunCase{"set_scan_angle_legacy", 3, {"-set_scan_angle", "45"}, [](lasfix::Point& p) { p.scan_angle = 45; }},
        RunCase{"set_scan_angle_extended", 8, {"-set_scan_angle", "45"}, [](lasfix::Point& p) { p.scan_angle = 7500; }},
        RunCase{"bin_abs_scan_angle",
                8,
                {"-bin_abs_scan_angle_into_point_source", "2"},
                [](lasfix::Point& p) { p.point_source_ID = (uint16_t)(std::abs(p.scan_angle) * 0.006f / 2); }},
        RunCase{
            "adjusted_to_week_and_back", 3, {"-adjusted_to_week", "-week_to_adjusted", "1653"}, [](lasfix::Point&) {}},
        RunCase{"bin_gps_time_into_point_source",
                3,
                {"-bin_gps_time_into_point_source", "5.0"},
                [](lasfix::Point& p) { p.point_source_ID = (uint16_t)(p.gps_time / 5 + 0.5); }},
        RunCase{
            "translate_gps_time", 8, {"-translate_gps_time", "40.5"}, [](lasfix::Point& p) { p.gps_time += 40.5; }}),
    [](const ::testing::TestParamInfo<RunCase>& info) { return std::string(info.param.name); });

TEST(ValueRun, MapFileWithTheLastLineWinning) {
  TempDir dir;
  dir.write("in.las", colour_file(3).bytes());
  dir.write("m.txt", "103 7\n103 9\n");
  ToolResult r = run_voxsifter(
      {"-i", dir.file("in.las"), "-o", dir.file("out.las"), "-every_nth", "1", "-map_intensity", dir.file("m.txt")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const lasfix::Parsed out = lasfix::parse(dir.read("out.las"));
  ASSERT_EQ(out.points.size(), 4u);
  EXPECT_EQ(out.points[0].intensity, 3);
  EXPECT_EQ(out.points[1].intensity, 9);
}

TEST(ValueRun, RefusedValuesEndTheRunWithTheirMessage) {
  const std::vector<std::vector<std::string>> options = {{"-set_intensity", "65536"}, {"-set_scan_angle", "-180.5"}};
  const std::vector<std::string> errors = {"ERROR: cannot set intensity because value of 65536 is larger than 65535\n",
                                           "ERROR: cannot set scan angle because value -180.5 is smaller than -180\n"};
  TempDir dir;
  dir.write("in.las", colour_file(3).bytes());
  for (size_t k = 0; k < options.size(); k++) {
    std::vector<std::string> args = {"-i", dir.file("in.las"), "-o", dir.file("out.las"), "-every_nth", "1"};
    args.insert(args.end(), options[k].begin(), options[k].end());
    ToolResult r = run_voxsifter(args);
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(r.err, errors[k]);
    EXPECT_FALSE(dir.exists("out.las"));
  }
}

// ------------------------------------------------------------------ names and help

// Whether the transform takes the word as one of its options: it empties
// the word, or reports an error about its arguments (an unknown word is
// never an error here).
bool transform_takes(const std::string& word) {
  halt_on_error(false);
  ArgVector args({word, "1", "1", "1", "1", "1"});
  LAStransform transform;
  testing::internal::CaptureStderr();
  const bool parsed = transform.parse(args.argc(), args.argv());
  testing::internal::GetCapturedStderr();
  halt_on_error(true);
  return !parsed || args.at(1).empty();
}

// Every option name of the transform, by the family that provides it.
const std::vector<std::vector<std::string>> option_names = {
    {"-translate_x", "-translate_y", "-translate_z", "-translate_xyz", "-scale_x", "-scale_y", "-scale_z", "-scale_xyz",
     "-translate_then_scale_x", "-translate_then_scale_y", "-translate_then_scale_z", "-translate_scale_translate_x",
     "-translate_scale_translate_y", "-translate_scale_translate_z"},
    {"-rotate_xy", "-rotate_xz", "-rotate_yz", "-transform_helmert", "-transform_affine", "-transform_matrix"},
    {"-clamp_z", "-clamp_z_below", "-clamp_z_above", "-clamp_raw_z"},
    {"-translate_raw_x", "-translate_raw_y", "-translate_raw_z", "-translate_raw_xyz", "-translate_raw_xy_at_random",
     "-switch_x_y", "-switch_x_z", "-switch_y_z"},
    {"-copy_attribute_into_x", "-copy_attribute_into_y", "-copy_attribute_into_z", "-copy_register_into_x",
     "-copy_register_into_y", "-copy_register_into_z", "-copy_intensity_into_z", "-copy_user_data_into_z",
     "-add_attribute_to_z", "-add_scaled_attribute_to_z", "-copy_z_into_attribute"},
    {"-set_intensity", "-scale_intensity", "-translate_intensity", "-translate_then_scale_intensity",
     "-clamp_intensity", "-clamp_intensity_below", "-clamp_intensity_above", "-map_intensity"},
    {"-force_RGB",         "-set_RGB",
     "-set_RGB_of_class",  "-set_NIR",
     "-scale_RGB",         "-scale_rgb",
     "-scale_RGB_down",    "-scale_RGB_up",
     "-scale_RGB_to_8bit", "-scale_RGB_to_16bit",
     "-scale_rgb_down",    "-scale_rgb_up",
     "-scale_rgb_to_8bit", "-scale_rgb_to_16bit",
     "-scale_NIR",         "-scale_nir",
     "-scale_NIR_down",    "-scale_NIR_up",
     "-scale_NIR_to_8bit", "-scale_NIR_to_16bit",
     "-scale_nir_down",    "-scale_nir_up",
     "-scale_nir_to_8bit", "-scale_nir_to_16bit",
     "-clamp_RGB_to_8bit"},
    {"-switch_R_G",
     "-switch_R_B",
     "-switch_G_B",
     "-switch_RGBI_into_CIR",
     "-switch_RGB_intensity_into_CIR",
     "-copy_RGB_into_intensity",
     "-copy_R_into_intensity",
     "-copy_G_into_intensity",
     "-copy_B_into_intensity",
     "-copy_NIR_into_intensity",
     "-copy_R_into_NIR",
     "-copy_G_into_NIR",
     "-copy_B_into_NIR",
     "-copy_intensity_into_NIR",
     "-multiply_scaled_intensity_into_RGB_red",
     "-multiply_scaled_intensity_into_RGB_green",
     "-multiply_scaled_intensity_into_RGB_blue",
     "-multiply_scaled_intensity_into_RGB_nir",
     "-multiply_divided_intensity_into_RGB_red",
     "-multiply_divided_intensity_into_RGB_green",
     "-multiply_divided_intensity_into_RGB_blue",
     "-multiply_divided_intensity_into_RGB_nir"},
    {"-set_scan_angle", "-scale_scan_angle", "-translate_scan_angle", "-translate_then_scale_scan_angle",
     "-bin_abs_scan_angle_into_point_source", "-set_gps_time", "-translate_gps_time", "-adjusted_to_week",
     "-week_to_adjusted", "-bin_gps_time_into_intensity", "-bin_gps_time_into_point_source",
     "-flip_waveform_direction"},
    {"-copy_intensity_into_register",
     "-copy_user_data_into_register",
     "-copy_point_source_into_register",
     "-copy_attribute_into_register",
     "-copy_R_into_register",
     "-copy_G_into_register",
     "-copy_B_into_register",
     "-copy_NIR_into_register",
     "-set_register",
     "-scale_register",
     "-translate_register",
     "-add_registers",
     "-subtract_registers",
     "-multiply_registers",
     "-divide_registers",
     "-copy_register_into_user_data",
     "-copy_register_into_intensity",
     "-copy_register_into_point_source",
     "-copy_register_into_R",
     "-copy_register_into_G",
     "-copy_register_into_B",
     "-copy_register_into_NIR",
     "-copy_register_into_I",
     "-copy_register_into_attribute"},
    {"-set_classification", "-set_extended_classification", "-change_classification_from_to", "-change_class_from_to",
     "-change_extended_classification_from_to", "-change_extended_class_from_to",
     "-move_ancient_to_extended_classification", "-copy_intensity_into_classification",
     "-copy_user_data_into_classification"},
    {"-classify_z_below_as", "-classify_z_above_as", "-classify_z_between_as", "-classify_intensity_below_as",
     "-classify_intensity_above_as", "-classify_intensity_between_as", "-classify_attribute_below_as",
     "-classify_attribute_above_as", "-classify_attribute_between_as"},
    {"-set_withheld_flag", "-set_synthetic_flag", "-set_keypoint_flag", "-set_overlap_flag",
     "-set_extended_overlap_flag", "-set_scan_direction_flag", "-set_edge_of_flight_line", "-set_scanner_channel",
     "-set_extended_scanner_channel", "-copy_user_data_into_scanner_channel", "-copy_scanner_channel_into_user_data",
     "-copy_scanner_channel_into_point_source", "-merge_scanner_channel_into_point_source",
     "-split_scanner_channel_from_point_source"},
    {"-repair_zero_returns", "-set_return_number", "-set_extended_return_number", "-change_return_number_from_to",
     "-change_extended_return_number_from_to", "-set_number_of_returns", "-set_extended_number_of_returns",
     "-change_number_of_returns_from_to", "-change_extended_number_of_returns_from_to"},
    {"-set_user_data", "-scale_user_data", "-change_user_data_from_to", "-map_user_data",
     "-copy_classification_into_user_data", "-set_point_source", "-change_point_source_from_to", "-map_point_source",
     "-copy_classification_into_point_source", "-copy_user_data_into_point_source", "-bin_Z_into_point_source"},
    {"-set_attribute", "-scale_attribute", "-translate_attribute", "-copy_attribute_into_intensity",
     "-copy_attribute_into_point_source", "-copy_attribute_into_user_data", "-copy_attribute_into_R",
     "-copy_attribute_into_G", "-copy_attribute_into_B", "-copy_attribute_into_NIR", "-copy_attribute_into_I",
     "-copy_user_data_into_attribute", "-copy_intensity_into_attribute", "-add_scaled_attribute_to_user_data"},
    {"-map_attribute_into_RGB", "-load_attribute_from_text"},
};

// A family is built whole or not at all: once one of its names is taken,
// every one is. The families of this file's operations and the translations
// are built.
TEST(TransformNames, EveryFamilyIsTakenWhole) {
  const std::vector<size_t> built = {0, 5, 6, 7, 8};
  for (size_t f = 0; f < option_names.size(); f++) {
    std::vector<std::string> missing;
    size_t taken = 0;
    for (const std::string& name : option_names[f]) {
      if (transform_takes(name)) {
        taken++;
      } else {
        missing.push_back(name);
      }
    }
    const bool must = std::find(built.begin(), built.end(), f) != built.end();
    if (must || taken > 0) {
      EXPECT_TRUE(missing.empty()) << "family starting " << option_names[f][0] << " misses " << missing[0];
    }
  }
}

// The whole help text of the transform, section by section. A line shows
// once the family of its first option is built; headings show with their
// first line. When every family is built, the text is exactly this.
const char* const full_usage[] = {
    "Transform coordinates.",
    "  -translate_x -2.5",
    "  -scale_z 0.3048",
    "  -rotate_xy 15.0 620000 4100000 (angle + origin)",
    "  -translate_xyz 0.5 0.5 0",
    "  -translate_then_scale_y -0.5 1.001",
    "  -transform_helmert -199.87,74.79,246.62",
    "  -transform_helmert 598.1,73.7,418.2,0.202,0.045,-2.455,6.7",
    "  -transform_affine 0.9999652,0.903571,171.67,736.26",
    "  -switch_x_y -switch_x_z -switch_y_z",
    "  -clamp_z_below 70.5",
    "  -clamp_z 70.5 72.5",
    "  -copy_attribute_into_z 0",
    "  -add_attribute_to_z 1",
    "  -add_scaled_attribute_to_z 1 -1.2",
    "  -copy_intensity_into_z",
    "  -copy_user_data_into_z",
    "Transform raw xyz integers.",
    "  -translate_raw_z 20",
    "  -translate_raw_xyz 1 1 0",
    "  -translate_raw_xy_at_random 2 2",
    "  -clamp_raw_z 500 800",
    "Transform intensity.",
    "  -set_intensity 0",
    "  -scale_intensity 2.5",
    "  -translate_intensity 50",
    "  -translate_then_scale_intensity 0.5 3.1",
    "  -clamp_intensity 0 255",
    "  -clamp_intensity_above 255",
    "  -map_intensity map_file.txt",
    "  -copy_RGB_into_intensity",
    "  -copy_NIR_into_intensity",
    "  -copy_attribute_into_intensity 0",
    "  -bin_gps_time_into_intensity 0.5",
    "Transform scan_angle.",
    "  -set_scan_angle 0.0",
    "  -scale_scan_angle 1.944445",
    "  -translate_scan_angle -5",
    "  -translate_then_scale_scan_angle -0.5 2.1",
    "Change the return number or return count of points.",
    "  -repair_zero_returns",
    "  -set_return_number 1",
    "  -set_extended_return_number 10",
    "  -change_return_number_from_to 2 1",
    "  -change_extended_return_number_from_to 2 8",
    "  -set_number_of_returns 2",
    "  -set_extended_number_of_returns 15",
    "  -change_number_of_returns_from_to 0 2",
    "  -change_extended_number_of_returns_from_to 8 10",
    "Modify the classification.",
    "  -set_classification 2",
    "  -set_extended_classification 41",
    "  -change_classification_from_to 2 4",
    "  -classify_z_below_as -5.0 7",
    "  -classify_z_above_as 70.0 7",
    "  -classify_z_between_as 2.0 5.0 4",
    "  -classify_intensity_above_as 200 9",
    "  -classify_intensity_below_as 30 11 ",
    "  -classify_intensity_between_as 500 900 15",
    "  -classify_attribute_below_as 0 -5.0 7",
    "  -classify_attribute_above_as 1 70.0 7",
    "  -classify_attribute_between_as 1 2.0 5.0 4",
    "  -change_extended_classification_from_to 6 46",
    "  -move_ancient_to_extended_classification",
    "  -copy_user_data_into_classification",
    "Change the flags.",
    "  -set_withheld_flag 0",
    "  -set_synthetic_flag 1",
    "  -set_keypoint_flag 0",
    "  -set_overlap_flag 1",
    "Modify the extended scanner channel.",
    "  -set_scanner_channel 2",
    "  -copy_user_data_into_scanner_channel",
    "Modify the user data.",
    "  -set_user_data 0",
    "  -scale_user_data 1.5",
    "  -change_user_data_from_to 23 26",
    "  -change_user_data_from_to 23 26",
    "  -map_user_data map_file.txt",
    "  -copy_scanner_channel_into_user_data",
    "  -copy_attribute_into_user_data 1",
    "  -add_scaled_attribute_to_user_data 0 10.0",
    "Modify the point source ID.",
    "  -set_point_source 500",
    "  -change_point_source_from_to 1023 1024",
    "  -map_point_source map_file.txt",
    "  -copy_user_data_into_point_source",
    "  -copy_scanner_channel_into_point_source",
    "  -copy_attribute_into_point_source 0",
    "  -merge_scanner_channel_into_point_source",
    "  -split_scanner_channel_from_point_source",
    "  -bin_Z_into_point_source 200",
    "  -bin_abs_scan_angle_into_point_source 2",
    "  -bin_gps_time_into_point_source 5.0",
    "Transform gps_time.",
    "  -set_gps_time 113556962.005715",
    "  -translate_gps_time 40.50",
    "  -adjusted_to_week : converts time stamps from Adjusted Standard GPS to GPS week",
    "  -week_to_adjusted n : converts time stamps from GPS week [n] to Adjusted Standard GPS",
    "Transform RGB/NIR colors.",
    "  -set_RGB 255 0 127",
    "  -set_RGB_of_class 9 0 0 255",
    "  -scale_RGB 2 4 2",
    "  -scale_RGB_down (by 256)",
    "  -scale_RGB_up (by 256)",
    "  -scale_RGB_to_8bit (only scales down 16 bit values)",
    "  -scale_RGB_to_16bit (only scales up 8 bit values)",
    "  -clamp_RGB_to_8bit",
    "  -set_NIR 65535",
    "  -scale_NIR 2",
    "  -scale_NIR_down (by 256)",
    "  -scale_NIR_up (by 256)",
    "  -scale_NIR_to_8bit (only scales down 16 bit values)",
    "  -scale_NIR_to_16bit (only scales up 8 bit values)",
    "  -switch_R_G -switch_R_B -switch_G_B",
    "  -copy_R_into_NIR -copy_R_into_intensity",
    "  -copy_G_into_NIR -copy_G_into_intensity",
    "  -copy_B_into_NIR -copy_B_into_intensity",
    "  -copy_intensity_into_NIR",
    "  -switch_RGBI_into_CIR",
    "  -switch_RGB_intensity_into_CIR",
    "  -force_RGB",
    "Transform attributes in \"Extra Bytes\".",
    "  -scale_attribute 0 1.5",
    "  -translate_attribute 1 0.2",
    "  -copy_user_data_into_attribute 0",
    "  -copy_z_into_attribute 0",
    "  -map_attribute_into_RGB 0 map_height_to_RGB.txt",
    "Transform using \"registers\".",
    "  -copy_attribute_into_register 0 0",
    "  -scale_register 0 1.5",
    "  -translate_register 1 10.7",
    "  -add_registers 0 1 3",
    "  -multiply_registers 0 1 2",
    "  -copy_intensity_into_register 0",
    "  -copy_R_into_register 1",
    "  -copy_G_into_register 2",
    "  -copy_B_into_register 3",
    "  -copy_NIR_into_register 4",
    "  -copy_register_into_intensity 1",
};

// The expected help of the families built now.
std::string expected_usage() {
  std::string text, heading;
  for (const char* line : full_usage) {
    const std::string s = line;
    if (s[0] != ' ') {
      heading = s + "\n";
      continue;
    }
    std::istringstream words(s);
    std::string first;
    words >> first;
    if (!transform_takes(first)) continue;
    text += heading;
    heading.clear();
    text += s + "\n";
  }
  return text;
}

TEST(TransformHelp, ExtendedHelpPrintsTheWholeTransformUsageInOrder) {
  const std::string usage = expected_usage();
  ASSERT_NE(usage.find("Transform RGB/NIR colors.\n  -set_RGB 255 0 127\n"), std::string::npos);
  ToolResult r = run_voxsifter({"-hh"});
  EXPECT_EQ(r.exit_code, 0);
  const size_t at = r.err.find("Transform coordinates.\n");
  ASSERT_NE(at, std::string::npos) << r.err;
  EXPECT_EQ(r.err.substr(at, usage.size()), usage);
  // The next line belongs to the next help text, not to the transform's.
  const size_t after = at + usage.size();
  ASSERT_LT(after, r.err.size());
  EXPECT_NE(r.err[after], ' ');
  EXPECT_EQ(r.err.find("-translate_x -2.5", after), std::string::npos);
}

}  // namespace
