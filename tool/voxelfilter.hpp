// 3-D thinning: the voxel filter keeps one point per occupied voxel by a rule
// (first, highest or lowest value, closest to the centre in xy, random). The
// first pass enters every point into its voxel's record, the second pass lets
// a point through when it is the one its voxel chose.
//
// The rule is a payload type, dispatched statically: a voxel's record is the
// identity of its chosen point plus the payload's few bytes (count, value or
// engine), without a vtable pointer, so memory per occupied voxel stays small.
#pragma once

#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <type_traits>
#include <unordered_map>
#include <vector>

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

// What a getter gives, one constant per getter: comparing the getters'
// addresses is not a constant expression in every build.
enum class RuleValue { OTHER, Z, INTENSITY, RETURN, EXTENDED_RETURN, ATTRIBUTE };
template <auto get>
inline constexpr RuleValue rule_value = RuleValue::OTHER;
template <>
inline constexpr RuleValue rule_value<get_z> = RuleValue::Z;
template <>
inline constexpr RuleValue rule_value<get_intensity> = RuleValue::INTENSITY;
template <>
inline constexpr RuleValue rule_value<get_return_number> = RuleValue::RETURN;
template <>
inline constexpr RuleValue rule_value<get_extended_return_number> = RuleValue::EXTENDED_RETURN;
template <>
inline constexpr RuleValue rule_value<get_attribute> = RuleValue::ATTRIBUTE;

// Whether the getter is that of world z, which the identity holds.
template <class T, T (*get)(const LASpoint&)>
constexpr bool gets_z() {
  return rule_value<get> == RuleValue::Z;
}

// Whether the getter is that of the intensity, which every record holds at 12.
template <class T, T (*get)(const LASpoint&)>
constexpr bool gets_intensity() {
  return rule_value<get> == RuleValue::INTENSITY;
}

// A 32-bit integer field of a record, which may lie off its alignment.
inline I32 record_i32(const U8* at) {
  I32 value;
  std::memcpy(&value, at, sizeof(value));
  return value;
}

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

// A payload offers, besides the count: Sample, what the rule needs of a point,
// taken by sample(point, cell) when the point is visited (the filter may enter
// the point a few calls later, when the point itself has moved on);
// pointNeedsUpdate (the new point takes the chosen place; every comparison is
// strict, so the earlier point wins a tie and a NaN never wins nor loses its
// place), updatePayload (store the new chosen point's value; on a voxel's first
// point too), seeded_per_cell (the filter seeds the payload's engine when
// the voxel is new), and ignores_later_points (a voxel's record never changes
// after its first point, so the first pass may skip points of known voxels),
// and chosen_by_identity (what the rule compares is a function of the point's
// identity and every comparison is strict, so a point can never take the
// place of an earlier point of the same identity: the chosen point of a voxel
// is the only one of its identity unless a later one repeats it, which the
// first pass sees; such a rule with a Sample offers mayRepeat(sample), false
// only where the point cannot be of the chosen identity). Where readsRecords(layout) holds, sampleRecord(record,
// layout, x, y, z, cell) takes the same Sample from the point's record as it
// lies in the file (see PointRecordLayout), x, y, z being the point's world
// coordinates.

// Whether a value rule finds its value in records of the layout: z, the
// intensity and the attribute everywhere, the return number where the record
// holds it as the point gives it (the legacy one in formats 0 to 5, the
// extended one in 6 to 10).
template <class T, T (*get)(const LASpoint&)>
bool record_holds(const PointRecordLayout& layout) {
  switch (rule_value<get>) {
    case RuleValue::RETURN:
      return !layout.extended;
    case RuleValue::EXTENDED_RETURN:
      return layout.extended;
    case RuleValue::ATTRIBUTE:
      return layout.attribute_known;
    default:
      return true;
  }
}

