// The cell map against a reference map: every key must keep its own record
// through growth, including the key that doubles as the free-slot marker.
#include "tool/cellmap.hpp"

#include <gtest/gtest.h>

#include <random>
#include <unordered_map>

#include "tool/voxelgrid.hpp"

namespace {

struct Record {
  U64 a;
  U32 b;
};

using Map = CellMap<U64, Record>;

TEST(CellMap, EmptyMapFindsNothingAndHoldsNoMemory) {
  Map map;
  EXPECT_EQ(map.find(0), nullptr);
  EXPECT_EQ(map.find(U64_MAX), nullptr);
  EXPECT_EQ(map.size(), 0u);
  EXPECT_EQ(map.memoryBytes(), 0u);
}

TEST(CellMap, InsertFindsExistingAndZeroesNew) {
  Map map;
  bool inserted = false;
  Record* r = map.insert(42, inserted);
  EXPECT_TRUE(inserted);
  EXPECT_EQ(r->a, 0u);
  EXPECT_EQ(r->b, 0u);
  r->a = 7;
  Record* again = map.insert(42, inserted);
  EXPECT_FALSE(inserted);
  EXPECT_EQ(again->a, 7u);
  EXPECT_EQ(map.size(), 1u);
  EXPECT_EQ(map.find(43), nullptr);
}

// Keys chosen to stress the probing: consecutive (grid-like), multiples of a
// large power of two (differ only in high bits), random, and the marker value.
TEST(CellMap, MatchesReferenceMapThroughGrowth) {
  Map map;
  std::unordered_map<U64, U64> reference;
  std::mt19937_64 random(7);
  auto put = [&](U64 key) {
    bool inserted;
    Record* r = map.insert(key, inserted);
    ASSERT_EQ(inserted, reference.count(key) == 0) << key;
    r->a += key ^ 0x5555;
    r->b++;
    reference[key] += key ^ 0x5555;
  };
  for (U64 i = 0; i < 5000; i++) put(i);
  for (U64 i = 0; i < 5000; i++) put(i << 40);
  put(U64_MAX);
  put(U64_MAX - 1);
  for (U64 i = 0; i < 20000; i++) put(random() % 30000);
  put(U64_MAX);

  EXPECT_EQ(map.size(), reference.size());
  for (const auto& [key, sum] : reference) {
    const Record* r = map.find(key);
    ASSERT_NE(r, nullptr) << key;
    EXPECT_EQ(r->a, sum) << key;
  }
  U64 seen = 0;
  map.forEach([&](U64 key, const Record& r) {
    seen++;
    EXPECT_EQ(reference.at(key), r.a);
  });
  EXPECT_EQ(seen, reference.size());
  for (U64 i = 0; i < 1000; i++) {
    U64 key = 100000 + random() % 1000000;
    if (!reference.count(key)) {
      EXPECT_EQ(map.find(key), nullptr) << key;
    }
  }
}

// Grows past 4 MiB, where tables move to huge-page aligned storage.
TEST(CellMap, CapacityIsPowerOfTwoAndAtMostSevenEighthsFull) {
  Map map;
  bool inserted;
  const U64 keys = 200000;
  for (U64 i = 0; i < keys; i++) {
    map.insert(i * 0x9E3779B97F4A7C15ULL, inserted)->a = i;
    const U64 capacity = map.capacity();
    ASSERT_EQ(capacity & (capacity - 1), 0u);
    ASSERT_LE(map.size() * 8, capacity * 7);
  }
  EXPECT_GE(map.memoryBytes(), U64(4) << 20);
  for (U64 i = 0; i < keys; i++) {
    const Record* r = map.find(i * 0x9E3779B97F4A7C15ULL);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->a, i);
  }
  EXPECT_EQ(map.memoryBytes(), map.capacity() * sizeof(Map::Slot));
  EXPECT_EQ(sizeof(CellMap<U64, U32>::Slot), 12u);  // packed to 4 bytes
}

TEST(CellMap, WideKeys) {
  CellMap<VoxelTriple, U64> map;
  bool inserted;
  *map.insert({1, 2, 3}, inserted) = 10;
  *map.insert({3, 2, 1}, inserted) = 20;
  *map.insert({U64_MAX - 1, 0, U64_MAX - 1}, inserted) = 30;
  *map.insert(CellMapKey<VoxelTriple>::empty(), inserted) = 40;
  EXPECT_TRUE(inserted);
  ASSERT_NE(map.find({1, 2, 3}), nullptr);
  EXPECT_EQ(*map.find({1, 2, 3}), 10u);
  EXPECT_EQ(*map.find({3, 2, 1}), 20u);
  EXPECT_EQ(*map.find({U64_MAX - 1, 0, U64_MAX - 1}), 30u);
  EXPECT_EQ(*map.find(CellMapKey<VoxelTriple>::empty()), 40u);
  EXPECT_EQ(map.find({1, 3, 2}), nullptr);
  EXPECT_EQ(map.size(), 4u);
}

}  // namespace
