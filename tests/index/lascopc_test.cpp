// The COPC hierarchy read into the header (pages breadth first, entries by
// offset, hierarchies that cannot be walked safely refused), the octree built
// from it and the octant queries with their ranges.
#include "index/lascopc.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/lasheader.hpp"

namespace {

struct Entry {
  I32 level;
  U64 offset;
  I32 byte_size;
  I32 point_count;
  I32 x = 0, y = 0, z = 0;
};

std::string page(const std::vector<Entry>& entries) {
  std::string bytes(entries.size() * 32, '\0');
  for (size_t i = 0; i < entries.size(); i++) {
    const Entry& e = entries[i];
    memcpy(&bytes[i * 32], &e.level, 4);
    memcpy(&bytes[i * 32 + 4], &e.x, 4);
    memcpy(&bytes[i * 32 + 8], &e.y, 4);
    memcpy(&bytes[i * 32 + 12], &e.z, 4);
    memcpy(&bytes[i * 32 + 16], &e.offset, 8);
    memcpy(&bytes[i * 32 + 24], &e.byte_size, 4);
    memcpy(&bytes[i * 32 + 28], &e.point_count, 4);
  }
  return bytes;
}

// COPC information of a cube from 0 to 16 on every axis with a root spacing of 4.
void set_info(LASheader& header, U64 root_offset, U64 root_size) {
  header.copc_info.reset(new LASvlrCopcInfo());
  memset((void*)header.copc_info.get(), 0, sizeof(LASvlrCopcInfo));
  header.copc_info->center_x = header.copc_info->center_y = header.copc_info->center_z = 8;
  header.copc_info->halfsize = 8;
  header.copc_info->spacing = 4;
  header.copc_info->root_hier_offset = root_offset;
  header.copc_info->root_hier_size = root_size;
}

// The payload lies at file position 1000; the root page is its first `root_size` bytes.
bool read_hierarchy(LASheader& header, const std::string& payload, U64 root_size, U64 points) {
  set_info(header, 1000, root_size);
  header.extended_number_of_point_records = points;
  return EPToctree::set_vlr_entries((const U8*)payload.data(), 1000, payload.size(), header);
}

std::vector<U64> offsets(const LASheader& header) {
  std::vector<U64> result;
  for (U32 i = 0; i < header.number_of_copc_entries; i++) result.push_back(header.copc_entries[i].offset);
  return result;
}

const char* const REFUSED = "WARNING: COPC EPT hierarchy EVLR number of point does not match with the header.\n";

}  // namespace

TEST(EPToctreeEntries, PagesAreReadBreadthFirstAndSortedByOffset) {
  // Root page: one octant and a link to the page at 1064; that page: two
  // octants, an ignored count of -2 and an empty octant.
  const std::string payload = page({{0, 700, 10, 4}, {1, 1064, 128, -1}}) +
                              page({{1, 900, 10, 2}, {1, 500, 10, 1}, {1, 0, 0, -2}, {2, 0, 0, 0}});
  LASheader header;
  ASSERT_TRUE(read_hierarchy(header, payload, 64, 7));
  EXPECT_EQ(offsets(header), (std::vector<U64>{0, 500, 700, 900}));

  // The same entries in one page give the same header entries.
  LASheader one;
  const std::string single = page({{0, 700, 10, 4}, {1, 900, 10, 2}, {1, 500, 10, 1}, {2, 0, 0, 0}});
  ASSERT_TRUE(read_hierarchy(one, single, single.size(), 7));
  EXPECT_EQ(offsets(one), offsets(header));
}