// What a value rule compares, from the record: z (the point's world z), the
// intensity, the return number or the attribute, as record_holds allows.
template <class T, T (*get)(const LASpoint&)>
T record_sample(const U8* record, const PointRecordLayout& layout, F64 z) {
  if constexpr (gets_z<T, get>()) {
    return z;
  } else if constexpr (gets_intensity<T, get>()) {
    U16 intensity;
    std::memcpy(&intensity, record + 12, sizeof(intensity));
    return intensity;
  } else if constexpr (rule_value<get> == RuleValue::ATTRIBUTE) {
    return layout.attribute ? layout.attribute->get_value_as_float(record + layout.attribute_at) : 0.0;
  } else {
    static_assert(rule_value<get> == RuleValue::RETURN || rule_value<get> == RuleValue::EXTENDED_RETURN);
    return static_cast<U8>(record[14] & (layout.extended ? 0x0F : 0x07));
  }
}

// Nothing of the point: the rules that do not compare values.
struct VoxelFilterNoSample {};

template <bool counting>
class VoxelFilterPayloadFirstOccurrence : public VoxelFilterPayloadInterface<counting> {
 public:
  using Sample = VoxelFilterNoSample;
  static constexpr bool seeded_per_cell = false;
  static constexpr bool ignores_later_points = !counting;
  static constexpr bool chosen_by_identity = true;
  static bool readsRecords(const PointRecordLayout&) { return true; }
  static Sample sample(const LASpoint&, const VoxelIndexAndCenter&) { return {}; }
  static Sample sampleRecord(const U8*, const PointRecordLayout&, F64, F64, F64, const VoxelIndexAndCenter&) {
    return {};
  }
  bool pointNeedsUpdate(Sample) { return false; }
  void updatePayload(Sample) {}
};

template <bool counting, class T, T (*get)(const LASpoint&)>
class VoxelFilterPayloadHighest : public VoxelFilterPayloadInterface<counting> {
 public:
  using Sample = T;
  static constexpr bool seeded_per_cell = false;
  static constexpr bool ignores_later_points = false;
  static constexpr bool chosen_by_identity = gets_z<T, get>();
  static bool readsRecords(const PointRecordLayout& layout) { return record_holds<T, get>(layout); }
  static T sample(const LASpoint& point, const VoxelIndexAndCenter&) { return get(point); }
  static T sampleRecord(const U8* record, const PointRecordLayout& layout, F64, F64, F64 z,
                        const VoxelIndexAndCenter&) {
    return record_sample<T, get>(record, layout, z);
  }
  bool pointNeedsUpdate(T sample) { return sample > value; }
  // The chosen identity's value is value: an equal value or a NaN may repeat it.
  bool mayRepeat(Sample sample) const { return !(sample < value) && !(sample > value); }
  void updatePayload(T sample) { value = sample; }

 private:
  T value;
};

template <bool counting, class T, T (*get)(const LASpoint&)>
class VoxelFilterPayloadLowest : public VoxelFilterPayloadInterface<counting> {
 public:
  using Sample = T;
  static constexpr bool seeded_per_cell = false;
  static constexpr bool ignores_later_points = false;
  static constexpr bool chosen_by_identity = gets_z<T, get>();
  static bool readsRecords(const PointRecordLayout& layout) { return record_holds<T, get>(layout); }
  static T sample(const LASpoint& point, const VoxelIndexAndCenter&) { return get(point); }
  static T sampleRecord(const U8* record, const PointRecordLayout& layout, F64, F64, F64 z,
                        const VoxelIndexAndCenter&) {
    return record_sample<T, get>(record, layout, z);
  }
  bool pointNeedsUpdate(T sample) { return sample < value; }
  // The chosen identity's value is value: an equal value or a NaN may repeat it.
  bool mayRepeat(Sample sample) const { return !(sample < value) && !(sample > value); }
  void updatePayload(T sample) { value = sample; }

 private:
  T value;
};

// Squared distance to the voxel centre in x and y; z takes no part.
template <bool counting>
class VoxelFilterPayloadClosest : public VoxelFilterPayloadInterface<counting> {
 public:
  using Sample = F64;
  static constexpr bool seeded_per_cell = false;
  static constexpr bool ignores_later_points = false;
  static constexpr bool chosen_by_identity = true;
  static bool readsRecords(const PointRecordLayout&) { return true; }
  static F64 sample(const LASpoint& point, const VoxelIndexAndCenter& cell) {
    return distance(point.get_x(), point.get_y(), cell);
  }
  static F64 sampleRecord(const U8*, const PointRecordLayout&, F64 x, F64 y, F64, const VoxelIndexAndCenter& cell) {
    return distance(x, y, cell);
  }
  static F64 distance(F64 x, F64 y, const VoxelIndexAndCenter& cell) {
    const F64 dx = x - cell.center[0];
    const F64 dy = y - cell.center[1];
    return dx * dx + dy * dy;
  }
  bool pointNeedsUpdate(F64 sample) { return sample < value; }
  // The chosen identity's value is value: an equal value or a NaN may repeat it.
  bool mayRepeat(Sample sample) const { return !(sample < value) && !(sample > value); }
  void updatePayload(F64 sample) { value = sample; }

