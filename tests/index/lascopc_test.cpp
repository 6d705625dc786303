// Reading the COPC hierarchy into the header: pages breadth first, entries by
// offset, and pages that lie outside the payload or are named twice.
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
};

std::string page(const std::vector<Entry>& entries) {
  std::string bytes(entries.size() * 32, '\0');
  for (size_t i = 0; i < entries.size(); i++) {
    memcpy(&bytes[i * 32], &entries[i].level, 4);
    memcpy(&bytes[i * 32 + 16], &entries[i].offset, 8);
    memcpy(&bytes[i * 32 + 24], &entries[i].byte_size, 4);
    memcpy(&bytes[i * 32 + 28], &entries[i].point_count, 4);
  }
  return bytes;
}

// The payload lies at file position 1000; the root page is its first `root_size` bytes.
bool read_hierarchy(LASheader& header, const std::string& payload, U64 root_size, U64 points) {
  header.copc_info = new LASvlrCopcInfo();
  memset((void*)header.copc_info, 0, sizeof(LASvlrCopcInfo));
  header.copc_info->root_hier_offset = 1000;
  header.copc_info->root_hier_size = root_size;
  header.extended_number_of_point_records = points;
  return EPToctree::set_vlr_entries((const U8*)payload.data(), 1000, payload.size(), header);
}

}  // namespace

TEST(EPToctreeEntries, PagesAreReadBreadthFirstAndSortedByOffset) {
  // Root page: one octant and a link to the page at 1064; that page: two
  // octants, an ignored count of -2 and an empty octant.
  const std::string payload = page({{0, 700, 10, 4}, {1, 1064, 128, -1}}) +
                              page({{1, 900, 10, 2}, {1, 500, 10, 1}, {1, 0, 0, -2}, {2, 0, 0, 0}});
  LASheader header;
  ASSERT_TRUE(read_hierarchy(header, payload, 64, 7));
  ASSERT_EQ(header.number_of_copc_entries, 4u);
  EXPECT_EQ(header.copc_entries[0].offset, 0u);
  EXPECT_EQ(header.copc_entries[1].offset, 500u);
  EXPECT_EQ(header.copc_entries[2].offset, 700u);
  EXPECT_EQ(header.copc_entries[3].offset, 900u);
}

TEST(EPToctreeEntries, PagesOutsideThePayloadOrMetTwiceAreSkipped) {
  // The root links to itself, to a page beyond the payload and to one before it.
  const std::string payload =
      page({{0, 700, 10, 3}, {1, 1000, 128, -1}, {1, 1096, 64, -1}, {1, 10, 32, -1}});
  LASheader header;
  ASSERT_TRUE(read_hierarchy(header, payload, 128, 3));
  ASSERT_EQ(header.number_of_copc_entries, 1u);
  EXPECT_EQ(header.copc_entries[0].offset, 700u);
}

TEST(EPToctreeEntries, CountsThatDoNotAddUpAreRefused) {
  LASheader header;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(read_hierarchy(header, page({{0, 700, 10, 3}}), 32, 4));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "WARNING: COPC EPT hierarchy EVLR number of point does not match with the header.\n");
  EXPECT_EQ(header.number_of_copc_entries, 0u);
  EXPECT_FALSE(EPToctree::set_vlr_entries(nullptr, 0, 0, header));
}
