// What the per-file driver asks of every thinning filter of the tool, voxel or
// modulus: an optional first pass that sees every point, then one decision per
// point of the writing pass.
#pragma once

#include <optional>
#include <vector>

#include "core/lasattributer.hpp"
#include "core/mydefs.hpp"

class LASpoint;

// Where a point record, as it lies in the file, holds what the first pass of
// a voxel rule reads, and how its integers become coordinates: X, Y, Z at 0,
// 4, 8 and the intensity at 12 in every format; the GPS time at 20 (formats
// 1, 3, 4, 5) or 22 (6 to 10), none in formats 0 and 2, whose points carry
// 0.0; the return number in the low bits of 14, the legacy one (3 bits) in
// formats 0 to 5, the extended one (4 bits) in 6 to 10; the attribute of the
// attribute rules among the extra bytes at the end.
struct PointRecordLayout {
  U32 record_length = 0;
  I32 gps_time_at = -1;
  bool extended = false;
  const LASscaling* scaling = nullptr;
  // Where the extra bytes begin.
  U32 extra_bytes_at = 0;
  // The attribute of the attribute rules and its place in the record, known
  // once findAttribute found where the points hold it; null when they have no
  // such attribute (its value reads 0.0).
  bool attribute_known = false;
  const LASattributeDescriptor* attribute = nullptr;
  U32 attribute_at = 0;

  // The layout of `format`, or nothing for formats beyond 10, records shorter
  // than the format's fields, and coordinates that do not come from the
  // record's integers alone (z taken from an attribute).
  static std::optional<PointRecordLayout> of(U8 format, U32 record_length, const LASscaling& scaling) {
    static constexpr U16 BASE_SIZE[11] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
    if (format > 10 || record_length < BASE_SIZE[format] || scaling.z_from_attribute >= 0) return std::nullopt;
    PointRecordLayout layout;
    layout.record_length = record_length;
    layout.extended = format >= 6;
    layout.extra_bytes_at = BASE_SIZE[format];
    if (format >= 6) {
      layout.gps_time_at = 22;
    } else if (format != 0 && format != 2) {
      layout.gps_time_at = 20;
    }
    layout.scaling = &scaling;
    return layout;
  }

  // The attribute of `index` as `point`, laid out for these records, finds
  // it among its extra bytes; unknown when the point's extra bytes are not
  // those of the records.
  void findAttribute(const LASpoint& point, I32 index);
};

// The answer for one point of the writing pass.
struct SurvivalDecision {
  bool survives = false;
  // First-pass points of the point's cell: counting voxel filters only, and only
  // when the cell is occupied.
  std::optional<U64> points_in_cell;
};

// The voxel of one point, filled by the voxel filters for every point they are
// asked about (the modulus filters leave it alone).
struct VoxelIndexAndCenter {
  U64 index = 0;
  F64 center[3] = {0.0, 0.0, 0.0};  // world x, y, z
};

class PointFilterInterface {
 public:
  virtual ~PointFilterInterface() {}
  // First pass: one call per point offered, in reading order.
  virtual void visitPoint(const LASpoint&) {}
  // Whether the first pass may hand over records of this layout instead of
  // points: what the rule reads lies at fixed places of such records.
  virtual bool visitsRecords(const PointRecordLayout& /*layout*/) const { return false; }
  // First pass over `count` consecutive records: the same as visitPoint of
  // each of their points, in order. Only where visitsRecords says so.
  virtual void visitRecords(const U8* /*records*/, U32 /*count*/, const PointRecordLayout& /*layout*/) {}
  // Second pass: whether the point is written; the point itself is not changed.
  virtual SurvivalDecision isSurvivingPointAndModify(LASpoint& point, VoxelIndexAndCenter& cell) = 0;
  // Whether markSurvivingRecords may stand for isSurvivingPointAndModify: the
  // decision needs only what a record holds at fixed places.
  virtual bool decidesRecords() const { return false; }
  // Second pass over `count` consecutive records, the first of them point
  // `first` of the pass: sets the bit of each point that survives in `marks`
  // (one bit per point, room for all of them), as isSurvivingPointAndModify
  // would decide it, and leaves the others as they are. Lets a pass that reads
  // only the survivors follow. With `first` 0 the marks stand for this block
  // alone: what the filter kept for earlier blocks may go.
  virtual void markSurvivingRecords(const U8* /*records*/, U32 /*count*/, const PointRecordLayout& /*layout*/,
                                    U64 /*first*/, std::vector<U64>& /*marks*/) {}
  // Second pass: isSurvivingPointAndModify's answer for the point of one
  // record, without its cell. Only for a filter that learned the file in a
  // first pass (requiresVisit) and decidesRecords.
  virtual bool isSurvivingRecord(const U8* /*record*/, const PointRecordLayout& /*layout*/) { return false; }
  // The writing pass is made once more over the same points (a count for a
  // header written first went before it): what the filter follows of the
  // order of that pass starts over. Decisions do not change.
  virtual void restartSecondPass() {}
  virtual void setSeed(int seed) = 0;
  virtual U64 numOfSurvivingPoints() const { return 0; }
  virtual bool requiresVisit() const { return false; }
  // First-pass points that lay outside the header's bounding box (voxel filters).
  virtual U64 numOfPointsOutsideBox() const { return 0; }
  // Survivor marks, for inputs whose second pass provably reads the points of
  // the first in the same order: asked before the first pass, a filter that
  // can keeps one bit per visited point, set for the points that survive, so
  // that the second pass reads only those. False when the filter cannot.
  virtual bool markSurvivors() { return false; }
  // After the first pass: the marks by visiting order, or null when they do
  // not stand for the decisions (under a rule that chooses by identity, a
  // point takes the chosen place from its own identity; under the others,
  // points come out of the order of GPS time; too many points) and every
  // point has to be asked about.
  virtual const std::vector<U64>* survivorMarks() const { return nullptr; }
};
