// Tiles with neighbour buffers through the built binary: three tiles side by
// side whose borders cut through voxels. With a buffer every tile decides its
// edge voxels with all their points and writes only its own survivors, so the
// three outputs together are the output of one file holding all three tiles.
// Files are built and outputs parsed by the independent fixture code; every
// output's header is checked against a scan of its points.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "support/header_scan.hpp"
#include "support/las_fixture.hpp"
#include "support/run_tool.hpp"
#include "support/temp_dir.hpp"

namespace {

using lasfix::LasFile;
using lasfix::Point;

constexpr double BUFFER = 10;

// A point at world x and y (scale 0.01, offset 0); GPS time and intensity tell
// the points apart. Heights (scale 0.001) differ from point to point, so that
// the highest and lowest point of a voxel do not depend on the order the
// points come in, and lie within one 2 m layer.
Point at(double x, double y, uint32_t id) {
  Point p;
  p.X = (int32_t)std::lround(x * 100);
  p.Y = (int32_t)std::lround(y * 100);
  p.Z = (int32_t)(id * 7919 % 1300);
  p.intensity = (uint16_t)id;
  p.gps_time = id;
  return p;
}

double x_of(const Point& p) { return p.X * 0.01; }
double y_of(const Point& p) { return p.Y * 0.01; }

struct Tile {
  double min_x, max_x;
  LasFile file;
};

// Tiles x 0-31, 31-61 and 61-90 (y 0-20), whose borders at 31 and 61 cut
// through 2 m voxels. Each tile has a point at its lower corner, and no tile
// has points with x in [21, 22) or [51, 52), so that the box of each tile with
// its buffer starts on the 2 m grid of the three tiles together (x 0, 22 and
// 52): the voxels of a buffered tile are those of one file.
std::vector<Tile> three_tiles() {
  const double borders[4] = {0, 31, 61, 90};
  std::vector<Tile> tiles(3);
  uint32_t id = 0;
  uint32_t state = 12345;
  auto next = [&state]() {
    state = state * 1103515245u + 12345u;
    return (state >> 8) & 0xFFFF;
  };
  for (int t = 0; t < 3; t++) {
    Tile& tile = tiles[t];
    tile.min_x = borders[t];
    tile.max_x = 0;
    tile.file.header.point_data_format = 1;
    tile.file.header.z_scale_factor = 0.001;
    tile.file.points.push_back(at(borders[t], 0, id++));
    while (tile.file.points.size() < 400) {
      const double x = std::floor(borders[t] * 100 + next() % (uint32_t)((borders[t + 1] - borders[t]) * 100)) / 100;
      if ((x >= 21 && x < 22) || (x >= 51 && x < 52)) continue;
      const double y = (next() % 2000) / 100.0;
      tile.file.points.push_back(at(x, y, id++));
    }
    for (const Point& p : tile.file.points) tile.max_x = std::max(tile.max_x, x_of(p));
  }
  tiles[0].file.points.push_back(at(22, 5, id++));
  tiles[1].file.points.push_back(at(52, 5, id++));
  return tiles;
}

// Points of the other tiles within the buffer of tile t.
std::vector<Point> buffer_of(const std::vector<Tile>& tiles, size_t t) {
  std::vector<Point> points;
  for (size_t o = 0; o < tiles.size(); o++) {
    if (o == t) continue;
    for (const Point& p : tiles[o].file.points) {
      const double x = x_of(p), y = y_of(p);
      if (x >= tiles[t].min_x - BUFFER && x < tiles[t].max_x + BUFFER && y >= -BUFFER && y < 20 + BUFFER) {
        points.push_back(p);
      }
    }
  }
  return points;
}

std::vector<Point> sorted(std::vector<Point> points) {
  std::sort(points.begin(), points.end(), [](const Point& a, const Point& b) { return a.gps_time < b.gps_time; });
  return points;
}

// The run's INFO lines with the timings taken out.
std::string without_times(const std::string& err) {
  std::string out;
  std::istringstream lines(err);
  for (std::string line; std::getline(lines, line);) {
    const size_t at = line.find("total time");
    const size_t sec = line.rfind(" sec");
    if (at != std::string::npos && sec != std::string::npos && sec > at) {
      const size_t number = line.rfind(' ', sec - 1);  // the seconds are the last word before " sec"
      line.replace(number + 1, sec - number - 1, "T");
    }
    out += line + '\n';
  }
  if (!err.empty() && err.back() != '\n') out.pop_back();
  return out;
}

class BufferedCliTest : public ::testing::Test {
 protected:
  std::vector<std::string> write_all(const std::vector<Tile>& tiles) {
    std::vector<std::string> names;
    for (size_t i = 0; i < tiles.size(); i++) {
      const std::string name = "t" + std::to_string(i + 1) + ".las";
      dir.write(name, tiles[i].file.bytes());
      names.push_back(dir.file(name));
    }
    return names;
  }
  // The output of each tile ("t1_b.las" for the appendix "_b"), parsed and
  // checked against its header.
  std::vector<lasfix::Parsed> outputs(const std::string& appendix) {
    std::vector<lasfix::Parsed> parsed;
    for (int i = 1; i <= 3; i++) {
      const std::string name = "t" + std::to_string(i) + appendix + ".las";
      if (!dir.exists(name)) {
        ADD_FAILURE() << name << " not written";
        continue;
      }
      parsed.push_back(lasfix::parse(dir.read(name)));
      expect_header_matches_points(parsed.back());
    }
    return parsed;
  }
  ToolResult run(const std::vector<std::string>& names, const std::vector<std::string>& args) {
    std::vector<std::string> all = {"-i"};
    all.insert(all.end(), names.begin(), names.end());
    all.insert(all.end(), args.begin(), args.end());
    return run_voxsifter(all);
  }
  TempDir dir;
};

TEST_F(BufferedCliTest, EachTileWritesItsOwnPointsOnly) {
  const std::vector<Tile> tiles = three_tiles();
  const ToolResult r = run(write_all(tiles), {"-buffered", "10", "-step", "2", "-odix", "_b", "-silent"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::vector<lasfix::Parsed> out = outputs("_b");
  ASSERT_EQ(out.size(), 3u);
  for (size_t t = 0; t < 3; t++) {
    SCOPED_TRACE("tile " + std::to_string(t + 1));
    EXPECT_FALSE(out[t].points.empty());
    for (const Point& p : out[t].points) {
      EXPECT_NE(std::find(tiles[t].file.points.begin(), tiles[t].file.points.end(), p), tiles[t].file.points.end());
    }
  }
}

class SameSurvivorsTest : public BufferedCliTest, public ::testing::WithParamInterface<const char*> {};

// The rules whose survivor does not depend on the order of the points.
TEST_P(SameSurvivorsTest, TilesWithBuffersThinLikeOneFile) {
  const std::vector<Tile> tiles = three_tiles();
  const std::vector<std::string> names = write_all(tiles);
  LasFile one = tiles[0].file;
  for (size_t t = 1; t < 3; t++)
    one.points.insert(one.points.end(), tiles[t].file.points.begin(), tiles[t].file.points.end());
  dir.write("one.las", one.bytes());
  ToolResult r =
      run_voxsifter({"-i", dir.file("one.las"), "-step", "2", GetParam(), "-o", dir.file("one_out.las"), "-silent"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::vector<Point> expected = sorted(lasfix::parse(dir.read("one_out.las")).points);

  r = run(names, {"-buffered", "10", "-step", "2", GetParam(), "-odix", "_b", "-silent"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::vector<Point> survivors;
  for (const lasfix::Parsed& p : outputs("_b")) survivors.insert(survivors.end(), p.points.begin(), p.points.end());
  EXPECT_EQ(sorted(survivors), expected);

  // Without the buffer the voxels cut by the borders get a survivor on each
  // side: the fixture does reach the edges.
  r = run(names, {"-step", "2", GetParam(), "-odix", "_n", "-silent"});
  survivors.clear();
  for (const lasfix::Parsed& p : outputs("_n")) survivors.insert(survivors.end(), p.points.begin(), p.points.end());
  EXPECT_NE(sorted(survivors), expected);
}

INSTANTIATE_TEST_SUITE_P(Buffered, SameSurvivorsTest, ::testing::Values("-highest", "-lowest", "-closest"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param + 1); });

// With -remain_buffered the buffer points are written after the tile's own,
// and each tile says how many it added.
TEST_F(BufferedCliTest, RemainBufferedWritesTheBufferToo) {
  const std::vector<Tile> tiles = three_tiles();
  const std::vector<std::string> names = write_all(tiles);
  const ToolResult r = run(names, {"-buffered", "10", "-remain_buffered", "-every_nth", "1", "-odix", "_r"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::string expected_err;
  const std::vector<lasfix::Parsed> out = outputs("_r");
  ASSERT_EQ(out.size(), 3u);
  for (size_t t = 0; t < 3; t++) {
    SCOPED_TRACE("tile " + std::to_string(t + 1));
    std::vector<Point> expected = tiles[t].file.points;
    const std::vector<Point> buffer = buffer_of(tiles, t);
    expected.insert(expected.end(), buffer.begin(), buffer.end());
    EXPECT_EQ(out[t].points, expected);
    // The tile's own counts and bounds go along for a later removal.
    ASSERT_EQ(out[t].vlrs.size(), 1u);
    const lasfix::Original original = lasfix::parse_original(out[t].vlrs[0].payload);
    EXPECT_EQ(original.number_of_point_records, (int64_t)tiles[t].file.points.size());
    EXPECT_DOUBLE_EQ(original.min_x, tiles[t].min_x);
    EXPECT_DOUBLE_EQ(original.max_x, tiles[t].max_x);
    expected_err += "LASreaderBuffered: adding " + std::to_string(buffer.size()) + " buffer points.\ndone with '" +
                    dir.file("t" + std::to_string(t + 1) + "_r.las") + "'. total time T sec.\n";
  }
  expected_err += "done with all files. total time for 3 files T sec.\n";
  EXPECT_EQ(without_times(r.err), expected_err);
}

// A list file with bounds decides the neighbours by the listed rectangles: a
// tile listed far away is no neighbour of any, nor has it any.
TEST_F(BufferedCliTest, ListedBoundsPickTheNeighbours) {
  const std::vector<Tile> tiles = three_tiles();
  const std::vector<std::string> names = write_all(tiles);
  struct Case {
    const char* name;
    bool far;
  } cases[] = {{"true_bounds", false}, {"second_listed_far", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string list;
    for (size_t t = 0; t < 3; t++) {
      const double shift = c.far && t == 1 ? 1000 : 0;
      char line[256];
      snprintf(line, sizeof(line), "%zu,%zu,%g,0,%g,20,", t + 7, tiles[t].file.points.size(), tiles[t].min_x + shift,
               tiles[t].max_x + shift);
      list += line + names[t] + "\n";
    }
    dir.write("tiles.txt", list);
    const ToolResult r = run_voxsifter(
        {"-lof", dir.file("tiles.txt"), "-buffered", "10", "-remain_buffered", "-every_nth", "1", "-odix", "_l"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    std::string expected_err;
    const std::vector<lasfix::Parsed> out = outputs("_l");
    ASSERT_EQ(out.size(), 3u);
    for (size_t t = 0; t < 3; t++) {
      std::vector<Point> expected = tiles[t].file.points;
      if (!c.far) {
        const std::vector<Point> buffer = buffer_of(tiles, t);
        expected.insert(expected.end(), buffer.begin(), buffer.end());
        expected_err += "LASreaderBuffered: adding " + std::to_string(buffer.size()) + " buffer points.\n";
      }
      EXPECT_EQ(out[t].points, expected) << "tile " << t + 1;
      expected_err += "done with '" + dir.file("t" + std::to_string(t + 1) + "_l.las") + "'. total time T sec.\n";
    }
    expected_err += "done with all files. total time for 3 files T sec.\n";
    EXPECT_EQ(without_times(r.err), expected_err);
  }
}

// An area keeps to its points, buffer points included.
TEST_F(BufferedCliTest, AreaLimitsBufferPointsToo) {
  const std::vector<Tile> tiles = three_tiles();
  const ToolResult r = run(write_all(tiles), {"-buffered", "10", "-remain_buffered", "-every_nth", "1", "-inside", "32",
                                              "5", "40", "15", "-odix", "_a", "-silent"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const std::vector<lasfix::Parsed> out = outputs("_a");
  ASSERT_EQ(out.size(), 3u);
  for (size_t t = 0; t < 3; t++) {
    std::vector<Point> expected = tiles[t].file.points;
    const std::vector<Point> buffer = buffer_of(tiles, t);
    expected.insert(expected.end(), buffer.begin(), buffer.end());
    expected.erase(
        std::remove_if(expected.begin(), expected.end(),
                       [](const Point& p) { return !(x_of(p) >= 32 && x_of(p) < 40 && y_of(p) >= 5 && y_of(p) < 15); }),
        expected.end());
    EXPECT_EQ(out[t].points, expected) << "tile " << t + 1;
  }
  EXPECT_FALSE(out[0].points.empty());  // tile 1 reaches into the area through its buffer only
  EXPECT_TRUE(out[2].points.empty());
}

TEST_F(BufferedCliTest, TilesAndNeighboursThatCannotBeRead) {
  const std::vector<Tile> tiles = three_tiles();
  const std::vector<std::string> names = write_all(tiles);
  dir.write("broken.las", "no header here");
  const std::string broken = dir.file("broken.las");
  const std::string missing = dir.file("missing.las");
  struct Case {
    const char* name;
    std::vector<std::string> input;
    std::string err;
    std::vector<std::string> written;
  } cases[] = {
      {"missing_tile",
       {missing, names[0]},
       "ERROR: file '" + missing +
           "' cannot be opened\nERROR: no input name\n"
           "ERROR: cannot open lasreaderbuffered with 2 file names\nERROR: could not open lasreader\n"
           "ERROR: file '" +
           missing + "' cannot be opened\n",
       {"t1_e.las"}},
      {"broken_neighbor",
       {names[0], broken},
       "ERROR: reading header.project_ID_GUID_data_3\nERROR: cannot open lasreaderlas with file name '" + broken +
           "'\nERROR: opening neighbor '" + broken +
           "'\nERROR: cannot open lasreaderbuffered with 2 file names\nERROR: could not open lasreader\n"
           "ERROR: reading header.project_ID_GUID_data_3\nERROR: cannot open lasreaderlas with file name '" +
           broken + "'\nERROR: opening '" + broken +
           "'\nERROR: cannot open lasreaderbuffered with 2 file names\n"
           "ERROR: could not open lasreader\n",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ToolResult r = run(c.input, {"-buffered", "10", "-odix", "_e", "-silent", "-errors_ignore"});
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(r.err, c.err);
    for (const std::string& name : c.written) {
      EXPECT_TRUE(dir.exists(name)) << name;
      std::remove(dir.file(name).c_str());
    }
    EXPECT_FALSE(dir.exists("t1_e.las"));
  }
}

// Each later tile reads the others again: no output may land on any of them.
TEST_F(BufferedCliTest, OutputIsNeverWrittenOverATileOrNeighbour) {
  const std::vector<std::string> names = write_all(three_tiles());
  const std::string before = read_file(names[2]);
  const ToolResult r = run({names[0], names[1], names[2]}, {"-buffered", "10", "-o", names[2], "-silent"});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.err, "ERROR: output '" + names[2] + "' for '" + names[0] + "' would overwrite the input '" + names[2] +
                       "'\n");
  EXPECT_EQ(read_file(names[2]), before);
}

}  // namespace