 private:
  F64 value;
};

// Reservoir choice: the k-th point of a voxel takes the chosen place with
// chance 1/k, drawn by the voxel's own engine, so every point of a voxel of k
// points survives with chance 1/k.
class VoxelFilterPayloadRandom : public VoxelFilterPayloadInterface<true> {
 public:
  using Sample = VoxelFilterNoSample;
  static constexpr bool seeded_per_cell = true;
  static constexpr bool ignores_later_points = false;
  // A later point may take the place of an earlier one of the same identity.
  static constexpr bool chosen_by_identity = false;
  static bool readsRecords(const PointRecordLayout&) { return true; }
  static Sample sample(const LASpoint&, const VoxelIndexAndCenter&) { return {}; }
  static Sample sampleRecord(const U8*, const PointRecordLayout&, F64, F64, F64, const VoxelIndexAndCenter&) {
    return {};
  }
  void setSeed(int seed) { engine.setSeed(seed); }
  bool pointNeedsUpdate(Sample) { return engine.drawsZeroAmong(count); }
  void updatePayload(Sample) {}

 private:
  MinStdRand engine;
};

// Whether survivor marks need the first-pass position of a voxel's chosen
// point: only where a later point can take its place.
template <class Payload>
constexpr bool marks_move =
    !Payload::chosen_by_identity || !std::is_same_v<typename Payload::Sample, VoxelFilterNoSample>;
struct VoxelNoPosition {};

// Whether the first pass keeps a digest of the chosen identity to rule out most
// other points cheaply: the rules that choose by identity and compare nothing.
// Those that compare a value rule them out by that value (mayRepeat).
template <class Payload>
constexpr bool keeps_digest =
    Payload::chosen_by_identity && std::is_same_v<typename Payload::Sample, VoxelFilterNoSample>;

// One occupied voxel: the identity of its chosen point with a digest where
// keeps_digest says so, its position in the first pass where
// survivor marks need it, and the rule's payload.
template <class Payload>
struct VoxelCell {
  U64 hash;
  // PointHash::digest of the chosen point, where the first pass looks for
  // repeats of it.
  [[no_unique_address]] std::conditional_t<keeps_digest<Payload>, U32, VoxelNoPosition> digest;
  [[no_unique_address]] std::conditional_t<marks_move<Payload>, U32, VoxelNoPosition> chosen;
  [[no_unique_address]] Payload payload;
};

#pragma pack(pop)

// The passes are built for points in scan order, where most points fall into
// a voxel met a moment ago and a voxel's first point is a cache miss of the
// map's index:
// - a small direct-mapped table of recently used voxels (by position in the
//   map) answers most lookups without touching the index;
// - the first pass holds back the last few points, with what the rule needs
//   of them, and asks the cache for their index slots before it enters them,
//   so that the misses of new voxels overlap;
// - the second pass meets the voxels first in the order in which the first
//   pass added them, which is the order of the map's entries: a cursor walks
//   them, so that a voxel met for the first time is found by reading on.
// None of this changes a result: every lookup is checked against the key, and
// every call that reads the cells first enters the held-back points, in order.
template <class Payload>
class VoxelFilter : public PointFilterInterface {
 public:
  using Cells = CellMap<U64, VoxelCell<Payload>>;
  using Sample = typename Payload::Sample;

  // The grid over the header's bounding box; steps above 0 (the options check).
  VoxelFilter(F64 step_xy, F64 step_z, const LASheader& header);
  ~VoxelFilter() override;