// Walkable oddities: a page below 32 bytes contributes nothing, a hierarchy
// without points is fine for a file without points, a long chain of pages is
// walked without recursion, and level 30 is the deepest octree level.
TEST(EPToctreeEntries, UnusualButSoundHierarchiesAreAccepted) {
  {
    LASheader header;
    ASSERT_TRUE(read_hierarchy(header, page({{0, 700, 10, 3}, {1, 1064, 31, -1}, {1, 1064, 32, 0}}), 96, 3));
    EXPECT_EQ(offsets(header), (std::vector<U64>{700, 1064}));
  }
  {
    LASheader header;
    ASSERT_TRUE(read_hierarchy(header, page({{0, 0, 0, -1}}), 32, 0));
    EXPECT_EQ(header.number_of_copc_entries, 0u);
  }
  {
    // Page k holds an empty octant and the link to page k + 1; the last holds the points.
    const int pages = 5000;
    std::string payload;
    for (int k = 0; k + 1 < pages; k++) payload += page({{k % 31, 0, 0, 0}, {0, 1000 + 64 * (U64)(k + 1), 64, -1}});
    payload += page({{30, 800, 10, 9}, {0, 0, 0, -2}});
    LASheader header;
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(read_hierarchy(header, payload, 64, 9));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(header.number_of_copc_entries, (U32)pages);
    COPCindex index(header);
    EXPECT_EQ(index.get_octree().max_depth, 30);
  }
}

// Every hierarchy that cannot be walked safely ends in the warning of a count
// mismatch, leaving the header as it was, so that the file is read plainly.
TEST(EPToctreeEntries, HierarchiesThatCannotBeWalkedAreRefused) {
  const U64 huge = ~(U64)0;
  struct Case {
    const char* name;
    std::string payload;
    U64 root_size;
  } cases[] = {
      {"page_below_the_payload", page({{0, 700, 10, 3}, {1, 10, 32, -1}}), 64},
      {"page_beyond_the_payload", page({{0, 700, 10, 3}, {1, 1064, 32, -1}}), 64},
      {"page_over_the_end", page({{0, 700, 10, 3}, {1, 1064, 64, -1}, {0, 0, 0, 0}}), 64},
      {"page_at_a_wrapping_offset", page({{0, 700, 10, 3}, {1, huge, 32, -1}}), 64},
      {"page_of_a_wrapping_size", page({{0, 700, 10, 3}, {1, 1032, -32, -1}, {0, 0, 0, 0}}), 64},
      {"root_page_beyond_the_payload", page({{0, 700, 10, 3}}), 64},
      {"page_naming_itself", page({{0, 700, 10, 3}, {1, 1000, 64, -1}}), 64},
      {"page_naming_its_parent", page({{0, 700, 10, 3}, {1, 1064, 32, -1}}) + page({{1, 1000, 64, -1}}), 64},
      {"overlapping_pages", page({{0, 700, 10, 3}, {1, 1032, 64, -1}, {2, 800, 10, 0}}), 64},
      {"level_below_zero", page({{-1, 700, 10, 3}}), 32},
      {"level_31", page({{0, 700, 10, 1}, {31, 800, 10, 2}}), 64},
      {"level_far_too_deep", page({{0, 700, 10, 1}, {I32_MAX, 800, 10, 2}}), 64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASheader header;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(read_hierarchy(header, c.payload, c.root_size, 3));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), REFUSED);
    EXPECT_EQ(header.number_of_copc_entries, 0u);
    EXPECT_EQ(header.copc_entries, nullptr);
  }
}

TEST(EPToctreeEntries, CountsThatDoNotAddUpAreRefused) {
  LASheader header;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(read_hierarchy(header, page({{0, 700, 10, 3}}), 32, 4));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), REFUSED);
  EXPECT_EQ(header.number_of_copc_entries, 0u);
  EXPECT_FALSE(EPToctree::set_vlr_entries(nullptr, 0, 0, header));
}

namespace {

// A header holding these entries (in offset order) under the 0..16 cube.
void set_entries(LASheader& header, const std::vector<LASvlr_copc_entry>& entries) {
  set_info(header, 0, 0);
  header.number_of_copc_entries = (U32)entries.size();
  header.copc_entries = (LASvlr_copc_entry*)calloc(entries.size(), sizeof(LASvlr_copc_entry));
  memcpy((void*)header.copc_entries, entries.data(), entries.size() * sizeof(LASvlr_copc_entry));
}

LASvlr_copc_entry octant(I32 level, I32 x, I32 y, I32 z, U64 offset, I32 count) {
  return {level, x, y, z, offset, count * 30, count};
}

std::vector<Range> ranges(std::vector<std::pair<U64, U64>> pairs) {
  std::vector<Range> result;
  for (const auto& [start, end] : pairs) result.push_back({start, end});
  return result;
}

std::vector<EPTkey> keys(const COPCindex& index) {
  std::vector<EPTkey> result;
  for (const EPToctant* o : index.get_query_octants()) result.push_back(o->key);
  return result;
}

}  // namespace

