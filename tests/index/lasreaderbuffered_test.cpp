// The buffered reader in this process, on tiles built by the independent
// fixture builder: buffer points played back as their readers delivered them
// (for every record layout), the header of tile and buffer and its undoing,
// further passes, areas, widening, and the errors of opening.
#include "index/lasreaderbuffered.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "core/lasreader_las.hpp"
#include "core/lasreadopener.hpp"
#include "filters/lasfilter.hpp"
#include "support/las_fixture.hpp"
#include "support/point_seen.hpp"
#include "support/temp_dir.hpp"

namespace {

using lasfix::LasFile;
using lasfix::Point;
using testpoints::read_all;
using testpoints::Seen;

// A point at world x, y (scale 0.01, offset 0), z 1, told apart by intensity.
Point at(double x, double y, uint16_t intensity = 0, uint8_t return_number = 1) {
  Point p;
  p.X = (int32_t)std::llround(x * 100);
  p.Y = (int32_t)std::llround(y * 100);
  p.Z = 100;
  p.intensity = intensity;
  p.return_number = return_number;
  p.number_of_returns = 7;
  return p;
}

LasFile file_of(std::vector<Point> points, uint8_t format = 1, uint8_t minor = 2) {
  LasFile f;
  f.header.point_data_format = format;
  f.header.version_minor = minor;
  f.points = std::move(points);
  return f;
}

std::vector<I32> xs(const std::vector<Seen>& points) {
  std::vector<I32> result;
  for (const Seen& p : points) result.push_back(p.X);
  return result;
}

// Counts calls of reset and drops every second point it sees since the last.
class DropEverySecond : public LAScriterion {
 public:
  const char* name() const override { return "drop_every_second"; }
  I32 get_command(std::string& text) const override {
    text += "-drop_every_second ";
    return 19;
  }
  bool filter(const LASpoint*) override { return (seen_since_reset++ & 1) != 0; }
  void reset() override { seen_since_reset = 0; }

 private:
  U64 seen_since_reset = 0;
};

class BufferedReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    halt_on_error(false);
    set_message_log_level(INFO);
  }
  void TearDown() override { halt_on_error(true); }

  std::string write(const std::string& name, const LasFile& file) {
    temp.write(name, file.bytes());
    return temp.file(name);
  }
  // A buffered reader of `main` with these neighbours, opened; `err` gets
  // what it reported.
  std::unique_ptr<LASreaderBuffered> buffered(const std::string& main, const std::vector<std::string>& neighbors,
                                              F32 size, std::string& err, bool expect_open = true) {
    auto reader = std::make_unique<LASreaderBuffered>(&opener);
    reader->set_buffer_size(size);
    ::testing::internal::CaptureStderr();
    reader->set_file_name(main.c_str());
    for (const std::string& name : neighbors) reader->add_neighbor_file_name(name.c_str());
    EXPECT_EQ(reader->open(), expect_open);
    err = ::testing::internal::GetCapturedStderr();
    return reader;
  }
  // The points a plain reader of the file delivers.
  std::vector<Seen> plain(const std::string& name) {
    LASreaderLAS reader(&opener);
    EXPECT_TRUE(reader.open(name.c_str(), 65536, false, LAS_SELECTIVE_ALL));
    return read_all(reader);
  }

  TempDir temp;
  LASreadOpener opener;
};

