// Reading generated COPC files through the read opener: depth and resolution
// limits, the three stream orders and the areas, each compared with the points
// the generator's own point list says a read must deliver.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/lasreader.hpp"
#include "core/lasreadopener.hpp"
#include "support/arg_vector.hpp"
#include "support/copc_fixture.hpp"
#include "support/temp_dir.hpp"

namespace {

struct Seen {
  I32 X, Y, Z;
  F64 gps_time;
  bool operator==(const Seen&) const = default;
};

void PrintTo(const Seen& s, std::ostream* os) { *os << "(" << s.X << " " << s.Y << " " << s.Z << " " << s.gps_time << ")"; }

std::vector<Seen> read_all(LASreader* reader) {
  std::vector<Seen> seen;
  while (reader->read_point()) seen.push_back({reader->point.X, reader->point.Y, reader->point.Z, reader->point.gps_time});
  return seen;
}

std::vector<Seen> pick(const copcfix::CopcFile& f, const std::vector<size_t>& indices) {
  std::vector<Seen> seen;
  for (size_t i : indices) {
    const lasfix::Point& p = f.file.points[i];
    seen.push_back({p.X, p.Y, p.Z, p.gps_time});
  }
  return seen;
}

struct OrderOption {
  const char* option;
  copcfix::Order order;
};
const OrderOption ORDERS[] = {
    {"-stream_order_normal", copcfix::Order::file},
    {"-stream_order_spatial", copcfix::Order::spatial},
    {"-stream_order_level", copcfix::Order::depth},
};

class CopcReadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    halt_on_error(false);
    set_message_log_level(INFO);
  }
  void TearDown() override {
    halt_on_error(true);
    set_message_log_level(INFO);
  }
  // The points read from `name` with these options, and what went to stderr.
  std::vector<Seen> read(const std::string& name, std::vector<std::string> options, std::string* err = nullptr,
                         bool twice = false) {
    options.insert(options.begin(), {"-i", temp.file(name)});
    ArgVector args(options);
    LASreadOpener opener;
    EXPECT_TRUE(opener.parse(args.argc(), args.argv(), true));
    ::testing::internal::CaptureStderr();
    std::unique_ptr<LASreader> reader(opener.open());
    std::vector<Seen> seen;
    if (reader) seen = read_all(reader.get());
    if (reader && twice) {
      EXPECT_TRUE(opener.reopen(reader.get()));
      EXPECT_EQ(read_all(reader.get()), seen) << "second pass";
    }
    if (reader) reader->close();
    const std::string text = ::testing::internal::GetCapturedStderr();
    if (err) *err = text;
    else EXPECT_EQ(text, "");
    return seen;
  }
  TempDir temp;
};

copcfix::Recipe recipe_with_pages(std::vector<int32_t> page_levels) {
  copcfix::Recipe recipe;
  recipe.page_levels = std::move(page_levels);
  return recipe;
}

}  // namespace

// Every depth in every order, on one page, a root page with a page per level-1
// subtree, and pages nested two deep: the same points in the same order.
TEST_F(CopcReadTest, DepthLimitsInEveryOrderOnEveryPageLayout) {
  const copcfix::CopcFile one = copcfix::make_copc(recipe_with_pages({}));
  const std::vector<std::vector<int32_t>> layouts = {{}, {1}, {1, 2}};
  for (const std::vector<int32_t>& layout : layouts) {
    const copcfix::CopcFile f = copcfix::make_copc(recipe_with_pages(layout));
    ASSERT_EQ(f.file.points, one.file.points);
    ASSERT_EQ(f.pages.size(), layout.empty() ? 1u : layout.size() == 1 ? 9u : 73u);
    temp.write("in.las", f.built.bytes);
    const int32_t deepest = copcfix::deepest_level(f);
    ASSERT_EQ(deepest, 3);
    for (const OrderOption& o : ORDERS) {
      for (int32_t depth = 0; depth <= deepest + 1; depth++) {
        SCOPED_TRACE(std::string(o.option) + " -max_depth " + std::to_string(depth) + " pages " +
                     std::to_string(f.pages.size()));
        const std::vector<Seen> got = read("in.las", {o.option, "-max_depth", std::to_string(depth)});
        EXPECT_EQ(got, pick(f, copcfix::expected_read(f, o.order, depth)));
      }
      // Without a limit every point is read, octant by octant in the order.
      SCOPED_TRACE(o.option);
      EXPECT_EQ(read("in.las", {o.option}), pick(f, copcfix::expected_read(f, o.order, deepest)));
    }
  }
  // The orders differ on this file, so each comparison above tells them apart.
  EXPECT_NE(copcfix::expected_read(one, copcfix::Order::file, 3), copcfix::expected_read(one, copcfix::Order::spatial, 3));
  EXPECT_NE(copcfix::expected_read(one, copcfix::Order::depth, 3), copcfix::expected_read(one, copcfix::Order::spatial, 3));
  EXPECT_NE(copcfix::expected_read(one, copcfix::Order::file, 3), copcfix::expected_read(one, copcfix::Order::depth, 3));
}

