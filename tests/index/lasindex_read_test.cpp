// Area reads through a `.lax` index beside a LAS file: the same points as a
// read without it, only the listed runs read, and bad or hostile indexes
// ending in their messages or in reads that finish.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/lasmessage.hpp"
#include "core/lasreader.hpp"
#include "core/lasreadopener.hpp"
#include "support/arg_vector.hpp"
#include "support/every_point.hpp"
#include "support/las_fixture.hpp"
#include "support/lax_fixture.hpp"
#include "support/run_tool.hpp"
#include "support/temp_dir.hpp"

namespace {

using XY = std::pair<int32_t, int32_t>;

// Scale 0.01 and offset 0: raw X = 100 x.
lasfix::LasFile las_of(const std::vector<XY>& xy) {
  lasfix::LasFile f;
  for (size_t i = 0; i < xy.size(); i++) {
    lasfix::Point p;
    p.X = xy[i].first;
    p.Y = xy[i].second;
    p.Z = (int32_t)i;
    f.points.push_back(p);
  }
  return f;
}

std::vector<std::pair<double, double>> world(const std::vector<XY>& xy) {
  std::vector<std::pair<double, double>> w;
  for (const XY& p : xy) w.push_back({p.first * 0.01, p.second * 0.01});
  return w;
}

// Points of a 5000-point file over [0,100]^2 in scan stripes: a grid through
// the cell midpoints down to level 5 and the root's max edges, and scattered
// points, so that cells hold many runs with gaps of every size.
std::vector<XY> scan_points() {
  std::vector<XY> xy;
  uint32_t state = 12345;
  auto next = [&state](uint32_t n) {
    state = state * 1103515245u + 12345u;
    return (state >> 8) % n;
  };
  for (int stripe = 0; stripe < 8; stripe++) {
    for (int i = 0; i <= 32; i++) {
      for (int j = stripe * 4; j < stripe * 4 + 4 + (stripe == 7); j++) xy.push_back({i * 3125 / 10, j * 3125 / 10});
    }
    while (xy.size() < (size_t)(stripe + 1) * 625) xy.push_back({(int32_t)next(10001), (int32_t)(stripe * 1250 + next(1251))});
  }
  return xy;
}

class LaxReadTest : public ::testing::Test {
 protected:
  void SetUp() override { halt_on_error(false); }
  void TearDown() override { halt_on_error(true); }