// Each record layout keeps every field: legacy points as raw 20 bytes, points
// of the extended formats packed in 30, colour, NIR, wave packets and extra
// bytes behind them. The legacy fields of extended points, which their
// records do not hold, come back as the readers derive them.
TEST_F(BufferedReaderTest, BufferPointsComeBackAsTheirReaderDeliveredThem) {
  struct Case {
    uint8_t format, minor;
  } cases[] = {{0, 2}, {1, 2}, {3, 2}, {4, 3}, {6, 4}, {7, 4}, {8, 4}, {10, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE("format " + std::to_string(c.format));
    LasFile tile = file_of({at(0, 0), at(100, 100)}, c.format, c.minor);
    tile.extra_bytes = 3;
    LasFile neighbor = tile;
    neighbor.points.clear();
    for (uint32_t i = 0; i < 500; i++) {
      Point p = lasfix::varied_point(c.format, i, 3);
      p.X = 10000 + (int32_t)(i % 700);  // x 100 to 107: inside the buffer of 10
      p.Y = (int32_t)(i * 20);
      neighbor.points.push_back(p);
    }
    const std::string n = write("n.las", neighbor);
    std::string err;
    auto reader = buffered(write("t.las", tile), {n}, 10, err);
    EXPECT_EQ(err, "LASreaderBuffered: adding 500 buffer points.\n");
    std::vector<Seen> expected = plain(temp.file("t.las"));
    const std::vector<Seen> theirs = plain(n);
    expected.insert(expected.end(), theirs.begin(), theirs.end());
    const std::vector<Seen> got = read_all(*reader);
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); i++) ASSERT_EQ(got[i], expected[i]) << "point " << i;
    // Buffer point 1 has extended class 37, which reads 0 as a legacy class.
    if (c.format >= 6) {
      EXPECT_EQ(got[2 + 1].extended_classification, 37);
      EXPECT_EQ(got[2 + 1].class_byte & 0x1F, 0);
    }
  }
}

// 25,000 buffer points fill two blocks and part of a third; the header counts
// tile and buffer (returns 0, 6 and 7 only as records), the original-counts
// record keeps the tile's, and removing the buffer gives them back.
TEST_F(BufferedReaderTest, HeaderCountsTheBufferUntilItIsRemoved) {
  std::vector<Point> own;
  for (int i = 0; i < 1000; i++) own.push_back(at(i * 0.1, i * 0.1, 0, (uint8_t)(1 + i % 2)));
  LasFile tile = file_of(own);
  tile.vlrs.push_back({"Pelkarts", 10, lasfix::tiling_payload({})});
  std::vector<Point> theirs;
  for (int i = 0; i < 25000; i++) {
    Point p = at(0, 0, 1, (uint8_t)(i % 8));
    p.X = 10500 + i % 400;  // x 105 to 108.99
    p.Y = 5000 + i / 400;
    theirs.push_back(p);
  }
  theirs.push_back(at(150, 50, 2));  // beyond the buffer
  std::string err;
  auto reader = buffered(write("t.las", tile), {write("n.las", file_of(theirs))}, 10, err);
  EXPECT_EQ(err, "LASreaderBuffered: adding 25000 buffer points.\n");
  EXPECT_EQ(reader->get_buffered_points(), 25000u);
  const LASheader& h = reader->header;
  EXPECT_EQ(h.number_of_point_records, 26000u);
  EXPECT_EQ(reader->points_expected, 26000);
  // Returns 1 and 2 of the tile, 1 to 5 of the buffer (3125 each).
  const U32 by_return[5] = {500 + 3125, 500 + 3125, 3125, 3125, 3125};
  for (int r = 0; r < 5; r++) EXPECT_EQ(h.number_of_points_by_return[r], by_return[r]) << r;
  EXPECT_DOUBLE_EQ(h.max_x, 108.99);
  EXPECT_DOUBLE_EQ(h.min_x, 0);
  ASSERT_NE(h.vlr_lasoriginal, nullptr);
  EXPECT_EQ(h.vlr_lasoriginal->number_of_point_records, 1000);
  EXPECT_DOUBLE_EQ(h.vlr_lasoriginal->max_x, 99.9);
  EXPECT_NE(h.vlr_lastiling, nullptr);  // goes along unchanged

  const std::vector<Seen> first = read_all(*reader);
  ASSERT_EQ(first.size(), 26000u);
  EXPECT_EQ(first[1000].X, 10500);
  EXPECT_EQ(first[25999].X, 10500 + 24999 % 400);

  // Another pass plays the same points back.
  ASSERT_TRUE(reader->reopen());
  EXPECT_EQ(read_all(*reader), first);

  ASSERT_TRUE(reader->reopen());
  EXPECT_TRUE(reader->remove_buffer());
  EXPECT_EQ(h.number_of_point_records, 1000u);
  EXPECT_EQ(reader->points_expected, 1000);
  EXPECT_EQ(h.number_of_points_by_return[0], 500u);
  EXPECT_EQ(h.number_of_points_by_return[2], 0u);
  EXPECT_DOUBLE_EQ(h.max_x, 99.9);
  EXPECT_EQ(h.vlr_lasoriginal, nullptr);
  EXPECT_EQ(read_all(*reader), std::vector<Seen>(first.begin(), first.begin() + 1000));
  EXPECT_FALSE(reader->remove_buffer());
}

