// The read dispatch of the reader base: area queries (half-open tile and
// rectangle, strict circle), the header box they set and restore, and how
// filter and transform wrap the area read.
#include "core/lasreader.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "filters/lasfilter.hpp"
#include "transforms/lastransform.hpp"

namespace {

// Delivers a fixed list of raw coordinates.
class ListReader : public LASreader {
 public:
  explicit ListReader(std::vector<std::pair<I32, I32>> xy, F64 scale = 0.01) : LASreader(nullptr), xy(std::move(xy)) {
    header.x_scale_factor = header.y_scale_factor = scale;
    header.min_x = header.min_y = 1e300;
    header.max_x = header.max_y = -1e300;
    for (auto& p : this->xy) {
      header.min_x = std::min(header.min_x, p.first * scale);
      header.max_x = std::max(header.max_x, p.first * scale);
      header.min_y = std::min(header.min_y, p.second * scale);
      header.max_y = std::max(header.max_y, p.second * scale);
    }
    EXPECT_TRUE(point.init(&header, (U8)0, (U16)20));
    points_expected = (I64)this->xy.size();
  }
  bool seek(const I64 p_index) override {
    if (p_index < 0 || p_index >= points_expected) return false;
    points_read = p_index;
    return true;
  }
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(const bool) override {}
  bool read_point_default() override {
    if (points_read >= points_expected) return false;
    point.X = xy[(size_t)points_read].first;
    point.Y = xy[(size_t)points_read].second;
    point.point_source_ID = 0;
    points_read++;
    return true;
  }
  // The X of every point read_point() delivers.
  std::vector<I32> read_all_x() {
    std::vector<I32> xs;
    while (read_point()) xs.push_back(point.X);
    return xs;
  }

 private:
  std::vector<std::pair<I32, I32>> xy;
};

// Drops points whose X is odd.
class DropOddX : public LAScriterion {
 public:
  const char* name() const override { return "drop_odd_x"; }
  I32 get_command(std::string& text) const override {
    text += "-drop_odd_x ";
    return 12;
  }
  bool filter(const LASpoint* point) override { return point->X % 2 != 0; }
};

// Counts one overflow per point it sees.
class CountingOperation : public LASoperation {
 public:
  const char* name() const override { return "count"; }
  I32 get_command(std::string& text) const override {
    text += "-count ";
    return 7;
  }
  F64* transform_coords_for_offset_adjustment(F64, F64, F64) override { return nullptr; }
  void transform(LASpoint*) override { overflow_count++; }
};

std::vector<I32> xs_of(const std::vector<std::pair<I32, I32>>& xy) {
  std::vector<I32> xs;
  for (auto& p : xy) xs.push_back(p.first);
  return xs;
}

}  // namespace

TEST(LASreaderArea, TileIsHalfOpenAndSetsTheLargestInsideCoordinate) {
  // x = 149.99 and 150 around the upper edge, 100 on the lower edge.
  ListReader r({{10000, 20000}, {14999, 22000}, {15000, 22000}, {12000, 24999}, {12000, 25000}, {9999, 21000}});
  ASSERT_TRUE(r.inside_tile(100.0f, 200.0f, 50.0f));
  EXPECT_EQ(r.header.min_x, 100.0);
  EXPECT_EQ(r.header.min_y, 200.0);
  EXPECT_DOUBLE_EQ(r.header.max_x, 149.99);
  EXPECT_DOUBLE_EQ(r.header.max_y, 249.99);
  EXPECT_EQ(r.read_all_x(), (std::vector<I32>{10000, 14999, 12000}));
}

TEST(LASreaderArea, CircleKeepsOnlyPointsStrictlyInside) {
  // Radius 1 around (0, 0) with scale 0.5: distances 0.5, 1 (on the circle), 1.5.
  ListReader r({{1, 0}, {2, 0}, {0, -2}, {3, 0}, {-1, 1}}, 0.5);
  ASSERT_TRUE(r.inside_circle(0.0, 0.0, 1.0));
  EXPECT_EQ(r.read_all_x(), (std::vector<I32>{1, -1}));
  EXPECT_EQ(r.header.min_x, -1.0);
  EXPECT_EQ(r.header.max_y, 1.0);
}

TEST(LASreaderArea, RectangleIsHalfOpen) {
  ListReader r({{100, 100}, {200, 100}, {199, 199}, {150, 200}, {99, 150}});
  ASSERT_TRUE(r.inside_rectangle(1.0, 1.0, 2.0, 2.0));
  EXPECT_EQ(r.read_all_x(), (std::vector<I32>{100, 199}));
}