  // The points read from `name` with these options, twice (the second pass
  // through reopen must agree); stderr must stay empty.
  std::vector<XY> read(const std::string& name, const std::vector<std::string>& options, bool* indexed = nullptr) {
    std::vector<std::string> words = {"-i", temp.file(name)};
    words.insert(words.end(), options.begin(), options.end());
    return read_words(words, indexed);
  }
  std::vector<XY> read_words(const std::vector<std::string>& words, bool* indexed = nullptr) {
    ArgVector args(words);
    LASreadOpener opener;
    EXPECT_TRUE(opener.parse(args.argc(), args.argv(), true));
    ::testing::internal::CaptureStderr();
    std::unique_ptr<LASreader> reader(opener.open());
    std::vector<XY> seen;
    if (reader) {
      if (indexed) *indexed = reader->get_index() != nullptr;
      seen = read_all(reader.get());
      EXPECT_TRUE(opener.reopen(reader.get()));
      if (indexed) *indexed = *indexed && reader->get_index() != nullptr;
      EXPECT_EQ(read_all(reader.get()), seen) << "second pass";
      reader->close();
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    return seen;
  }
  static std::vector<XY> read_all(LASreader* reader) {
    std::vector<XY> seen;
    while (reader->read_point()) seen.push_back({reader->point.X, reader->point.Y});
    return seen;
  }
  TempDir temp;
};

const std::vector<std::vector<std::string>> QUERIES = {
    {"-inside", "25", "25", "50", "50"},         // on midpoints of levels 1 to 3
    {"-inside", "75", "75", "100.5", "100.5"},   // over the max edges
    {"-inside", "12.5", "12.5", "12.51", "12.51"},
    {"-inside", "0", "0", "100", "100"},
    {"-inside", "200", "200", "300", "300"},     // outside the file
    {"-inside_tile", "50", "50", "25"},
    {"-inside_tile", "37.5", "0", "12.5"},
    {"-inside_tile", "99", "99", "2"},
    {"-inside_circle", "50", "50", "12.5"},      // grid points on the radius
    {"-inside_circle", "0", "0", "30"},
    {"-inside_circle", "100", "100", "0.5"},
    {"-inside_circle", "43.75", "43.75", "3.125"},
};

TEST_F(LaxReadTest, QueriesReadTheSamePointsWithAndWithoutTheIndex) {
  const std::vector<XY> xy = scan_points();
  const std::string las = las_of(xy).bytes();
  temp.write("plain.las", las);
  for (uint32_t levels : {0u, 3u, 5u}) {
    temp.write("indexed.las", las);
    temp.write("indexed.lax", laxfix::index_points(world(xy), levels, 0, 100, 0, 100).bytes());
    for (const auto& q : QUERIES) {
      const std::string name = std::to_string(levels) + " levels: " + q[0] + " " + q[1] + " " + q[2];
      bool indexed = false;
      const std::vector<XY> want = read("plain.las", q);
      EXPECT_EQ(read("indexed.las", q, &indexed), want) << name;
      EXPECT_TRUE(indexed) << name;
    }
  }
  // The grid point on the max corner is read by the query over the edges.
  const std::vector<XY> edges = read("indexed.las", QUERIES[1]);
  EXPECT_NE(std::find(edges.begin(), edges.end(), XY(10000, 10000)), edges.end());
}

// Three blocks: 10 points in cell 5 (near (10,10)), 10 in cell 6 (near
// (30,10)), each followed by 1500 points far away in cell 20.
struct Blocks {
  std::vector<XY> xy;
  uint32_t far_start = 10;  // the first far run: points 10 to 1509
};
Blocks blocks() {
  Blocks b;
  for (int k = 0; k < 10; k++) b.xy.push_back({1000 + 10 * k, 1000 + k});
  for (int k = 0; k < 1500; k++) b.xy.push_back({9000 + k % 100, 9000 + k / 100});
  for (int k = 0; k < 10; k++) b.xy.push_back({3000 + 10 * k, 1000 + k});
  for (int k = 0; k < 1500; k++) b.xy.push_back({9000 + k % 100, 9100 + k / 100});
  return b;
}

TEST_F(LaxReadTest, OnlyTheListedRunsAreRead) {
  const Blocks b = blocks();
  temp.write("in.las", las_of(b.xy).bytes());
  const std::vector<std::string> both = {"-inside", "5", "5", "45", "20"};
  const std::vector<XY> first(b.xy.begin(), b.xy.begin() + 10);
  const std::vector<XY> second(b.xy.begin() + 1510, b.xy.begin() + 1520);
  std::vector<XY> all = first;
  all.insert(all.end(), second.begin(), second.end());
  ASSERT_EQ(read("in.las", both), all);

  struct Case {
    const char* name;
    std::vector<laxfix::Cell> cells;
    std::vector<XY> want;
  };
  const Case cases[] = {
      {"both cells", {{5, {{0, 9}}}, {6, {{1510, 1519}}}, {20, {{10, 1509}, {1520, 3019}}}}, all},
      // Without the index the second block would be read: it is missing.
      {"cell 6 left out", {{5, {{0, 9}}}, {20, {{10, 1509}, {1520, 3019}}}}, first},
      // A distant run listed for cell 5 is read, and its points dropped.
      {"a far run in cell 5", {{5, {{0, 9}, {10, 1509}}}, {6, {{1510, 1519}}}}, all},
      {"runs past the last point", {{5, {{0, 9}}}, {6, {{1510, 5000}}}, {7, {{4000, 4001}}}}, all},
      {"a run ending before its start", {{5, {{9, 0}}}, {6, {{1515, 1510}}}}, {first.back(), second[5]}},
  };
  for (const Case& c : cases) {
    laxfix::Lax lax;
    lax.cells = c.cells;
    temp.write("in.lax", lax.bytes());
    EXPECT_EQ(read("in.las", both), c.want) << c.name;
  }
}

TEST_F(LaxReadTest, MergedFilesUseTheirOwnIndexes) {
  const Blocks b = blocks();
  temp.write("a.las", las_of(b.xy).bytes());
  temp.write("b.las", las_of(b.xy).bytes());
  laxfix::Lax lax;
  lax.cells = {{5, {{0, 9}}}, {20, {{10, 1509}, {1520, 3019}}}};  // cell 6 left out
  temp.write("a.lax", lax.bytes());
  std::vector<XY> want(b.xy.begin(), b.xy.begin() + 10);
  want.insert(want.end(), b.xy.begin(), b.xy.begin() + 10);
  want.insert(want.end(), b.xy.begin() + 1510, b.xy.begin() + 1520);
  EXPECT_EQ(read_words({"-i", temp.file("a.las"), temp.file("b.las"), "-merged", "-inside", "5", "5", "45", "20"}),
            want);
}

// ------------------------------------------------------------------ the tool

// Runs under a timeout: a read that never ends fails.
constexpr int TIMEOUT = 30;

TEST(LaxCli, BadIndexesEndTheRunWithTheirMessages) {
  TempDir dir;
  const Blocks b = blocks();
  dir.write("in.las", las_of(b.xy).bytes());
  laxfix::Lax wrong;
  wrong.signature = "LASY";
  laxfix::Lax type;
  type.spatial_type = 1;
  const std::string lax = dir.file("in.lax");
  const std::vector<std::string> area = {"-inside", "5", "5", "45", "20"};
  // Halting on errors: the first message ends the run.
  dir.write("in.lax", wrong.bytes());
  Thinned run = run_every_point(dir, area, TIMEOUT);
  EXPECT_EQ(run.result.exit_code, 3);
  EXPECT_EQ(run.result.err, "ERROR: (LASindex): wrong signature LASY instead of 'LASX'\n");
  // Without halting, every level reports once (the reopen for the second pass
  // does not look for the index again) and the file is read without index.
  struct Case {
    const char* name;
    std::string bytes;
    std::string err;
  };
  const Case cases[] = {
      {"wrong signature", wrong.bytes(),
       "ERROR: (LASindex): wrong signature LASY instead of 'LASX'\nERROR: (LASindex): cannot read '" + lax + "'\n"},
      {"spatial type 1", type.bytes(),
       "ERROR: (LASquadtree): unknown LASspatial type 1\nERROR: (LASindex): cannot read LASspatial (LASquadtree)\n"
       "ERROR: (LASindex): cannot read '" + lax + "'\n"},
  };
  std::vector<std::string> ignoring = area;
  ignoring.push_back("-errors_ignore");
  for (const Case& c : cases) {
    dir.write("in.lax", c.bytes);
    run = run_every_point(dir, ignoring, TIMEOUT);
    EXPECT_EQ(run.result.exit_code, 3) << c.name;
    EXPECT_EQ(run.result.err, c.err) << c.name;
    EXPECT_EQ(run.points.size(), 20u) << c.name;
  }
  // A missing index is silent.
  std::remove(lax.c_str());
  run = run_every_point(dir, area, TIMEOUT);
  EXPECT_EQ(run.result.exit_code, 0);
  EXPECT_EQ(run.result.err, "");
}

TEST(LaxCli, ReadsThroughACutFileEnd) {
  // The file ends inside point 1515; the index lists runs beyond it.
  TempDir dir;
  const Blocks b = blocks();
  const lasfix::Built built = las_of(b.xy).build();
  dir.write("in.las", built.bytes.substr(0, built.point_position(1515) + 7));
  laxfix::Lax lax;
  lax.cells = {{5, {{0, 9}}}, {6, {{1510, 1519}}}, {7, {{2000, 2500}}}};
  dir.write("in.lax", lax.bytes());
  const Thinned run = run_every_point(dir, {"-inside", "5", "5", "45", "20", "-errors_ignore"}, TIMEOUT);
  ASSERT_GE(run.result.exit_code, 0) << "timed out";
  std::vector<XY> seen;
  for (const lasfix::Point& p : run.points) seen.push_back({p.X, p.Y});
  std::vector<XY> want(b.xy.begin(), b.xy.begin() + 10);
  want.insert(want.end(), b.xy.begin() + 1510, b.xy.begin() + 1515);
  EXPECT_EQ(seen, want);
}

}  // namespace

namespace {

// The index inside a compressed file: an EVLR of the suite (record 30) that
// the compressor record lists among its special records.
TEST(LaxCli, IndexRecordInsideACompressedFile) {
  TempDir dir;
  const Blocks b = blocks();
  dir.write("in.las", las_of(b.xy).bytes());
  ToolRun compress;
  compress.args = {"-i", dir.file("in.las"), "-every_nth", "1", "-silent", "-o", dir.file("in.vmb")};
  ASSERT_EQ(run_tool(compress).exit_code, 0);
  std::string vmb = dir.read("in.vmb");
  const size_t user_id = vmb.find("vembra encoded");
  ASSERT_NE(user_id, std::string::npos);
  const size_t payload = user_id - 2 + 54;  // the compressor record's payload

  // Cell 6 is left out: its block is missing when the record is used.
  laxfix::Lax lax;
  lax.cells = {{5, {{0, 9}}}, {20, {{10, 1509}, {1520, 3019}}}};
  const std::string index = lax.bytes();
  const size_t evlr = vmb.size();
  std::string header(60, '\0');
  header.replace(2, 8, "Pelkarts");
  lasfix::put_u16(header, 18, 30);
  lasfix::put_u64(header, 20, index.size());
  vmb += header + index;
  lasfix::put_u64(vmb, payload + 16, 1);
  lasfix::put_u64(vmb, payload + 24, evlr);
  dir.write("in.vmb", vmb);

  ToolRun query;
  query.timeout_seconds = 30;
  query.args = {"-i", dir.file("in.vmb"), "-inside", "5", "5", "45", "20", "-every_nth", "1", "-silent",
                "-o", dir.file("out.las")};
  const ToolResult result = run_tool(query);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
  std::vector<XY> seen;
  for (const lasfix::Point& p : lasfix::parse(dir.read("out.las")).points) seen.push_back({p.X, p.Y});
  EXPECT_EQ(seen, std::vector<XY>(b.xy.begin(), b.xy.begin() + 10));
}

}  // namespace