  void visitPoint(const LASpoint& point) override;
  bool visitsRecords(const PointRecordLayout& layout) const override { return Payload::readsRecords(layout); }
  void visitRecords(const U8* records, U32 count, const PointRecordLayout& layout) override;
  SurvivalDecision isSurvivingPointAndModify(LASpoint& point, VoxelIndexAndCenter& cell) override;
  bool isSurvivingRecord(const U8* record, const PointRecordLayout& layout) override;
  bool decidesRecords() const override { return true; }
  void markSurvivingRecords(const U8* records, U32 count, const PointRecordLayout& layout, U64 first,
                            std::vector<U64>& marks) override;
  void restartSecondPass() override;
  void setSeed(int seed) override {
    enterPending();
    engine.setSeed(seed);
  }
  // Enters the held-back points first: the count is that of every point visited.
  U64 numOfSurvivingPoints() const override {
    const_cast<VoxelFilter*>(this)->enterPending();
    return cells.size();
  }
  bool requiresVisit() const override { return true; }
  U64 numOfPointsOutsideBox() const override { return outside; }
  bool markSurvivors() override;
  const std::vector<U64>* survivorMarks() const override {
    const_cast<VoxelFilter*>(this)->enterPending();
    if (!marking || !marks_valid) return nullptr;
    marks_handed_out = true;
    return &marks;
  }

  const VoxelGrid& getGrid() const { return grid; }
  // Bytes held for the occupied voxels, free room included.
  U64 memoryBytes() const {
    return cells.memoryBytes() + wide_keys.memoryBytes() + sizeof(RecentVoxel) * RECENT + marks.capacity() * sizeof(U64) +
           survivor_positions.capacity() * sizeof(U32) + repeated_voxels.capacity() * sizeof(U64);
  }

  // Voxels the map makes room for before the first pass: an eighth of the
  // header's point count (at most the grid's voxels), to no more than this,
  // which keeps an overestimate's index within 32 MB.
  static constexpr U64 FORESEEN_VOXELS_MAX = U64(1) << 22;

  // Records visitRecords takes at a time: it computes their voxels and asks
  // the cache for their entries of the recent table before it enters them.
  static constexpr U32 RECORD_BLOCK = 64;
  static_assert(RECORD_BLOCK % 2 == 0, "quotients are divided two at a time");

  // Points visitPoint holds back at most.
  static constexpr U32 PENDING = 16;
  // Entries of the table of recently used voxels.
  static constexpr U32 RECENT_BITS = 14;
  static constexpr U64 RECENT = U64(1) << RECENT_BITS;

 private:
  // A visited point that is not entered yet: what entering it needs.
  struct PendingPoint {
    U64 key;
    F64 x, y, z, gps_time;  // its identity, computed when it takes a voxel's place
    U32 ordinal;            // its position in the first pass, with survivor marks
    [[no_unique_address]] Sample sample;
  };