TEST(LASreaderArea, AreaThatMissesTheFileEndsTheReadAtOnce) {
  struct Case {
    const char* name;
    bool (*apply)(LASreader&);
  };
  const Case cases[] = {
      {"rectangle", [](LASreader& r) { return r.inside_rectangle(10.0, 10.0, 20.0, 20.0); }},
      {"tile", [](LASreader& r) { return r.inside_tile(-20.0f, -20.0f, 5.0f); }},
      {"circle", [](LASreader& r) { return r.inside_circle(100.0, 0.0, 1.0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ListReader r({{0, 0}, {100, 100}});
    ASSERT_TRUE(c.apply(r));
    EXPECT_FALSE(r.read_point());
    EXPECT_EQ(r.points_read, 0);
  }
}

TEST(LASreaderArea, InsideNoneRestoresTheBoxAndReadsEverything) {
  const std::vector<std::pair<I32, I32>> xy = {{0, 0}, {500, 500}, {1000, 1000}};
  ListReader r(xy);
  ASSERT_TRUE(r.inside_rectangle(4.0, 4.0, 6.0, 6.0));
  EXPECT_EQ(r.header.min_x, 4.0);
  ASSERT_TRUE(r.inside_none());
  EXPECT_EQ(r.get_inside(), LASreader::INSIDE_NONE);
  EXPECT_EQ(r.header.min_x, 0.0);
  EXPECT_EQ(r.header.max_x, 10.0);
  EXPECT_EQ(r.header.min_y, 0.0);
  EXPECT_EQ(r.header.max_y, 10.0);
  EXPECT_EQ(r.read_all_x(), xs_of(xy));
}

TEST(LASreaderArea, CopcDepthNeedsACopcIndex) {
  ListReader r({{0, 0}});
  EXPECT_FALSE(r.inside_copc_depth(LASreader::COPC_QUERY_DEPTH, 3, 0.0f));
  EXPECT_TRUE(r.read_point());
}

TEST(LASreaderDispatch, FilterAndTransformWrapTheAreaRead) {
  const std::vector<std::pair<I32, I32>> xy = {{101, 101}, {102, 102}, {150, 150}, {151, 151}, {300, 300}};
  LASfilter filter;
  filter.add_criterion(new DropOddX);
  LAStransform transform;
  transform.setPointSource(7);

  struct Case {
    const char* name;
    bool with_filter, with_transform;
    std::vector<I32> xs;
  };
  const Case cases[] = {
      {"area only", false, false, {101, 102, 150, 151}},
      {"filter", true, false, {102, 150}},
      {"transform", false, true, {101, 102, 150, 151}},
      {"filter and transform", true, true, {102, 150}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ListReader r(xy);
    if (c.with_filter) r.set_filter(&filter);
    if (c.with_transform) r.set_transform(&transform);
    ASSERT_TRUE(r.inside_rectangle(1.0, 1.0, 2.0, 2.0));
    std::vector<I32> xs;
    while (r.read_point()) {
      xs.push_back(r.point.X);
      EXPECT_EQ(r.point.point_source_ID, c.with_transform ? 7 : 0);
    }
    EXPECT_EQ(xs, c.xs);
    r.set_transform(nullptr);  // nothing to report at destruction
  }
}

TEST(LASreaderDispatch, SettingAFilterAfterTheAreaDropsTheArea) {
  const std::vector<std::pair<I32, I32>> xy = {{100, 100}, {300, 300}, {400, 400}};
  LASfilter filter;
  filter.add_criterion(new DropOddX);
  ListReader r(xy);
  ASSERT_TRUE(r.inside_rectangle(1.0, 1.0, 2.0, 2.0));
  r.set_filter(&filter);
  EXPECT_EQ(r.read_all_x(), xs_of(xy));
}

TEST(LASreaderDispatch, FilterThatDropsEverythingEndsTheInput) {
  LASfilter filter;
  filter.add_criterion(new DropOddX);
  ListReader r({{1, 0}, {3, 0}, {5, 0}});
  r.set_filter(&filter);
  EXPECT_FALSE(r.read_point());
  EXPECT_EQ(r.points_read, 3);
}

TEST(LASreaderDispatch, DestructorReportsTheTransformsOverflows) {
  LAStransform transform;
  transform.add_operation(new CountingOperation);
  transform.setPointSource(1);
  {
    ListReader r({{0, 0}, {1, 1}, {2, 2}});
    r.set_transform(&transform);
    EXPECT_EQ(r.read_all_x().size(), 3u);
    ::testing::internal::CaptureStderr();
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "WARNING: total of  3 overflows caused by '-count '\n");
}
