// Thinning whole files through the built binary: inputs are built and outputs
// parsed by the independent fixture code, so neither side is our reader or
// writer agreeing with itself. Every output's header is checked against a scan
// of its points.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/lasheader.hpp"
#include "core/lasreader.hpp"
#include "core/lasutility.hpp"
#include "support/header_scan.hpp"
#include "support/las_attribute.hpp"
#include "support/las_fixture.hpp"
#include "support/run_tool.hpp"
#include "support/temp_dir.hpp"
#include "tool/voxsifter_driver.hpp"

namespace {

using lasfix::Point;

const std::string SUPPORT = "\tcontact support@pelkarts.example for support\n";
const std::string LAY_INFO =
    "WARNING: do not expect LAY files to work across different versions\n"
    "         of Pelkarts because the development of change layers is still\n"
    "         not completed. this is just an awesome prototype as proof\n"
    "         of concept. we continue to gather community input ... (-;\n";

// A point at world coordinates in metres (scale 0.01, offset 0).
Point at(double x, double y, double z, uint16_t intensity, uint8_t return_number = 1, uint8_t returns = 1) {
  Point p;
  p.X = (int32_t)std::lround(x * 100);
  p.Y = (int32_t)std::lround(y * 100);
  p.Z = (int32_t)std::lround(z * 100);
  p.intensity = intensity;
  p.return_number = return_number;
  p.number_of_returns = returns;
  return p;
}

// Four occupied voxels of the default 2 m grid over a box from 0 to 7.99:
// A (x 0-2, y 0-2, z 0-2) with four points, B (x 2-4) with two, C above A
// with one, D in the far corner with two. Ties are built in: A1 and A3 share
// z and intensity, D0 and D1 their returns and attribute.
enum { A0, A1, A2, A3, B0, B1, C0, D0, D1, POINTS };

std::vector<Point> rule_points(uint8_t format) {
  std::vector<Point> p = {
      at(0.00, 0.00, 0.00, 50, 1, 3), at(1.50, 1.50, 1.90, 10, 2, 3), at(1.00, 1.00, 0.50, 90, 3, 3),
      at(0.20, 1.80, 1.90, 10, 1, 1), at(2.10, 0.10, 1.00, 70, 1, 2), at(3.50, 1.50, 0.10, 80, 2, 2),
      at(0.50, 0.50, 2.50, 5, 1, 1),  at(7.99, 7.99, 7.99, 1, 1, 1),  at(6.50, 6.50, 6.50, 2, 1, 1),
  };
  const int32_t attribute[POINTS] = {3, 7, 5, 7, 2, 9, 1, 4, 4};
  for (int i = 0; i < POINTS; i++) {
    p[i].gps_time = 1000.0 + i;  // identities differ by time as well as place
    p[i].point_source_ID = (uint16_t)(i + 1);
    p[i].extra_bytes.assign((const char*)&attribute[i], 4);
    if (format >= 6) p[i].classification = 1;
  }
  return p;
}

lasfix::LasFile rule_file(uint8_t format = 1) {
  lasfix::LasFile f;
  f.header.version_minor = format >= 6 ? 4 : 2;
  f.header.point_data_format = format;
  add_i32_attribute(f, "value");
  f.points = rule_points(format);
  return f;
}

struct Thinned {
  ToolResult run;
  lasfix::Parsed out;
};

// Writes `file` as in.las, runs the tool on it with `args` and parses out.las.
Thinned thin(const TempDir& dir, const lasfix::LasFile& file, std::vector<std::string> args) {
  dir.write("in.las", file.bytes());
  std::vector<std::string> all = {"-i", dir.file("in.las"), "-o", dir.file("out.las")};
  all.insert(all.end(), args.begin(), args.end());
  Thinned t;
  t.run = run_voxsifter(all);
  EXPECT_TRUE(dir.exists("out.las")) << t.run.err;
  if (dir.exists("out.las")) {
    t.out = lasfix::parse(dir.read("out.las"));
    expect_header_matches_points(t.out);
  }
  return t;
}

std::vector<Point> pick(const std::vector<Point>& points, const std::vector<int>& indices) {
  std::vector<Point> picked;
  for (int i : indices) picked.push_back(points[i]);
  return picked;
}

// ------------------------------------------------------------------ rules

struct RuleCase {
  const char* name;
  std::vector<std::string> args;
  std::vector<int> survivors;
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.name; }

class SurvivorTest : public ::testing::TestWithParam<RuleCase> {};

TEST_P(SurvivorTest, KeepsTheChosenPointsUnchanged) {
  const RuleCase& c = GetParam();
  TempDir dir;
  lasfix::LasFile file = rule_file();
  Thinned t = thin(dir, file, c.args);
  EXPECT_EQ(t.run.exit_code, 0) << t.run.err;
  EXPECT_EQ(t.out.points, pick(file.points, c.survivors));
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SurvivorTest,
    ::testing::Values(RuleCase{"first", {}, {A0, B0, C0, D0}},
                      RuleCase{"highest_earlier_wins_tie", {"-highest"}, {A1, B0, C0, D0}},
                      RuleCase{"lowest", {"-lowest"}, {A0, B1, C0, D1}},
                      RuleCase{"intensity_max", {"-intensity_max"}, {A2, B1, C0, D1}},
                      RuleCase{"intensity_min_earlier_wins_tie", {"-intensity_min"}, {A1, B0, C0, D0}},
                      RuleCase{"return_max", {"-return_max"}, {A2, B1, C0, D0}},
                      RuleCase{"return_min", {"-return_min"}, {A0, B0, C0, D0}},
                      RuleCase{"closest", {"-closest"}, {A2, B1, C0, D1}},
                      RuleCase{"attribute_max", {"-attribute_max", "0"}, {A1, B1, C0, D0}},
                      RuleCase{"attribute_min", {"-attribute_min", "0"}, {A0, B0, C0, D0}},
                      // An attribute the file lacks reads 0 everywhere: the first point stays.
                      RuleCase{"attribute_absent", {"-attribute_max", "3"}, {A0, B0, C0, D0}},
                      // -step sets both steps; a later -step_z replaces the vertical one only.
                      RuleCase{"highest_step_4", {"-highest", "-step", "4"}, {C0, D0}},
                      RuleCase{"step_z_after_step", {"-lowest", "-step", "4", "-step_z", "1"}, {A0, B0, C0, D0, D1}},
                      RuleCase{"step_after_step_z", {"-lowest", "-step_z", "1", "-step", "4"}, {A0, D1}},
                      RuleCase{"every_nth", {"-every_nth", "3"}, {A2, B1, D1}},
                      RuleCase{"every_nth_one", {"-every_nth", "1"}, {A0, A1, A2, A3, B0, B1, C0, D0, D1}},
                      RuleCase{"random_nth_one", {"-random_nth", "1"}, {A0, A1, A2, A3, B0, B1, C0, D0, D1}},
                      RuleCase{"random_nth_ignores_step", {"-random_nth", "1", "-step", "3"},
                               {A0, A1, A2, A3, B0, B1, C0, D0, D1}}),
    [](const ::testing::TestParamInfo<RuleCase>& info) { return std::string(info.param.name); });

TEST(Survivors, ReturnMaxReadsTheExtendedReturnOfFormat6) {
  TempDir dir;
  lasfix::LasFile file = rule_file(6);
  // In A, return 9 of 10 (legacy bits would read 1) must beat return 3.
  file.points[A2].return_number = 3;
  file.points[A2].number_of_returns = 10;
  file.points[A3].return_number = 9;
  file.points[A3].number_of_returns = 10;
  Thinned t = thin(dir, file, {"-return_max"});
  EXPECT_EQ(t.out.points, pick(file.points, {A3, B1, C0, D0}));
}

TEST(Survivors, RandomRulesRepeatWithTheirSeed) {
  TempDir dir;
  lasfix::LasFile file = rule_file();
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-random_cell_occurrence", "-seed", "7"}, {"-random_nth", "2", "-seed", "-3"}}) {
    SCOPED_TRACE(args[0]);
    Thinned first = thin(dir, file, args);
    Thinned second = thin(dir, file, args);
    EXPECT_EQ(first.run.exit_code, 0) << first.run.err;
    EXPECT_EQ(first.out.points, second.out.points);
    for (const Point& p : first.out.points) {
      EXPECT_NE(std::find(file.points.begin(), file.points.end(), p), file.points.end());
    }
    if (args[0] == "-random_cell_occurrence") {
      // One survivor per voxel, whichever it is.
      ASSERT_EQ(first.out.points.size(), 4u);
      EXPECT_EQ(first.out.points[2], file.points[C0]);
    }
  }
}

