// Register chains, copies into z and the file-driven attribute operations
// through the built program: the points written in a one-pass run and in the
// two-pass voxel mode (both passes must write the same values), the same
// through child processes that rebuild the operations from option text, and
// the refusal of offset adjustment. Refused options are among the field runs'.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "support/header_scan.hpp"
#include "support/las_attribute.hpp"
#include "support/las_fixture.hpp"
#include "support/run_tool.hpp"
#include "support/temp_dir.hpp"

namespace {

// A 6 x 6 grid at x = i, y = j (scale 0.01) in point format 3 with colours,
// intensities from 0 to 61250 and the I32 attribute "value" = the point's
// index.
lasfix::LasFile grid_file() {
  lasfix::LasFile f;
  f.header.point_data_format = 3;
  f.header.version_minor = 2;
  add_i32_attribute(f, "value");
  for (int k = 0; k < 36; k++) {
    lasfix::Point p;
    p.X = 100 * (k / 6);
    p.Y = 100 * (k % 6);
    p.Z = 7 * k;
    p.intensity = (uint16_t)(1750 * k);
    p.red = p.green = p.blue = 1000;
    p.gps_time = k;
    const int32_t value = k;
    p.extra_bytes.assign((const char*)&value, 4);
    f.points.push_back(p);
  }
  return f;
}

int32_t value_of(const lasfix::Point& p) {
  int32_t v;
  memcpy(&v, p.extra_bytes.data(), 4);
  return v;
}
void set_value(lasfix::Point& p, int32_t v) { p.extra_bytes.assign((const char*)&v, 4); }

struct RunCase {
  const char* name;
  std::vector<std::string> options;  // names relative to the run's directory
  std::function<void(lasfix::Point&)> change;
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class RegisterRunTest : public ::testing::TestWithParam<RunCase> {};

// One pass, voxels so small that every point keeps its own, and the voxel
// mode in two child processes: every point comes out changed as the case
// says, under a header that describes them.
TEST_P(RegisterRunTest, EveryPointIsChangedInEveryMode) {
  const RunCase& c = GetParam();
  TempDir dir;
  const lasfix::LasFile file = grid_file();
  dir.write("in.las", file.bytes());
  dir.write("b.las", file.bytes());
  dir.write("m.txt", "0 255 0 0\n10 0 255 0\n20 0 0 255\n");
  std::string values;
  for (int k = 0; k < 40; k++) values += std::to_string(100 + 3 * k) + (k == 5 ? "\nnot a value\n" : "\n");
  dir.write("v values.txt", values);
  std::vector<lasfix::Point> expected = file.points;
  for (lasfix::Point& p : expected) c.change(p);
  const std::vector<std::vector<std::string>> modes = {
      {"-i", "in.las", "-o", "out.las", "-every_nth", "1"},
      {"-i", "in.las", "-o", "out.las", "-step", "0.5"},
      {"-i", "in.las", "b.las", "-odix", "_out", "-step", "0.5", "-cores", "2"}};
  for (const std::vector<std::string>& mode : modes) {
    SCOPED_TRACE(mode.back());
    ToolRun run;
    run.cwd = dir.path();
    run.args = mode;
    run.args.insert(run.args.end(), c.options.begin(), c.options.end());
    ToolResult r = run_tool(run);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    for (const char* out_name : {"out.las", "in_out.las", "b_out.las"}) {
      if (!dir.exists(out_name)) continue;
      SCOPED_TRACE(out_name);
      lasfix::Parsed out = lasfix::parse(dir.read(out_name));
      EXPECT_EQ(out.points, expected);
      expect_header_matches_points(out);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Options, RegisterRunTest,
    ::testing::Values(
        RunCase{"intensity_times_one_and_a_half",
                {"-copy_intensity_into_register", "0", "-scale_register", "0", "1.5", "-copy_register_into_intensity",
                 "0"},
                [](lasfix::Point& p) { p.intensity = (uint16_t)std::min(65535, p.intensity * 3 / 2); }},
        RunCase{"intensity_into_z",
                {"-copy_intensity_into_z", "-scale_z", "0.01"},
                [](lasfix::Point& p) { p.Z = p.intensity; }},
        RunCase{"attribute_through_register_into_user_data",
                {"-copy_attribute_into_register", "0", "3", "-set_register", "4", "2", "-multiply_registers", "3", "4",
                 "5", "-copy_register_into_user_data", "5", "-copy_register_into_attribute", "5", "0"},
                [](lasfix::Point& p) {
                  p.user_data = (uint8_t)(2 * value_of(p));
                  set_value(p, 2 * value_of(p));
                }},
        RunCase{"map_attribute_into_RGB",
                {"-map_attribute_into_RGB", "0", "m.txt"},
                [](lasfix::Point& p) {
                  const int v = value_of(p);
                  const int entry = v <= 5 ? 0 : (v <= 15 ? 1 : 2);  // 5 and 15 are ties
                  p.red = entry == 0 ? 255 : 0;
                  p.green = entry == 1 ? 255 : 0;
                  p.blue = entry == 2 ? 255 : 0;
                }},
        RunCase{"load_attribute_from_text",
                {"-load_attribute_from_text", "0", "v values.txt"},
                [](lasfix::Point& p) { set_value(p, 100 + 3 * value_of(p)); }},
        RunCase{"z_into_attribute",
                {"-copy_z_into_attribute", "0"},
                [](lasfix::Point& p) { set_value(p, (int32_t)std::lround(p.Z * 0.01)); }}),
    [](const ::testing::TestParamInfo<RunCase>& info) { return std::string(info.param.name); });

TEST(RegisterRun, OffsetAdjustmentIsRefusedWithAWarning) {
  TempDir dir;
  dir.write("in.las", grid_file().bytes());
  ToolRun run;
  run.cwd = dir.path();
  run.args = {"-i", "in.las", "-o", "out.las", "-every_nth", "1", "-offset_adjust", "-copy_attribute_into_z", "0"};
  ToolResult r = run_tool(run);
  ASSERT_EQ(r.exit_code, 1) << r.err;  // a run with warnings
  EXPECT_NE(r.err.find("WARNING: The adjustment of the offset using '-offset_adjust' is not supported for the "
                       "operation 'copy_attribute_into_z'.\n"),
            std::string::npos)
      << r.err;
  // The copy still happens, in the point's own quantisation.
  lasfix::Parsed out = lasfix::parse(dir.read("out.las"));
  ASSERT_EQ(out.points.size(), 36u);
  for (const lasfix::Point& p : out.points) EXPECT_EQ(p.Z, 100 * value_of(p));
}

}  // namespace