  // A point inside the box lies in a cell of the box; one outside may too.
  U64 cellKey(const VoxelTriple& triple, bool inside, bool add) {
    if (!grid.wide && (inside || grid.ofTheBox(triple))) [[likely]]
      return grid.key(triple);
    return wideCellKey(triple, add);
  }
  U64 wideCellKey(const VoxelTriple& triple, bool add);
  // Takes the point's first-pass position (with survivor marks) and its voxel
  // from x, y, z and their quotients (VoxelGrid::quotientX ...); dense keys of
  // wide grids are handed out here, in visiting order.
  [[gnu::always_inline]] void locate(PendingPoint& next, F64 q_x, F64 q_y, F64 q_z, VoxelIndexAndCenter& cell);
  // Where a voxel ignores its later points, whether a later point of a known
  // voxel needs entering: only while marks are kept, and only when it may
  // repeat the chosen point, which it cannot when it is later in GPS time than
  // every point visited before it. Called for every visited point, in order.
  bool mayRepeatVisited(F64 gps_time) {
    if constexpr (!Payload::ignores_later_points) return true;
    const bool later = gps_time > latest_visited_time;
    if (later) latest_visited_time = gps_time;
    return marking && !later;
  }
  // The rest of a visit: enters the point, holds it back, or passes it over.
  void admit(const PendingPoint& next);
  // The slot of the key in the table of recently used voxels.
  static U64 recentSlot(U64 key) { return (key * 0x9E3779B97F4A7C15ULL) >> (64 - RECENT_BITS); }
  // The voxel's position in cells when the recent table knows it, else Cells::NONE.
  U64 recentPosition(U64 key, U64 slot) const { return recent[slot].key == key ? recent[slot].position : Cells::NONE; }
  // A block of records being visited, field by field so that whole arrays
  // are converted and compared at once; the coordinate and quotient arrays
  // hold an even number of entries (see VoxelGrid::plainQuotients).
  struct RecordBlock {
    alignas(16) F64 x[RECORD_BLOCK], y[RECORD_BLOCK], z[RECORD_BLOCK];
    alignas(16) F64 q_x[RECORD_BLOCK], q_y[RECORD_BLOCK], q_z[RECORD_BLOCK];
    alignas(16) I64 plain[RECORD_BLOCK];
    F64 gps_time[RECORD_BLOCK];
    U64 key[RECORD_BLOCK];
    Sample sample[RECORD_BLOCK];
    // The first-pass position of the first point.
    U64 first;
  };
  static PendingPoint pendingOf(const RecordBlock& block, U32 i) {
    return {block.key[i], block.x[i], block.y[i], block.z[i], block.gps_time[i], static_cast<U32>(block.first + i),
            block.sample[i]};
  }
  // admit() of the points of a block, in order.
  void enterBlock(const RecordBlock& block, U32 size);
  // Enters one point into its voxel's record.
  [[gnu::always_inline]] void enter(const PendingPoint& point);
  // Enters every held-back point, oldest first. When entering one throws, it
  // and the points after it are dropped (dropPending), as if the visit of that
  // point had thrown and the later points had never been visited.
  void enterPending();
  void dropPending() {
    pending_count = 0;
    visited_key = NO_KEY;
  }
  void mark(U32 ordinal) {
    const U64 word = ordinal >> 6;
    if (word >= marks.size()) marks.resize(word + 1, 0);
    marks[word] |= U64(1) << (ordinal & 63);
  }
  void unmark(U32 ordinal) { marks[ordinal >> 6] &= ~(U64(1) << (ordinal & 63)); }
  // A marked repeat of the chosen identity of the voxel at position.
  void addRepeat(U64 position, U32 ordinal) {
    repeats[position].push_back(ordinal);
    const U64 word = position >> 6;
    if (word >= repeated_voxels.size()) repeated_voxels.resize(word + 1, 0);
    repeated_voxels[word] |= U64(1) << (position & 63);
  }
  bool hasRepeats(U64 position) const {
    const U64 word = position >> 6;
    return word < repeated_voxels.size() && (repeated_voxels[word] >> (position & 63)) & 1;
  }
  // The marks cannot stand for the decisions (a point takes the place of
  // its own identity; positions beyond 32 bits): the second pass asks about
  // every point, and the first pass goes on without marking.
  void dropMarks() {
    marking = false;
    marks_valid = false;
    std::vector<U64>().swap(marks);
    repeats.clear();
    std::vector<U64>().swap(repeated_voxels);
  }
  // The points before this one, in visiting order, that share its identity,
  // for the rules that do not choose by identity while they mark: there a
  // later point may take the place of an earlier point of its identity, or
  // be chosen when an earlier point of its identity was not, which marks kept
  // point by point cannot follow without knowing those earlier points. They
  // are known cheaply where points come in runs in order of GPS time (a file
  // of flight lines comes in a few of them): a point later than every point
  // before it in its run, and outside the times of the runs before, repeats
  // none; a point of the same time is compared with the few points of that
  // time before it. Bit i of `matches` stands for same_time_points[i]. False
  // for a point whose time no number is, lies within an earlier run, or has
  // too many points before it, and with too many runs: the marks cannot be
  // kept.
  [[gnu::always_inline]] bool findEarlierOfIdentity(const PendingPoint& point, U32& matches);
  // findEarlierOfIdentity for a point that is not later than the point
  // before it nor in its time, or that reaches run_limit: it starts a run or
  // takes the runs it passes into the open one.
  bool startTimeRun(F64 gps_time);
  // Enters the held-back points; on the first call of the second pass, starts it.
  void startSecondPass();
  // survivor_positions for marks handed out: the voxel of each marked point.
  void orderMarkedVoxels();
  // The second-pass decision for a point of these world coordinates and GPS time.
  SurvivalDecision decide(F64 x, F64 y, F64 z, F64 gps_time, VoxelIndexAndCenter& cell);
  // The voxel's position for the second pass, Cells::NONE when unoccupied.
  U64 findForSecondPass(U64 key);

