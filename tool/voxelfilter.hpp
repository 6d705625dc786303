// 3-D thinning: the voxel filter keeps one point per occupied voxel by a rule
// (first, highest or lowest value, closest to the centre in xy, random). The
// first pass enters every point into its voxel's record, the second pass lets
// a point through when it is the one its voxel chose.
//
// The rule is a payload type, dispatched statically: a voxel's record is the
// identity of its chosen point plus the payload's few bytes (count, value or
// engine), without a vtable pointer, so memory per occupied voxel stays small.
#pragma once

#include <optional>

#include "core/laspoint.hpp"
#include "tool/cellmap.hpp"
#include "tool/minstdrand.hpp"
#include "tool/pointfilter.hpp"
#include "tool/voxelgrid.hpp"

class LASheader;

// Extra-bytes attribute of the attribute rules; the tool options set it (0 ... 9).
extern I32 attribute_idx;

// Value getters of the rules.
// World z; with an attribute standing in for Z, that attribute re-quantised.
inline F64 get_z(const LASpoint& point) { return point.scaling->get_z(point.get_Z()); }
inline U16 get_intensity(const LASpoint& point) { return point.get_intensity(); }
inline U8 get_return_number(const LASpoint& point) { return point.get_return_number(); }
inline U8 get_extended_return_number(const LASpoint& point) { return point.get_extended_return_number(); }
// Attribute attribute_idx, 0.0 when the point has no such attribute.
F64 get_attribute(const LASpoint& point);

// Payload records are packed to 4 bytes: a 64-bit identity, a 32-bit count and a
// double take 28 bytes.
#pragma pack(push, 4)

// Count of first-pass points per voxel (counting), or nothing (plain). The
// count saturates at 2^32 - 1; a file with more points is refused by the driver
// and the count is capped at 65535 where it is written anyway.
template <bool counting>
class VoxelFilterPayloadInterface;

template <>
class VoxelFilterPayloadInterface<true> {
 public:
  void initialteCellCount() { count = 0; }
  void addToCellCount() { count += (count != U32_MAX); }
  std::optional<U64> getPointsInCell() const { return count; }
  void setSeed(int) {}

 protected:
  U32 count;
};

template <>
class VoxelFilterPayloadInterface<false> {
 public:
  void initialteCellCount() {}
  void addToCellCount() {}
  std::optional<U64> getPointsInCell() const { return std::nullopt; }
  void setSeed(int) {}
};

// A payload offers, besides the count: pointNeedsUpdate (the new point takes
// the chosen place; every comparison is strict, so the earlier point wins a tie
// and a NaN never wins nor loses its place), updatePayload (store the new
// chosen point's value; on a voxel's first point too), and seeded_per_cell
// (the filter seeds the payload's engine when the voxel is new).

template <bool counting>
class VoxelFilterPayloadFirstOccurrence : public VoxelFilterPayloadInterface<counting> {
 public:
  static constexpr bool seeded_per_cell = false;
  bool pointNeedsUpdate(const LASpoint&, const VoxelIndexAndCenter&) { return false; }
  void updatePayload(const LASpoint&, const VoxelIndexAndCenter&) {}
};

template <bool counting, class T, T (*get)(const LASpoint&)>
class VoxelFilterPayloadHighest : public VoxelFilterPayloadInterface<counting> {
 public:
  static constexpr bool seeded_per_cell = false;
  bool pointNeedsUpdate(const LASpoint& point, const VoxelIndexAndCenter&) { return get(point) > value; }
  void updatePayload(const LASpoint& point, const VoxelIndexAndCenter&) { value = get(point); }

 private:
  T value;
};

template <bool counting, class T, T (*get)(const LASpoint&)>
class VoxelFilterPayloadLowest : public VoxelFilterPayloadInterface<counting> {
 public:
  static constexpr bool seeded_per_cell = false;
  bool pointNeedsUpdate(const LASpoint& point, const VoxelIndexAndCenter&) { return get(point) < value; }
  void updatePayload(const LASpoint& point, const VoxelIndexAndCenter&) { value = get(point); }

