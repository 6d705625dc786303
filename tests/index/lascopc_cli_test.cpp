// COPC input through the built voxsifter: a one-pass run ("-every_nth 1")
// writes the points in the order they were read, so the output shows the
// depth and resolution limits, the stream orders and the areas; a hierarchy
// that cannot be used gives its warning and a plain read of every point.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "support/copc_fixture.hpp"
#include "support/every_point.hpp"
#include "support/lax_fixture.hpp"
#include "support/run_tool.hpp"
#include "support/temp_dir.hpp"

namespace {

std::vector<lasfix::Point> pick(const copcfix::CopcFile& f, const std::vector<size_t>& indices) {
  std::vector<lasfix::Point> points;
  for (size_t i : indices) points.push_back(f.file.points[i]);
  return points;
}

// The tool opens the file twice (it reopens it for the pass that writes), so
// the warnings of opening come twice. Each opening refuses the hierarchy: the warning of a count mismatch, then the
// reader's line that it drops the hierarchy (its exact text is pinned by the
// reader's own tests).
const std::string MISMATCH = "WARNING: COPC EPT hierarchy EVLR number of point does not match with the header.\n";
const std::string DROPPED = "WARNING: invalid COPC EPT hierarchy (";

bool refused(const std::string& err, size_t openings) {
  size_t at = 0;
  for (size_t i = 0; i < openings; i++) {
    if (err.compare(at, MISMATCH.size(), MISMATCH) != 0) return false;
    at += MISMATCH.size();
    if (err.compare(at, DROPPED.size(), DROPPED) != 0) return false;
    at = err.find('\n', at);
    if (at == std::string::npos) return false;
    at++;
  }
  return at == err.size();
}

copcfix::CopcFile paged_file() {
  copcfix::Recipe recipe;
  recipe.page_levels = {1};
  return copcfix::make_copc(recipe);
}

}  // namespace

TEST(CopcCli, LimitsOrdersAndAreas) {
  const copcfix::CopcFile f = paged_file();
  TempDir dir;
  dir.write("in.las", f.built.bytes);
  using copcfix::Order;
  const copcfix::Area rectangle{copcfix::Area::rectangle, 1020.25, 2060, 1100, 2112};
  const struct {
    const char* name;
    std::vector<std::string> options;
    std::vector<size_t> want;
  } cases[] = {
      {"every_point_spatially", {}, copcfix::expected_read(f, Order::spatial, 3)},
      {"depth_1_by_level", {"-max_depth", "1", "-stream_order_level"}, copcfix::expected_read(f, Order::depth, 1)},
      {"depth_2_in_file_order", {"-stream_order_normal", "-max_depth", "2"}, copcfix::expected_read(f, Order::file, 2)},
      {"resolution_3_spatially", {"-resolution", "3", "-stream_order_spatial"}, copcfix::expected_read(f, Order::spatial, 2)},
      {"area_at_depth_2",
       {"-inside", "1020.25", "2060", "1100", "2112", "-max_depth", "2"},
       copcfix::expected_read(f, Order::spatial, 2, rectangle)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Thinned run = run_every_point(dir, c.options);
    EXPECT_EQ(run.result.exit_code, 0);
    EXPECT_EQ(run.result.err, "");
    EXPECT_EQ(run.points, pick(f, c.want));
  }
}

// A .lax index beside a COPC file gives way to the COPC hierarchy: the read
// still limits the depth and keeps the COPC order.
TEST(CopcCli, CopcHierarchyTakesPrecedenceOverLaxFile) {
  const copcfix::CopcFile f = paged_file();
  TempDir dir;
  dir.write("in.las", f.built.bytes);
  const lasfix::Header& h = f.built.header;
  // One quadtree cell over the file holding every point.
  laxfix::Lax lax;
  lax.levels = 0;
  lax.min_x = (float)*h.min_x;
  lax.max_x = (float)*h.max_x;
  lax.min_y = (float)*h.min_y;
  lax.max_y = (float)*h.max_y;
  lax.cells = {{0, {{0, (uint32_t)f.file.points.size() - 1}}}};
  dir.write("in.lax", lax.bytes());
  // Both indexes are registered and the warning comes once: the reopen for
  // the second pass does not look for the .lax file again.
  const Thinned run = run_every_point(dir, {"-inside", "1000", "2048", "1064", "2176", "-max_depth", "2"});
  EXPECT_EQ(run.result.exit_code, 1);
  EXPECT_EQ(run.result.err, "WARNING: both LAX file and COPC spatial indexing registered. COPC has the precedence.\n");
  const copcfix::Area area{copcfix::Area::rectangle, 1000, 2048, 1064, 2176};
  EXPECT_EQ(run.points, pick(f, copcfix::expected_read(f, copcfix::Order::spatial, 2, area)));
}

// Whatever is wrong with the hierarchy, the file is read as an ordinary one:
// every point in file order, after the same two warnings.
TEST(CopcCli, UnusableHierarchiesGiveAWarningAndAPlainRead) {
  const copcfix::CopcFile f = paged_file();
  ASSERT_GT(f.pages.size(), 2u);
  const copcfix::Page& root = f.pages[0];
  const copcfix::Entry* link = nullptr;
  const copcfix::Entry* octant = nullptr;
  for (const copcfix::Entry& e : root.entries) {
    if (e.point_count == -1 && !link) link = &e;
    if (e.point_count > 0 && !octant) octant = &e;
  }
  ASSERT_TRUE(link && octant);
  const uint64_t payload_end = f.pages.back().offset + f.pages.back().size;
  using Patch = std::function<void(std::string&)>;
  const struct {
    const char* name;
    Patch patch;
  } cases[] = {
      {"count_mismatch", [&](std::string& b) { lasfix::put_u32(b, octant->position + 28, octant->point_count + 1); }},
      {"page_below_the_payload", [&](std::string& b) { lasfix::put_u64(b, link->position + 16, 375); }},
      {"page_beyond_the_payload", [&](std::string& b) { lasfix::put_u64(b, link->position + 16, payload_end); }},
      {"page_naming_the_root",
       [&](std::string& b) {
         lasfix::put_u64(b, link->position + 16, root.offset);
         lasfix::put_u32(b, link->position + 24, (uint32_t)root.size);
       }},
      {"level_below_zero", [&](std::string& b) { lasfix::put_u32(b, octant->position, (uint32_t)-1); }},
      {"level_31", [&](std::string& b) { lasfix::put_u32(b, octant->position, 31); }},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = f.built.bytes;
    c.patch(bytes);
    dir.write("in.las", bytes);
    const Thinned run = run_every_point(dir, {});
    EXPECT_EQ(run.result.exit_code, 1);
    EXPECT_TRUE(refused(run.result.err, 2)) << run.result.err;
    EXPECT_EQ(run.points, f.file.points);
  }
  // A depth limit cannot be served by such a file.
  const Thinned limited = run_every_point(dir, {"-max_depth", "1"});
  EXPECT_EQ(limited.result.exit_code, 3);
  const std::string error = "ERROR: queries with a depth limit are restrited to COPC files.\n";
  ASSERT_GT(limited.result.err.size(), error.size());
  EXPECT_TRUE(refused(limited.result.err.substr(0, limited.result.err.size() - error.size()), 1)) << limited.result.err;
  EXPECT_TRUE(limited.result.err.ends_with(error)) << limited.result.err;
}