TEST_F(BufferedReaderTest, WithoutNeighboursTheTileIsReadAlone) {
  std::string err;
  auto reader = buffered(write("t.las", file_of({at(1, 1), at(2, 2)})), {}, 10, err);
  EXPECT_EQ(err, "");
  EXPECT_EQ(reader->header.vlr_lasoriginal, nullptr);
  EXPECT_EQ(xs(read_all(*reader)), (std::vector<I32>{100, 200}));
  EXPECT_FALSE(reader->remove_buffer());
}

// LAS 1.4 counts in the extended fields; point format 6 keeps the legacy
// counts at 0, also for its buffer points.
TEST_F(BufferedReaderTest, ExtendedCountsOfLas14) {
  LasFile tile = file_of({at(0, 0), at(100, 100, 0, 2)}, 6, 4);
  LasFile neighbor = file_of({at(105, 5, 0, 9), at(105, 6, 0, 2), at(105, 7, 0, 2)}, 6, 4);
  for (Point& p : neighbor.points) p.number_of_returns = 9;
  std::string err;
  auto reader = buffered(write("t.las", tile), {write("n.las", neighbor)}, 10, err);
  const LASheader& h = reader->header;
  EXPECT_EQ(h.number_of_point_records, 0u);
  EXPECT_EQ(h.extended_number_of_point_records, 5u);
  EXPECT_EQ(reader->points_expected, 5);
  EXPECT_EQ(h.extended_number_of_points_by_return[1], 3u);
  EXPECT_EQ(h.extended_number_of_points_by_return[8], 1u);
  for (int r = 0; r < 5; r++) EXPECT_EQ(h.number_of_points_by_return[r], 0u);
  EXPECT_TRUE(reader->reopen());
  EXPECT_TRUE(reader->remove_buffer());
  EXPECT_EQ(h.extended_number_of_point_records, 2u);
  EXPECT_EQ(h.extended_number_of_points_by_return[1], 1u);
  EXPECT_EQ(h.extended_number_of_points_by_return[8], 0u);
  EXPECT_EQ(reader->points_expected, 2);
}