// ------------------------------------------------------------------ changes

TEST(Changes, CountsGoToUserDataOrIntensity) {
  TempDir dir;
  lasfix::LasFile file = rule_file();
  const std::vector<int> survivors = {A0, B0, C0, D0};
  const int counts[] = {4, 2, 1, 2};
  const struct {
    std::vector<std::string> args;
    bool user, intensity;
  } cases[] = {{{"-count_to_user_byte"}, true, false},
               {{"-count_to_intensity"}, false, true},
               {{"-count_to_intensity", "-count_to_user_byte"}, true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.size());
    Thinned t = thin(dir, file, c.args);
    std::vector<Point> expected = pick(file.points, survivors);
    for (size_t k = 0; k < expected.size(); k++) {
      if (c.user) expected[k].user_data = (uint8_t)counts[k];
      if (c.intensity) expected[k].intensity = (uint16_t)counts[k];
    }
    EXPECT_EQ(t.out.points, expected);
  }
}

TEST(Changes, CountAbove255IsCappedAndReported) {
  TempDir dir;
  lasfix::LasFile file;
  file.header.point_data_format = 1;
  for (int i = 0; i < 300; i++) {
    Point p = at(0.5 + (i % 10) * 0.01, 0.5 + (i / 10) * 0.01, 0.5, 1);
    p.gps_time = i;
    file.points.push_back(p);
  }
  file.points.push_back(at(9.0, 9.0, 9.0, 1));
  Thinned t = thin(dir, file, {"-count_to_user_byte", "-vv"});
  ASSERT_EQ(t.out.points.size(), 2u);
  EXPECT_EQ(t.out.points[0].user_data, 255);
  EXPECT_EQ(t.out.points[1].user_data, 1);
  EXPECT_NE(t.run.err.find("For 1 cells there were too many counts per cell in order to write it to the user-byte. "
                           "These counts were truncated at 255. Try using -count_to_intensity.\n"
                           "For 1 cells it came to a count overflow.\n"),
            std::string::npos)
      << t.run.err;
  EXPECT_NE(t.run.err.find("Highest point density in a single cell is 300 points per cell.\n"), std::string::npos);
  // 300 fits the intensity.
  t = thin(dir, file, {"-count_to_intensity", "-vv"});
  EXPECT_EQ(t.out.points[0].intensity, 300);
  EXPECT_EQ(t.run.err.find("overflow"), std::string::npos);
}

// The raw integer the tool stores for a world coordinate (scale 0.01, offset
// 0): halves away from zero, then truncated.
int32_t quantized(double v) { return (int32_t)(v >= 0 ? v / 0.01 + 0.5 : v / 0.01 - 0.5); }

