// The filter options through the built program: the points that reach the
// output in a one-pass run (-every_nth 1) and in the two-pass voxel mode, on
// every input, and the messages and exit code of refused options.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

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
  TempDir dir;
  const lasfix::LasFile file = grid_file();
  dir.write("in.las", file.bytes());
  std::vector<lasfix::Point> expected;
  for (const lasfix::Point& p : file.points) {
    if (c.kept(p.X / 100, p.Y / 100)) expected.push_back(p);
  }
  ASSERT_FALSE(expected.empty());
  ASSERT_LT(expected.size(), file.points.size());

  for (const std::vector<std::string>& mode : {std::vector<std::string>{"-every_nth", "1"},
                                               std::vector<std::string>{"-step", "0.5"}}) {
    SCOPED_TRACE(mode[0]);
    std::vector<std::string> args = {"-i", dir.file("in.las"), "-o", dir.file("out.las")};
    args.insert(args.end(), mode.begin(), mode.end());
    args.insert(args.end(), c.options.begin(), c.options.end());
    ToolResult r = run_voxsifter(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err.rfind("done with '", 0), 0u) << r.err;
    lasfix::Parsed out = lasfix::parse(dir.read("out.las"));
    EXPECT_EQ(out.points, expected);
    EXPECT_EQ(*out.header.number_of_point_records, expected.size());
  }
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
                   [](int i, int j) { return i >= 1 && j < 8 && !(i + j >= 5 && i + j < 10); }}),
    [](const ::testing::TestParamInfo<FilterCase>& info) { return std::string(info.param.name); });

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
      "Boolean combination of filters.\n"
      "  -filter_and\n"
      "Transform coordinates.\n";
  ToolResult r = run_voxsifter({"-hh"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err.substr(0, usage.size()), usage);
}

}  // namespace
