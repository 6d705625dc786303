// The deleting writer in front of a recording writer: what reaches the inner
// writer, the inventories, and who closes and deletes what.
#include <gtest/gtest.h>

#include <cstring>
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
  // Records of format 0 and 20 bytes, whose X is kept.
  bool takes_records(U8 format, U32 record_length) const override { return format == 0 && record_length == 20; }
  bool write_records(const U8* records, U32 count) override {
    for (U32 i = 0; i < count; i++) written.push_back(x_of(records + 20 * i));
    points_written += count;
    return true;
  }
  void update_inventory_records(const U8* records, U32 count, const LASrecordFields& fields) override {
    for (U32 i = 0; i < count; i++) inventoried.push_back(x_of(records + 20 * i));
    LASwriter::update_inventory_records(records, count, fields);
  }
  static I32 x_of(const U8* record) {
    I32 x;
    memcpy(&x, record, 4);
    return x;
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

// Records as they lie in a file carry no deletion: they reach the inner
// writer as they are, where it takes them, and both inventories.
TEST(LASwriterDeleted, PassesRecordsOnToTheInnerWriter) {
  bool inner_deleted = false;
  Recording* inner = new Recording(&inner_deleted);
  LASwriterDeleted writer;
  ASSERT_TRUE(writer.open(inner));
  EXPECT_TRUE(writer.takes_records(0, 20));
  EXPECT_FALSE(writer.takes_records(1, 28));
  U8 records[60] = {};
  for (I32 i = 0; i < 3; i++) {
    const I32 x = 7 - 3 * i;
    memcpy(records + 20 * i, &x, 4);
  }
  EXPECT_TRUE(writer.write_records(records, 3));
  writer.update_inventory_records(records, 3, LASrecordFields{20, false, -1});
  EXPECT_EQ(inner->written, (std::vector<I32>{7, 4, 1}));
  EXPECT_EQ(inner->inventoried, (std::vector<I32>{7, 4, 1}));
  EXPECT_EQ(writer.points_written, 3);
  EXPECT_EQ(writer.inventory.number_of_point_records, 3);
  EXPECT_EQ(writer.inventory.min_X, 1);
  EXPECT_EQ(inner->inventory.max_X, 7);
}

TEST(LASwriterDeleted, RefusesNoWriter) {
  LASwriterDeleted writer;
  EXPECT_FALSE(writer.open(nullptr));
}

}  // namespace
