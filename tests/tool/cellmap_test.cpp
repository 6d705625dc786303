// The cell map against a reference map: every key must keep its own record
// through growth, any key value included, and every entry its position.
#include "tool/cellmap.hpp"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <unordered_map>
#include <vector>

#include "tool/voxelgrid.hpp"

namespace {

// Bytes of address space the process has mapped (unused where the test that
// limits it is skipped: sanitizer builds).
[[maybe_unused]] U64 currentAddressSpace() {
  U64 pages = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%lu", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  return pages * U64(sysconf(_SC_PAGESIZE));
}

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
  EXPECT_LE(map.memoryBytes(), map.capacity() * map.slotBytes() + 2 * keys * sizeof(Map::Entry));
  EXPECT_EQ(sizeof(CellMap<U64, U32>::Entry), 12u);  // packed to 4 bytes
}

// Large entry arrays leave the heap for a mapping of their own and then move
// to larger mappings as they grow, with room made up front or not: every
// entry keeps its key, record and position through each move.
TEST(CellMap, EntriesSurviveTheMovesOfTheirStorage) {
  for (const U64 reserved : {U64(0), U64(300000)}) {
    SCOPED_TRACE(reserved);
    Map map;
    map.reserve(reserved);
    const U64 keys = 1200000;  // about 24 MB of entries: several moves
    bool inserted;
    U64 moves = 0;
    U64 room = map.memoryBytes();
    for (U64 k = 0; k < keys; k++) {
      const U64 key = k * 0x9E3779B97F4A7C15ULL;
      ASSERT_EQ(map.insert(key, Map::hash(key), inserted), k);
      map.at(k).value = {k, U32(k ^ 0xABCD)};
      moves += map.memoryBytes() != room;
      room = map.memoryBytes();
      if ((k & (k - 1)) == 0) {  // now and then, the earliest and the latest
        ASSERT_EQ(map.find(0, Map::hash(0)), 0u);
        ASSERT_EQ(map.at(k).key, key);
      }
    }
    EXPECT_GE(moves, 3u);
    for (U64 k = 0; k < keys; k++) {
      const U64 key = k * 0x9E3779B97F4A7C15ULL;
      ASSERT_EQ(map.find(key, Map::hash(key)), k);
      ASSERT_EQ(map.at(k).value.a, k);
      ASSERT_EQ(map.at(k).value.b, U32(k ^ 0xABCD));
    }
  }
}

// When the address space runs out, an insert that needs more room throws and
// leaves the map as it was: every entry is still found, the key that failed is
// not, and the map grows again once there is room. Run in a child process,
// whose address space can be limited without harm to the other tests.
TEST(CellMap, FailedGrowthLeavesTheMapUsable) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer's shadow memory needs the address space";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Past 4 MiB of entries; from the first count the index needs to grow
  // first, from the second the entries.
  for (const U64 filled : {U64(400000), U64(460000)}) {
    SCOPED_TRACE(filled);
    EXPECT_EXIT(
        {
          Map map;
          bool inserted;
          U64 k = 0;
          auto key_of = [](U64 n) { return n * 0x9E3779B97F4A7C15ULL; };
          for (; k < filled; k++) map.insert(key_of(k), inserted)->a = k;
          rlimit limit;
          getrlimit(RLIMIT_AS, &limit);
          const rlimit old = limit;
          limit.rlim_cur = currentAddressSpace() + (U64(2) << 20);
          setrlimit(RLIMIT_AS, &limit);
          bool threw = false;
          for (; k < 20000000 && !threw; k++) {
            try {
              map.insert(key_of(k), inserted)->a = k;
            } catch (const std::bad_alloc&) {
              threw = true;
            }
          }
          setrlimit(RLIMIT_AS, &old);
          if (!threw) _exit(2);
          const U64 failed = k - 1;
          if (map.size() != failed || map.find(key_of(failed))) _exit(3);
          for (U64 n = 0; n < failed; n++) {
            const Record* r = map.find(key_of(n));
            if (!r || r->a != n) _exit(4);
          }
          for (U64 n = failed; n < failed + 100000; n++) {
            if (map.insert(key_of(n), Map::hash(key_of(n)), inserted) != n || !inserted) _exit(5);
          }
          _exit(0);
        },
        ::testing::ExitedWithCode(0), "");
  }