TEST(EPToctreeBuild, BoxesAndPointRangesFollowTheEntries) {
  LASheader header;
  // In file order: root (2 points), an empty level-1 octant, a level-2 octant
  // (3 points) and a level-1 octant (1 point).
  set_entries(header, {octant(0, 0, 0, 0, 500, 2), octant(1, 1, 0, 0, 0, 0), octant(2, 3, 1, 2, 560, 3),
                       octant(1, 0, 1, 1, 650, 1)});
  const EPToctree tree(header);
  EXPECT_EQ(tree.min_x, 0);
  EXPECT_EQ(tree.max_z, 16);
  EXPECT_EQ(tree.spacing, 4);
  EXPECT_EQ(tree.max_depth, 2);
  ASSERT_EQ(tree.octants.size(), 4u);
  const EPToctant& deep = tree.octants.at(EPTkey{2, 3, 1, 2});
  EXPECT_EQ(deep.point_start, 2u);
  EXPECT_EQ(deep.point_end, 4u);
  EXPECT_EQ(deep.byte_end, 560u + 90u);
  EXPECT_EQ(deep.min_x, 12);
  EXPECT_EQ(deep.max_x, 16);
  EXPECT_EQ(deep.min_y, 4);
  EXPECT_EQ(deep.min_z, 8);
  EXPECT_EQ(deep.max_z, 12);
  const EPToctant& last = tree.octants.at(EPTkey{1, 0, 1, 1});
  EXPECT_EQ(last.point_start, 5u);
  EXPECT_EQ(last.point_end, 5u);
  EXPECT_FALSE(tree.octants.at(EPTkey{1, 1, 0, 0}).has_points);

  // Without COPC information: a cube around the bounding box and no octants.
  LASheader plain;
  plain.min_x = 0, plain.max_x = 10, plain.min_y = 0, plain.max_y = 4, plain.min_z = 1, plain.max_z = 3;
  const EPToctree cube(plain);
  EXPECT_EQ(cube.min_x, 0);
  EXPECT_EQ(cube.max_x, 10);
  EXPECT_EQ(cube.min_y, -3);
  EXPECT_EQ(cube.max_z, 7);
  EXPECT_TRUE(cube.octants.empty());
}

TEST(COPCindexQuery, MergeFusesOnlyRangesThatFollowEachOther) {
  struct Case {
    const char* name;
    std::vector<Range> in, out;
  } cases[] = {
      {"none", {}, {}},
      {"one", ranges({{4, 9}}), ranges({{4, 9}})},
      {"adjacent", ranges({{0, 3}, {4, 9}, {10, 10}}), ranges({{0, 10}})},
      {"gap", ranges({{0, 3}, {5, 9}}), ranges({{0, 3}, {5, 9}})},
      {"out_of_order", ranges({{4, 9}, {0, 3}}), ranges({{4, 9}, {0, 3}})},
      {"gap_then_adjacent", ranges({{0, 1}, {7, 8}, {9, 12}, {2, 3}}), ranges({{0, 1}, {7, 12}, {2, 3}})},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    COPCindex::merge_intervals(c.in);
    EXPECT_EQ(c.in, c.out);
  }
}

