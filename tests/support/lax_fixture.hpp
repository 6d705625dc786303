// `.lax` index files for tests, written byte by byte from the index layout,
// and the cells and runs an index of a point list holds, worked out from the
// quadtree's numbering rules alone. Shares no code with index/.
//
//   laxfix::Lax lax;                             // LASQ block, levels 2, root [0,100]^2
//   lax.cells.push_back({5, {{0, 9}}});          // cell 5 holds points 0 to 9
//   temp.write("in.lax", lax.bytes());
//   laxfix::Lax built = laxfix::index_points(xy, 3, 0, 100, 0, 100);
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace laxfix {

struct Cell {
  Cell(int32_t index, std::vector<std::pair<uint32_t, uint32_t>> runs, std::optional<uint32_t> point_count = {})
      : index(index), runs(std::move(runs)), point_count(point_count) {}
  int32_t index = 0;
  std::vector<std::pair<uint32_t, uint32_t>> runs;  // inclusive first and last point index
  std::optional<uint32_t> point_count;              // the points the runs cover
};

struct Lax {
  std::string signature = "LASX";
  uint32_t version = 0;
  std::string spatial_signature = "LASS";
  uint32_t spatial_type = 0;
  bool with_lasq = true;  // without: levels follow the spatial type directly
  uint32_t quadtree_version = 0;
  uint32_t levels = 2, level_index = 0, implicit_levels = 0;
  float min_x = 0, max_x = 100, min_y = 0, max_y = 100;
  std::string interval_signature = "LASV";
  uint32_t interval_version = 0;
  std::optional<uint32_t> number_of_cells;  // cells.size()
  std::vector<Cell> cells;
  std::string bytes() const;
  // Byte position of the first cell.
  size_t cells_position() const { return with_lasq ? 64 : 56; }
};

// Global index of the finest-level cell holding (x, y): each cell splits at
// its midpoints, computed in single precision, and a point on a midpoint
// belongs to the half with the larger coordinate. Level l starts at
// (4^l - 1) / 3; child q of local index i is 4 i + q (bit 0: larger x,
// bit 1: larger y).
uint32_t cell_of(double x, double y, uint32_t levels, float min_x, float max_x, float min_y, float max_y);

// The index of points in file order: every point in its finest-level cell,
// consecutive points of one cell in one run.
class Builder {
 public:
  Builder(uint32_t levels, float min_x, float max_x, float min_y, float max_y);
  void add(double x, double y);
  Lax finish() const;

 private:
  Lax lax;
  std::vector<int64_t> slot_of;  // cell's local index -> position in lax.cells, -1 none
  uint32_t next_point = 0;
};
Lax index_points(const std::vector<std::pair<double, double>>& xy, uint32_t levels, float min_x, float max_x,
                 float min_y, float max_y);

}  // namespace laxfix
