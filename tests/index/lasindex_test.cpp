// The `.lax` index in parts: quadtree cells worked out by hand, the merging of
// point runs, reading the index data with its error messages, and the runs
// seek_next walks a reader through.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "core/bytestreamin_array.hpp"
#include "core/lasmessage.hpp"
#include "index/lasindex.hpp"
#include "index/lasinterval.hpp"
#include "index/lasquadtree.hpp"
#include "support/halting_off.hpp"
#include "support/lax_fixture.hpp"
#include "support/temp_dir.hpp"

namespace {

using Runs = std::vector<std::pair<uint32_t, uint32_t>>;

// Reads index data from memory; stderr of the read goes to `err`.
bool read_index(LASindex& index, const std::string& bytes, std::string* err = nullptr) {
  ByteStreamInArrayLE stream((const U8*)bytes.data(), (I64)bytes.size());
  ::testing::internal::CaptureStderr();
  const bool ok = index.read(&stream);
  const std::string text = ::testing::internal::GetCapturedStderr();
  if (err) *err = text;
  else EXPECT_EQ(text, "");
  return ok;
}

std::vector<U32> cells_of(LASquadtree& tree) {
  std::vector<U32> cells;
  if (!tree.get_intersected_cells()) return cells;
  while (tree.has_more_cells()) cells.push_back(tree.current_cell);
  return cells;
}

Runs runs_of(LASinterval& intervals) {
  Runs runs;
  while (intervals.has_intervals()) runs.push_back({intervals.start, intervals.end});
  return runs;
}

// A quadtree read from a block with the root [0,100]^2 and these levels.
LASquadtree tree_of(uint32_t levels, float min = 0, float max = 100) {
  laxfix::Lax lax;
  lax.levels = levels;
  lax.min_x = lax.min_y = min;
  lax.max_x = lax.max_y = max;
  const std::string bytes = lax.bytes().substr(8);  // the spatial block
  ByteStreamInArrayLE stream((const U8*)bytes.data(), (I64)bytes.size());
  LASquadtree tree;
  EXPECT_TRUE(tree.read(&stream));
  return tree;
}

// ------------------------------------------------------------------ quadtree

TEST(LASquadtreeTest, CellsWorkedByHand) {
  // Uniform: (10,10) lies in level-2 cell 5, (60,10) in 9 (a child of 2).
  LASquadtree uniform = tree_of(2);
  EXPECT_EQ(uniform.intersect_rectangle(10, 10, 10.5, 10.5), 1u);
  EXPECT_EQ(cells_of(uniform), std::vector<U32>{5});
  uniform.intersect_rectangle(60, 10, 60.5, 10.5);
  EXPECT_EQ(cells_of(uniform), std::vector<U32>{9});
  // Every level-2 cell in ascending order for the whole root.
  EXPECT_EQ(uniform.intersect_rectangle(0, 0, 100, 100), 16u);
  EXPECT_EQ(cells_of(uniform).front(), 5u);
  EXPECT_EQ(cells_of(uniform).back(), 20u);

  // Adaptive: with only cell 2 subdivided (its child 9 indexed), the other
  // level-1 cells are leaves.
  LASquadtree adaptive = tree_of(2);
  ASSERT_TRUE(adaptive.manage_cell(9));
  adaptive.intersect_rectangle(60, 10, 60.5, 10.5);
  EXPECT_EQ(cells_of(adaptive), std::vector<U32>{9});
  adaptive.intersect_rectangle(10, 10, 10.5, 10.5);
  EXPECT_EQ(cells_of(adaptive), std::vector<U32>{1});
  adaptive.intersect_rectangle(40, 10, 60, 30);  // spans cells 1 and 2's children 9 and 11
  EXPECT_EQ(cells_of(adaptive), (std::vector<U32>{1, 9, 11}));

  // Only the root indexed: every query meeting the root yields cell 0.
  LASquadtree root = tree_of(2);
  ASSERT_TRUE(root.manage_cell(0));
  root.intersect_circle(30, 30, 5);
  EXPECT_EQ(cells_of(root), std::vector<U32>{0});
  // Levels 0 without a bitmap: the single cell 0.
  LASquadtree flat = tree_of(0);
  flat.intersect_tile(10, 10, 5);
  EXPECT_EQ(cells_of(flat), std::vector<U32>{0});
  // Nothing before any query.
  LASquadtree fresh = tree_of(2);
  EXPECT_FALSE(fresh.has_more_cells());
}

TEST(LASquadtreeTest, QueryEdges) {
  LASquadtree tree = tree_of(1);
  struct Case {
    const char* name;
    F64 min_x, min_y, max_x, max_y;
    std::vector<U32> cells;
  };
  const Case cases[] = {
      {"starts on the root's max x", 100, 10, 110, 20, {2}},
      {"ends on the root's min x", -10, 10, 0, 20, {}},
      {"degenerate on the midpoint goes low", 50, 10, 50, 20, {1}},
      {"starts on the midpoint goes high", 50, 10, 60, 20, {2}},
      {"ends on the midpoint goes low", 40, 60, 50, 70, {3}},
  };
  for (const Case& c : cases) {
    tree.intersect_rectangle(c.min_x, c.min_y, c.max_x, c.max_y);
    EXPECT_EQ(cells_of(tree), c.cells) << c.name;
  }
}

TEST(LASquadtreeTest, CircleMeetsACellOnlyInsideTheRadius) {
  LASquadtree tree = tree_of(1);
  // The corner (50,50) of cell 1 lies exactly 5 from (53,54): not met; the
  // sides of cells 2 and 3 lie 4 and 3 away.
  tree.intersect_circle(53, 54, 5);
  EXPECT_EQ(cells_of(tree), (std::vector<U32>{2, 3, 4}));
  // The side x = 50 is 3 away inside its y range: met when radius > 3.
  tree.intersect_circle(53, 60, 3);
  EXPECT_EQ(cells_of(tree), std::vector<U32>{4});
  tree.intersect_circle(53, 60, 3.001);
  EXPECT_EQ(cells_of(tree), (std::vector<U32>{3, 4}));
}

TEST(LASquadtreeTest, MidpointsAreSinglePrecision) {
  // (1 + 16777218) / 2 is 8388609.5 in double but 8388610 in float: a
  // rectangle between the two lies in the lower half.
  LASquadtree tree = tree_of(1, 1.0f, 16777218.0f);
  tree.intersect_rectangle(8388609.6, 2, 8388609.9, 3);
  EXPECT_EQ(cells_of(tree), std::vector<U32>{1});
}

TEST(LASquadtreeTest, BlockWithAndWithoutLasqReadsTheSame) {
  for (bool with_lasq : {true, false}) {
    laxfix::Lax lax;
    lax.with_lasq = with_lasq;
    lax.levels = 7;
    lax.min_x = 1.5f;
    lax.max_x = 2.5f;
    lax.min_y = -3;
    lax.max_y = 4;
    const std::string bytes = lax.bytes().substr(8);
    ByteStreamInArrayLE stream((const U8*)bytes.data(), (I64)bytes.size());
    LASquadtree tree;
    ASSERT_TRUE(tree.read(&stream));
    EXPECT_EQ(tree.levels, 7u);
    EXPECT_EQ(tree.min_x, 1.5f);
    EXPECT_EQ(tree.max_x, 2.5f);
    EXPECT_EQ(tree.min_y, -3.0f);
    EXPECT_EQ(tree.max_y, 4.0f);
    EXPECT_EQ(stream.tell(), (I64)lax.cells_position() - 20);  // up to "LASV"
  }
}

// ------------------------------------------------------------------ intervals

// The merged runs of a query meeting these cells of an index listing `cells`.
Runs merged(const std::vector<laxfix::Cell>& cells, const std::vector<I32>& chosen) {
  laxfix::Lax lax;
  lax.cells = cells;
  LASindex index;
  EXPECT_TRUE(read_index(index, lax.bytes()));
  LASinterval& intervals = *index.get_intervals();
  for (I32 cell : chosen) {
    if (intervals.get_cell(cell)) intervals.add_current_cell_to_merge_cell_set();
  }
  const bool any = intervals.merge(false);
  intervals.clear_merge_cell_set();
  Runs runs = runs_of(intervals);
  EXPECT_EQ(any, !runs.empty());
  EXPECT_FALSE(intervals.has_intervals()) << "after the last run";
  return runs;
}

TEST(LASintervalTest, Merging) {
  struct Case {
    const char* name;
    std::vector<laxfix::Cell> cells;
    std::vector<I32> chosen;
    Runs want;
  };
  const Case cases[] = {
      {"a single cell unchanged", {{5, {{10, 20}, {22, 30}}}}, {5}, {{10, 20}, {22, 30}}},
      {"gap of 1000 fuses", {{5, {{0, 10}}}, {6, {{1010, 1020}}}}, {5, 6}, {{0, 1020}}},
      {"gap of 1001 stays", {{5, {{0, 10}}}, {6, {{1011, 1020}}}}, {5, 6}, {{0, 10}, {1011, 1020}}},
      {"interleaved cells",
       {{5, {{0, 9}, {5000, 5009}}}, {6, {{3000, 3009}, {5005, 5100}}}},
       {6, 5},
       {{0, 9}, {3000, 3009}, {5000, 5100}}},
      {"a contained run keeps the larger end", {{5, {{0, 100}}}, {6, {{10, 20}}}}, {5, 6}, {{0, 100}}},
      {"a cell chosen twice", {{5, {{10, 20}}}}, {5, 5}, {{10, 20}}},
      {"duplicate listing keeps the first", {{5, {{10, 20}}}, {5, {{40, 50}}}}, {5}, {{10, 20}}},
      {"a cell without runs holds 0..0", {{5, {}}}, {5}, {{0, 0}}},
      {"absent cells", {{5, {{10, 20}}}}, {6}, {}},
      {"no cells", {}, {5}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(merged(c.cells, c.chosen), c.want) << c.name;
}

TEST(LASintervalTest, CountsOfCellsAndMerges) {
  laxfix::Lax lax;
  lax.cells = {{5, {{10, 19}, {30, 34}}, 12}, {6, {{20, 29}}}, {7, {}}};
  LASindex index;
  ASSERT_TRUE(read_index(index, lax.bytes()));
  LASinterval& intervals = *index.get_intervals();
  ASSERT_TRUE(intervals.get_cell(5));
  EXPECT_EQ(intervals.point_count, 12u);
  EXPECT_EQ(intervals.covered_count, 15u);
  ASSERT_TRUE(intervals.get_cell(7));
  EXPECT_EQ(intervals.covered_count, 0u);
  EXPECT_FALSE(intervals.get_cell(8));
  EXPECT_FALSE(intervals.add_current_cell_to_merge_cell_set());
  intervals.get_cell(5);
  intervals.add_current_cell_to_merge_cell_set();
  intervals.get_cell(6);
  intervals.add_current_cell_to_merge_cell_set();
  ASSERT_TRUE(intervals.merge(false));
  EXPECT_EQ(intervals.point_count, 22u);
  EXPECT_EQ(intervals.covered_count, 25u);
  // The walk over all cells meets each listed cell once, in listing order.
  std::vector<I32> walked;
  intervals.get_cells();
  while (intervals.has_cells()) walked.push_back(intervals.cell_index);
  EXPECT_EQ(walked, (std::vector<I32>{5, 6, 7}));
}

// ------------------------------------------------------------------ index data

using LASindexReadTest = HaltingOff<>;

TEST_F(LASindexReadTest, BadIndexData) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string err;
  };
  laxfix::Lax good;
  good.cells = {{5, {{1, 2}, {7, 9}}}};
  const std::string bytes = good.bytes();
  auto with = [&](auto change) {
    laxfix::Lax lax = good;
    change(lax);
    return lax.bytes();
  };
  const size_t cell = good.cells_position();
  const Case cases[] = {
      {"wrong signature", with([](laxfix::Lax& l) { l.signature = "LASY"; }),
       "ERROR: (LASindex): wrong signature LASY instead of 'LASX'\n"},
      {"empty", "", "ERROR: (LASindex): reading signature\n"},
      {"no version", bytes.substr(0, 6), "ERROR: (LASindex): reading version\n"},
      {"wrong spatial signature", with([](laxfix::Lax& l) { l.spatial_signature = "LAS?"; }),
       "ERROR: (LASquadtree): wrong LASspatial signature LAS? instead of 'LASS'\n"
       "ERROR: (LASindex): cannot read LASspatial (LASquadtree)\n"},
      {"spatial type 1", with([](laxfix::Lax& l) { l.spatial_type = 1; }),
       "ERROR: (LASquadtree): unknown LASspatial type 1\n"
       "ERROR: (LASindex): cannot read LASspatial (LASquadtree)\n"},
      {"cut in max_y", bytes.substr(0, 50),
       "ERROR: (LASquadtree): reading max_y\nERROR: (LASindex): cannot read LASspatial (LASquadtree)\n"},
      {"16 levels", with([](laxfix::Lax& l) { l.levels = 16; }),
       "ERROR: (LASquadtree): 16 levels are more than the 15 supported\n"
       "ERROR: (LASindex): cannot read LASspatial (LASquadtree)\n"},
      {"wrong interval signature", with([](laxfix::Lax& l) { l.interval_signature = "LASW"; }),
       "ERROR: (LASinterval): wrong signature LASW instead of 'LASV'\nERROR: (LASindex): reading LASinterval\n"},
      {"cut in the number of cells", bytes.substr(0, cell - 2),
       "ERROR: (LASinterval): reading number of cells\nERROR: (LASindex): reading LASinterval\n"},
      {"more cells than listed", with([](laxfix::Lax& l) { l.number_of_cells = 4000000000u; }),
       "ERROR: (LASinterval): reading cell index\nERROR: (LASindex): reading LASinterval\n"},
      {"cut in the interval count", bytes.substr(0, cell + 6),
       "ERROR: (LASinterval): reading number of intervals in cell\nERROR: (LASindex): reading LASinterval\n"},
      {"cut in the point count", bytes.substr(0, cell + 10),
       "ERROR: (LASinterval): reading number of points in cell\nERROR: (LASindex): reading LASinterval\n"},
      {"cut in the second start", bytes.substr(0, cell + 22),
       "ERROR: (LASinterval): reading start 0 of interval\nERROR: (LASindex): reading LASinterval\n"},
      {"cut in the second end", bytes.substr(0, cell + 26),
       "ERROR: (LASinterval): reading end 0 of interval\nERROR: (LASindex): reading LASinterval\n"},
      {"cell beyond the finest level", with([](laxfix::Lax& l) { l.cells = {{21, {{0, 1}}}}; }),
       "ERROR: (LASindex): cell index 21 lies beyond the 2 levels of the quadtree\n"},
      {"negative cell index", with([](laxfix::Lax& l) { l.cells = {{-1, {{0, 1}}}}; }),
       "ERROR: (LASindex): cell index -1 lies beyond the 2 levels of the quadtree\n"},
  };
  for (const Case& c : cases) {
    LASindex index;
    std::string err;
    EXPECT_FALSE(read_index(index, c.bytes, &err)) << c.name;
    EXPECT_EQ(err, c.err) << c.name;
  }
  // Bytes after the last cell are ignored.
  LASindex index;
  EXPECT_TRUE(read_index(index, bytes + "trailing"));
}

TEST_F(LASindexReadTest, FindingTheIndexFile) {
  TempDir dir;
  laxfix::Lax lax;
  lax.cells = {{5, {{0, 3}}}};
  dir.write("a.lax", lax.bytes());
  dir.write("noext.lax", lax.bytes());
  dir.write("bad.lax", "LASY");
  struct Case {
    std::string name;
    bool found;
    std::string err;
  };
  const Case cases[] = {
      {dir.file("a.las"), true, ""},
      {dir.file("a.some.vmb"), false, ""},  // looks for a.some.lax: silent
      {dir.file("noext"), true, ""},
      {"", false, ""},
      {dir.file("bad.las"), false,
       "ERROR: (LASindex): wrong signature LASY instead of 'LASX'\nERROR: (LASindex): cannot read '" +
           dir.file("bad.lax") + "'\n"},
  };
  for (const Case& c : cases) {
    LASindex index;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(index.read(c.name.c_str()), c.found) << c.name;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.err) << c.name;
  }
  // A name of four characters or fewer is a name like any other.
  char* here = getcwd(nullptr, 0);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  LASindex short_name;
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(short_name.read("a.qi"));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(chdir(here), 0);
  free(here);
}

