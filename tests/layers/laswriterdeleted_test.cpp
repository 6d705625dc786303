// The deleting writer in front of a recording writer: what reaches the inner
// writer, the inventories, and who closes and deletes what.
#include <gtest/gtest.h>

#include <vector>

#include "core/laspoint.hpp"
#include "layers/laswriterdeleted.hpp"

namespace {

struct Recording : public LASwriter {
  std::vector<I32> written;
  std::vector<I32> inventoried;
  bool* deleted;
  int closes = 0;
  explicit Recording(bool* deleted) : deleted(deleted) {}
  bool write_point(const LASpoint* point) override {
    written.push_back(point->X);
    points_written++;
    return true;
  }
  bool update_inventory(const LASpoint* point) override {
    inventoried.push_back(point->X);
    return LASwriter::update_inventory(point);
  }
  bool chunk() override { return true; }
  bool update_header(const LASheader*, bool, bool) override { return true; }
  I64 close(bool) override {
    closes++;
    points_expected = points_written;
    points_written = 0;
    return 1234;
  }
  ~Recording() override { *deleted = true; }
};

TEST(LASwriterDeleted, DropsDeletedPointsAndKeepsBothInventoriesInStep) {
  bool inner_deleted = false;
  Recording* inner = new Recording(&inner_deleted);
  LASscaling scaling;
  LASpoint point;
  ASSERT_TRUE(point.init(&scaling, nullptr, (U8)0, (U16)20));
  {
    LASwriterDeleted writer;
    ASSERT_TRUE(writer.open(inner));
    for (I32 x = 1; x <= 5; x++) {
      point.X = x;
      point.is_deleted = (x % 2 == 0);
      EXPECT_EQ(writer.write_point(&point), x % 2 == 1);
      writer.update_inventory(&point);
    }
    EXPECT_EQ(inner->written, (std::vector<I32>{1, 3, 5}));
    EXPECT_EQ(inner->inventoried, (std::vector<I32>{1, 3, 5}));
    EXPECT_EQ(writer.inventory.number_of_point_records, 3);
    EXPECT_EQ(writer.inventory.max_X, 5);
    EXPECT_EQ(writer.close(true), 1234);
    EXPECT_EQ(inner->closes, 1);
    EXPECT_EQ(writer.points_expected, 3);
    EXPECT_FALSE(inner_deleted);
  }
  EXPECT_TRUE(inner_deleted);
}

TEST(LASwriterDeleted, RefusesNoWriter) {
  LASwriterDeleted writer;
  EXPECT_FALSE(writer.open(nullptr));
}

}  // namespace
