// The voxel grid over a header's bounding box and the identity of a point, as
// both passes of a voxel filter compute them. Kept apart from the filters so the
// arithmetic that must agree between the passes lives in one place, inline.
#pragma once

#include <bit>
#include <cmath>
#include <cstring>

#include "core/mydefs.hpp"
#include "tool/cellmap.hpp"

// Cell indices along the three axes, negative below the box; the key of a cell
// that lies outside the box or in a grid whose voxel count is too large for
// the plain key.
struct VoxelTriple {
  I64 i_x, i_y, i_z;
  bool operator==(const VoxelTriple&) const = default;
};

template <>
struct CellMapKey<VoxelTriple> {
  static U64 hash(const VoxelTriple& key) {
    return cell_map_mix(cell_map_mix(cell_map_mix((U64)key.i_x) ^ (U64)key.i_y) ^ (U64)key.i_z);
  }
};

// The grid of the header's bounding box, continued beyond it: a point inside
// the box, its edges included, lies in a cell of the box's grid (the last cell
// of an axis also takes the maximum), and a point outside lies in the cell
// that the same grid gives it beyond the box, below it too. Header boxes are
// often wrong; clamping such points into the edge cells would merge them.
struct VoxelGrid {
  // Indices stay within +-2^62: far enough for every coordinate that a 32-bit
  // raw integer of the file stands for (see indexes()), near enough that the
  // floor of a quotient is exact and converts without overflow.
  static constexpr F64 INDEX_LIMIT = 4611686018427387904.0;
  static constexpr U64 MAX_CELLS = U64(1) << 62;

  F64 step_xy, step_z;
  F64 min_x, max_x, min_y, max_y, min_z, max_z;
  U64 n_x, n_y, n_z;
  // The plain key ix + n_x * (iy + n_y * iz) is kept for the box's cells of
  // grids whose voxel count lies below 2^63; the keys above serve the cells
  // outside the box. Other grids key every cell otherwise.
  bool wide;
  // exactInverse of the steps.
  F64 inverse_xy, inverse_z;

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
        n_z(cellsAlong(max_z - min_z, step_z)),
        inverse_xy(exactInverse(step_xy)),
        inverse_z(exactInverse(step_z)) {
    U64 n_xy;
    product_fits = !__builtin_mul_overflow(n_x, n_y, &n_xy) && !__builtin_mul_overflow(n_xy, n_z, &voxels);
    wide = !product_fits || voxels >= (U64(1) << 63);
  }

  // ceil(extent / step), at least 1. A flat, inverted or NaN extent gives one
  // cell; an extent of more than 2^62 steps saturates.
  static U64 cellsAlong(F64 extent, F64 step) {
    const F64 cells = std::ceil(extent / step);
    if (!(cells >= 1.0)) return 1;
    if (cells >= INDEX_LIMIT) return MAX_CELLS;
    return static_cast<U64>(cells);
  }

  // Whether every coordinate from lo to hi gets an index of its own along an
  // axis of this minimum and step: the quotients stay within the limit.
  static bool indexes(F64 lo, F64 hi, F64 min, F64 step) {
    const F64 q_lo = (lo - min) / step;
    const F64 q_hi = (hi - min) / step;
    return std::fabs(q_lo) < INDEX_LIMIT && std::fabs(q_hi) < INDEX_LIMIT;
  }

  // The index of coordinate c along an axis of n cells from q = (c - min) /
  // step; true when c lies inside the box. NaN counts as inside and lies in
  // the first cell, as it always did.
  [[gnu::always_inline]] static bool indexOfQuotient(F64 c, F64 q, F64 max, U64 n, I64& i) {
    if (q >= 0.0 && c <= max) [[likely]] {
      // Below the limit the quotient converts as a signed integer, which
      // needs no test of the sign bit.
      const U64 k = q < INDEX_LIMIT ? static_cast<U64>(static_cast<I64>(q)) : MAX_CELLS;
      i = static_cast<I64>(k < n ? k : n - 1);
      return true;
    }
    if (!(q == q)) {
      i = 0;
      return true;
    }
    F64 f = std::floor(q);
    if (f < -INDEX_LIMIT) f = -INDEX_LIMIT;
    if (f > INDEX_LIMIT) f = INDEX_LIMIT;
    i = static_cast<I64>(f);
    return false;
  }
  // Whether indexOfQuotient takes its first branch with a quotient below the
  // limit (false for NaN).
  [[gnu::always_inline]] static bool plainAlong(F64 c, F64 q, F64 max) {
    return (q >= 0.0) & (q < INDEX_LIMIT) & (c <= max);
  }
  [[gnu::always_inline]] static I64 plainIndex(F64 q, U64 n) {
    const U64 k = static_cast<U64>(static_cast<I64>(q));
    return static_cast<I64>(k < n ? k : n - 1);
  }
  static bool indexAlong(F64 c, F64 min, F64 max, F64 step, U64 n, I64& i) {
    return indexOfQuotient(c, (c - min) / step, max, n, i);
  }