TEST_F(CopcReadTest, ResolutionPicksTheFirstLevelFineEnough) {
  const copcfix::CopcFile f = copcfix::make_copc(copcfix::Recipe());
  temp.write("in.las", f.built.bytes);
  // The root spacing is 8: 4 at level 1, 2 at level 2, 1 at level 3.
  const struct {
    const char* resolution;
    int32_t depth;
  } cases[] = {{"100", 0}, {"8", 0}, {"7.5", 1}, {"4", 1}, {"3", 2}, {"1", 3}, {"0.001", 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.resolution);
    ASSERT_EQ(copcfix::depth_for_resolution(f, std::stod(c.resolution)), c.depth);
    EXPECT_EQ(read("in.las", {"-resolution", c.resolution, "-stream_order_level"}),
              pick(f, copcfix::expected_read(f, copcfix::Order::depth, c.depth)));
  }
}

// An area selects the octants it touches and then tests each point; both
// passes of a read deliver the same points.
TEST_F(CopcReadTest, AreasWithAndWithoutDepthLimits) {
  copcfix::Recipe recipe;
  recipe.page_levels = {2};
  const copcfix::CopcFile f = copcfix::make_copc(recipe);
  temp.write("in.las", f.built.bytes);
  using copcfix::Area;
  // The cube runs from 1000 to 1128 in x and from 2048 to 2176 in y; 1064 and
  // 2112 are octant boundaries at every level.
  const struct {
    const char* name;
    std::vector<std::string> options;
    Area area;
  } areas[] = {
      {"rectangle", {"-inside", "1010.5", "2050", "1064", "2112"}, {Area::rectangle, 1010.5, 2050, 1064, 2112}},
      {"rectangle_over_the_cube", {"-inside", "900", "2100", "1040.25", "2300"}, {Area::rectangle, 900, 2100, 1040.25, 2300}},
      {"circle", {"-inside_circle", "1064", "2112", "20.5"}, {Area::circle, 1064, 2112, 20.5}},
      {"tile", {"-inside_tile", "1032", "2080", "32"}, {Area::tile, 1032, 2080, 32}},
  };
  for (const auto& a : areas) {
    for (int32_t depth : {0, 1, 2, 3}) {
      SCOPED_TRACE(std::string(a.name) + " -max_depth " + std::to_string(depth));
      std::vector<std::string> options = a.options;
      options.insert(options.end(), {"-max_depth", std::to_string(depth)});
      // A tile goes through the COPC index only when the limit leaves out levels.
      const bool plain_tile = a.area.kind == Area::tile && depth >= 3;
      const copcfix::Order order = plain_tile ? copcfix::Order::file : copcfix::Order::spatial;
      const std::vector<size_t> want = copcfix::expected_read(f, order, depth, a.area);
      ASSERT_FALSE(want.empty());
      EXPECT_EQ(read("in.las", options, nullptr, true), pick(f, want));
    }
    // Without a limit: circle and rectangle in the spatial order; a tile alone
    // is not read through the COPC index, so it comes in file order.
    SCOPED_TRACE(a.name);
    const copcfix::Order order = a.area.kind == Area::tile ? copcfix::Order::file : copcfix::Order::spatial;
    EXPECT_EQ(read("in.las", a.options, nullptr, true), pick(f, copcfix::expected_read(f, order, 3, a.area)));
  }
  // An area beside the file reads nothing.
  EXPECT_TRUE(read("in.las", {"-inside", "0", "0", "10", "10", "-max_depth", "1"}).empty());
}

TEST_F(CopcReadTest, DepthLimitsNeedACopcFile) {
  copcfix::CopcFile f = copcfix::make_copc(copcfix::Recipe());
  f.file.vlrs.clear();
  f.file.evlrs.clear();
  temp.write("plain.las", f.file.bytes());
  std::string err;
  for (const char* option : {"-max_depth", "-resolution"}) {
    EXPECT_TRUE(read("plain.las", {option, "2"}, &err).empty());
    EXPECT_EQ(err, "ERROR: queries with a depth limit are restrited to COPC files.\n");
  }
  // Without a limit the file is read as it is.
  EXPECT_EQ(read("plain.las", {}).size(), f.file.points.size());
}
