// COPC test files, generated from a seeded point list, and the points a COPC
// read must deliver, worked out by brute force from that list.
//
// Like las_fixture (on which it builds), this shares no code with the library:
// the octant of each point, the hierarchy pages and the orders of the octants
// are computed here from the COPC layout and the reading rules alone.
//
//   copcfix::Recipe recipe;                    // 2000 points, levels 0 to 3
//   recipe.page_levels = {1};                  // a page per level-1 subtree
//   copcfix::CopcFile f = copcfix::make_copc(recipe);
//   temp.write("in.las", f.built.bytes);
//   auto want = copcfix::expected_read(f, copcfix::Order::spatial, 2);
//   // want[k] is the index in f.file.points of the k-th point read
//
// The file is LAS 1.4 with point data format 6: the "copc" information record
// first, the points octant by octant, the hierarchy as the only EVLR (root page
// first). Coordinates use a scale of 1/128 and a cube of a power-of-two size, so
// that every coordinate and octant bound is exact in binary and the brute-force
// tests agree with the reader to the last bit.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/las_fixture.hpp"

namespace copcfix {

struct Key {
  int32_t level = 0, x = 0, y = 0, z = 0;
  auto operator<=>(const Key&) const = default;
};

struct Recipe {
  uint32_t point_count = 2000;
  int32_t max_level = 3;   // the deepest level that gets points
  uint32_t seed = 7;
  // Level l gets points in proportion to level_growth^l; every level from 0 to
  // max_level gets at least one point.
  double level_growth = 2;
  double center_x = 1064, center_y = 2112, center_z = 96;  // cube centre
  double halfsize = 64;  // a power of two
  double spacing = 8;    // point spacing at the root
  // The points' heights fill this fraction of the cube from its bottom; a
  // small fraction gives a surface, as airborne data is.
  double z_fraction = 1;
  // Levels (1 and deeper) whose octants begin a page of their own, reached
  // through an entry with point count -1 in the page above; empty: one page.
  std::vector<int32_t> page_levels;
  // Octants in a random order in the file, else level by level in key order.
  bool shuffle_octants = true;
};

// One hierarchy entry as written.
struct Entry {
  Key key;
  uint64_t offset = 0;
  int32_t byte_size = 0;
  int32_t point_count = 0;  // -1: the entry names a page
  size_t position = 0;      // file position of the entry
};

struct Page {
  uint64_t offset = 0;  // file position
  uint64_t size = 0;
  std::vector<Entry> entries;
};

struct Octant {
  Key key;
  size_t first_point = 0;  // index in CopcFile::file.points
  size_t point_count = 0;
  uint64_t offset = 0;     // 0 for an octant without points
};

struct CopcFile {
  Recipe recipe;
  lasfix::LasFile file;          // points in file order, records ready to rebuild
  std::vector<Key> point_keys;   // octant of each point of file.points
  std::vector<Octant> octants;   // every hierarchy octant, in file order; empty ones last
  std::vector<Page> pages;       // root first
  uint64_t hierarchy_position = 0;  // file position of the hierarchy payload
  lasfix::Built built;
};

CopcFile make_copc(const Recipe& recipe);

// World coordinates of a point of the file.
double world_x(const CopcFile& f, const lasfix::Point& p);
double world_y(const CopcFile& f, const lasfix::Point& p);

enum class Order { file, spatial, depth };

// An area as the reader tests points: rectangle and tile half-open at their
// upper bounds, circle by squared distance below the squared radius.
struct Area {
  enum Kind { rectangle, circle, tile } kind = rectangle;
  double a = 0, b = 0, c = 0, d = 0;  // min_x min_y max_x max_y | cx cy r | ll_x ll_y size
  bool contains(double x, double y) const;
};

// Indices into file.points of the points a read delivers, in order: the points
// of the octants down to `max_depth`, octant by octant in `order`, each
// octant's points in file order, limited to `area` when given.
std::vector<size_t> expected_read(const CopcFile& f, Order order, int32_t max_depth,
                                  const std::optional<Area>& area = std::nullopt);
// The deepest level of an octant with points.
int32_t deepest_level(const CopcFile& f);
// The depth a resolution selects: the first level whose spacing (halved per
// level from the root's) is at most `resolution`, else the deepest level.
int32_t depth_for_resolution(const CopcFile& f, double resolution);

}  // namespace copcfix
