// The classification, flag, return, user data and point source options
// through the built program: the points written in a one-pass run and in the
// two-pass voxel mode, for files of the older formats and extended ones; the
// messages and exit codes of refused options (register and value-file
// options among them); and the point source of each
// file ("-faf", "-apply_file_source_ID") when child processes do the work.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/header_scan.hpp"
#include "support/las_fixture.hpp"
#include "support/run_tool.hpp"
#include "support/temp_dir.hpp"

namespace {

// A 6 x 6 grid at x = i, y = j, z = i + j - 5 (scale 0.01) in point format 1
// (LAS 1.2) or 6 (LAS 1.4), whose other fields vary from point to point:
// classes 0 to 10, zero returns among the legacy ones, user data, point
// source IDs and, in format 6, scanner channels.
lasfix::LasFile field_file(uint8_t format, uint16_t file_source_ID = 0) {
  lasfix::LasFile f;
  f.header.point_data_format = format;
  f.header.version_minor = format >= 6 ? 4 : 2;
  f.header.file_source_ID = file_source_ID;
  for (int i = 0; i < 6; i++) {
    for (int j = 0; j < 6; j++) {
      lasfix::Point p;
      p.X = 100 * i;
      p.Y = 100 * j;
      p.Z = 100 * (i + j - 5);
      p.intensity = (uint16_t)(40 * i + j);
      p.classification = (uint8_t)(i + j);
      p.return_number = (uint8_t)(j % 4);
      p.number_of_returns = (uint8_t)(format >= 6 ? 3 + i % 3 : i % 3);
      p.withheld = (i == 1);
      p.user_data = (uint8_t)(10 * i + j);
      p.point_source_ID = (uint16_t)(1000 * i + j);
      if (format >= 6) p.scanner_channel = (uint8_t)((i + j) % 4);
      p.gps_time = i * 6 + j;
      f.points.push_back(p);
    }
  }
  return f;
}

using Change = std::function<void(lasfix::Point&)>;

struct FieldRunCase {
  const char* name;
  uint8_t format;
  std::vector<std::string> options;  // names relative to the run's directory
  Change change;
};

void PrintTo(const FieldRunCase& c, std::ostream* os) { *os << c.name; }

class FieldRunTest : public ::testing::TestWithParam<FieldRunCase> {};

// One pass, and voxels so small that every point keeps its own: both write
// every point, changed as the case says, under a header that describes them.
TEST_P(FieldRunTest, EveryPointIsChangedInBothModes) {
  const FieldRunCase& c = GetParam();
  TempDir dir;
  const lasfix::LasFile file = field_file(c.format);
  dir.write("in.las", file.bytes());
  // A user data map: lines that do not count among lines that do.
  dir.write("m.txt", "0 200\n11 12\n300 1\nx y\n11 13\n");
  std::vector<lasfix::Point> expected = file.points;
  for (lasfix::Point& p : expected) c.change(p);
  for (const std::vector<std::string>& mode : {std::vector<std::string>{"-every_nth", "1"}, {"-step", "0.5"}}) {
    SCOPED_TRACE(mode[0]);
    ToolRun run;
    run.cwd = dir.path();
    run.args = {"-i", "in.las", "-o", "out.las"};
    run.args.insert(run.args.end(), mode.begin(), mode.end());
    run.args.insert(run.args.end(), c.options.begin(), c.options.end());
    ToolResult r = run_tool(run);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    lasfix::Parsed out = lasfix::parse(dir.read("out.las"));
    EXPECT_EQ(out.points, expected);
    expect_header_matches_points(out);
  }
}

void nothing(lasfix::Point&) {}

INSTANTIATE_TEST_SUITE_P(
    Options, FieldRunTest,
    ::testing::Values(
        FieldRunCase{"set_classification_40_leaves_legacy_points", 1, {"-set_classification", "40"}, nothing},
        FieldRunCase{"set_classification_40_on_extended_points",
                     6,
                     {"-set_classification", "40"},
                     [](lasfix::Point& p) { p.classification = 40; }},
        FieldRunCase{"change_class_from_to",
                     1,
                     {"-change_class_from_to", "2", "4"},
                     [](lasfix::Point& p) {
                       if (p.classification == 2) p.classification = 4;
                     }},
        FieldRunCase{"classify_z_below_as",
                     6,
                     {"-classify_z_below_as", "-3.0", "7"},
                     [](lasfix::Point& p) {
                       if (p.Z < -300) p.classification = 7;
                     }},
        FieldRunCase{"repair_zero_returns",
                     1,
                     {"-repair_zero_returns"},
                     [](lasfix::Point& p) {
                       if (p.number_of_returns == 0) p.number_of_returns = 1;
                       if (p.return_number == 0) p.return_number = 1;
                     }},
        FieldRunCase{"map_user_data",
                     1,
                     {"-map_user_data", "m.txt"},
                     [](lasfix::Point& p) {
                       if (p.user_data == 0) p.user_data = 200;
                       if (p.user_data == 11) p.user_data = 13;
                     }},
        FieldRunCase{"bin_Z_into_point_source",
                     1,
                     {"-bin_Z_into_point_source", "200"},
                     [](lasfix::Point& p) { p.point_source_ID = (uint16_t)(p.Z < 0 ? 0 : p.Z / 200); }},
        FieldRunCase{
            "merge_scanner_channel_into_point_source",
            6,
            {"-merge_scanner_channel_into_point_source"},
            [](lasfix::Point& p) { p.point_source_ID = (uint16_t)(p.point_source_ID * 4 + p.scanner_channel); }},
        FieldRunCase{"merge_then_split_restores",
                     6,
                     {"-merge_scanner_channel_into_point_source", "-split_scanner_channel_from_point_source"},
                     nothing},
        FieldRunCase{"flags",
                     6,
                     {"-set_withheld_flag", "0", "-set_keypoint_flag", "1", "-set_overlap_flag", "1"},
                     [](lasfix::Point& p) {
                       p.withheld = false;
                       p.keypoint = true;
                       p.overlap = true;
                     }},
        FieldRunCase{"extended_returns",
                     6,
                     {"-change_extended_return_number_from_to", "0", "3"},
                     [](lasfix::Point& p) {
                       if (p.return_number == 0) p.return_number = 3;
                     }},
        FieldRunCase{"set_point_source_and_user_data",
                     1,
                     {"-set_point_source", "500", "-copy_classification_into_user_data"},
                     [](lasfix::Point& p) {
                       p.point_source_ID = 500;
                       p.user_data = p.classification;
                     }}),
    [](const ::testing::TestParamInfo<FieldRunCase>& info) { return std::string(info.param.name); });

TEST(FieldRun, RefusedOptionsEndTheRunWithTheirMessage) {
  const struct {
    std::vector<std::string> options;
    std::string err;
  } cases[] = {
      {{"-set_classification", "256"},
       "ERROR: cannot set classification because classification of 256 is larger than 255\n"},
      {{"-set_withheld_flag", "2"}, "ERROR: cannot set withheld flag because value 2 is larger than 1\n"},
      {{"-map_user_data", "missing.txt"},
       "ERROR: cannot '-map_user_data' needs text file with map but 'missing.txt' cannot be opened\n"},
      {{"-bin_Z_into_point_source", "0"}, "ERROR: 0 is no valid bin_size for '-bin_Z_into_point_source'\n"},
      {{"-set_register", "16", "1"}, "ERROR: '-set_register' index of register 16 is out of valid [0,15] range\n"},
      {{"-load_attribute_from_text", "0", "missing.txt"},
       "ERROR: '-load_attribute_from_text' needs text file with attribute values but 'missing.txt' cannot be "
       "opened\n"},
  };
  TempDir dir;
  dir.write("in.las", field_file(1).bytes());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options[0]);
    ToolRun run;
    run.cwd = dir.path();
    run.args = {"-i", "in.las", "-o", "out.las", "-every_nth", "1"};
    run.args.insert(run.args.end(), c.options.begin(), c.options.end());
    ToolResult r = run_tool(run);
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(r.err, c.err);
    EXPECT_FALSE(dir.exists("out.las"));
  }
}