 private:
  T value;
};

// Squared distance to the voxel centre in x and y; z takes no part.
template <bool counting>
class VoxelFilterPayloadClosest : public VoxelFilterPayloadInterface<counting> {
 public:
  static constexpr bool seeded_per_cell = false;
  static F64 distance(const LASpoint& point, const VoxelIndexAndCenter& cell) {
    const F64 dx = point.get_x() - cell.center[0];
    const F64 dy = point.get_y() - cell.center[1];
    return dx * dx + dy * dy;
  }
  bool pointNeedsUpdate(const LASpoint& point, const VoxelIndexAndCenter& cell) { return distance(point, cell) < value; }
  void updatePayload(const LASpoint& point, const VoxelIndexAndCenter& cell) { value = distance(point, cell); }

 private:
  F64 value;
};

// Reservoir choice: the k-th point of a voxel takes the chosen place with
// chance 1/k, drawn by the voxel's own engine, so every point of a voxel of k
// points survives with chance 1/k.
class VoxelFilterPayloadRandom : public VoxelFilterPayloadInterface<true> {
 public:
  static constexpr bool seeded_per_cell = true;
  void setSeed(int seed) { engine.setSeed(seed); }
  bool pointNeedsUpdate(const LASpoint&, const VoxelIndexAndCenter&) { return engine.uniformU64(0, count - 1) == 0; }
  void updatePayload(const LASpoint&, const VoxelIndexAndCenter&) {}

 private:
  MinStdRand engine;
};

// One occupied voxel: the identity of its chosen point and the rule's payload.
template <class Payload>
struct VoxelCell {
  U64 hash;
  [[no_unique_address]] Payload payload;
};

#pragma pack(pop)

template <class Payload>
class VoxelFilter : public PointFilterInterface {
 public:
  using Cells = CellMap<U64, VoxelCell<Payload>>;

  // The grid over the header's bounding box; steps above 0 (the options check).
  VoxelFilter(F64 step_xy, F64 step_z, const LASheader& header);
  ~VoxelFilter() override;

  void visitPoint(const LASpoint& point) override;
  SurvivalDecision isSurvivingPointAndModify(LASpoint& point, VoxelIndexAndCenter& cell) override;
  void setSeed(int seed) override { engine.setSeed(seed); }
  U64 numOfSurvivingPoints() const override { return cells.size(); }
  bool requiresVisit() const override { return true; }

  const VoxelGrid& getGrid() const { return grid; }
  // Bytes held for the occupied voxels, free slots included.
  U64 memoryBytes() const { return cells.memoryBytes() + wide_keys.memoryBytes(); }

 private:
  U64 cellKey(const VoxelTriple& triple, bool add);

  VoxelGrid grid;
  Cells cells;
  // Wide grids only: voxel indices to dense keys 0, 1, 2, ... in order of the
  // first pass, so that no two voxels share a key.
  CellMap<VoxelTriple, U64> wide_keys;
  MinStdRand engine;
};

// The rules the factory chooses among; with counting each except the random
// one (which always counts) comes in two variants, 25 filters in all.
enum class VoxelRule {
  FIRST,
  HIGHEST_Z,
  LOWEST_Z,
  HIGHEST_INTENSITY,
  LOWEST_INTENSITY,
  HIGHEST_RETURN,
  LOWEST_RETURN,
  HIGHEST_EXTENDED_RETURN,
  LOWEST_EXTENDED_RETURN,
  HIGHEST_ATTRIBUTE,
  LOWEST_ATTRIBUTE,
  CLOSEST,
  RANDOM,
};

// A new voxel filter of the rule over the header's box; the caller owns it.
// counting is ignored for the random rule, which always counts.
PointFilterInterface* make_voxel_filter(VoxelRule rule, bool counting, F64 step_xy, F64 step_z,
                                        const LASheader& header);