  // 1 / step where that is exact, a power of two (the usual steps 0.5, 1, 2,
  // 4 ...), else 0. A product with an exact reciprocal is the same real
  // number as the quotient, rounded the same way, so it has the same bits at
  // a fraction of a division's cost.
  static F64 exactInverse(F64 step) {
    int exponent;
    if (!(step > 0.0) || std::frexp(step, &exponent) != 0.5) return 0.0;
    const F64 inverse = 1.0 / step;
    int inverse_exponent;
    if (!std::isfinite(inverse) || std::frexp(inverse, &inverse_exponent) != 0.5) return 0.0;
    return inverse;
  }
  static F64 quotient(F64 c, F64 min, F64 step, F64 inverse) {
    return inverse != 0.0 ? (c - min) * inverse : (c - min) / step;
  }

  // The quotients that locate() divides out, kept apart so that a block of
  // points can have them computed side by side: the same operations give the
  // same bits.
  F64 quotientX(F64 x) const { return quotient(x, min_x, step_xy, inverse_xy); }
  F64 quotientY(F64 y) const { return quotient(y, min_y, step_xy, inverse_xy); }
  F64 quotientZ(F64 z) const { return quotient(z, min_z, step_z, inverse_z); }

  typedef F64 Pair __attribute__((vector_size(16)));
  typedef I64 Mask __attribute__((vector_size(16)));

  // For a block of n points (n may be odd: the arrays hold an even number of
  // entries, the last one read even where it is not used): the quotients of
  // their coordinates, and in plain[i] whether point i lies inside the box with
  // every quotient below the limit (plainAlong on every axis; all bits set)
  // or not (0). Two points are compared at a time: this is most of the work
  // of locating a point, and nearly every point is plain.
  void plainQuotients(const F64* x, const F64* y, const F64* z, F64* q_x, F64* q_y, F64* q_z, I64* plain,
                      U32 n) const {
    // One pass: each pair is read once and its quotients compared at once.
    const auto along = [](const F64* c, F64* q, U32 i, F64 min, F64 max, F64 step, F64 inverse) {
      Pair c_pair, q_pair;
      std::memcpy(&c_pair, c + i, sizeof(c_pair));
      if (inverse != 0.0)
        q_pair = (c_pair - min) * inverse;
      else
        q_pair = (c_pair - min) / step;
      std::memcpy(q + i, &q_pair, sizeof(q_pair));
      return (q_pair >= 0.0) & (q_pair < INDEX_LIMIT) & (c_pair <= max);
    };
    for (U32 i = 0; i < n; i += 2) {
      const Mask mask = along(x, q_x, i, min_x, max_x, step_xy, inverse_xy) &
                        along(y, q_y, i, min_y, max_y, step_xy, inverse_xy) &
                        along(z, q_z, i, min_z, max_z, step_z, inverse_z);
      std::memcpy(plain + i, &mask, sizeof(mask));
    }
  }

  // The cell of a point whose quotients are plain (see plainQuotients): the
  // cell that locateByQuotients gives it, which lies inside the box.
  VoxelTriple plainCell(F64 q_x, F64 q_y, F64 q_z) const {
    return {plainIndex(q_x, n_x), plainIndex(q_y, n_y), plainIndex(q_z, n_z)};
  }

