// Criteria that thin the stream as it is read: every n-th point, a random
// fraction, the first point of each square cell of a horizontal grid, and the
// first point (or all returns of the first pulse) of each interval of GPS
// time. They remember what they have seen, so their verdicts depend on the
// order of the points; `reset` forgets it all, so that a second pass over the
// same input gives the same verdicts as the first.
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <new>
#include <type_traits>

#include "core/laspoint.hpp"
#include "core/lasreader.hpp"
#include "filters/lascriterion.hpp"

namespace {

constexpr I64 NAN_CELL = std::numeric_limits<I64>::min();

// floor(d) as a 64-bit cell number. Values beyond the 64-bit range share the
// two end cells; NaN has a cell of its own, which no number reaches.
I64 cell_of(F64 d) {
  if (d != d) return NAN_CELL;
  if (d >= 9223372036854775808.0) return I64_MAX;
  if (d <= -9223372036854775808.0) return NAN_CELL + 1;
  I64 cell = (I64)d;
  if ((F64)cell > d) cell--;
  return cell;
}

// ------------------------------------------------------------------ every n-th

// Passes (keep) or drops the n-th, 2n-th, ... point that reaches it. The
// count restarts with each pass: a second pass that ran on from the first
// would pick other points than the first pass did.
template <bool keep>
class LAScriterionEveryNth : public LAScriterion {
 public:
  explicit LAScriterionEveryNth(U32 nth) : nth(nth) {}
  const char* name() const override { return keep ? "keep_every_nth" : "drop_every_nth"; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_criterion_text(text, name());
    las_option_text_d(text, nth);
    return las_criterion_text_size(text, start);
  }
  bool filter(const LASpoint*) override {
    if (counter == nth) {
      counter = 1;
      return !keep;
    }
    counter++;
    return keep;
  }
  void reset() override { counter = 1; }

 private:
  U32 counter = 1;
  U32 nth;
};

using LAScriterionKeepEveryNth = LAScriterionEveryNth<true>;
using LAScriterionDropEveryNth = LAScriterionEveryNth<false>;

// ------------------------------------------------------------------ random fraction

// Each point draws from the platform generator seeded with the previous draw
// (the first with `seed`), so the verdicts are a function of the seed alone
// and repeat after `reset`. The seed is part of the option text, so that a
// child process draws the same points.
class LAScriterionKeepRandomFraction : public LAScriterion {
 public:
  LAScriterionKeepRandomFraction(F32 fraction, U32 seed) : seed(seed), state(seed), fraction(fraction) {}
  const char* name() const override { return "keep_random_fraction"; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_criterion_text(text, name());
    las_option_text_g(text, fraction);
    if (seed != 0) las_option_text_d(text, seed);
    return las_criterion_text_size(text, start);
  }
  bool filter(const LASpoint*) override {
    srand(state);
    const int r = rand();
    state = (U32)r;
    return (F32)r * 0x1p-31f > fraction;
  }
  void reset() override { state = seed; }

 private:
  U32 seed;
  U32 state;
  F32 fraction;
};

// ------------------------------------------------------------------ grid

// One bit per occupied cell, kept in runs of 512 cells of one row that are
// found through an open hash on (row, run). Only the runs that hold a point
// take memory, so a far outlier costs one run, not the cells between it and
// the rest. Consecutive points mostly fall into the run of the point before,
// which is tried first.
class LAScriterionThinWithGrid : public LAScriterion {
  struct Run {
    I64 row;
    I64 run;  // column >> 9; NO_RUN marks an empty slot
    U64 bits[8];
  };
  static constexpr I64 NO_RUN = I64_MAX;  // column >> 9 never reaches it
  static constexpr U64 FIRST_SLOTS = 1024;

 public:
  explicit LAScriterionThinWithGrid(F32 spacing) : spacing(spacing) {}

  const char* name() const override { return "thin_with_grid"; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_criterion_text(text, name());
    las_option_text_g(text, spacing);
    return las_criterion_text_size(text, start);
  }
  bool filter(const LASpoint* point) override {
    const F64 s = spacing;
    const I64 column = cell_of(point->get_x() / s);
    const I64 row = cell_of(point->get_y() / s);
    Run* run = find_or_add(row, column >> 9);
    if (run == nullptr) return false;  // out of memory: the point passes, the grid stays as it was
    U64& word = run->bits[(column >> 6) & 7];
    const U64 bit = (U64)1 << (column & 63);
    if (word & bit) return true;
    word |= bit;
    return false;
  }
  void reset() override {
    slots.reset();
    slot_count = 0;
    used = 0;
    last = nullptr;
  }

 private:
  static U64 hash(I64 row, I64 run) {
    U64 h = (U64)row * 0x9E3779B97F4A7C15ull ^ (U64)run * 0xC2B2AE3D27D4EB4Full;
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ull;
    return h ^ (h >> 29);
  }

  // The slot of (row, run), or the empty slot where it belongs.
  Run* slot_of(I64 row, I64 run) const {
    const U64 mask = slot_count - 1;
    for (U64 i = hash(row, run) & mask;; i = (i + 1) & mask) {
      Run* slot = &slots[i];
      if (slot->run == NO_RUN || (slot->run == run && slot->row == row)) return slot;
    }
  }