  VoxelGrid grid;
  Cells cells;
  // Cells outside the box, and every cell of wide grids: voxel indices to
  // dense keys from grid.firstMapKey() on, in order of the first pass, so
  // that no two voxels share a key.
  CellMap<VoxelTriple, U64> wide_keys;
  // First-pass points outside the header's bounding box.
  U64 outside = 0;
  MinStdRand engine;
  // A ring of held-back points: pending_count of them from pending_first on.
  PendingPoint pending[PENDING];
  U32 pending_first = 0;
  U32 pending_count = 0;
  // Voxels by recentSlot of their key. The key is kept beside the position so
  // that a miss reads no entry of cells (that entry would be a cache miss).
  struct RecentVoxel {
    U64 key;
    U64 position;  // Cells::NONE: none
  };
  std::unique_ptr<RecentVoxel[]> recent;
  // The voxel of the point entered or asked about last.
  U64 last_key = 0;
  U64 last_position = Cells::NONE;
  // The key of the point visited last, NO_KEY when none or when it was
  // dropped: a point of the same voxel needs no hint (and, where the voxel
  // ignores later points, no entering).
  // No grid key: keys lie below 2^63 plus one per cell outside the box.
  static constexpr U64 NO_KEY = U64_MAX;
  U64 visited_key = NO_KEY;
  // Voxels of the survivors that markSurvivingRecords found or the survivor
  // marks stand for, in order, and the next one: a survivor asked about
  // afterwards finds its voxel there without a lookup (a hint like the
  // cursor: checked against the key).
  std::vector<U32> survivor_positions;
  U64 next_survivor = 0;
  // Second pass: the first entry not met yet, as far as the order goes.
  U64 cursor = 0;
  bool second_pass = false;
  // Survivor marks: kept while marking, one bit per visited point; they stand
  // for the decisions while marks_valid holds.
  bool marking = false;
  bool marks_valid = true;
  U64 visited = 0;
  // Whether survivorMarks gave the marks out: the second pass reads only them.
  mutable bool marks_handed_out = false;
  // The header's point count.
  U64 expected_points = 0;
  std::vector<U64> marks;
  // Marked points that repeat their voxel's chosen identity, by voxel position.
  std::unordered_map<U64, std::vector<U32>> repeats;
  // One bit per voxel position: whether repeats holds it. Asked whenever a
  // chosen point loses its place, it spares most of those a lookup in repeats.
  std::vector<U64> repeated_voxels;
  // findEarlierOfIdentity: the GPS time of the points entered last, and the
  // coordinates (as the identity takes them) and positions of those points.
  struct SameTimePoint {
    U64 x, y, z;
    U32 ordinal;
  };
  static constexpr U32 SAME_TIME_MAX = 32;
  // No number before the first point, which starts the first run.
  F64 same_time = std::numeric_limits<F64>::quiet_NaN();
  // Runs of GPS time before the open one, as ranges of their times: disjoint
  // and in order of time. A run that reaches the times of earlier runs takes
  // them into its range: ranges only grow, so a point outside them all
  // repeats no point of them.
  struct TimeRange {
    F64 first, last;
  };
  static constexpr size_t TIME_RUNS_MAX = 1024;
  std::vector<TimeRange> time_runs;
  // The open run: its first time, and the first time of the range after it
  // (infinity: none).
  F64 run_first = 0.0;
  F64 run_limit = std::numeric_limits<F64>::infinity();
  bool run_open = false;
  // The rules that choose by identity: the latest GPS time entered (a NaN
  // never is; it is never later than another time either).
  F64 latest_time = -std::numeric_limits<F64>::infinity();
  // The latest GPS time visited, for mayRepeatVisited.
  F64 latest_visited_time = -std::numeric_limits<F64>::infinity();
  U32 same_time_count = 0;
  SameTimePoint same_time_points[SAME_TIME_MAX] = {};
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