TEST(COPCindexQuery, DepthResolutionAndOrders) {
  LASheader header;
  // Root 0..1, level 1 at x = 1 (2..3) and x = 0 (4..5), level 2 (6..7).
  set_entries(header, {octant(0, 0, 0, 0, 500, 2), octant(1, 1, 0, 0, 560, 2), octant(1, 0, 0, 0, 620, 2),
                       octant(2, 0, 0, 0, 680, 2)});
  COPCindex index(header);
  EXPECT_EQ(index.get_query_depth(), 2);

  // Spatial order (the default): the two octants at x = 0 come before x = 1.
  ASSERT_TRUE(index.set_depth_limit(-1));
  EXPECT_EQ(keys(index), (std::vector<EPTkey>{{0, 0, 0, 0}, {1, 0, 0, 0}, {2, 0, 0, 0}, {1, 1, 0, 0}}));
  EXPECT_EQ(index.get_point_ranges(), ranges({{0, 1}, {4, 7}, {2, 3}}));
  ASSERT_TRUE(index.set_depth_limit(0));
  EXPECT_EQ(index.get_point_ranges(), ranges({{0, 1}}));

  // File order over every octant is one run.
  index.set_stream_order(COPCindex::STREAM_ORDER_FILE);
  ASSERT_TRUE(index.set_depth_limit(I32_MAX));
  EXPECT_EQ(index.get_point_ranges(), ranges({{0, 7}}));
  index.set_stream_order(COPCindex::STREAM_ORDER_DEPTH);
  ASSERT_TRUE(index.set_depth_limit(1));
  EXPECT_EQ(index.get_point_ranges(), ranges({{0, 1}, {4, 5}, {2, 3}}));

  // Resolutions: spacing 4 at the root, 2 at level 1, 1 at level 2.
  struct Case {
    F64 resolution;
    I32 depth;
  } cases[] = {{100, 0}, {4, 0}, {3.9, 1}, {2, 1}, {1, 2}, {0.01, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.resolution);
    index.set_resolution(c.resolution);
    EXPECT_EQ(index.get_query_depth(), c.depth);
    EXPECT_EQ(index.get_query_octants().size(), c.depth == 0 ? 1u : c.depth == 1 ? 3u : 4u);
  }
  // A resolution of 0 leaves the selection as it was.
  index.set_resolution(0);
  EXPECT_EQ(index.get_query_octants().size(), 4u);
  index.set_depth_limit(0);
  index.set_resolution(-1);
  EXPECT_EQ(index.get_query_octants().size(), 1u);
}

TEST(COPCindexQuery, AreasSelectTouchingOctantsAndNeverEmptyOnes) {
  LASheader header;
  // Root (points 0..1); level-1 octants at x = 0 (0..8) and x = 1 (8..16);
  // an empty octant that claims an offset.
  set_entries(header, {octant(0, 0, 0, 0, 500, 2), octant(1, 0, 0, 0, 560, 1), octant(1, 1, 0, 0, 590, 1),
                       octant(1, 0, 1, 0, 620, 0)});
  COPCindex index(header);
  index.set_stream_order(COPCindex::STREAM_ORDER_DEPTH);
  // Touching the boundary at x = 8 meets both level-1 octants.
  ASSERT_TRUE(index.intersect_rectangle(8, 0, 9, 1));
  EXPECT_EQ(keys(index), (std::vector<EPTkey>{{0, 0, 0, 0}, {1, 0, 0, 0}, {1, 1, 0, 0}}));
  ASSERT_TRUE(index.intersect_rectangle(8.5, 0, 9, 1));
  EXPECT_EQ(keys(index), (std::vector<EPTkey>{{0, 0, 0, 0}, {1, 1, 0, 0}}));
  // A circle uses its bounding square.
  ASSERT_TRUE(index.intersect_circle(4, 4, 4));
  EXPECT_EQ(keys(index), (std::vector<EPTkey>{{0, 0, 0, 0}, {1, 0, 0, 0}, {1, 1, 0, 0}}));
  EXPECT_FALSE(index.intersect_rectangle(20, 20, 30, 30));
  EXPECT_TRUE(index.get_point_ranges().empty());
  // The empty octant at (0, 1, 0) never gives a range, although it names an offset.
  ASSERT_TRUE(index.intersect_rectangle(0, 9, 1, 10));
  EXPECT_EQ(index.get_point_ranges(), ranges({{0, 1}}));
}