TEST(Changes, CellCenterAndFlattening) {
  TempDir dir;
  lasfix::LasFile file = rule_file();
  const double flatten_z = (7.99 + 0.0) * 0.5;
  const double centers[4][3] = {{1, 1, 1}, {3, 1, 1}, {1, 1, 3}, {7, 7, 7}};
  const struct {
    std::vector<std::string> args;
    bool center, flatten;
  } cases[] = {{{"-use_cell_center"}, true, false},
               {{"-flatten_points"}, false, true},
               {{"-use_cell_center", "-flatten_points"}, true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    Thinned t = thin(dir, file, c.args);
    std::vector<Point> expected = pick(file.points, {A0, B0, C0, D0});
    for (size_t k = 0; k < expected.size(); k++) {
      if (c.center) {
        expected[k].X = quantized(centers[k][0]);
        expected[k].Y = quantized(centers[k][1]);
        expected[k].Z = quantized(centers[k][2]);
      }
      if (c.flatten) expected[k].Z = quantized(flatten_z);
    }
    EXPECT_EQ(t.out.points, expected);
  }
}

TEST(Changes, MarkingFlagsOrClassifiesTheSurvivors) {
  for (uint8_t format : {1, 6}) {
    SCOPED_TRACE("format " + std::to_string(format));
    TempDir dir;
    lasfix::LasFile file = rule_file(format);
    const struct {
      std::vector<std::string> args;
      void (*mark)(Point&);
    } cases[] = {{{"-keypoint"}, [](Point& p) { p.keypoint = true; }},
                 {{"-flag_as_withheld"}, [](Point& p) { p.withheld = true; }},
                 {{"-classify_as", "9"}, [](Point& p) { p.classification = 9; }},
                 {{"-classify_as", "9", "-keypoint"}, [](Point& p) { p.keypoint = true; }}};
    for (const auto& c : cases) {
      SCOPED_TRACE(c.args[0]);
      Thinned t = thin(dir, file, c.args);
      std::vector<Point> expected = pick(file.points, {A0, B0, C0, D0});
      for (Point& p : expected) c.mark(p);
      EXPECT_EQ(t.out.points, expected);
    }
  }
}

TEST(Changes, IgnoredPointsAreWrittenAsReadOrOnlyFlattened) {
  TempDir dir;
  lasfix::LasFile file = rule_file();
  // The two points of D are ignored: both are written, neither enters a voxel.
  file.points[D0].classification = 7;
  file.points[D1].classification = 7;
  const double flatten_z = 7.99 * 0.5;
  const struct {
    std::vector<std::string> args;
    bool survivors_flat, ignored_flat;
  } cases[] = {{{"-ignore_class", "7", "-vv"}, false, false},
               {{"-ignore_class", "7", "-flatten_points", "-vv"}, true, false},
               {{"-ignore_class", "7", "-flatten_all_points", "-vv"}, true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[2]);
    Thinned t = thin(dir, file, c.args);
    std::vector<Point> expected = pick(file.points, {A0, B0, C0, D0, D1});
    for (size_t k = 0; k < expected.size(); k++) {
      if (k < 3 ? c.survivors_flat : c.ignored_flat) expected[k].Z = quantized(flatten_z);
    }
    EXPECT_EQ(t.out.points, expected);
    EXPECT_NE(t.run.err.find("Marked 3 points for survival\n"
                             "ignored 2 points (that will also survive) and marked 3 points for survival\n"),
              std::string::npos)
        << t.run.err;
    EXPECT_NE(t.run.err.find("Writing 5 points...\n"), std::string::npos);
  }
}

// ------------------------------------------------------------------ messages

TEST(Messages, VerboseReportsInOrder) {
  TempDir dir;
  Thinned t = thin(dir, rule_file(), {"-v"});
  EXPECT_EQ(t.run.exit_code, 0);
  const std::string out = dir.file("out.las");
  EXPECT_EQ(without_times(t.run.err),
            "Pelkarts voxsifter (by support@pelkarts.example) version 251122\n"
            "using default step_xy of 2\n"
            "using default step_z of 2\n"
            "processing 9 points\n"
            "first pass reading 9 points ...\n"
            "Processing a grid with 64 voxels\n"
            "took T sec.\n"
            "Writing 4 points...\n"
            "done with '" +
                out +
                "'. total time T sec.\n"
                "Grid saturation is 6.250000 percent.\n");
}

TEST(Messages, EveryNthStillAnnouncesTheFirstPass) {
  TempDir dir;
  Thinned t = thin(dir, rule_file(), {"-every_nth", "3", "-vv"});
  EXPECT_EQ(t.out.points.size(), 3u);
  EXPECT_NE(t.run.err.find("processing 9 points\nfirst pass reading 9 points ...\n"), std::string::npos) << t.run.err;
  EXPECT_EQ(t.run.err.find("Visiting all points"), std::string::npos);
  EXPECT_EQ(t.run.err.find("using default step"), std::string::npos);
}

struct RefusalCase {
  const char* name;
  std::vector<std::string> args;
  int exit_code;
  std::string err;
  bool output;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class RefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalTest, MessageAndExitCode) {
  const RefusalCase& c = GetParam();
  TempDir dir;
  dir.write("in.las", rule_file().bytes());
  std::vector<std::string> args = {"-i", dir.file("in.las"), "-o", dir.file("out.las")};
  args.insert(args.end(), c.args.begin(), c.args.end());
  ToolResult r = run_voxsifter(args);
  EXPECT_EQ(r.exit_code, c.exit_code);
  EXPECT_EQ(without_times(r.err), c.err);
  EXPECT_EQ(dir.exists("out.las"), c.output);
  if (c.output) expect_header_matches_points(lasfix::parse(dir.read("out.las")));
}

const std::string ONLY_ONE =
    "ERROR: Only specify one of the following flags: return_min, return_max, attribute_max, attribute_min, "
    "intensity_min, intensity_max, highest, lowest, closest, random_occurrence\n";
const std::string MOD_AND_STEP =
    "ERROR: Cannot remove every 'mod' time and at the same time comply with step specification. Only use either "
    "method\n";
const std::string COUNT_NTH = "ERROR: Cannot count bytes when using '-every_nth' or '-random_nth'\n";

INSTANTIATE_TEST_SUITE_P(
    Checks, RefusalTest,
    ::testing::Values(
        RefusalCase{"two_selections", {"-highest", "-lowest"}, 3, ONLY_ONE + SUPPORT, false},
        RefusalCase{"two_selections_go_on_with_the_first_in_order",
                    {"-lowest", "-highest", "-errors_ignore", "-silent"},
                    3,
                    ONLY_ONE,
                    true},
        RefusalCase{"every_nth_and_step", {"-every_nth", "10", "-step", "3"}, 3, MOD_AND_STEP, false},
        RefusalCase{"every_nth_and_step_z", {"-every_nth", "10", "-step_z", "3"}, 3, MOD_AND_STEP, false},
        RefusalCase{"count_and_nth", {"-random_nth", "2", "-count_to_intensity"}, 3, COUNT_NTH + SUPPORT, false},
        RefusalCase{"seed_without_random",
                    {"-seed", "5", "-silent"},
                    1,
                    "WARNING: Setting a seed without using a random flag is without effect.\n",
                    true},
        RefusalCase{"ilay_without_layer_file", {"-ilay", "-quiet"}, 3, "", false}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

TEST(Refusals, TwoSelectionsWithHaltingOffUseTheFactoryOrder) {
  TempDir dir;
  lasfix::LasFile file = rule_file();
  Thinned t = thin(dir, file, {"-lowest", "-highest", "-errors_ignore", "-quiet"});
  EXPECT_EQ(t.out.points, pick(file.points, {A1, B0, C0, D0}));  // highest comes first
}

// ------------------------------------------------------------------ files

TEST(Files, OutputOnTheInputIsRefusedAndTheInputKept) {
  TempDir dir;
  const std::string bytes = rule_file().bytes();
  dir.write("in.las", bytes);
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"-i", dir.file("in.las"), "-o", dir.file("in.las")}, "ERROR: input and output file name are identical\n"},
      {{"-i", dir.file("in.las"), "-o", dir.file("in.las"), "-errors_ignore"},
       "ERROR: input and output file name are identical\n"},
      // The same file by another name.
      {{"-i", dir.file("in.las"), "-o", dir.path() + "/./in.las"},
       "ERROR: output '" + dir.path() + "/./in.las' for '" + dir.file("in.las") + "' would overwrite the input '" +
           dir.file("in.las") + "'\n"},
      // A derived name that equals the input when -oforce lifts the renaming.
      {{"-i", dir.file("in.las"), "-odir", dir.path(), "-oforce", "-errors_ignore"},
       "ERROR: output '" + dir.file("in.las") + "' for '" + dir.file("in.las") + "' would overwrite the input '" +
           dir.file("in.las") + "'\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    ToolResult r = run_voxsifter(c.args);
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(without_times(r.err), c.err);
    EXPECT_EQ(dir.read("in.las"), bytes);
  }
}

TEST(Files, OutputNameServesTheFirstInputOnly) {
  TempDir dir;
  lasfix::LasFile a = rule_file();
  lasfix::LasFile b = rule_file();
  b.points.resize(3);
  dir.write("a.las", a.bytes());
  dir.write("b.las", b.bytes());
  ToolResult r = run_voxsifter({"-i", dir.file("a.las"), dir.file("b.las"), "-o", dir.file("out.las")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(without_times(r.err), "done with '" + dir.file("out.las") + "'. total time T sec.\ndone with '" +
                                      dir.file("b_1.las") +
                                      "'. total time T sec.\ndone with all files. total time for 2 files T sec.\n");
  lasfix::Parsed out_a = lasfix::parse(dir.read("out.las"));
  lasfix::Parsed out_b = lasfix::parse(dir.read("b_1.las"));
  expect_header_matches_points(out_a);
  expect_header_matches_points(out_b);
  EXPECT_EQ(out_a.points, pick(a.points, {A0, B0, C0, D0}));
  EXPECT_EQ(out_b.points, pick(b.points, {A0}));
}

TEST(Files, OutputHeaderNamesThisToolAndKeepsTheRecords) {
  TempDir dir;
  lasfix::LasFile file = rule_file();
  file.header.file_source_ID = 77;
  file.vlrs.push_back({"someone", 5, "payload!", "kept as it is"});
  Thinned t = thin(dir, file, {});
  EXPECT_EQ(t.out.header.system_identifier, "Pelkarts by Vantroskel GmbH");
  EXPECT_EQ(t.out.header.generating_software, "voxsifter (251122)-3d thinning");
  EXPECT_EQ(t.out.header.file_source_ID, 77);
  ASSERT_EQ(t.out.vlrs.size(), 2u);
  EXPECT_EQ(t.out.vlrs[1].user_id, "someone");
  EXPECT_EQ(t.out.vlrs[1].payload, "payload!");
  EXPECT_EQ(t.out.vlrs[1].description, "kept as it is");
}

TEST(Files, CoresWithOneFileWorkHere) {
  TempDir dir;
  Thinned t = thin(dir, rule_file(), {"-cores", "4"});
  EXPECT_EQ(t.run.exit_code, 1);
  EXPECT_EQ(without_times(t.run.err), "WARNING: only 1 input file(s). ignoring '-cores 4' ...\ndone with '" +
                                          dir.file("out.las") + "'. total time T sec.\n");
  EXPECT_EQ(t.out.points.size(), 4u);
}

// Several files with "-cores" go to child processes (their tests are the
// runner's); each file is thinned as here.
TEST(Files, CoresWithSeveralFilesGoToChildren) {
  TempDir dir;
  dir.write("a.las", rule_file().bytes());
  dir.write("b.las", rule_file().bytes());
  ToolResult r = run_voxsifter({"-i", dir.file("a.las"), dir.file("b.las"), "-cores", "2", "-silent"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err.rfind("Starting 2 processes on 2 cores\n", 0), 0u) << r.err;
  for (const char* name : {"a_1.las", "b_1.las"}) {
    ASSERT_TRUE(dir.exists(name));
    EXPECT_EQ(lasfix::parse(dir.read(name)).points.size(), 4u);
  }
}

// What the merged and the stored reader then do is theirs; only the warning
// that the work stays in this process is checked.
TEST(Files, CoresWithMergedOrStandardInputStayHere) {
  TempDir dir;
  dir.write("a.las", rule_file().bytes());
  dir.write("b.las", rule_file().bytes());
  ToolResult r = run_voxsifter({"-i", dir.file("a.las"), dir.file("b.las"), "-merged", "-cores", "4"});
  EXPECT_EQ(r.err.rfind("WARNING: input files merged on-the-fly. ignoring '-cores 4' ...\n", 0), 0u) << r.err;
  ToolRun run;
  run.args = {"-stdin", "-cores", "3", "-o", dir.file("out.las")};
  run.stdin_data = dir.read("a.las");
  r = run_tool(run);
  EXPECT_EQ(r.err.rfind("WARNING: using stdin. ignoring '-cores 3' ...\n", 0), 0u) << r.err;
}

TEST(Files, LayerOptionsAnswerWithTheirFailure) {
  TempDir dir;
  dir.write("in.las", rule_file().bytes());
  const std::string lay = dir.file("in.lay");
  ToolResult r = run_voxsifter({"-i", dir.file("in.las"), "-o", dir.file("out.las"), "-ilay", "-quiet"});
  EXPECT_EQ(r.exit_code, 3);
  r = run_voxsifter({"-i", dir.file("in.las"), "-o", dir.file("out.las"), "-ilay", "-errors_ignore", "-silent"});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.err, LAY_INFO + "ERROR: cannot open file '" + lay + "'\nWARNING: could not open LAY file ... skipping\n");
  ASSERT_TRUE(dir.exists("out.las"));
  EXPECT_EQ(lasfix::parse(dir.read("out.las")).points.size(), 4u);
  r = run_voxsifter({"-i", dir.file("in.las"), "-olay", "-errors_ignore", "-quiet"});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_FALSE(dir.exists("in.lay"));
}

TEST(Files, TheCommittedSampleThins) {
  const std::string sample = read_file(std::string(TEST_SOURCE_DIR) + "/../samples/sample.las");
  const lasfix::Parsed in = lasfix::parse(sample);
  EXPECT_EQ(in.points.size(), 5000u);
  expect_header_matches_points(in);
  TempDir dir;
  dir.write("sample.las", sample);
  ToolResult r = run_voxsifter({"-i", dir.file("sample.las"), "-o", dir.file("thin.las"), "-vv"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const lasfix::Parsed out = lasfix::parse(dir.read("thin.las"));
  expect_header_matches_points(out);
  // One input point per occupied voxel (no two points of this sample share
  // place and time, so no voxel lets two through).
  const std::string marked = "Marked " + std::to_string(out.points.size()) + " points for survival\n";
  EXPECT_NE(r.err.find(marked), std::string::npos) << r.err;
  for (const Point& p : out.points) {
    EXPECT_NE(std::find(in.points.begin(), in.points.end(), p), in.points.end());
  }
}

// ------------------------------------------------------------------ replay

// Scan lines over 40 x 12 m with exact repeats of points (next to the point
// and much later) and a header box that leaves some points out.
lasfix::LasFile replay_file() {
  lasfix::LasFile f;
  f.header.point_data_format = 1;
  for (int i = 0; i < 6000; i++) {
    const int line = i / 200, column = i % 200;
    Point p = at(0.2 * (line % 2 ? 199 - column : column), 0.4 * line, 0.37 * ((column / 5 + line) % 11),
                 (uint16_t)(i % 97), 1 + i % 2, 2);
    p.gps_time = 100.0 + 0.25 * i;
    f.points.push_back(p);
    if (i % 37 == 0) f.points.push_back(p);
  }
  for (int i = 0; i < 300; i++) f.points.push_back(f.points[(size_t)i * 19]);
  f.header.min_x = 1.0;
  f.header.max_x = 30.0;
  f.header.min_y = 0.0;
  f.header.max_y = 12.0;
  f.header.min_z = 0.0;
  f.header.max_z = 3.0;
  return f;
}

// One thinning of dir's "in.las" with args as it comes, and one through a
// filter that keeps every point, which makes the tool go the general way
// point by point; with the outputs each wrote.
struct ShortcutAndGeneral {
  ToolResult shortcut, general;
  std::string shortcut_out, general_out;
};

static ShortcutAndGeneral run_shortcut_and_general(const TempDir& dir, const std::vector<std::string>& args,
                                                   const std::string& extension = "las") {
  const std::string shortcut_name = "shortcut." + extension, general_name = "general." + extension;
  std::vector<std::string> shortcut = {"-i", dir.file("in.las"), "-o", dir.file(shortcut_name)};
  std::vector<std::string> general = {"-i", dir.file("in.las"), "-o", dir.file(general_name), "-keep_z", "-1e6", "1e6"};
  shortcut.insert(shortcut.end(), args.begin(), args.end());
  general.insert(general.end(), args.begin(), args.end());
  ShortcutAndGeneral both{run_voxsifter(shortcut), run_voxsifter(general), "", ""};
  if (dir.exists(shortcut_name)) both.shortcut_out = dir.read(shortcut_name);
  if (dir.exists(general_name)) both.general_out = dir.read(general_name);
  return both;
}

// Plain LAS input lets the first pass mark its survivors and the second read
// only those; a filter that keeps every point makes the tool read all points
// in the second pass. Both write the same bytes, for every rule and change,
// on the committed sample and on a file with repeats and points outside its
// box, also to the standard output; and so does a file that holds fewer
// points than its header claims, and one whose runs in order of GPS time come
// in falling order (where the rules that do not choose by identity keep marks
// too).
TEST(Replay, MarkedSurvivorsWriteWhatEveryPointWrites) {
  lasfix::LasFile cut = replay_file();
  cut.header.number_of_point_records = (uint32_t)cut.points.size() + 40;
  lasfix::LasFile in_runs = replay_file();
  in_runs.points.resize(in_runs.points.size() - 300);  // the repeats at the end
  std::vector<Point> falling;
  for (size_t end = in_runs.points.size(), start = end; end > 0; end = start) {
    start = end > 1500 ? end - 1500 : 0;
    while (start > 0 && in_runs.points[start].gps_time == in_runs.points[start - 1].gps_time) start--;
    falling.insert(falling.end(), in_runs.points.begin() + (long)start, in_runs.points.begin() + (long)end);
  }
  in_runs.points = falling;
  const std::string inputs[] = {
      read_file(std::string(TEST_SOURCE_DIR) + "/../samples/sample.las"),
      replay_file().bytes(),
      cut.bytes(),
      in_runs.bytes(),
  };
  const std::vector<std::string> runs[] = {
      {},
      {"-highest"},
      {"-lowest", "-step", "0.5"},
      {"-closest", "-count_to_intensity"},
      {"-use_cell_center", "-count_to_user_byte"},
      {"-highest", "-use_cell_center", "-keypoint"},
      {"-random_cell_occurrence", "-seed", "4"},
      {"-intensity_max"},
      {"-every_nth", "3"},
      {"-random_nth", "4", "-seed", "6", "-keypoint"},
  };
  TempDir dir;
  for (size_t f = 0; f < std::size(inputs); f++) {
    dir.write("in.las", inputs[f]);
    for (const std::vector<std::string>& args : runs) {
      std::string shown = std::to_string(f);
      for (const std::string& a : args) shown += " " + a;
      SCOPED_TRACE(shown);
      const ShortcutAndGeneral both = run_shortcut_and_general(dir, args);
      const ToolResult& a = both.shortcut;
      const ToolResult& b = both.general;
      EXPECT_EQ(a.exit_code, b.exit_code) << a.err;
      ASSERT_TRUE(dir.exists("shortcut.las") && dir.exists("general.las"));
      const std::string& out = both.shortcut_out;
      EXPECT_TRUE(out == both.general_out);
      // A file cut short is reported either way.
      EXPECT_EQ(a.err.find("end-of-file") != std::string::npos, b.err.find("end-of-file") != std::string::npos);
      if (f != 2) {
        // A header written first: the survivors are counted as they are written.
        std::vector<std::string> piped = {"-i", dir.file("in.las"), "-stdout"};
        piped.insert(piped.end(), args.begin(), args.end());
        EXPECT_TRUE(run_voxsifter(piped).out == out);
      }
      if (f == 1 && args.empty()) {
        // The repeats of chosen points survive beside them.
        const lasfix::Parsed parsed = lasfix::parse(out);
        EXPECT_GT(parsed.points.size(), 0u);
        EXPECT_NE(std::adjacent_find(parsed.points.begin(), parsed.points.end()), parsed.points.end());
      }
    }
  }
}

// Records lent by the reader serve the first pass, and survivors decided from
// them the writing pass of the rules that cannot mark in the first pass; a
// filter that keeps every point makes the tool go point by point. Both write
// the same bytes, for formats with GPS time at either place and without it,
// with an attribute, exact repeats of points whose compared values differ,
// and points outside the header's box; the repeats come at the end (out of
// the order of GPS time, where only the records decide the survivors of some
// rules) or next to their points; and so does the standard output,
// whose header is counted before the points. Every other field of the points
// varies (classifications above 31, flags, channels, colours, wave packets),
// so that survivors written unchanged as the records they are in the file
// are seen to be what writing their points gives.
TEST(Replay, RecordShortcutsWriteWhatEveryPointWrites) {
  const std::vector<std::string> runs[] = {
      {},
      {"-highest"},
      {"-closest", "-use_cell_center"},
      {"-intensity_max"},
      {"-intensity_min", "-count_to_user_byte"},
      {"-return_max"},
      {"-attribute_min", "0"},
      {"-random_cell_occurrence", "-seed", "9"},
      {"-every_nth", "5"},
      {"-random_nth", "3", "-seed", "2", "-flatten_points"},
  };
  TempDir dir;
  for (const uint8_t format : {uint8_t(0), uint8_t(3), uint8_t(6), uint8_t(1), uint8_t(5), uint8_t(8), uint8_t(10)}) {
    const bool at_end = format != 1;
    lasfix::LasFile f = replay_file();
    f.header.version_minor = format >= 6 ? 4 : format >= 4 ? 3 : 2;
    f.header.point_data_format = format;
    if (!at_end) f.points.resize(f.points.size() - 300);
    std::vector<Point> repeats;
    for (size_t i = 0; i < 600; i += 3) {
      Point p = f.points[i * 7];
      p.intensity = (uint16_t)(p.intensity + 1 + i % 5);
      p.return_number = (uint8_t)(1 + i % 3);
      repeats.push_back(p);
    }
    if (at_end) {
      f.points.insert(f.points.end(), repeats.begin(), repeats.end());
    } else {
      // Right after its point (or after that point's own repeat): the same time.
      for (size_t k = repeats.size(); k-- > 0;) f.points.insert(f.points.begin() + (long)(k * 21 + 1), repeats[k]);
    }
    add_i32_attribute(f, "value");
    for (size_t i = 0; i < f.points.size(); i++) {
      const int32_t value = (int32_t)(i * 7 % 13);
      Point& p = f.points[i];
      Point varied = lasfix::varied_point(format, (uint32_t)i);
      varied.X = p.X;
      varied.Y = p.Y;
      varied.Z = p.Z;
      varied.gps_time = p.gps_time;
      varied.intensity = p.intensity;
      // Returns past the seventh where the format holds them.
      const bool many_returns = format >= 6 && i % 2 == 0;
      varied.return_number = (uint8_t)(p.return_number + (many_returns ? 8 : 0));
      varied.number_of_returns = many_returns ? 15 : p.number_of_returns;
      p = varied;
      p.extra_bytes.assign((const char*)&value, 4);
    }
    dir.write("in.las", f.bytes());
    for (const std::vector<std::string>& args : runs) {
      std::string shown = "format " + std::to_string(format) + (at_end ? " repeats at the end" : " repeats in place");
      for (const std::string& a : args) shown += " " + a;
      SCOPED_TRACE(shown);
      const ShortcutAndGeneral both = run_shortcut_and_general(dir, args);
      const ToolResult& a = both.shortcut;
      const ToolResult& b = both.general;
      EXPECT_EQ(a.exit_code, b.exit_code) << a.err;
      EXPECT_EQ(a.err.find("ERROR"), std::string::npos) << a.err;
      ASSERT_TRUE(dir.exists("shortcut.las") && dir.exists("general.las"));
      const std::string& out = both.shortcut_out;
      EXPECT_TRUE(out == both.general_out);
      EXPECT_GT(lasfix::parse(out).points.size(), 0u);
      // A header written first is counted by the same shortcuts, which then
      // serve the writing pass again.
      std::vector<std::string> piped = {"-i", dir.file("in.las"), "-stdout"};
      piped.insert(piped.end(), args.begin(), args.end());
      const ToolResult c = run_voxsifter(piped);
      EXPECT_EQ(c.err.find("ERROR"), std::string::npos) << c.err;
      EXPECT_TRUE(c.out == out);
    }
  }
}

// The rules that do not choose by identity keep survivor marks in the first
// pass only while points come in runs of GPS time that do not overlap. Where
// they cannot (format 0 has no time, a file followed by itself repeats its
// times, here with other values the second time, a NaN time), the writing
// pass decides each point from its record as it reads it, and a header
// written first has the survivors found in the records before it counts
// them. Either way the output is what asking about every point writes, with
// and without changes of the survivors, as records written as they lie (LAS)
// and as points read back (VMB).
TEST(Replay, SurvivorsDecidedAsReadWriteWhatEveryPointWrites) {
  lasfix::LasFile no_time = replay_file();
  no_time.header.point_data_format = 0;
  lasfix::LasFile twice = replay_file();
  const std::vector<Point> once = twice.points;
  for (size_t i = 0; i < once.size(); i++) {
    Point p = once[i];
    if (i % 3 == 0) {
      p.intensity = (uint16_t)(p.intensity + 7);
      p.return_number = (uint8_t)(3 - p.return_number);
    }
    twice.points.push_back(p);
  }
  lasfix::LasFile not_a_number = replay_file();
  not_a_number.points[2500].gps_time = std::nan("");
  lasfix::LasFile* const inputs[] = {&no_time, &twice, &not_a_number};
  for (lasfix::LasFile* f : inputs) {
    add_i32_attribute(*f, "value");
    for (size_t i = 0; i < f->points.size(); i++) {
      const int32_t value = (int32_t)(i * 7 % 13);
      f->points[i].extra_bytes.assign((const char*)&value, 4);
    }
  }
  const std::vector<std::string> runs[] = {
      {"-random_cell_occurrence", "-seed", "5"},
      {"-random_cell_occurrence", "-count_to_intensity", "-flatten_points"},
      {"-intensity_max"},
      {"-intensity_min", "-count_to_user_byte"},
      {"-return_max", "-use_cell_center"},
      {"-return_min"},
      {"-attribute_max", "0", "-keypoint"},
      {"-attribute_min", "0"},
  };
  TempDir dir;
  for (size_t f = 0; f < std::size(inputs); f++) {
    dir.write("in.las", inputs[f]->bytes());
    for (const std::vector<std::string>& args : runs) {
      for (const std::string extension : {"las", "vmb"}) {
        std::string shown = std::to_string(f) + " " + extension;
        for (const std::string& a : args) shown += " " + a;
        SCOPED_TRACE(shown);
        const ShortcutAndGeneral both = run_shortcut_and_general(dir, args, extension);
        EXPECT_EQ(both.shortcut.exit_code, both.general.exit_code) << both.shortcut.err;
        EXPECT_EQ(both.shortcut.err.find("ERROR"), std::string::npos) << both.shortcut.err;
        ASSERT_FALSE(both.shortcut_out.empty());
        EXPECT_TRUE(both.shortcut_out == both.general_out);
        if (extension != "las") continue;
        EXPECT_GT(lasfix::parse(both.shortcut_out).points.size(), 0u);
        std::vector<std::string> piped = {"-i", dir.file("in.las"), "-stdout"};
        piped.insert(piped.end(), args.begin(), args.end());
        const ToolResult c = run_voxsifter(piped);
        EXPECT_EQ(c.err.find("ERROR"), std::string::npos) << c.err;
        EXPECT_TRUE(c.out == both.shortcut_out);
      }
    }
  }
}

// ------------------------------------------------------------------ GeoKeys

U8* payload_of(const std::string& text) {
  U8* data = (U8*)malloc(text.size());
  memcpy(data, text.data(), text.size());
  return data;
}

TEST(GeoKeys, CommandLineProjectionReplacesTheRecords) {
  LASheader header;
  header.add_vlr("LASF_Projection", 34735, 16, payload_of(std::string(16, 'k')));
  header.add_vlr("LASF_Projection", 34736, 8, payload_of(std::string(8, 'd')));
  header.add_vlr("LASF_Projection", 34737, 4, payload_of(std::string("wgs", 4)));
  const U16 keys[8] = {1024, 0, 1, 1, 3072, 0, 1, 32632};
  const F64 doubles[2] = {0.5, 6378137.0};
  voxsifter_add_geo_keys(header, 2, keys, 2, doubles);
  ASSERT_EQ(header.number_of_variable_length_records, 2u);
  const LASvlrRecord* directory = header.get_vlr("LASF_Projection", 34735);
  ASSERT_NE(directory, nullptr);
  ASSERT_EQ(directory->record_length_after_header, 24);
  const U16 expected[12] = {1, 1, 0, 2, 1024, 0, 1, 1, 3072, 0, 1, 32632};
  EXPECT_EQ(memcmp(directory->data, expected, 24), 0);
  EXPECT_EQ((const U8*)header.vlr_geo_keys, directory->data);
  EXPECT_EQ(header.geo_key_entries[1].value_offset, 32632);
  const LASvlrRecord* params = header.get_vlr("LASF_Projection", 34736);
  ASSERT_NE(params, nullptr);
  EXPECT_EQ(params->record_length_after_header, 16);
  EXPECT_EQ(header.geo_double_params[1], 6378137.0);
  EXPECT_EQ(header.get_vlr("LASF_Projection", 34737), nullptr);
  EXPECT_EQ(header.offset_to_point_data, 227u + 54 + 24 + 54 + 16);

  // A projection without double parameters removes the old ones.
  voxsifter_add_geo_keys(header, 1, keys, 0, nullptr);
  EXPECT_EQ(header.number_of_variable_length_records, 1u);
  EXPECT_EQ(header.get_vlr("LASF_Projection", 34735)->record_length_after_header, 16);
  EXPECT_EQ(header.geo_double_params, nullptr);
}

TEST(GeoKeys, TooManyKeysForARecordAreNotSet) {
  LASheader header;
  std::vector<U16> keys(4 * 8192, 7);  // (8192 + 1) x 8 bytes exceed 65535
  voxsifter_add_geo_keys(header, 8192, keys.data(), 0, nullptr);
  EXPECT_EQ(header.get_vlr("LASF_Projection", 34735), nullptr);
  EXPECT_EQ(header.offset_to_point_data, 227u);
}

// ------------------------------------------------------------------ ownership

// A reader that records how it is given up.
class GivenUp : public LASreader {
 public:
  explicit GivenUp(std::vector<std::string>& log) : LASreader(nullptr), log(log) {}
  ~GivenUp() override { log.push_back("deleted"); }
  bool seek(const I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(const bool close_stream) override { log.push_back(close_stream ? "closed with stream" : "closed"); }
  bool read_point_default() override { return false; }

 private:
  std::vector<std::string>& log;
};

TEST(Ownership, OwnedReaderIsClosedWithItsStreamThenDeleted) {
  std::vector<std::string> log;
  {
    LASreaderOwner owner(new GivenUp(log));
    EXPECT_TRUE(log.empty());
  }
  EXPECT_EQ(log, (std::vector<std::string>{"closed with stream", "deleted"}));
  log.clear();
  LASreaderOwner owner(new GivenUp(log));
  owner.reset(new GivenUp(log));
  EXPECT_EQ(log, (std::vector<std::string>{"closed with stream", "deleted"}));
}

// A file refused after its first pass gives up its reader, filter and header
// there; the file after it is thinned as if it had come first.
TEST(Ownership, FileSkippedAfterItsFirstPassLeavesTheNextWhole) {
  TempDir dir;
  for (const char* d : {"d1", "d2", "d3", "out"}) ASSERT_EQ(mkdir(dir.file(d).c_str(), 0755), 0);
  const lasfix::LasFile first = rule_file();
  lasfix::LasFile last = rule_file(6);
  last.points.resize(B1 + 1);
  dir.write("d1/x.las", first.bytes());
  dir.write("d2/x.las", rule_file().bytes());
  dir.write("d3/y.las", last.bytes());
  const ToolResult r = run_voxsifter({"-i", dir.file("d1/x.las"), dir.file("d2/x.las"), dir.file("d3/y.las"), "-odir",
                                      dir.file("out"), "-errors_ignore"});
  EXPECT_EQ(r.exit_code, 3);
  const std::string refused = "ERROR: output '" + dir.file("out/x.las") + "' for '" + dir.file("d2/x.las") +
                              "' would overwrite the output for '" + dir.file("d1/x.las") + "'\n";
  EXPECT_EQ(without_times(r.err), "done with '" + dir.file("out/x.las") + "'. total time T sec.\n" + refused +
                                      "done with '" + dir.file("out/y.las") +
                                      "'. total time T sec.\ndone with all files. total time for 3 files T sec.\n");
  const lasfix::Parsed x = lasfix::parse(dir.read("out/x.las"));
  const lasfix::Parsed y = lasfix::parse(dir.read("out/y.las"));
  expect_header_matches_points(x);
  expect_header_matches_points(y);
  EXPECT_EQ(x.points, pick(first.points, {A0, B0, C0, D0}));
  EXPECT_EQ(y.header.version_minor, 4);
  EXPECT_EQ(y.points, pick(last.points, {A0, B0}));
}


}  // namespace