  // Doubles the slots (allocates the first ones); false, with nothing
  // changed, when memory runs out.
  bool grow() {
    const U64 count = slot_count ? 2 * slot_count : FIRST_SLOTS;
    Run* grown = (Run*)malloc_las(count * sizeof(Run));
    if (grown == nullptr) return false;
    for (U64 i = 0; i < count; i++) grown[i].run = NO_RUN;
    const LASmallocated<Run[]> old(slots.release());
    const U64 old_count = slot_count;
    slots.reset(grown);
    slot_count = count;
    for (U64 i = 0; i < old_count; i++) {
      if (old[i].run != NO_RUN) *slot_of(old[i].row, old[i].run) = old[i];
    }
    last = nullptr;
    return true;
  }

  Run* find_or_add(I64 row, I64 run) {
    if (last && last->run == run && last->row == row) return last;
    if (slot_count) {
      Run* slot = slot_of(row, run);
      if (slot->run != NO_RUN) return last = slot;
    }
    // Below three quarters full, so a probe always ends at an empty slot.
    if (4 * (used + 1) > 3 * slot_count && !grow()) return nullptr;
    Run* slot = slot_of(row, run);
    slot->row = row;
    slot->run = run;
    memset(slot->bits, 0, sizeof(slot->bits));
    used++;
    return last = slot;
  }

  F32 spacing;
  LASmallocated<Run[]> slots;  // slot_count entries, a power of two
  U64 slot_count = 0;
  U64 used = 0;
  Run* last = nullptr;  // the run of the point before, into `slots`
};

// ------------------------------------------------------------------ time

// The first point (or, for pulses, every return of the first pulse: the
// returns share its GPS time) of each interval of GPS time `spacing` long.
// A point without GPS time reads as time 0.
template <bool pulses>
class LAScriterionThinWithTime : public LAScriterion {
 public:
  explicit LAScriterionThinWithTime(F64 spacing) : spacing(spacing) {}
  const char* name() const override { return pulses ? "thin_pulses_with_time" : "thin_points_with_time"; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_criterion_text(text, name());
    las_option_text_lf(text, spacing);
    return las_criterion_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return LAS_SELECTIVE_GPS_TIME; }
  bool filter(const LASpoint* point) override {
    const F64 t = point->gps_time;
    try {
      const auto [cell, added] = first_times.try_emplace(cell_of(t / spacing), t);
      return !added && !(pulses && cell->second == t);
    } catch (const std::bad_alloc&) {
      return false;  // out of memory: the point passes
    }
  }
  void reset() override { first_times.clear(); }

 private:
  F64 spacing;
  std::map<I64, F64> first_times;  // cell to the time of its first point
};

using LAScriterionThinPointsWithTime = LAScriterionThinWithTime<false>;
using LAScriterionThinPulsesWithTime = LAScriterionThinWithTime<true>;

// ------------------------------------------------------------------ applies

template <class Criterion>
LASoptionResult add_every_nth(LASfilterParse& parse, const LASoptionCall& call) {
  const U32 nth = call.values[0].u32;
  if (nth == 0) {
    laserror("%u is no valid nth for '%s'", nth, call.typed);
    return LASoptionResult::FAILED;
  }
  parse.add(new Criterion(nth));
  return LASoptionResult::TAKEN;
}

LASoptionResult keep_random_fraction(LASfilterParse& parse, const LASoptionCall& call) {
  const U32 seed = call.values.size() > 1 ? call.values[1].u32 : 0;
  parse.add(new LAScriterionKeepRandomFraction(call.values[0].f32, seed));
  return LASoptionResult::TAKEN;
}

// Spacings must be above 0; a refused one is shown as read ("%g").
template <class Criterion>
LASoptionResult add_spaced(LASfilterParse& parse, const LASoptionCall& call) {
  const F64 spacing = call.values[0].f64;
  if (!(spacing > 0)) {
    laserror("%s but '%g' is no valid value", call.needs_message().c_str(), spacing);
    return LASoptionResult::FAILED;
  }
  if constexpr (std::is_same_v<Criterion, LAScriterionThinWithGrid>) {
    parse.add(new Criterion(call.values[0].f32));
  } else {
    parse.add(new Criterion(spacing));
  }
  return LASoptionResult::TAKEN;
}

constexpr const char* SPACING_INVALID = "{needs} but '{arg}' is no valid value";

const LAScriterionOption options[] = {
    {{"-keep_every_nth", "nth", 1, "%u"}, add_every_nth<LAScriterionKeepEveryNth>},
    {{"-drop_every_nth", "nth", 1, "%u", 0, nullptr, "'{option}' needs 1 argument nth but '{arg}' is no valid nth"},
     add_every_nth<LAScriterionDropEveryNth>},
    {{"-keep_random_fraction", "fraction", 1, "%f %u", 1, nullptr,
      "'{option}' needs at least 1 argument: fraction [seed] but '{arg}' is no valid fraction",
      "'{option}' takes seed as second argument but '{arg}' is no valid seed"},
     keep_random_fraction},
    {{"-thin_with_grid", "grid spacing", 1, "%f", 0, nullptr, SPACING_INVALID}, add_spaced<LAScriterionThinWithGrid>},
    {{"-thin_pulses_with_time", "time spacing", 1, "%lf", 0, nullptr, SPACING_INVALID},
     add_spaced<LAScriterionThinPulsesWithTime>},
    {{"-thin_with_time", "time spacing", 1, "%lf", 0, nullptr, SPACING_INVALID},
     add_spaced<LAScriterionThinPulsesWithTime>},
    {{"-thin_points_with_time", "time spacing", 1, "%lf", 0, nullptr, SPACING_INVALID},
     add_spaced<LAScriterionThinPointsWithTime>},
};

}  // namespace

std::span<const LAScriterionOption> las_thinning_criterion_options() { return options; }
