// The ignore rules through the built program: ignored points come out byte
// for byte as they were read, the others are thinned as if the ignored ones
// were not there, and child processes rebuild the rules from their text.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/cores_check.hpp"
#include "support/header_scan.hpp"
#include "support/las_fixture.hpp"
#include "support/run_tool.hpp"
#include "support/temp_dir.hpp"

namespace {

using lasfix::Point;

// Six clusters of eight points; with "-step 5" each cluster is one voxel
// (cluster k spans x = 5k + 1 to 5k + 2.75 and the box starts at x = 1).
// Classes, returns and flags cycle through eight variants, shifted by one
// from cluster to cluster, so that each cluster has a different first point.
lasfix::LasFile cluster_file(uint8_t format) {
  static const uint8_t legacy_classes[8] = {0, 1, 2, 3, 2, 5, 6, 2};
  static const uint8_t extended_classes[8] = {0, 1, 2, 43, 2, 5, 40, 2};
  static const uint8_t pulses[8][2] = {{1, 1}, {1, 2}, {2, 2}, {1, 3}, {2, 3}, {3, 3}, {1, 1}, {2, 4}};
  const bool extended = format >= 6;
  lasfix::LasFile f;
  f.header.point_data_format = format;
  if (extended) f.header.version_minor = 4;
  for (int k = 0; k < 6; k++) {
    for (int j = 0; j < 8; j++) {
      const int m = (j + k) % 8;
      Point p;
      p.X = 500 * k + 100 + 25 * j;
      p.Y = 100 + 25 * j;
      p.Z = 100 + 25 * j;
      p.classification = extended ? extended_classes[m] : legacy_classes[m];
      p.return_number = pulses[m][0];
      p.number_of_returns = pulses[m][1];
      p.synthetic = m == 1;
      p.keypoint = m == 3;
      p.withheld = m == 5;
      p.overlap = extended && m == 6;
      p.intensity = (uint16_t)(10 * k + j);
      p.gps_time = 1000.5 + 8 * k + j;
      p.user_data = (uint8_t)(3 * j);
      f.points.push_back(p);
    }
  }
  return f;
}

struct IgnoreCase {
  const char* name;
  uint8_t format;
  std::vector<std::string> options;
  std::function<bool(const Point& p)> ignored;
};

void PrintTo(const IgnoreCase& c, std::ostream* os) { *os << c.name; }

class IgnoreRunTest : public ::testing::TestWithParam<IgnoreCase> {};

// Every ignored point is written; of the others the first of each voxel.
// Records are compared as bytes: nothing of an ignored point may change.
TEST_P(IgnoreRunTest, IgnoredPointsPassUnchangedTheRestIsThinned) {
  const IgnoreCase& c = GetParam();
  const lasfix::LasFile file = cluster_file(c.format);
  const lasfix::Built built = file.build();
  std::string expected;
  size_t ignored = 0, expected_points = 0;
  bool voxel_taken[6] = {};
  for (size_t n = 0; n < file.points.size(); n++) {
    const Point& p = file.points[n];
    const bool is_ignored = c.ignored(p);
    bool& taken = voxel_taken[p.X / 500];
    if (!is_ignored && taken) continue;
    if (!is_ignored) taken = true;
    ignored += is_ignored;
    expected_points++;
    expected += built.bytes.substr(built.point_position(n), built.record_length);
  }
  ASSERT_GT(ignored, 0u);
  ASSERT_LT(ignored, file.points.size() - 6);

  TempDir dir;
  dir.write("p.las", built.bytes);
  std::vector<std::string> args = {"-i", dir.file("p.las")};
  args.insert(args.end(), c.options.begin(), c.options.end());
  args.insert(args.end(), {"-step", "5", "-o", dir.file("o.las")});
  ToolResult r = run_voxsifter(args);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const lasfix::Parsed out = lasfix::parse(dir.read("o.las"));
  EXPECT_EQ(out.points.size(), expected_points);
  EXPECT_TRUE(out.point_data == expected);
  expect_header_matches_points(out);
}

INSTANTIATE_TEST_SUITE_P(
    Options, IgnoreRunTest,
    ::testing::Values(
        IgnoreCase{"ignore_class", 1, {"-ignore_class", "2"}, [](const Point& p) { return p.classification == 2; }},
        IgnoreCase{"ignore_classes_and_class_mask", 1, {"-ignore_class", "6", "-ignore_class_mask", "6"},
                   [](const Point& p) { return p.classification == 1 || p.classification == 2; }},
        IgnoreCase{"ignore_first", 1, {"-ignore_first"},
                   [](const Point& p) { return p.number_of_returns <= 1 || p.return_number <= 1; }},
        IgnoreCase{"ignore_last", 1, {"-ignore_last"},
                   [](const Point& p) { return p.return_number >= p.number_of_returns; }},
        IgnoreCase{"ignore_single", 1, {"-ignore_single"}, [](const Point& p) { return p.number_of_returns == 1; }},
        IgnoreCase{"ignore_intermediate", 1, {"-ignore_intermediate"},
                   [](const Point& p) { return p.return_number > 1 && p.return_number < p.number_of_returns; }},
        IgnoreCase{"ignore_first_and_last_of_many", 1, {"-ignore_first_of_many", "-ignore_last_of_many"},
                   [](const Point& p) {
                     return p.number_of_returns > 1 &&
                            (p.return_number == 1 || p.return_number == p.number_of_returns);
                   }},
        IgnoreCase{"ignore_synthetic", 1, {"-ignore_synthetic"}, [](const Point& p) { return p.synthetic; }},
        IgnoreCase{"ignore_keypoint_and_withheld", 1, {"-ignore_keypoint", "-ignore_withheld"},
                   [](const Point& p) { return p.keypoint || p.withheld; }},
        IgnoreCase{"ignore_overlap", 6, {"-ignore_overlap"}, [](const Point& p) { return p.overlap; }},
        IgnoreCase{"ignore_extended_class", 6, {"-ignore_extended_class", "43"},
                   [](const Point& p) { return p.classification == 43; }},
        IgnoreCase{"ignore_class_above_31", 6, {"-ignore_class", "2", "40"},
                   [](const Point& p) { return p.classification == 2 || p.classification == 40; }},
        IgnoreCase{"ignore_class_of_extended_points", 6, {"-ignore_class", "0", "-ignore_synthetic"},
                   [](const Point& p) { return p.classification == 0 || p.synthetic; }}),
    [](const ::testing::TestParamInfo<IgnoreCase>& info) { return std::string(info.param.name); });

TEST(IgnoreRun, ChildProcessesRebuildTheRules) {
  for (uint8_t format : {1, 6}) {
    SCOPED_TRACE(format);
    lasfix::LasFile a = cluster_file(format);
    lasfix::LasFile b = cluster_file(format);
    for (Point& p : b.points) p.X += 100;
    expect_children_write_the_same({{"a.las", a.bytes()}, {"b.las", b.bytes()}},
                                   {"-ignore_first", "-ignore_class", "5", "40", "-ignore_class_mask", "8",
                                    "-ignore_overlap", "-ignore_keypoint", "-step", "5"});
  }
}

TEST(IgnoreRun, RefusedRulesEndTheRunWithTheirMessage) {
  struct Case {
    std::vector<std::string> options;
    std::string err;
  } cases[] = {
      {{"-ignore_class", "256"},
       "ERROR: '-ignore_class' needs arguments between 0 and 255 but '256' is out of range\n"},
      {{"-ignore_class", "2x"}, "ERROR: '-ignore_class' needs arguments between 0 and 255 but '2x' is no valid code\n"},
      {{"-ignore_class_mask", "0"},
       "ERROR: '-ignore_class_mask' needs argument between 0x00000000 and 0xFFFFFFFF but 0 makes no sense\n"},
      {{"-ignore_last_returns"}, "ERROR: cannot understand argument '-ignore_last_returns'\n"},
  };
  TempDir dir;
  dir.write("p.las", cluster_file(1).bytes());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options[0]);
    std::vector<std::string> args = {"-i", dir.file("p.las"), "-o", dir.file("o.las")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    ToolResult r = run_voxsifter(args);
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(r.err, c.err);
    EXPECT_FALSE(dir.exists("o.las"));
  }
}

}  // namespace
