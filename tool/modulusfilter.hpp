// Thinning by position in the stream instead of by voxel: every n-th point, or
// each point with a chance of one in n. Single pass: nothing to learn first.
#pragma once

#include "tool/minstdrand.hpp"
#include "tool/pointfilter.hpp"

// random false: points n, 2n, 3n, ... survive, counting from 1 over the points
// asked about. random true: each point survives when a uniform draw from
// 0 ... n - 1 gives 0, one engine step per point at least.
template <bool random>
class ModulusFilter : public PointFilterInterface {
 public:
  // The options accept only n > 0; anything less is taken as 1 so that a value
  // that slipped through (halting off) keeps every point instead of dividing by 0.
  explicit ModulusFilter(I32 n) : n(n > 0 ? static_cast<U64>(n) : 1), distribution_max(n > 0 ? n - 1 : 0) {}

  SurvivalDecision isSurvivingPointAndModify(LASpoint&, VoxelIndexAndCenter&) override {
    SurvivalDecision decision;
    if constexpr (random) {
      decision.survives = engine.uniformInt(distribution_min, distribution_max) == 0;
    } else {
      counter++;
      decision.survives = counter % n == 0;
    }
    return decision;
  }

  void setSeed(int seed) override { engine.setSeed(seed); }

 private:
  U64 counter = 0;
  U64 n;
  I32 distribution_min = 0;
  I32 distribution_max;
  MinStdRand engine;
};
