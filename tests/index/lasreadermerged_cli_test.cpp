// Merged input through the built binary: the files are built and the outputs
// parsed by the independent fixture code, and every output's header is
// checked against a scan of its points. "-every_nth 1" shows the merged stream
// as it is; the voxel modes must thin it exactly as they thin one file that
// holds the same points, which only holds when both passes see that stream.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/header_scan.hpp"
#include "support/las_fixture.hpp"
#include "support/run_tool.hpp"
#include "support/temp_dir.hpp"

namespace {

using lasfix::LasFile;
using lasfix::Point;

// A point at world coordinates (scale 0.01, offset 0) with an i32 attribute.
Point at(double x, double y, double z, uint16_t intensity, int32_t value, uint8_t classification = 1) {
  Point p;
  p.X = (int32_t)std::lround(x * 100);
  p.Y = (int32_t)std::lround(y * 100);
  p.Z = (int32_t)std::lround(z * 100);
  p.intensity = intensity;
  p.classification = classification;
  p.gps_time = intensity;  // tells the points apart
  p.extra_bytes.assign((const char*)&value, 4);
  return p;
}

LasFile file_of(std::vector<Point> points, uint16_t file_source_ID = 0) {
  LasFile f;
  f.header.point_data_format = 1;
  f.header.file_source_ID = file_source_ID;
  f.extra_bytes = 4;
  lasfix::ExtraBytesAttribute value;
  value.data_type = 6;  // i32
  value.name = "value";
  f.vlrs.push_back({"LASF_Spec", 4, lasfix::extra_bytes_payload({value})});
  f.points = std::move(points);
  return f;
}

// Three files whose points share voxels of the default 2 m grid, so that
// which point wins a voxel depends on the order of the merged stream.
std::vector<LasFile> three_files() {
  return {
      file_of({at(0.5, 0.5, 0.5, 10, 3), at(2.5, 0.5, 0.5, 20, 9, 2), at(7.9, 7.9, 7.9, 30, 1)}, 11),
      file_of({at(0.6, 0.6, 1.5, 40, 8), at(2.6, 0.4, 1.9, 50, 2), at(4.5, 4.5, 4.5, 60, 5, 2)}, 12),
      file_of({at(0.7, 0.7, 0.1, 70, 9, 2), at(4.6, 4.6, 4.6, 80, 7), at(0.1, 7.5, 3.0, 90, 4)}, 13),
  };
}

// Three files side by side along x, for areas that leave out whole files.
std::vector<LasFile> files_apart() {
  return {file_of({at(0.5, 0.5, 0.5, 1, 0), at(1.5, 1.5, 1.5, 2, 0)}, 11),
          file_of({at(10.5, 0.5, 0.5, 3, 0)}, 12),
          file_of({at(20.5, 0.5, 0.5, 4, 0), at(21.5, 1.5, 0.5, 5, 0)}, 13)};
}

std::vector<Point> all_points(const std::vector<LasFile>& files) {
  std::vector<Point> points;
  for (const LasFile& f : files) points.insert(points.end(), f.points.begin(), f.points.end());
  return points;
}

class MergedCliTest : public ::testing::Test {
 protected:
  std::vector<std::string> write_all(const std::vector<LasFile>& files) {
    std::vector<std::string> names;
    for (size_t i = 0; i < files.size(); i++) {
      const std::string name = std::string(1, (char)('a' + i)) + ".las";
      dir.write(name, files[i].bytes());
      names.push_back(dir.file(name));
    }
    return names;
  }
  // Runs the tool with `input` (names or a list file), "-o out", `args`,
  // showing warnings and worse; parses out when it was written.
  lasfix::Parsed run(std::vector<std::string> input, const std::vector<std::string>& args, ToolResult& result,
                     const std::string& out = "out.las") {
    input.insert(input.end(), {"-o", dir.file(out), "-silent"});
    input.insert(input.end(), args.begin(), args.end());
    result = run_voxsifter(input);
    lasfix::Parsed parsed;
    if (!dir.exists(out)) return parsed;
    parsed = lasfix::parse(dir.read(out));
    expect_header_matches_points(parsed);
    return parsed;
  }
  std::vector<std::string> merged_input(const std::vector<std::string>& names) {
    std::vector<std::string> input = {"-i"};
    input.insert(input.end(), names.begin(), names.end());
    input.push_back("-merged");
    return input;
  }
  TempDir dir;
};

TEST_F(MergedCliTest, PointsComeInListOrderUnderTheUnionHeader) {
  const std::vector<LasFile> files = three_files();
  ToolResult r;
  const lasfix::Parsed out = run(merged_input(write_all(files)), {"-every_nth", "1"}, r);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(out.points, all_points(files));
  EXPECT_EQ(out.header.file_source_ID, 11);  // the first file's header
  EXPECT_DOUBLE_EQ(*out.header.min_x, 0.1);
  EXPECT_DOUBLE_EQ(*out.header.max_z, 7.9);
}

struct SameStreamCase {
  const char* name;
  std::vector<std::string> args;
};

void PrintTo(const SameStreamCase& c, std::ostream* os) { *os << c.name; }

class SameStreamTest : public MergedCliTest, public ::testing::WithParamInterface<SameStreamCase> {};

TEST_P(SameStreamTest, VoxelModesThinTheMergedStreamLikeOneFile) {
  const std::vector<LasFile> files = three_files();
  const std::vector<std::string> names = write_all(files);
  LasFile one = files[0];
  one.points = all_points(files);
  dir.write("one.las", one.bytes());
  ToolResult merged_run, one_run;
  const lasfix::Parsed merged = run(merged_input(names), GetParam().args, merged_run);
  const lasfix::Parsed single = run({"-i", dir.file("one.las")}, GetParam().args, one_run, "one_out.las");
  EXPECT_EQ(merged_run.exit_code, 0) << merged_run.err;
  EXPECT_EQ(one_run.exit_code, 0) << one_run.err;
  EXPECT_FALSE(merged.points.empty());
  EXPECT_EQ(merged.points, single.points);
}

INSTANTIATE_TEST_SUITE_P(
    Merged, SameStreamTest,
    ::testing::Values(SameStreamCase{"first", {}}, SameStreamCase{"highest", {"-highest"}},
                      SameStreamCase{"random", {"-random_cell_occurrence", "-seed", "5"}},
                      // Needs the merged points to read attributes through the header's table.
                      SameStreamCase{"attribute_max", {"-attribute_max", "0"}},
                      SameStreamCase{"inside", {"-inside", "0", "0", "4.55", "8"}},
                      SameStreamCase{"ignore_class", {"-ignore_class", "2", "-lowest"}},
                      SameStreamCase{"count", {"-count_to_intensity", "-step", "4"}}),
    [](const ::testing::TestParamInfo<SameStreamCase>& info) { return std::string(info.param.name); });

struct SourceCase {
  const char* name;
  std::vector<std::string> args;
  bool from_list;  // a list file giving the IDs 7, 8 and 9
  bool apart;      // the files of files_apart()
  std::vector<uint16_t> ids;  // of the points of each file written
};

void PrintTo(const SourceCase& c, std::ostream* os) { *os << c.name; }

class SourceTest : public MergedCliTest, public ::testing::WithParamInterface<SourceCase> {};

TEST_P(SourceTest, PointSourceIDsPerFile) {
  const SourceCase& c = GetParam();
  const std::vector<LasFile> files = c.apart ? files_apart() : three_files();
  const std::vector<std::string> names = write_all(files);
  std::vector<std::string> input = merged_input(names);
  if (c.from_list) {
    dir.write("list.txt", "7," + names[0] + "\n8," + names[1] + "\n9," + names[2] + "\n");
    input = {"-lof", dir.file("list.txt"), "-merged"};
  }
  std::vector<std::string> args = {"-every_nth", "1"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  ToolResult r;
  const lasfix::Parsed out = run(input, args, r);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::vector<Point> expected;
  for (size_t f = 0; f < files.size(); f++) {
    if (c.ids[f] == 0) continue;  // the file lies outside the area
    for (Point p : files[f].points) {
      p.point_source_ID = c.ids[f];
      expected.push_back(p);
    }
  }
  EXPECT_EQ(out.points, expected);
  EXPECT_EQ(out.header.file_source_ID, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Merged, SourceTest,
    ::testing::Values(SourceCase{"faf", {"-faf"}, false, false, {1, 2, 3}},
                      SourceCase{"faf_from_5", {"-faf", "5"}, false, false, {5, 6, 7}},
                      SourceCase{"faf_with_ids", {"-faf"}, true, false, {8, 9, 10}},
                      // The area skips the first file; the others keep the value of their place.
                      SourceCase{"faf_first_skipped", {"-faf", "-inside", "5", "0", "30", "10"}, false, true, {0, 2, 3}},
                      SourceCase{"apply_file_source_ID", {"-apply_file_source_ID"}, false, false, {11, 12, 13}}),
    [](const ::testing::TestParamInfo<SourceCase>& info) { return std::string(info.param.name); });

// x from 0 to 1e8 does not fit 32 bits at 0.01: the scale factor becomes 0.1
// and both files' points are re-quantised to it (the second file's offset
// differs too), every coordinate a multiple of 0.1 staying exact.
TEST_F(MergedCliTest, EnlargedBoxWidensTheScaleFactor) {
  LasFile near = file_of({at(0, 1, 1, 1, 0), at(12.3, 2, 2, 2, 0)});
  LasFile far = file_of({});
  far.header.x_offset = 99999900;
  for (int32_t raw : {0, 5000, 10000}) {
    Point p = at(0, 3, 3, 3, 0);
    p.X = raw;  // x 99999900, 99999950 and 1e8
    far.points.push_back(p);
  }
  ToolResult r;
  const lasfix::Parsed out = run(merged_input(write_all({near, far})), {"-every_nth", "1"}, r);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "WARNING: i changed x_scale_factor from 0.01 to 0.1 to accommodate enlarged bounding box\n");
  EXPECT_DOUBLE_EQ(out.header.x_scale_factor, 0.1);
  EXPECT_DOUBLE_EQ(out.header.x_offset, 0);
  std::vector<int32_t> X;
  for (const Point& p : out.points) X.push_back(p.X);
  EXPECT_EQ(X, (std::vector<int32_t>{0, 123, 999999000, 999999500, 1000000000}));
}

// A file outside the area is not read: its point data is cut short, which
// gives a warning only when it is read.
TEST_F(MergedCliTest, FilesOutsideTheAreaAreNotRead) {
  LasFile inside = file_of({at(1, 1, 1, 1, 0), at(2, 2, 2, 2, 0)});
  LasFile broken = file_of({at(50, 50, 1, 3, 0), at(51, 51, 1, 4, 0)});
  broken.header.number_of_point_records = 5;
  const std::vector<std::string> names = write_all({inside, broken});
  ToolResult r;
  lasfix::Parsed out = run(merged_input(names), {"-every_nth", "1", "-inside", "0", "0", "10", "10"}, r);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(out.points, inside.points);
  out = run(merged_input(names), {"-every_nth", "1"}, r);
  EXPECT_EQ(r.err, "WARNING: end-of-file after 2 of 5 points for '" + names[1] + "'\n");
  EXPECT_EQ(out.points.size(), 4u);
}

TEST_F(MergedCliTest, PointsOfOtherTypesTakeTheFirstFilesLayout) {
  LasFile first = file_of({at(1, 1, 1, 1, 5)});
  LasFile coloured = file_of({at(2, 2, 2, 2, 6)});
  coloured.header.point_data_format = 3;
  coloured.points[0].red = 1000;
  ToolResult r;
  const lasfix::Parsed out = run(merged_input(write_all({first, coloured})), {"-every_nth", "1"}, r);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err,
            "WARNING: files have different point types: 1 vs 3\n"
            "WARNING: files have different point sizes: 32 vs 38\n");
  EXPECT_EQ(out.header.point_data_format, 1);
  Point expected = coloured.points[0];
  expected.red = 0;  // format 1 has no colour
  EXPECT_EQ(out.points, (std::vector<Point>{first.points[0], expected}));
}

TEST_F(MergedCliTest, CoresKeepMergedInputInThisProcess) {
  const std::vector<LasFile> files = three_files();
  ToolResult r;
  const lasfix::Parsed out = run(merged_input(write_all(files)), {"-every_nth", "1", "-cores", "4"}, r);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "WARNING: input files merged on-the-fly. ignoring '-cores 4' ...\n");
  EXPECT_EQ(out.points, all_points(files));
}