#endif
}

// Entries keep the position they were given, in order of first insertion,
// while the index grows around them; a find by position and hash agrees with
// the find by key.
// Room made before the first insert holds that many keys without growing;
// asked for later, or for fewer keys than there is room for, it changes nothing.
TEST(CellMap, ReservedRoomHoldsItsKeysWithoutGrowing) {
  for (const U64 keys : {U64(1), U64(14), U64(15), U64(1000), U64(114688), U64(114689)}) {
    SCOPED_TRACE(keys);
    Map map;
    map.reserve(keys);
    const U64 capacity = map.capacity();
    ASSERT_GE(capacity - capacity / 8, keys);
    if (capacity > Map::MIN_SLOTS) {
      EXPECT_LT(capacity / 2 - capacity / 16, keys);  // the least that holds them
    }
    bool inserted;
    for (U64 k = 0; k < keys; k++) map.insert(k * 977, inserted)->a = k;
    EXPECT_EQ(map.capacity(), capacity);
    for (U64 k = 0; k < keys; k++) {
      ASSERT_EQ(map.find(k * 977, Map::hash(k * 977)), k);
      ASSERT_EQ(map.find(k * 977)->a, k);
    }
    map.reserve(keys * 8);
    EXPECT_EQ(map.capacity(), capacity);
    map.insert(U64_MAX, inserted);
    EXPECT_TRUE(inserted);
    EXPECT_EQ(map.find(U64_MAX, Map::hash(U64_MAX)), keys);
  }
  Map map;
  map.reserve(100);
  const U64 capacity = map.capacity();
  map.reserve(10);
  EXPECT_EQ(map.capacity(), capacity);
}

TEST(CellMap, PositionsFollowFirstInsertionAndSurviveGrowth) {
  Map map;
  std::vector<U64> keys;
  std::mt19937_64 random(11);
  for (U64 i = 0; i < 50000; i++) keys.push_back(random());
  for (U64 i = 0; i < keys.size(); i++) {
    bool inserted;
    const U64 position = map.insert(keys[i], Map::hash(keys[i]), inserted);
    ASSERT_TRUE(inserted);
    ASSERT_EQ(position, i);
    map.at(position).value.a = i;
    // Inserting again gives the same entry.
    ASSERT_EQ(map.insert(keys[i / 2], Map::hash(keys[i / 2]), inserted), i / 2);
    ASSERT_FALSE(inserted);
  }
  for (U64 i = 0; i < keys.size(); i++) {
    ASSERT_EQ(map.find(keys[i], Map::hash(keys[i])), i);
    ASSERT_EQ(map.at(i).key, keys[i]);
    ASSERT_EQ(map.at(i).value.a, i);
  }
  EXPECT_EQ(map.find(12345, Map::hash(12345)), Map::NONE);
  U64 next = 0;
  map.forEach([&](U64 key, const Record&) { EXPECT_EQ(key, keys[next++]); });
  EXPECT_EQ(next, keys.size());
}

// Slots take 32 bits up to a limit and 64 bits beyond it; a map made with a
// small limit crosses it early. Every key keeps its entry and position across
// the switch, new and known keys alike, whether the map grows into the wide
// slots or has room made for them up front.
TEST(CellMap, EntriesSurviveTheSwitchToWideSlots) {
  std::mt19937_64 random(5);
  std::vector<U64> keys;
  for (U64 i = 0; i < 3000; i++) keys.push_back(i);
  for (U64 i = 0; i < 3000; i++) keys.push_back(random());
  for (const bool reserved : {false, true}) {
    SCOPED_TRACE(reserved);
    Map map(64);
    if (reserved) map.reserve(keys.size());
    EXPECT_EQ(map.slotBytes(), reserved ? 8u : 4u);
    bool inserted;
    bool saw_narrow = false;
    for (U64 i = 0; i < keys.size(); i++) {
      ASSERT_EQ(map.insert(keys[i], Map::hash(keys[i]), inserted), i);
      ASSERT_TRUE(inserted);
      map.at(i).value.a = i;
      ASSERT_EQ(map.slotBytes(), map.capacity() <= 64 ? 4u : 8u);
      saw_narrow = saw_narrow || map.slotBytes() == 4;
      // The earliest keys are found again right after each growth.
      ASSERT_EQ(map.insert(keys[i / 3], Map::hash(keys[i / 3]), inserted), i / 3);
      ASSERT_FALSE(inserted);
    }
    EXPECT_EQ(saw_narrow, !reserved);
    EXPECT_EQ(map.slotBytes(), 8u);
    for (U64 i = 0; i < keys.size(); i++) {
      ASSERT_EQ(map.find(keys[i], Map::hash(keys[i])), i);
      ASSERT_EQ(map.find(keys[i])->a, i);
    }
    EXPECT_EQ(map.find(U64_MAX - 3, Map::hash(U64_MAX - 3)), Map::NONE);
    U64 next = 0;
    map.forEach([&](U64 key, const Record&) { EXPECT_EQ(key, keys[next++]); });
    EXPECT_EQ(next, keys.size());
  }
  // The default map keeps 32-bit slots while it grows.
  Map map;
  bool inserted;
  for (U64 i = 0; i < 1000; i++) map.insert(i, inserted);
  EXPECT_EQ(map.slotBytes(), 4u);
}