// An area keeps to its points, the tile's and the buffer's alike.
TEST_F(BufferedReaderTest, AreasDeliverOnlyThePointsInside) {
  const std::string t = write("t.las", file_of({at(0, 0, 1), at(50, 50, 2), at(99, 99, 3)}));
  const std::string n = write("n.las", file_of({at(101, 50, 4), at(105, 5, 5), at(108.5, 99, 6)}));
  struct Case {
    const char* name;
    void (*apply)(LASreader&);
    std::vector<U16> intensities;
  } cases[] = {
      {"rectangle", [](LASreader& r) { r.inside_rectangle(40, 0, 106, 60); }, {2, 4, 5}},
      {"tile", [](LASreader& r) { r.inside_tile(0, 0, 101); }, {1, 2, 3}},
      {"circle", [](LASreader& r) { r.inside_circle(100, 50, 5); }, {4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string err;
    auto reader = buffered(t, {n}, 10, err);
    c.apply(*reader);
    std::vector<U16> got;
    for (const Seen& p : read_all(*reader)) got.push_back(p.intensity);
    EXPECT_EQ(got, c.intensities);
    // A second pass, as the opener sets it up, keeps to the area too.
    ASSERT_TRUE(reader->reopen());
    reader->inside_none();
    c.apply(*reader);
    got.clear();
    for (const Seen& p : read_all(*reader)) got.push_back(p.intensity);
    EXPECT_EQ(got, c.intensities);
  }
}

// A criterion that keeps state sees the tile's points from a fresh start in
// every pass, although the neighbours were read through it first.
TEST_F(BufferedReaderTest, EveryPassSeesTheSameTilePoints) {
  LASfilter filter;
  filter.add_criterion(new DropEverySecond());
  const std::string t = write("t.las", file_of({at(0, 0, 1), at(1, 1, 2), at(2, 2, 3), at(3, 3, 4)}));
  const std::string n = write("n.las", file_of({at(4, 1, 5), at(5, 2, 6), at(6, 3, 7)}));
  auto reader = std::make_unique<LASreaderBuffered>(&opener);
  reader->set_buffer_size(10);
  reader->set_file_name(t.c_str());
  reader->add_neighbor_file_name(n.c_str());
  reader->set_filter(&filter);
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(reader->open());
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "LASreaderBuffered: adding 2 buffer points.\n");
  std::vector<U16> first;
  for (const Seen& p : read_all(*reader)) first.push_back(p.intensity);
  EXPECT_EQ(first, (std::vector<U16>{1, 3, 5, 7}));
  ASSERT_TRUE(reader->reopen());
  std::vector<U16> second;
  for (const Seen& p : read_all(*reader)) second.push_back(p.intensity);
  EXPECT_EQ(second, first);
}

// A tile that ends 0.5 before the 32-bit limit of its quantisation: its
// neighbour's points beyond the limit are read in their own quantisation
// (none wraps around), the offset moves, and tile and buffer points alike
// arrive in the widened header's quantisation.
TEST_F(BufferedReaderTest, WideningBringsEveryPointToTheNewQuantisation) {
  LasFile tile = file_of({});
  tile.header.x_scale_factor = 0.0001;
  for (int32_t X : {2147000000, 2147478647}) {  // x 214700 and 214747.8647
    Point p = at(0, 1);
    p.X = X;
    tile.points.push_back(p);
  }
  LasFile neighbor = file_of({at(214748.5, 1, 1), at(214755, 1, 2), at(214770, 1, 3)});
  std::string err;
  auto reader = buffered(write("t.las", tile), {write("n.las", neighbor)}, 10, err);
  EXPECT_EQ(err,
            "LASreaderBuffered: adding 2 buffer points.\n"
            "WARNING: i changed x_offset from 0 to 214728 to accommodate enlarged bounding box\n");
  EXPECT_FALSE(reader->get_rescale());
  EXPECT_TRUE(reader->get_reoffset());
  const LASheader& h = reader->header;
  EXPECT_DOUBLE_EQ(h.x_offset, 214728);
  EXPECT_DOUBLE_EQ(h.max_x, 214755);
  std::vector<F64> x;
  for (const Seen& p : read_all(*reader)) x.push_back(p.X * h.x_scale_factor + h.x_offset);
  ASSERT_EQ(x.size(), 4u);
  EXPECT_NEAR(x[0], 214700, 1e-6);
  EXPECT_NEAR(x[1], 214747.8647, 1e-6);
  EXPECT_NEAR(x[2], 214748.5, 1e-6);
  EXPECT_NEAR(x[3], 214755, 1e-6);
}

TEST_F(BufferedReaderTest, ErrorsOfOpening) {
  const std::string t = write("t.las", file_of({at(1, 1)}));
  temp.write("broken.las", "no header here");
  const std::string broken = temp.file("broken.las");
  const std::string missing = temp.file("missing.las");
  {
    LASreaderBuffered reader(&opener);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(reader.set_file_name(nullptr));
    EXPECT_FALSE(reader.set_file_name(missing.c_str()));
    EXPECT_FALSE(reader.add_neighbor_file_name(missing.c_str()));
    EXPECT_FALSE(reader.open());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ERROR: file name pointer is NULL\nERROR: file '" + missing +
                                                            "' cannot be opened\nERROR: file '" + missing +
                                                            "' cannot be opened\nERROR: no input name\n");
    EXPECT_FALSE(reader.read_point());
    EXPECT_FALSE(reader.reopen());
    EXPECT_EQ(reader.get_format(), 0);
  }
  std::string err;
  buffered(broken, {t}, 10, err, false);
  EXPECT_NE(err.find("ERROR: opening '" + broken + "'\n"), std::string::npos) << err;
  buffered(t, {broken}, 10, err, false);
  EXPECT_NE(err.find("ERROR: opening neighbor '" + broken + "'\n"), std::string::npos) << err;
}

}  // namespace