TEST_F(MergedCliTest, InputsThatCannotBeMerged) {
  const std::string a = write_all({file_of({at(1, 1, 1, 1, 0)})})[0];
  dir.write("b.bin", "binary");
  const std::string bin = dir.file("b.bin");
  const std::string missing = dir.file("missing.las");
  struct Case {
    std::vector<std::string> input;
    std::string err;
  } cases[] = {
      {{"-i", a, bin, "-merged"}, "ERROR: cannot mix LAS with BIN. skipping '" + bin + "' ...\n"},
      {{"-i", bin, a, "-merged"}, "ERROR: cannot mix BIN with LAS. skipping '" + a + "' ...\n"},
      {{"-i", a, missing, "-merged"}, "ERROR: file '" + missing + "' cannot be opened\n"},
      {{"-i", missing, missing, "-merged", "-errors_ignore"},
       "ERROR: file '" + missing + "' cannot be opened\nERROR: file '" + missing +
           "' cannot be opened\nERROR: no valid file names\nERROR: cannot open lasreadermerged with 2 file "
           "names\nERROR: could not open lasreader\n"},
      // The foreign readers are not built: merged BIN input fails as one file would.
      {{"-i", bin, bin, "-merged"}, "ERROR: could not open lasreaderbin for file '" + bin + "'\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    ToolResult r;
    run(c.input, {}, r);
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(r.err, c.err);
    EXPECT_FALSE(dir.exists("out.las"));
  }
}

// The output may not land on any of the merged files, with or without
// halting on errors: the file would be truncated before it is read.
TEST_F(MergedCliTest, OutputIsNeverWrittenOverAMergedFile) {
  const std::vector<std::string> names = write_all(three_files());
  const std::string before = read_file(names[2]);
  for (const char* halting : {"-silent", "-errors_ignore"}) {
    SCOPED_TRACE(halting);
    const ToolResult r = run_voxsifter({"-i", names[0], names[1], names[2], "-merged", "-o", names[2], halting});
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(r.err.rfind("ERROR: input and output file name are identical\n", 0), 0u) << r.err;
    EXPECT_EQ(read_file(names[2]), before);
  }
}

}  // namespace
