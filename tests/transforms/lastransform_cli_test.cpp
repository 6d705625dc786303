// The transform options through the built program: the points that reach the
// output in a one-pass run (-every_nth 1) and in the two-pass voxel mode, with
// the coordinates worked out here from the input, the filtered transform, the
// overflow report, and the messages and exit codes of refused options.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <utility>
#include <functional>
#include <string>
#include <vector>

#include "support/header_scan.hpp"
#include "support/las_fixture.hpp"
#include "support/run_tool.hpp"
#include "support/temp_dir.hpp"

namespace {

constexpr double SCALE = 0.01;

// A 10 x 10 grid at x = i + x_offset, y = j + y_offset (i, j in 0..9) with
// z = i + j, stored with scale 0.01 (so X = 100 i). The header's box is that
// of the points, or, when `wide`, 10000 units around the offsets: the voxel
// grid spans the header's box, and points moved out of it would share its
// border voxels.
lasfix::LasFile grid_file(double x_offset = 0, double y_offset = 0, bool wide = false) {
  lasfix::LasFile f;
  f.header.x_offset = x_offset;
  f.header.y_offset = y_offset;
  if (wide) {
    f.header.min_x = x_offset - 10000;
    f.header.max_x = x_offset + 10000;
    f.header.min_y = y_offset - 10000;
    f.header.max_y = y_offset + 10000;
    f.header.min_z = -10000;
    f.header.max_z = 10000;
  }
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

// A world coordinate stored back into a raw integer: nearest, halves away
// from zero, the low 32 bits kept.
int32_t quantized(double world, double offset) {
  return (int32_t)(uint32_t)(uint64_t)std::llround((world - offset) / SCALE);
}

// The point moved as `change` moves its world coordinates.
using Change = std::function<void(double& x, double& y, double& z)>;
lasfix::Point changed(lasfix::Point p, const lasfix::Header& h, const Change& change) {
  double x = p.X * SCALE + h.x_offset;
  double y = p.Y * SCALE + h.y_offset;
  double z = p.Z * SCALE + h.z_offset;
  change(x, y, z);
  p.X = quantized(x, h.x_offset);
  p.Y = quantized(y, h.y_offset);
  p.Z = quantized(z, h.z_offset);
  return p;
}

std::vector<std::string> run_args(TempDir& dir, const std::vector<std::string>& mode,
                                  const std::vector<std::string>& options) {
  std::vector<std::string> args = {"-i", dir.file("in.las"), "-o", dir.file("out.las")};
  args.insert(args.end(), mode.begin(), mode.end());
  args.insert(args.end(), options.begin(), options.end());
  return args;
}

// One pass, and the voxel mode with voxels so small that every point keeps
// its own.
const std::vector<std::vector<std::string>> MODES = {{"-every_nth", "1"}, {"-step", "0.5"}};

// Runs the options in both modes; each run must write exactly `expected`
// under a header that describes it.
void expect_points_in_both_modes(TempDir& dir, const std::vector<std::string>& options,
                                 const std::vector<lasfix::Point>& expected) {
  for (const std::vector<std::string>& mode : MODES) {
    SCOPED_TRACE(mode[0]);
    ToolResult r = run_voxsifter(run_args(dir, mode, options));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err.rfind("done with '", 0), 0u) << r.err;
    lasfix::Parsed out = lasfix::parse(dir.read("out.las"));
    EXPECT_EQ(out.points, expected);
    expect_header_matches_points(out);
  }
}

struct TransformCase {
  const char* name;
  std::vector<std::string> options;
  Change change;
};

void PrintTo(const TransformCase& c, std::ostream* os) { *os << c.name; }

class TransformRunTest : public ::testing::TestWithParam<TransformCase> {};

TEST_P(TransformRunTest, EveryPointIsMovedInBothModes) {
  const TransformCase& c = GetParam();
  TempDir dir;
  const lasfix::LasFile file = grid_file(1000, 2000, true);
  dir.write("in.las", file.bytes());
  std::vector<lasfix::Point> expected;
  for (const lasfix::Point& p : file.points) expected.push_back(changed(p, file.header, c.change));
  expect_points_in_both_modes(dir, c.options, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Options, TransformRunTest,
    ::testing::Values(
        TransformCase{"translate_x", {"-translate_x", "-2.5"}, [](double& x, double&, double&) { x -= 2.5; }},
        TransformCase{"scale_z_feet_to_metres", {"-scale_z", "0.3048"},
                      [](double&, double&, double& z) { z *= 0.3048; }},
        TransformCase{"translate_scale_translate_y", {"-translate_scale_translate_y", "10", "2"},
                      [](double&, double& y, double&) { y = (y - 10) * 2 + 10; }},
        TransformCase{"two_translations", {"-translate_x", "1.5", "-translate_x", "2.25"},
                      [](double& x, double&, double&) { x += 3.75; }},
        TransformCase{"in_command_line_order", {"-translate_x", "-999", "-scale_x", "2"},
                      [](double& x, double&, double&) { x = (x - 999) * 2; }},
        TransformCase{"translate_xyz", {"-translate_xyz", "1", "2", "3"},
                      [](double& x, double& y, double& z) {
                        x += 1;
                        y += 2;
                        z += 3;
                      }},
        TransformCase{"scale_xyz", {"-scale_xyz", "0.5", "2", "-1"},
                      [](double& x, double& y, double& z) {
                        x *= 0.5;
                        y *= 2;
                        z *= -1;
                      }},
        TransformCase{"translate_then_scale_y", {"-translate_then_scale_y", "-0.5", "1.001"},
                      [](double&, double& y, double&) { y = (y - 0.5) * 1.001; }},
        // A quarter turn about (1000, 2000): (x, y) - centre becomes (-dy, dx).
        TransformCase{"rotate_xy", {"-rotate_xy", "90", "1000", "2000"},
                      [](double& x, double& y, double&) {
                        const double dx = x - 1000, dy = y - 2000;
                        x = 1000 - dy;
                        y = 2000 + dx;
                      }},
        TransformCase{"rotate_xz", {"-rotate_xz", "30", "1004", "5"},
                      [](double& x, double&, double& z) {
                        const double c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
                        const double u = x - 1004, w = z - 5;
                        x = u * c - w * s + 1004;
                        z = w * c + u * s + 5;
                      }},
        TransformCase{"helmert", {"-transform_helmert", "598.1,73.7,418.2,0.202,0.045,-2.455,6.7"},
                      [](double& x, double& y, double& z) {
                        const double arc = M_PI / 180 / 3600, s = 1 + 6.7e-6;
                        const double rx = 0.202 * arc, ry = 0.045 * arc, rz = -2.455 * arc;
                        const double x0 = x, y0 = y, z0 = z;
                        x = (x0 - y0 * rz + z0 * ry) * s + 598.1;
                        y = (x0 * rz + y0 - z0 * rx) * s + 73.7;
                        z = (-x0 * ry + y0 * rx + z0) * s + 418.2;
                      }},
        TransformCase{"affine", {"-transform_affine", "0.9999652,0.903571,171.67,736.26"},
                      [](double& x, double& y, double&) {
                        const double r = 0.903571 * M_PI / 180 / 3600;
                        const double x0 = x, y0 = y;
                        x = (x0 * std::cos(r) + y0 * std::sin(r)) * 0.9999652 + 171.67;
                        y = (y0 * std::cos(r) - x0 * std::sin(r)) * 0.9999652 + 736.26;
                      }},
        TransformCase{"matrix", {"-transform_matrix", "0,1,0", "1,0,0", "0,0,2", "-1000,1000,0.5"},
                      [](double& x, double& y, double& z) {
                        std::swap(x, y);
                        x -= 1000;
                        y += 1000;
                        z = 2 * z + 0.5;
                      }},
        TransformCase{"clamp_z", {"-clamp_z", "3", "10"},
                      [](double&, double&, double& z) { z = z < 3 ? 3 : (z > 10 ? 10 : z); }},
        TransformCase{"clamp_z_below", {"-clamp_z_below", "4.5"},
                      [](double&, double&, double& z) { z = z < 4.5 ? 4.5 : z; }},
        TransformCase{"clamp_z_above", {"-clamp_z_above", "4.5"},
                      [](double&, double&, double& z) { z = z > 4.5 ? 4.5 : z; }},
        TransformCase{"clamp_raw_z", {"-clamp_raw_z", "300", "1500"},
                      [](double&, double&, double& z) { z = z < 3 ? 3 : (z > 15 ? 15 : z); }},
        TransformCase{"translate_raw_xyz", {"-translate_raw_xyz", "1", "-2", "20"},
                      [](double& x, double& y, double& z) {
                        x += 0.01;
                        y -= 0.02;
                        z += 0.2;
                      }}),
    [](const ::testing::TestParamInfo<TransformCase>& info) { return std::string(info.param.name); });

// Both passes see the transformed points: with x halved, the grid points at
// i = 2k and 2k + 1 share a voxel of 1 x 1 (all heights in one layer), and
// the first of them in file order survives.
TEST(TransformRun, VoxelsAreThoseOfTheTransformedPoints) {
  TempDir dir;
  const lasfix::LasFile file = grid_file(0, 0, true);
  dir.write("in.las", file.bytes());
  std::vector<lasfix::Point> expected;
  for (const lasfix::Point& p : file.points) {
    if ((p.X / 100) % 2 == 0) expected.push_back(changed(p, file.header, [](double& x, double&, double&) { x *= 0.5; }));
  }
  ToolResult r = run_voxsifter(run_args(dir, {"-step", "1", "-step_z", "100"}, {"-scale_x", "0.5"}));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  lasfix::Parsed out = lasfix::parse(dir.read("out.las"));
  EXPECT_EQ(out.points, expected);
  expect_header_matches_points(out);
}

// The filter chooses the points to move and drops none; the others come out
// as they were read.
TEST(TransformRun, FilteredTransformMovesOnlyTheChosenPoints) {
  TempDir dir;
  const lasfix::LasFile file = grid_file();
  dir.write("in.las", file.bytes());
  std::vector<lasfix::Point> expected = file.points;
  for (lasfix::Point& p : expected) {
    if (p.Z < 500) p.Z += 10000;
  }
  expect_points_in_both_modes(dir, {"-keep_z_below", "5", "-translate_z", "100", "-filtered_transform"}, expected);
}

// Without a filter the transform moves every point; without a transform the
// filter drops as usual. Either way the run warns.
TEST(TransformRun, FilteredTransformWithoutItsPartnerWarns) {
  TempDir dir;
  const lasfix::LasFile file = grid_file();
  dir.write("in.las", file.bytes());
  struct Case {
    std::vector<std::string> options;
    std::string warning;
    size_t points;
    int32_t first_z;
  } cases[] = {
      {{"-translate_z", "100", "-filtered_transform"},
       "WARNING: no LASfilter specified. '-filtered_transform' has no effect.\n", 100, 10000},
      {{"-filtered_transform", "-keep_z_below", "5"},
       "WARNING: no LAStransform specified. '-filtered_transform' has no effect.\n", 15, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.warning);
    for (const std::vector<std::string>& mode : MODES) {
      SCOPED_TRACE(mode[0]);
      ToolResult r = run_voxsifter(run_args(dir, mode, c.options));
      EXPECT_EQ(r.exit_code, 1);
      ASSERT_EQ(r.err.substr(0, c.warning.size()), c.warning);
      EXPECT_EQ(r.err.find("done with '", c.warning.size()), c.warning.size()) << r.err;
      lasfix::Parsed out = lasfix::parse(dir.read("out.las"));
      ASSERT_EQ(out.points.size(), c.points);
      EXPECT_EQ(out.points[0].Z, c.first_z);
    }
  }
}

// x = 1e8 is 1e10 units of 0.01: the wrapped low bits are written and the
// overflows of the last pass are reported once, at the end of the file.
TEST(TransformRun, OverflowsAreReportedWithTheOptionText) {
  TempDir dir;
  const lasfix::LasFile file = grid_file();
  dir.write("in.las", file.bytes());
  std::vector<lasfix::Point> expected;
  for (const lasfix::Point& p : file.points) expected.push_back(changed(p, file.header, [](double& x, double&, double&) { x += 1e8; }));
  const std::string warning = "WARNING: total of  100 overflows caused by '-translate_x 100000000.000000 '\n";
  for (const std::vector<std::string>& mode : MODES) {
    SCOPED_TRACE(mode[0]);
    ToolResult r = run_voxsifter(run_args(dir, mode, {"-translate_x", "1e8"}));
    EXPECT_EQ(r.exit_code, 1);
    ASSERT_EQ(r.err.substr(0, warning.size()), warning) << r.err;
    EXPECT_EQ(r.err.find("done with '", warning.size()), warning.size()) << r.err;
    if (mode[0] == "-every_nth") {
      EXPECT_EQ(lasfix::parse(dir.read("out.las")).points, expected);
    }
  }
}

TEST(TransformRun, EveryInputIsTransformed) {
  TempDir dir;
  lasfix::LasFile a = grid_file();
  lasfix::LasFile b = grid_file();
  for (lasfix::Point& p : b.points) p.X += 5000;
  dir.write("a.las", a.bytes());
  dir.write("b.las", b.bytes());
  ToolResult r = run_voxsifter(
      {"-i", dir.file("a.las"), dir.file("b.las"), "-odix", "_t", "-every_nth", "1", "-translate_x", "1"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(lasfix::parse(dir.read("a_t.las")).points[0].X, 100);
  EXPECT_EQ(lasfix::parse(dir.read("b_t.las")).points[0].X, 5100);

  r = run_voxsifter({"-i", dir.file("a.las"), dir.file("b.las"), "-merged", "-o", dir.file("m.las"), "-step", "0.5",
                     "-translate_x", "1"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  lasfix::Parsed merged = lasfix::parse(dir.read("m.las"));
  ASSERT_EQ(merged.points.size(), 200u);
  EXPECT_EQ(merged.points[0].X, 100);
  EXPECT_EQ(merged.points[100].X, 5100);
}

// Child processes rebuild the transform from its option text: their points
// are those of one process, also for a factor that six decimals would cut to
// 1 (x lies near 1e6, where the seventh decimal moves points by 0.4).
TEST(TransformRun, ChildProcessesTransformAsOneProcessDoes) {
  TempDir dir;
  lasfix::LasFile a = grid_file(1e6);
  lasfix::LasFile b = grid_file(1e6);
  for (lasfix::Point& p : b.points) p.Z += 50;
  dir.write("a.las", a.bytes());
  dir.write("b.las", b.bytes());
  const std::vector<std::string> options = {"-keep_z_below", "5", "-translate_z", "100.123456789",
                                            "-filtered_transform", "-scale_x", "1.0000004"};
  for (const std::vector<std::string>& mode : MODES) {
    SCOPED_TRACE(mode[0]);
    for (const char* run : {"_one", "_many"}) {
      std::vector<std::string> args = {"-i", dir.file("a.las"), dir.file("b.las"), "-odix", run};
      args.insert(args.end(), mode.begin(), mode.end());
      args.insert(args.end(), options.begin(), options.end());
      if (std::string(run) == "_many") {
        args.push_back("-cores");
        args.push_back("2");
      }
      ToolResult r = run_voxsifter(args);
      ASSERT_EQ(r.exit_code, 0) << r.err;
    }
    for (const char* name : {"a", "b"}) {
      SCOPED_TRACE(name);
      const lasfix::Parsed one = lasfix::parse(dir.read(std::string(name) + "_one.las"));
      EXPECT_EQ(lasfix::parse(dir.read(std::string(name) + "_many.las")).points, one.points);
      if (mode[0] == "-every_nth") {
        EXPECT_EQ(one.points.size(), 100u);
      }
    }
    // The factor is there in full.
    const lasfix::Point first = lasfix::parse(dir.read("a_one.las")).points[0];
    EXPECT_EQ(first.X, quantized(1e6 * 1.0000004, 1e6));
    EXPECT_EQ(first.Z, quantized(100.123456789, 0));
  }
}

// "-offset_adjust" gives each file the offsets of its moved points (the
// middle of the moved box cut to a multiple of 1e7 units of 0.01): both
// passes of the voxel mode write in them, and so does a second input file,
// which is adjusted from its own header.
TEST(TransformRun, OffsetAdjustmentWritesEachFileInItsOwnMovedOffsets) {
  TempDir dir;
  const lasfix::LasFile a = grid_file(1000, 2000);
  const lasfix::LasFile b = grid_file(3e6, 2000);
  dir.write("a.las", a.bytes());
  dir.write("b.las", b.bytes());
  const struct {
    const char* name;
    const lasfix::LasFile& file;
    double x_offset;
  } outputs[] = {{"a", a, 500000}, {"b", b, 3500000}};
  for (const std::vector<std::string>& mode : MODES) {
    SCOPED_TRACE(mode[0]);
    std::vector<std::string> args = {"-i", dir.file("a.las"), dir.file("b.las"), "-odix", "_t"};
    args.insert(args.end(), mode.begin(), mode.end());
    for (const char* word : {"-translate_x", "500000", "-offset_adjust"}) args.push_back(word);
    ToolResult r = run_voxsifter(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    for (const auto& o : outputs) {
      SCOPED_TRACE(o.name);
      lasfix::Parsed out = lasfix::parse(dir.read(std::string(o.name) + "_t.las"));
      EXPECT_EQ(out.header.x_offset, o.x_offset);
      EXPECT_EQ(out.header.y_offset, 2000);
      EXPECT_EQ(out.header.z_offset, 0);
      ASSERT_EQ(out.points.size(), o.file.points.size());
      for (size_t k = 0; k < out.points.size(); k++) {
        const lasfix::Point& in = o.file.points[k];
        EXPECT_EQ(out.points[k].X, quantized(in.X * SCALE + o.file.header.x_offset + 500000, o.x_offset)) << k;
        EXPECT_EQ(out.points[k].Y, in.Y) << k;
        EXPECT_EQ(out.points[k].Z, in.Z) << k;
      }
      expect_header_matches_points(out);
    }
  }

  // With new scale factors the points come out in them, in both passes.
  ToolResult r = run_voxsifter({"-i", dir.file("a.las"), "-o", dir.file("fine.las"), "-step", "0.5", "-translate_x",
                                "500000", "-offset_adjust", "-rescale", "0.001", "0.001", "0.001"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  lasfix::Parsed fine = lasfix::parse(dir.read("fine.las"));
  EXPECT_EQ(fine.header.x_scale_factor, 0.001);
  EXPECT_EQ(fine.header.z_scale_factor, 0.001);
  EXPECT_EQ(fine.header.x_offset, 500000);
  ASSERT_EQ(fine.points.size(), a.points.size());
  for (size_t k = 0; k < fine.points.size(); k++) {
    EXPECT_EQ(fine.points[k].X, 10 * a.points[k].X + 1000000) << k;
    EXPECT_EQ(fine.points[k].Z, 10 * a.points[k].Z) << k;
  }
}

// Filters judge points as read, in the file's offsets, also when the
// points leave in adjusted ones; the points a filtered transform leaves alone
// keep their place in the adjusted offsets.
TEST(TransformRun, OffsetAdjustmentLeavesFiltersThePointsAsRead) {
  TempDir dir;
  const lasfix::LasFile file = grid_file(1000, 2000);
  dir.write("in.las", file.bytes());
  for (const bool filtered : {false, true}) {
    SCOPED_TRACE(filtered ? "filtered transform" : "filter");
    std::vector<std::string> options = {"-keep_z_below", "5", "-translate_z", "100000", "-offset_adjust"};
    if (filtered) options.push_back("-filtered_transform");
    for (const std::vector<std::string>& mode : MODES) {
      SCOPED_TRACE(mode[0]);
      ToolResult r = run_voxsifter(run_args(dir, mode, options));
      ASSERT_EQ(r.exit_code, 0) << r.err;
      lasfix::Parsed out = lasfix::parse(dir.read("out.las"));
      EXPECT_EQ(out.header.z_offset, 100000);
      std::vector<lasfix::Point> expected;
      for (lasfix::Point p : file.points) {
        const double z = p.Z * SCALE;
        if (z >= 5 && !filtered) continue;
        p.Z = quantized(z < 5 ? z + 100000 : z, out.header.z_offset);
        expected.push_back(p);
      }
      EXPECT_EQ(out.points, expected);
      expect_header_matches_points(out);
    }
  }
}

// The same points as a translation; a random move is the same from run to
// run and in both passes of the voxel mode.
TEST(TransformRun, MatrixTranslatesAndRandomMovesRepeat) {
  TempDir dir;
  const lasfix::LasFile file = grid_file(1000, 2000, true);
  dir.write("in.las", file.bytes());
  auto points_of = [&](const std::vector<std::string>& mode, const std::vector<std::string>& options) {
    ToolResult r = run_voxsifter(run_args(dir, mode, options));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return lasfix::parse(dir.read("out.las")).points;
  };
  const std::vector<lasfix::Point> translated = points_of(MODES[0], {"-translate_xyz", "10", "20", "30"});
  EXPECT_EQ(translated[0].X, 1000);
  EXPECT_EQ(points_of(MODES[0], {"-transform_matrix", "1,0,0", "0,1,0", "0,0,1", "10,20,30"}), translated);

  const std::vector<std::string> random = {"-translate_raw_xy_at_random", "2", "2"};
  const std::vector<lasfix::Point> moved = points_of(MODES[0], random);
  EXPECT_EQ(points_of(MODES[0], random), moved);
  EXPECT_EQ(points_of(MODES[1], random), moved);
  ASSERT_EQ(moved.size(), file.points.size());
  bool any = false;
  for (size_t k = 0; k < moved.size(); k++) {
    EXPECT_LE(std::abs(moved[k].X - file.points[k].X), 2);
    EXPECT_LE(std::abs(moved[k].Y - file.points[k].Y), 2);
    any |= moved[k].X != file.points[k].X;
  }
  EXPECT_TRUE(any);
}

// 12.34 in an unsigned 16-bit attribute with scale 0.1 is stored as 123.
TEST(TransformRun, SetAttributeStoresInTheAttributesScale) {
  TempDir dir;
  lasfix::LasFile file = grid_file();
  file.header.point_data_format = 1;
  file.extra_bytes = 2;
  lasfix::ExtraBytesAttribute tenths;
  tenths.data_type = 3;
  tenths.options = 0x08;
  tenths.name = "tenths";
  tenths.scale = {0.1, 0, 0};
  file.vlrs.push_back({"LASF_Spec", 4, lasfix::extra_bytes_payload({tenths})});
  dir.write("in.las", file.bytes());
  std::vector<lasfix::Point> expected = file.points;
  for (lasfix::Point& p : expected) p.extra_bytes = std::string("\x7b\x00", 2);
  expect_points_in_both_modes(dir, {"-set_attribute", "0", "12.34"}, expected);
}

TEST(TransformRun, RefusedOptionsEndTheRunWithTheirMessage) {
  struct Case {
    const char* name;
    std::vector<std::string> options;
    std::string err;
  } cases[] = {
      {"not a number", {"-translate_x", "abc"}, "ERROR: '-translate_x' needs 1 argument: offset but 'abc' is no valid number\n"},
      {"trailing text", {"-scale_z", "0.3048ft"}, "ERROR: '-scale_z' needs 1 argument: scale_z but '0.3048ft' is no valid number\n"},
      {"too few", {"-translate_xyz", "1", "2"},
       "ERROR: '-translate_xyz' needs 3 arguments: offset_x offset_y offset_z but '-every_nth' is no valid number\n"},
      {"too few at the end", {"-translate_then_scale_z", "1"},
       "ERROR: '-translate_then_scale_z' needs 2 arguments: offset scale\n"},
      {"rotation by nothing", {"-rotate_xy", "0", "0", "0"},
       "ERROR: '-rotate_xy' needs 3 arguments: angle rot_center_x rot_center_y but 0 is no valid angle\n"},
      {"four Helmert values", {"-transform_helmert", "1,2,3,4"},
       "ERROR: '-transform_helmert' needs 3 or 7 comma separated parameters as argument\n"},
      {"three matrix words", {"-transform_matrix", "1,0,0", "0,1,0", "0,0,1"},
       "ERROR: '-transform_matrix' needs 4 arguments: 4 x 3 comma separated values\n"},
  };
  TempDir dir;
  dir.write("in.las", grid_file().bytes());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"-i", dir.file("in.las"), "-o", dir.file("out.las")};
    if (std::string(c.name) != "too few at the end") {
      args.insert(args.end(), c.options.begin(), c.options.end());
      args.push_back("-every_nth");
      args.push_back("1");
    } else {
      args.push_back("-every_nth");
      args.push_back("1");
      args.insert(args.end(), c.options.begin(), c.options.end());
    }
    ToolResult r = run_voxsifter(args);
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(r.err, c.err);
    EXPECT_FALSE(dir.exists("out.las"));
  }
}

TEST(TransformRun, ExtendedHelpListsTheTransformOptions) {
  const std::string usage =
      "\nTransform coordinates.\n"
      "  -translate_x -2.5\n"
      "  -scale_z 0.3048\n"
      "  -rotate_xy 15.0 620000 4100000 (angle + origin)\n"
      "  -translate_xyz 0.5 0.5 0\n"
      "  -translate_then_scale_y -0.5 1.001\n"
      "  -transform_helmert -199.87,74.79,246.62\n"
      "  -transform_helmert 598.1,73.7,418.2,0.202,0.045,-2.455,6.7\n"
      "  -transform_affine 0.9999652,0.903571,171.67,736.26\n"
      "  -switch_x_y -switch_x_z -switch_y_z\n"
      "  -clamp_z_below 70.5\n"
      "  -clamp_z 70.5 72.5\n"
      "  -copy_attribute_into_z 0\n"
      "  -add_attribute_to_z 1\n"
      "  -add_scaled_attribute_to_z 1 -1.2\n"
      "  -copy_intensity_into_z\n"
      "  -copy_user_data_into_z\n"
      "Transform raw xyz integers.\n"
      "  -translate_raw_z 20\n"
      "  -translate_raw_xyz 1 1 0\n"
      "  -translate_raw_xy_at_random 2 2\n"
      "  -clamp_raw_z 500 800\n";
  ToolResult r = run_voxsifter({"-hh"});
  EXPECT_EQ(r.exit_code, 0);
  const size_t at = r.err.find(usage);
  ASSERT_NE(at, std::string::npos) << r.err;
  EXPECT_NE(r.err[at + usage.size()], ' ') << "the section ends here";
  const std::string attributes =
      "Transform attributes in \"Extra Bytes\".\n"
      "  -scale_attribute 0 1.5\n"
      "  -translate_attribute 1 0.2\n"
      "  -copy_user_data_into_attribute 0\n"
      "  -copy_z_into_attribute 0\n"
      "  -map_attribute_into_RGB 0 map_height_to_RGB.txt\n"
      "Transform using \"registers\".\n"
      "  -copy_attribute_into_register 0 0\n"
      "  -scale_register 0 1.5\n"
      "  -translate_register 1 10.7\n"
      "  -add_registers 0 1 3\n"
      "  -multiply_registers 0 1 2\n"
      "  -copy_intensity_into_register 0\n"
      "  -copy_R_into_register 1\n"
      "  -copy_G_into_register 2\n"
      "  -copy_B_into_register 3\n"
      "  -copy_NIR_into_register 4\n"
      "  -copy_register_into_intensity 1\n";
  EXPECT_NE(r.err.find(attributes), std::string::npos) << r.err;
}

}  // namespace