  // locate() of a point whose quotients are known.
  [[gnu::always_inline]] bool locateByQuotients(F64 x, F64 y, F64 z, F64 q_x, F64 q_y, F64 q_z, VoxelTriple& cell) const {
    // Nearly every point lies inside the box with its quotients below the
    // limit: one test for the three axes (no early exits: `&`), then the
    // indices as indexOfQuotient gives them there, without a branch.
    if (plainAlong(x, q_x, max_x) & plainAlong(y, q_y, max_y) & plainAlong(z, q_z, max_z)) [[likely]] {
      cell.i_x = plainIndex(q_x, n_x);
      cell.i_y = plainIndex(q_y, n_y);
      cell.i_z = plainIndex(q_z, n_z);
      return true;
    }
    const bool in_x = indexOfQuotient(x, q_x, max_x, n_x, cell.i_x);
    const bool in_y = indexOfQuotient(y, q_y, max_y, n_y, cell.i_y);
    const bool in_z = indexOfQuotient(z, q_z, max_z, n_z, cell.i_z);
    return in_x && in_y && in_z;
  }

  // True when the point lies inside the box on every axis.
  [[gnu::always_inline]] bool locate(F64 x, F64 y, F64 z, VoxelTriple& cell) const {
    return locateByQuotients(x, y, z, quotientX(x), quotientY(y), quotientZ(z), cell);
  }

  // Whether the cell is one of the box's grid (a point outside the box may
  // lie in one: the last cell of an axis reaches beyond the maximum). A cell
  // has one key whichever of its points asks.
  bool ofTheBox(const VoxelTriple& cell) const {
    return static_cast<U64>(cell.i_x) < n_x && static_cast<U64>(cell.i_y) < n_y && static_cast<U64>(cell.i_z) < n_z;
  }

  // Unique per cell of the box and below the voxel count; only for grids
  // that are not wide and cells of the box.
  U64 key(const VoxelTriple& cell) const {
    return static_cast<U64>(cell.i_x) + n_x * (static_cast<U64>(cell.i_y) + n_y * static_cast<U64>(cell.i_z));
  }

  void center(const VoxelTriple& cell, F64 center[3]) const {
    center[0] = (static_cast<F64>(cell.i_x) + 0.5) * step_xy + min_x;
    center[1] = (static_cast<F64>(cell.i_y) + 0.5) * step_xy + min_y;
    center[2] = (static_cast<F64>(cell.i_z) + 0.5) * step_z + min_z;
  }

  // n_x * n_y * n_z; U64_MAX when it does not fit.
  U64 numberOfVoxels() const { return product_fits ? voxels : U64_MAX; }
  F64 numberOfVoxelsF64() const {
    if (product_fits) return static_cast<F64>(voxels);
    return static_cast<F64>(n_x) * static_cast<F64>(n_y) * static_cast<F64>(n_z);
  }
  // The first key of the cells keyed by the map: above the plain keys.
  U64 firstMapKey() const { return wide ? 0 : voxels; }

 private:
  bool product_fits = false;
  U64 voxels = 0;
};

namespace utils {

// Identity of a point by content, equal in both passes wherever the second pass
// reads the point from. World x, y, z and the GPS-time bits are chained through
// bijective steps, so the order of the values matters ((a, b) and (b, a) differ)
// and points that differ in a single value never collide; only exact
// duplicates share an identity for sure. 0.0 and -0.0 count as one value.
// The identity is never stored: the steps between the values are a single
// multiply and shift each (every point of a file is hashed, some twice), the
// full mix comes once at the end.
struct PointHash {
  static U64 bitsOf(F64 v) { return v == 0.0 ? 0 : std::bit_cast<U64>(v); }

  static U64 step(U64 h, U64 v, U64 odd) {
    h = (h ^ v) * odd;
    return h ^ (h >> 31);
  }

  static U64 computeHash(F64 x, F64 y, F64 z, F64 gps_time) {
    U64 h = step(0x13C6EF372ULL, bitsOf(x), 0x9E3779B97F4A7C15ULL);
    h = step(h, bitsOf(y), 0xC2B2AE3D27D4EB4FULL);
    h = step(h, bitsOf(z), 0x165667B19E3779F9ULL);
    return cell_map_mix(h ^ bitsOf(gps_time));
  }

  // A cheap 32-bit digest of the same values, equal wherever the identities
  // are: points whose digests differ cannot share an identity, so most
  // points of a voxel are told apart from its chosen one without the hash.
  static U32 digest(F64 x, F64 y, F64 z, F64 gps_time) {
    const U64 v = bitsOf(x) ^ std::rotl(bitsOf(y), 16) ^ std::rotl(bitsOf(z), 32) ^ std::rotl(bitsOf(gps_time), 48);
    return static_cast<U32>(v ^ (v >> 32));
  }
};

}  // namespace utils