// Each child rebuilds the point source operation from the option text and
// numbers its file as this process would; a map file reaches it by name.
TEST(FieldRun, ChildProcessesGiveEachFileItsPointSource) {
  TempDir dir;
  dir.write("a.las", field_file(1, 11).bytes());
  dir.write("b.las", field_file(6, 12).bytes());
  dir.write("m map.txt", "1 2\n");
  const struct {
    std::vector<std::string> options;
    uint16_t a, b;  // the point source ID of every point of each file
  } cases[] = {
      {{"-faf"}, 1, 2},
      {{"-faf", "5"}, 5, 6},
      {{"-apply_file_source_ID"}, 11, 12},
      {{"-set_point_source", "3", "-faf"}, 1, 2},
      {{"-set_point_source", "1", "-map_point_source", "m map.txt"}, 2, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options[0] + " " + c.options.back());
    for (const char* run_name : {"_one", "_many"}) {
      ToolRun run;
      run.cwd = dir.path();
      run.args = {"-i", "a.las", "b.las", "-odix", run_name, "-step", "0.5"};
      run.args.insert(run.args.end(), c.options.begin(), c.options.end());
      if (std::string(run_name) == "_many") run.args.insert(run.args.end(), {"-cores", "2"});
      ToolResult r = run_tool(run);
      ASSERT_EQ(r.exit_code, 0) << r.err;
    }
    for (const char* name : {"a", "b"}) {
      SCOPED_TRACE(name);
      const lasfix::Parsed one = lasfix::parse(dir.read(std::string(name) + "_one.las"));
      ASSERT_EQ(one.points.size(), 36u);
      EXPECT_EQ(lasfix::parse(dir.read(std::string(name) + "_many.las")).points, one.points);
      for (const lasfix::Point& p : one.points) EXPECT_EQ(p.point_source_ID, name[0] == 'a' ? c.a : c.b);
    }
  }
}

TEST(FieldRun, ExtendedHelpListsTheFieldOptions) {
  ToolResult r = run_voxsifter({"-hh"});
  EXPECT_EQ(r.exit_code, 0);
  for (const char* section :
       {"\nChange the return number or return count of points.\n  -repair_zero_returns\n  -set_return_number 1\n",
        "\nModify the classification.\n  -set_classification 2\n  -set_extended_classification 41\n",
        "  -classify_intensity_below_as 30 11 \n  -classify_intensity_between_as 500 900 15\n",
        "\nChange the flags.\n  -set_withheld_flag 0\n  -set_synthetic_flag 1\n  -set_keypoint_flag 0\n"
        "  -set_overlap_flag 1\nModify the extended scanner channel.\n  -set_scanner_channel 2\n"
        "  -copy_user_data_into_scanner_channel\nModify the user data.\n",
        "  -map_user_data map_file.txt\n  -copy_scanner_channel_into_user_data\n",
        "\nModify the point source ID.\n  -set_point_source 500\n  -change_point_source_from_to 1023 1024\n"
        "  -map_point_source map_file.txt\n  -copy_user_data_into_point_source\n"
        "  -copy_scanner_channel_into_point_source\n"}) {
    EXPECT_NE(r.err.find(section), std::string::npos) << section;
  }
}

}  // namespace
