// Thinning by position in the stream instead of by voxel: every n-th point, or
// each point with a chance of one in n. Single pass: nothing to learn first.
#pragma once

#include <vector>

#include "tool/minstdrand.hpp"
#include "tool/pointfilter.hpp"

// random false: points n, 2n, 3n, ... survive, counting from 1 over the points
// asked about. random true: each point survives when a uniform draw from
// 0 ... n - 1 gives 0, one engine step per point at least. A decision needs
// nothing of the point, so a block of records is decided as a whole.
template <bool random>
class ModulusFilter : public PointFilterInterface {
 public:
  // The options accept only n > 0; anything less is taken as 1 so that a value
  // that slipped through (halting off) keeps every point instead of dividing by 0.
  explicit ModulusFilter(I32 n) : n(n > 0 ? static_cast<U64>(n) : 1), left(this->n), range(this->n - 1) {}

  SurvivalDecision isSurvivingPointAndModify(LASpoint&, VoxelIndexAndCenter&) override {
    SurvivalDecision decision;
    if constexpr (random) {
      decision.survives = engine.drawsZero(range);
    } else {
      decision.survives = --left == 0;
      if (decision.survives) left = n;
    }
    return decision;
  }

  bool decidesRecords() const override { return true; }
  void markSurvivingRecords(const U8*, U32 count, const PointRecordLayout&, U64 first,
                            std::vector<U64>& marks) override {
    auto mark = [&](U64 ordinal) { marks[ordinal >> 6] |= U64(1) << (ordinal & 63); };
    if constexpr (random) {
      // Outputs four at a time while four points are left (an output decides
      // at most one point): one below the limit decides the next point, one
      // above it is rejected and the point waits for the next output.
      // The bits of a word of marks gather in a register; four outputs that
      // are all taken (nearly always) decide four points at once.
      U64 i = 0;
      if (range.limit > 0) {
        U64 ordinal = first;
        U64 word = ordinal >> 6;
        U64 bits = 0;
        const U64 end = first + count;
        while (end - ordinal >= 4) {
          U32 out[4];
          engine.nextFour(out);
          if (out[0] <= range.limit && out[1] <= range.limit && out[2] <= range.limit && out[3] <= range.limit) {
            const U64 four = U64(out[0] <= range.scaling) | U64(out[1] <= range.scaling) << 1 |
                             U64(out[2] <= range.scaling) << 2 | U64(out[3] <= range.scaling) << 3;
            const U64 at = ordinal & 63;
            bits |= four << at;
            ordinal += 4;
            if (at >= 60) {
              marks[word] |= bits;
              bits = at == 60 ? 0 : four >> (64 - at);
              word++;
            }
            continue;
          }
          for (const U32 output : out) {
            const U64 v = output - 1;
            bits |= U64(v < range.scaling) << (ordinal & 63);
            ordinal += v < range.limit;
            if ((ordinal >> 6) != word) {
              marks[word] |= bits;
              bits = 0;
              word = ordinal >> 6;
            }
          }
        }
        if (bits != 0) marks[word] |= bits;
        i = ordinal - first;
      }
      for (; i < count; i++) {
        if (engine.drawsZero(range)) mark(first + i);
      }
    } else {
      U64 i = left - 1;
      for (; i < count; i += n) mark(first + i);
      left = i - count + 1;
    }
  }

  void setSeed(int seed) override { engine.setSeed(seed); }

 private:
  U64 n;
  // Points up to and including the next survivor of every n-th.
  U64 left;
  MinStdRand::Span range;
  MinStdRand engine;
};
