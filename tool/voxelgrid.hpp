// The voxel grid over a header's bounding box and the identity of a point, as
// both passes of a voxel filter compute them. Kept apart from the filters so the
// arithmetic that must agree between the passes lives in one place, inline.
#pragma once

#include <bit>
#include <cmath>

#include "core/mydefs.hpp"
#include "tool/cellmap.hpp"

// Cell indices along the three axes; the key of a cell in grids whose voxel
// count does not fit 64 bits.
struct VoxelTriple {
  U64 i_x, i_y, i_z;
  bool operator==(const VoxelTriple&) const = default;
};

template <>
struct CellMapKey<VoxelTriple> {
  static U64 hash(const VoxelTriple& key) {
    return cell_map_mix(cell_map_mix(cell_map_mix(key.i_x) ^ key.i_y) ^ key.i_z);
  }
};

struct VoxelGrid {
  F64 step_xy, step_z;
  F64 min_x, max_x, min_y, max_y, min_z, max_z;
  U64 n_x, n_y, n_z;
  // n_x * n_y * n_z does not fit 64 bits: ix + n_x * (iy + n_y * iz) would wrap
  // and give distinct voxels one key, so such grids key their cells otherwise.
  bool wide;

  VoxelGrid(F64 step_xy, F64 step_z, F64 min_x, F64 max_x, F64 min_y, F64 max_y, F64 min_z, F64 max_z)
      : step_xy(step_xy),
        step_z(step_z),
        min_x(min_x),
        max_x(max_x),
        min_y(min_y),
        max_y(max_y),
        min_z(min_z),
        max_z(max_z),
        n_x(cellsAlong(max_x - min_x, step_xy)),
        n_y(cellsAlong(max_y - min_y, step_xy)),
        n_z(cellsAlong(max_z - min_z, step_z)) {
    U64 n_xy;
    wide = __builtin_mul_overflow(n_x, n_y, &n_xy) || __builtin_mul_overflow(n_xy, n_z, &voxels);
  }

  // ceil(extent / step), at least 1. A flat, inverted or NaN extent gives one
  // cell; an extent of more than 2^64 steps saturates instead of overflowing.
  static U64 cellsAlong(F64 extent, F64 step) {
    const F64 cells = std::ceil(extent / step);
    if (!(cells >= 1.0)) return 1;
    if (cells >= 18446744073709551616.0) return U64_MAX;
    return static_cast<U64>(cells);
  }

  // The cell of the quotient q = (coordinate - min) / step, clamped in floating
  // point before the conversion: below the box (and NaN) to the first cell, at
  // or beyond min + n * step (and infinity) to the last.
  static U64 indexAlong(F64 q, U64 n) {
    if (!(q >= 1.0)) return 0;
    if (q >= 18446744073709551616.0) return n - 1;
    const U64 i = static_cast<U64>(q);
    return i < n ? i : n - 1;
  }

  void locate(F64 x, F64 y, F64 z, VoxelTriple& cell) const {
    cell.i_x = indexAlong((x - min_x) / step_xy, n_x);
    cell.i_y = indexAlong((y - min_y) / step_xy, n_y);
    cell.i_z = indexAlong((z - min_z) / step_z, n_z);
  }

  // Unique per voxel and below U64_MAX; only for grids that are not wide.
  U64 key(const VoxelTriple& cell) const { return cell.i_x + n_x * (cell.i_y + n_y * cell.i_z); }

  void center(const VoxelTriple& cell, F64 center[3]) const {
    center[0] = (static_cast<F64>(cell.i_x) + 0.5) * step_xy + min_x;
    center[1] = (static_cast<F64>(cell.i_y) + 0.5) * step_xy + min_y;
    center[2] = (static_cast<F64>(cell.i_z) + 0.5) * step_z + min_z;
  }

  // n_x * n_y * n_z; U64_MAX when it does not fit.
  U64 numberOfVoxels() const { return wide ? U64_MAX : voxels; }
  F64 numberOfVoxelsF64() const {
    if (!wide) return static_cast<F64>(voxels);
    return static_cast<F64>(n_x) * static_cast<F64>(n_y) * static_cast<F64>(n_z);
  }

 private:
  U64 voxels = 0;
};

namespace utils {

// Identity of a point by content, equal in both passes wherever the second pass
// reads the point from. World x, y, z and the GPS-time bits are chained through
// a bijective mix, so the order of the values matters ((a, b) and (b, a) differ)
// and points that differ in a single value never collide; only exact
// duplicates share an identity for sure. 0.0 and -0.0 count as one value.
struct PointHash {
  static U64 bitsOf(F64 v) { return v == 0.0 ? 0 : std::bit_cast<U64>(v); }

  static U64 computeHash(F64 x, F64 y, F64 z, F64 gps_time) {
    U64 h = cell_map_mix(0x13C6EF372ULL ^ bitsOf(x));
    h = cell_map_mix(h ^ bitsOf(y));
    h = cell_map_mix(h ^ bitsOf(z));
    return cell_map_mix(h ^ bitsOf(gps_time));
  }
};

}  // namespace utils
