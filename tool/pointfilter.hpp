// What the per-file driver asks of every thinning filter of the tool, voxel or
// modulus: an optional first pass that sees every point, then one decision per
// point of the writing pass.
#pragma once

#include <optional>
#include <vector>

#include "core/mydefs.hpp"

class LASpoint;

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
  // Second pass: whether the point is written; the point itself is not changed.
  virtual SurvivalDecision isSurvivingPointAndModify(LASpoint& point, VoxelIndexAndCenter& cell) = 0;
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
  // not stand for the decisions (a point shares its voxel's chosen identity,
  // too many points) and every point has to be asked about.
  virtual const std::vector<U64>* survivorMarks() const { return nullptr; }
};