// The key whose mix is v: the mix is bijective, each step undone in turn.
U64 unmix(U64 v) {
  auto inverse = [](U64 a) {  // of an odd number, modulo 2^64 (Newton's iteration)
    U64 x = a;
    for (int i = 0; i < 6; i++) x *= 2 - a * x;
    return x;
  };
  v ^= (v >> 31) ^ (v >> 62);
  v *= inverse(0x94d049bb133111ebULL);
  v ^= (v >> 27) ^ (v >> 54);
  v *= inverse(0xbf58476d1ce4e5b9ULL);
  v ^= (v >> 30) ^ (v >> 60);
  return v;
}

// Keys whose mixes agree in the top bits (one home slot while the index is
// small) and in the 24 bits the index keeps: the probe must tell them apart
// by the key itself, before and after growth.
TEST(CellMap, KeysAgreeingInTheIndexBitsStayApart) {
  Map map;
  std::vector<U64> keys;
  for (U64 k = 0; k < 40; k++) {
    const U64 mixed = (U64(0x2A) << 58) | (k << 24) | 0x5A5A5A;
    keys.push_back(unmix(mixed));
    ASSERT_EQ(Map::hash(keys.back()), mixed);
  }
  bool inserted;
  for (U64 k = 0; k < keys.size(); k++) {
    ASSERT_EQ(map.insert(keys[k], Map::hash(keys[k]), inserted), k);
    ASSERT_TRUE(inserted);
  }
  EXPECT_EQ(map.capacity(), 64u);
  for (U64 k = 0; k < keys.size(); k++) {
    ASSERT_EQ(map.find(keys[k], Map::hash(keys[k])), k);
    ASSERT_EQ(map.insert(keys[k], Map::hash(keys[k]), inserted), k);
    ASSERT_FALSE(inserted);
  }
  const U64 stranger = unmix((U64(0x2A) << 58) | (U64(41) << 24) | 0x5A5A5A);
  EXPECT_EQ(map.find(stranger, Map::hash(stranger)), Map::NONE);
}

TEST(CellMap, WideKeys) {
  CellMap<VoxelTriple, U64> map;
  bool inserted;
  *map.insert({1, 2, 3}, inserted) = 10;
  *map.insert({3, 2, 1}, inserted) = 20;
  *map.insert({I64_MAX - 1, 0, I64_MAX - 1}, inserted) = 30;
  *map.insert({-1, -I64_MAX - 1, -7}, inserted) = 40;
  EXPECT_TRUE(inserted);
  ASSERT_NE(map.find({1, 2, 3}), nullptr);
  EXPECT_EQ(*map.find({1, 2, 3}), 10u);
  EXPECT_EQ(*map.find({3, 2, 1}), 20u);
  EXPECT_EQ(*map.find({I64_MAX - 1, 0, I64_MAX - 1}), 30u);
  EXPECT_EQ(*map.find({-1, -I64_MAX - 1, -7}), 40u);
  EXPECT_EQ(map.find({1, 3, 2}), nullptr);
  EXPECT_EQ(map.size(), 4u);
}

}  // namespace