// ------------------------------------------------------------------ queries

TEST(LASindexTest, QueriesPrepareFreshRuns) {
  laxfix::Lax lax;
  lax.cells = {{5, {{0, 9}}}, {9, {{5000, 5009}}}, {20, {{9000, 9000}}}};
  LASindex index;
  ASSERT_TRUE(read_index(index, lax.bytes()));
  ASSERT_TRUE(index.intersect_rectangle(0, 0, 100, 100));
  EXPECT_EQ(index.cell_count, 13u);  // leaves 5 to 12, 3 and 17 to 20
  ASSERT_TRUE(index.get_intervals()->has_intervals());
  // A second query starts over with its own list.
  ASSERT_TRUE(index.intersect_tile(60, 10, 1));
  EXPECT_EQ(runs_of(*index.get_intervals()), (Runs{{5000, 5009}}));
  // A query that meets no indexed cell selects nothing, not the last runs.
  EXPECT_FALSE(index.intersect_circle(30, 80, 1));
  EXPECT_FALSE(index.get_intervals()->has_intervals());
  EXPECT_FALSE(index.intersect_rectangle(200, 200, 300, 300));
  EXPECT_FALSE(index.get_intervals()->has_intervals());
}

TEST(LASindexTest, NoCellsSelectNothing) {
  // 15 levels and no cells: a uniform descent would enumerate 4^15 cells.
  laxfix::Lax lax;
  lax.levels = 15;
  LASindex index;
  ASSERT_TRUE(read_index(index, lax.bytes()));
  EXPECT_FALSE(index.intersect_rectangle(0, 0, 100, 100));
  EXPECT_FALSE(index.intersect_tile(0, 0, 100));
  EXPECT_FALSE(index.intersect_circle(50, 50, 100));
  EXPECT_EQ(index.cell_count, 0u);
}

}  // namespace
