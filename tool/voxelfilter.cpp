// The two passes of the voxel filter and the 25 filters built from it. The
// passes compute a point's voxel and identity identically, so a point read
// again in the second pass (from wherever the reader takes it) finds its voxel
// and is recognised by content.
#include "tool/voxelfilter.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "core/lasheader.hpp"
#include "core/lasmessage.hpp"

I32 attribute_idx = 0;

F64 get_attribute(const LASpoint& point) {
  if (attribute_idx < 0) return 0.0;
  return point.get_attribute_as_float(static_cast<U32>(attribute_idx));
}

// As get_attribute finds the attribute's bytes in a point.
void PointRecordLayout::findAttribute(const LASpoint& point, I32 index) {
  attribute = nullptr;
  attribute_known = extra_bytes_at + static_cast<U64>(point.extra_bytes_count) == record_length;
  if (!attribute_known || index < 0) return;
  const I64 start = point.attribute_start(static_cast<U32>(index));
  if (start < 0) return;
  attribute = &point.attribute_table->attributes[index];
  attribute_at = extra_bytes_at + static_cast<U32>(start);
}

template <class Payload>
VoxelFilter<Payload>::VoxelFilter(F64 step_xy, F64 step_z, const LASheader& header)
    : grid(step_xy, step_z, header.min_x, header.max_x, header.min_y, header.max_y, header.min_z, header.max_z),
      recent(new RecentVoxel[RECENT]) {
  std::fill(recent.get(), recent.get() + RECENT, RecentVoxel{0, Cells::NONE});
  LASMessage(VERBOSE, "Processing a grid with %zu voxels", static_cast<size_t>(grid.numberOfVoxels()));
  // A map grown by doubling fills its index again at every step; scans hold
  // ten points per voxel or more at the usual steps, so an eighth of the points
  // rarely overshoots by much, and the 32-bit slots keep such an index at most
  // about half full. Room for more took memory without measurable gain. A
  // wrong count only costs growing later.
  expected_points = header.extended_number_of_point_records ? header.extended_number_of_point_records
                                                            : header.number_of_point_records;
  U64 foreseen = std::min(expected_points / 8, grid.numberOfVoxels());
  if (foreseen > FORESEEN_VOXELS_MAX) foreseen = FORESEEN_VOXELS_MAX;
  try {
    cells.reserve(foreseen);
  } catch (const std::bad_alloc&) {
    // The map grows as the voxels come.
  }
}

template <class Payload>
VoxelFilter<Payload>::~VoxelFilter() {
  try {
    enterPending();
  } catch (...) {
    // Out of memory with points held back: the report counts the voxels entered.
  }
  LASMessage(VERBOSE, "Grid saturation is %f percent.",
             static_cast<F64>(cells.size()) / grid.numberOfVoxelsF64() * 100.0);
}

// Cells outside the box and cells of wide grids: the first pass hands out
// dense keys; the second pass only looks them up, and a voxel the first pass
// never saw gets U64_MAX, which no voxel holds.
template <class Payload>
U64 VoxelFilter<Payload>::wideCellKey(const VoxelTriple& triple, bool add) {
  if (!add) {
    const U64* key = wide_keys.find(triple);
    return key ? *key : U64_MAX;
  }
  bool inserted;
  U64* key = wide_keys.insert(triple, inserted);
  if (inserted) *key = grid.firstMapKey() + wide_keys.size() - 1;
  return *key;
}

// Marks are kept from the first point on only. Rules whose choice does not
// follow the identity keep them while the points come in order of GPS time
// (see findEarlierOfIdentity); the second pass scans for its survivors
// otherwise.
template <class Payload>
bool VoxelFilter<Payload>::markSurvivors() {
  marking = visited == 0;
  // One bit per point of the header's count; a wrong count only costs growing.
  if (marking && expected_points <= U32_MAX) {
    try {
      marks.reserve((expected_points + 63) / 64);
    } catch (const std::bad_alloc&) {
    }
  }
  return marking;
}

template <class Payload>
inline void VoxelFilter<Payload>::locate(PendingPoint& next, F64 q_x, F64 q_y, F64 q_z, VoxelIndexAndCenter& cell) {
  if (marking) [[unlikely]] {
    // Positions are kept in 32 bits.
    if (visited >= U32_MAX) dropMarks();
    next.ordinal = static_cast<U32>(visited);
  }
  visited++;
  VoxelTriple triple;
  const bool inside = grid.locateByQuotients(next.x, next.y, next.z, q_x, q_y, q_z, triple);
  outside += !inside;
  cell.index = cellKey(triple, inside, true);
  grid.center(triple, cell.center);
  next.key = cell.index;
}

template <class Payload>
void VoxelFilter<Payload>::visitPoint(const LASpoint& point) {
  PendingPoint next;
  next.x = point.get_x();
  next.y = point.get_y();
  next.z = get_z(point);
  next.gps_time = point.gps_time;
  VoxelIndexAndCenter cell;
  locate(next, grid.quotientX(next.x), grid.quotientY(next.y), grid.quotientZ(next.z), cell);
  next.sample = Payload::sample(point, cell);
  admit(next);
}

// The coordinates are those of the point path, raw * scale + offset through
// the same scaling, so every key and identity comes out the same. A block's
// coordinates are read first, then divided into quotients and compared with
// the box side by side (VoxelGrid::plainQuotients), then their voxels are
// computed and their recent-table entries asked for, then the points are
// admitted in order.
template <class Payload>
void VoxelFilter<Payload>::visitRecords(const U8* records, U32 count, const PointRecordLayout& layout) {
  const LASscaling& scaling = *layout.scaling;
  RecordBlock block;
  for (U32 start = 0; start < count; start += RECORD_BLOCK) {
    const U32 size = std::min(RECORD_BLOCK, count - start);
    const U8* record = records + static_cast<U64>(start) * layout.record_length;
    for (U32 i = 0; i < size; i++, record += layout.record_length) {
      block.x[i] = scaling.get_x(record_i32(record));
      block.y[i] = scaling.get_y(record_i32(record + 4));
      block.z[i] = scaling.get_z(record_i32(record + 8));
      block.gps_time[i] = 0.0;
      if (layout.gps_time_at >= 0) std::memcpy(&block.gps_time[i], record + layout.gps_time_at, sizeof(F64));
    }
    // The entry after an odd block's last is compared too: keep it a number.
    if (size % 2) block.x[size] = block.y[size] = block.z[size] = 0.0;
    grid.plainQuotients(block.x, block.y, block.z, block.q_x, block.q_y, block.q_z, block.plain, size);
    // Positions are kept in 32 bits.
    if (marking && visited + size > U32_MAX) dropMarks();
    block.first = visited;
    const bool wide = grid.wide;
    record = records + static_cast<U64>(start) * layout.record_length;
    U32 located = 0;
    try {
      for (; located < size; located++, record += layout.record_length) {
        VoxelTriple triple;
        U64 key;
        if (block.plain[located] && !wide) [[likely]] {
          triple = grid.plainCell(block.q_x[located], block.q_y[located], block.q_z[located]);
          key = grid.key(triple);
        } else {
          const bool inside = grid.locateByQuotients(block.x[located], block.y[located], block.z[located],
                                                     block.q_x[located], block.q_y[located], block.q_z[located], triple);
          outside += !inside;
          key = cellKey(triple, inside, true);
        }
        block.key[located] = key;
        __builtin_prefetch(&recent[recentSlot(key)]);
        if constexpr (!std::is_same_v<Sample, VoxelFilterNoSample>) {
          VoxelIndexAndCenter cell;
          cell.index = key;
          grid.center(triple, cell.center);
          block.sample[located] =
              Payload::sampleRecord(record, layout, block.x[located], block.y[located], block.z[located], cell);
        }
      }
    } catch (...) {
      // As point by point: the points before the one that failed are in,
      // and that one was visited.
      visited = block.first + located + 1;
      for (U32 i = 0; i < located; i++) admit(pendingOf(block, i));
      throw;
    }
    visited = block.first + size;
    enterBlock(block, size);
  }
}

// The record is updated once PENDING newer points are held back, by when the
// index slot of a voxel that the recent table does not know has reached the
// cache. Where a voxel ignores its later points, a point of a voxel known to
// hold one is not held back at all.
template <class Payload>
void VoxelFilter<Payload>::admit(const PendingPoint& next) {
  // With survivor marks a point is entered where it may repeat its voxel's
  // chosen identity.
  const bool may_repeat = mayRepeatVisited(next.gps_time);
  if (next.key == visited_key) {
    // The point before, entered or held back, is in this voxel.
    if constexpr (Payload::ignores_later_points) {
      if (!may_repeat) return;
    }
  } else {
    visited_key = next.key;
    if (recentPosition(next.key, recentSlot(next.key)) != Cells::NONE) {
      if constexpr (Payload::ignores_later_points) {
        if (!may_repeat) return;
      }
    } else {
      // Only a hint: the voxel may be added by a point held back before this
      // one, and the index may grow before this point is entered.
      cells.prefetch(Cells::hash(next.key));
    }
  }

  if (pending_count < PENDING) {
    pending[(pending_first + pending_count++) % PENDING] = next;
    return;
  }
  try {
    enter(pending[pending_first]);
  } catch (...) {
    dropPending();
    throw;
  }
  pending[pending_first] = next;
  pending_first = (pending_first + 1) % PENDING;
}

// admit() for a block of points at once, without holding them back: the
// index slots of the voxels that the recent table does not know are asked
// of the cache together before the first of the points is entered, so that
// their misses overlap. Which points share the voxel before them or find it
// in the table follows no pattern in a scan, so the points to enter and the
// unknown voxels are listed without a branch.
template <class Payload>
void VoxelFilter<Payload>::enterBlock(const RecordBlock& block, U32 size) {
  enterPending();
  U8 entering[RECORD_BLOCK], unknown[RECORD_BLOCK];
  static_assert(RECORD_BLOCK <= 256, "block positions are kept in bytes");
  U32 enter_count = 0, unknown_count = 0;
  // Locals: stores into the byte lists could otherwise alias the members.
  U64 key_before = visited_key;
  F64 latest = latest_visited_time;
  const bool keeps_marks = marking;
  for (U32 i = 0; i < size; i++) {
    const U64 key = block.key[i];
    const RecentVoxel& slot = recent[recentSlot(key)];
    const bool known = (key == key_before) | ((slot.key == key) & (slot.position != Cells::NONE));
    key_before = key;
    bool enters = true;
    if constexpr (Payload::ignores_later_points) {
      // mayRepeatVisited, inlined on the locals.
      const F64 time = block.gps_time[i];
      const bool later = time > latest;
      latest = later ? time : latest;
      enters = (!known) | (keeps_marks & !later);
    }
    entering[enter_count] = static_cast<U8>(i);
    enter_count += enters;
    unknown[unknown_count] = static_cast<U8>(i);
    unknown_count += !known;
  }
  visited_key = key_before;
  latest_visited_time = latest;
  for (U32 j = 0; j < unknown_count; j++) cells.prefetch(Cells::hash(block.key[unknown[j]]));
  try {
    for (U32 j = 0; j < enter_count; j++) enter(pendingOf(block, entering[j]));
  } catch (...) {
    dropPending();
    throw;
  }
}

template <class Payload>
void VoxelFilter<Payload>::enterPending() {
  try {
    for (; pending_count > 0; pending_count--) {
      enter(pending[pending_first]);
      pending_first = (pending_first + 1) % PENDING;
    }
  } catch (...) {
    dropPending();
    throw;
  }
}

// The bits of a value as the identity takes them (PointHash::bitsOf), without
// a branch: only the two zeros have no bit but the sign.
static inline U64 identityBits(F64 v) {
  const U64 bits = std::bit_cast<U64>(v);
  return (bits << 1) == 0 ? 0 : bits;
}

// Runs for every point entered, inlined into enter.
template <class Payload>
inline bool VoxelFilter<Payload>::findEarlierOfIdentity(const PendingPoint& point, U32& matches) {
  const U64 x = identityBits(point.x), y = identityBits(point.y), z = identityBits(point.z);
  if (point.gps_time > same_time && point.gps_time < run_limit) {
    same_time = point.gps_time;
    same_time_count = 0;
  } else if (point.gps_time == same_time) {
    // Equal times are equal to the identity, which takes -0.0 as 0.0.
    if (same_time_count == SAME_TIME_MAX) return false;
    for (U32 i = 0; i < same_time_count; i++) {
      const SameTimePoint& earlier = same_time_points[i];
      if (earlier.x == x && earlier.y == y && earlier.z == z) matches |= U32(1) << i;
    }
  } else if (!startTimeRun(point.gps_time)) {
    return false;
  }
  // Field by field: a copy of the whole would wait for these stores.
  SameTimePoint& entry = same_time_points[same_time_count++];
  entry.x = x;
  entry.y = y;
  entry.z = z;
  entry.ordinal = point.ordinal;
  return true;
}

template <class Payload>
bool VoxelFilter<Payload>::startTimeRun(F64 gps_time) {
  if (gps_time != gps_time) return false;
  const auto after = [&](F64 time) {
    return std::upper_bound(time_runs.begin(), time_runs.end(), time,
                            [](F64 t, const TimeRange& range) { return t < range.first; });
  };
  if (!run_open) {
    run_open = true;
    run_first = gps_time;
  } else if (gps_time > same_time) {
    // The open run reaches run_limit (or infinity): it takes in the ranges
    // that it passes and stops where one holds the time.
    const auto passed = after(run_first);
    const auto next = after(gps_time);
    if (next != passed && std::prev(next)->last >= gps_time) return false;
    time_runs.erase(passed, next);
  } else {
    // A time before that of the point before: the open run ends, and a new
    // one starts outside every range.
    if (time_runs.size() == TIME_RUNS_MAX) return false;
    time_runs.insert(after(run_first), TimeRange{run_first, same_time});
    const auto next = after(gps_time);
    if (next != time_runs.begin() && std::prev(next)->last >= gps_time) return false;
    run_first = gps_time;
  }
  const auto next = after(gps_time);
  run_limit = next == time_runs.end() ? std::numeric_limits<F64>::infinity() : next->first;
  same_time = gps_time;
  same_time_count = 0;
  return true;
}

// The voxel of the point before first (half of the points of a scan share
// it), then the recent table, then the index.
template <class Payload>
inline void VoxelFilter<Payload>::enter(const PendingPoint& point) {
  // Earlier points of the point's identity, where the rule needs them.
  U32 matches = 0;
  if constexpr (!Payload::chosen_by_identity) {
    if (marking && !findEarlierOfIdentity(point, matches)) dropMarks();
  }
  // A point later than every point before it repeats none of them.
  bool later_than_all = false;
  if constexpr (Payload::chosen_by_identity) {
    later_than_all = point.gps_time > latest_time;
    if (later_than_all) latest_time = point.gps_time;
  }
  U64 position = last_position;
  bool inserted = false;
  if (point.key != last_key || position == Cells::NONE) {
    const U64 slot = recentSlot(point.key);
    position = recentPosition(point.key, slot);
    if (position == Cells::NONE) {
      position = cells.insert(point.key, Cells::hash(point.key), inserted);
      recent[slot] = {point.key, position};
    }
    last_key = point.key;
    last_position = position;
  }
  VoxelCell<Payload>& voxel = cells.at(position).value;
  if (inserted) {
    voxel.hash = utils::PointHash::computeHash(point.x, point.y, point.z, point.gps_time);
    if constexpr (keeps_digest<Payload>)
      voxel.digest = utils::PointHash::digest(point.x, point.y, point.z, point.gps_time);
    voxel.payload.initialteCellCount();
    voxel.payload.addToCellCount();
    voxel.payload.updatePayload(point.sample);
    if constexpr (Payload::seeded_per_cell) voxel.payload.setSeed(engine.uniformNonNegative());
    if (marking) {
      mark(point.ordinal);
      if constexpr (marks_move<Payload>) voxel.chosen = point.ordinal;
    }
    return;
  }
  voxel.payload.addToCellCount();
  if (voxel.payload.pointNeedsUpdate(point.sample)) {
    const U64 hash = utils::PointHash::computeHash(point.x, point.y, point.z, point.gps_time);
    if (marking) {
      if (hash != voxel.hash) {
        if constexpr (marks_move<Payload>) {
          unmark(voxel.chosen);
          mark(point.ordinal);
          voxel.chosen = point.ordinal;
          // Repeats of the identity that lost its place lose theirs too.
          if (hasRepeats(position)) {
            const auto repeated = repeats.find(position);
            for (const U32 ordinal : repeated->second) unmark(ordinal);
            repeats.erase(repeated);
            repeated_voxels[position >> 6] &= ~(U64(1) << (position & 63));
          }
          // Earlier points of the new identity survive beside it.
          for (; matches != 0; matches &= matches - 1) {
            const U32 ordinal = same_time_points[__builtin_ctz(matches)].ordinal;
            mark(ordinal);
            addRepeat(position, ordinal);
          }
        }
      } else if constexpr (Payload::chosen_by_identity) {
        // Both points would survive the identity test of the second pass.
        dropMarks();
      } else {
        // The identity keeps its place, and this point survives beside it.
        mark(point.ordinal);
        addRepeat(position, point.ordinal);
      }
    }
    voxel.hash = hash;
    if constexpr (keeps_digest<Payload>)
      voxel.digest = utils::PointHash::digest(point.x, point.y, point.z, point.gps_time);
    voxel.payload.updatePayload(point.sample);
  } else if (marking && (Payload::chosen_by_identity || matches != 0)) {
    // A repeat of the chosen identity survives beside the chosen point, as
    // long as that identity keeps its place (a new identity repeats none).
    // Most points of a voxel differ from the chosen one in time, digest or value.
    bool may_repeat = !later_than_all;
    if constexpr (keeps_digest<Payload>)
      may_repeat = may_repeat && utils::PointHash::digest(point.x, point.y, point.z, point.gps_time) == voxel.digest;
    else if constexpr (Payload::chosen_by_identity)
      may_repeat = may_repeat && voxel.payload.mayRepeat(point.sample);
    if (may_repeat && utils::PointHash::computeHash(point.x, point.y, point.z, point.gps_time) == voxel.hash) {
      mark(point.ordinal);
      if constexpr (marks_move<Payload>) addRepeat(position, point.ordinal);
    }
  }
}

// The voxel of the point before; the entry at the cursor, which is the voxel
// when the point is the first of its voxel in this pass and the passes see
// the same points; the recent table; then the index. A voxel found in the
// index beyond the cursor moves the cursor past it (points of the first pass
// missing here). The cursor comes before the recent table because it is read
// in order and stays in the caches, where a table slot is a miss: where only
// the survivors are asked about, nearly every one is found at the cursor.
// Keys are unique, so the order of the looks does not change the answer.
template <class Payload>
U64 VoxelFilter<Payload>::findForSecondPass(U64 key) {
  if (key == last_key && last_position != Cells::NONE) return last_position;
  const U64 slot = recentSlot(key);
  U64 position;
  if (cursor < cells.size() && cells.at(cursor).key == key) {
    position = cursor++;
    recent[slot] = {key, position};
  } else {
    position = recentPosition(key, slot);
    if (position == Cells::NONE) {
      position = cells.find(key, Cells::hash(key));
      if (position == Cells::NONE) return position;
      if (position >= cursor) cursor = position + 1;
      recent[slot] = {key, position};
    }
  }
  last_key = key;
  last_position = position;
  return position;
}

template <class Payload>
void VoxelFilter<Payload>::startSecondPass() {
  enterPending();
  // The second pass meets its voxels as the first did: start afresh.
  if (!second_pass) {
    std::fill(recent.get(), recent.get() + RECENT, RecentVoxel{0, Cells::NONE});
    last_position = Cells::NONE;
    if constexpr (marks_move<Payload>) {
      if (marks_handed_out && marks_valid) orderMarkedVoxels();
    }
  }
  second_pass = true;
}

// The hints of the second pass as at its start; the survivor list is kept.
template <class Payload>
void VoxelFilter<Payload>::restartSecondPass() {
  if (!second_pass) return;
  std::fill(recent.get(), recent.get() + RECENT, RecentVoxel{0, Cells::NONE});
  last_position = Cells::NONE;
  cursor = 0;
  next_survivor = 0;
}

// A marked point's place among the marked points is the count of marks before
// it; every voxel's chosen point and every marked repeat of it is marked, so
// the list comes out full. Where a rule may move the chosen point, the voxels
// of the survivors come in an order of their own, which the cursor (made for
// the order of the voxels' first points) does not follow.
template <class Payload>
void VoxelFilter<Payload>::orderMarkedVoxels() {
  if constexpr (marks_move<Payload>) {
    std::vector<U32> before(marks.size());
    U64 marked = 0;
    for (size_t word = 0; word < marks.size(); word++) {
      before[word] = static_cast<U32>(marked);
      marked += static_cast<U64>(__builtin_popcountll(marks[word]));
    }
    auto rank = [&](U32 ordinal) {
      const U64 below = marks[ordinal >> 6] & ((U64(1) << (ordinal & 63)) - 1);
      return before[ordinal >> 6] + static_cast<U64>(__builtin_popcountll(below));
    };
    survivor_positions.assign(marked, U32_MAX);
    for (U64 position = 0; position < cells.size(); position++) {
      survivor_positions[rank(cells.at(position).value.chosen)] = static_cast<U32>(position);
    }
    for (const auto& [position, ordinals] : repeats) {
      for (const U32 ordinal : ordinals) survivor_positions[rank(ordinal)] = static_cast<U32>(position);
    }
    next_survivor = 0;
  }
}

template <class Payload>
SurvivalDecision VoxelFilter<Payload>::decide(F64 x, F64 y, F64 z, F64 gps_time, VoxelIndexAndCenter& cell) {
  VoxelTriple triple;
  const bool inside = grid.locate(x, y, z, triple);
  cell.index = cellKey(triple, inside, false);
  grid.center(triple, cell.center);

  SurvivalDecision decision;
  U64 position = Cells::NONE;
  if (next_survivor < survivor_positions.size()) {
    // The points that the marks stand for are asked about in their order.
    const U64 hint = survivor_positions[next_survivor];
    if (hint < cells.size() && cells.at(hint).key == cell.index) {
      position = hint;
      next_survivor++;
      if (next_survivor + 8 < survivor_positions.size() && survivor_positions[next_survivor + 8] < cells.size())
        __builtin_prefetch(&cells.at(survivor_positions[next_survivor + 8]));
    }
  }
  if (position == Cells::NONE) position = findForSecondPass(cell.index);
  if (position == Cells::NONE) return decision;
  const VoxelCell<Payload>& voxel = cells.at(position).value;
  decision.survives = voxel.hash == utils::PointHash::computeHash(x, y, z, gps_time);
  decision.points_in_cell = voxel.payload.getPointsInCell();
  return decision;
}

template <class Payload>
SurvivalDecision VoxelFilter<Payload>::isSurvivingPointAndModify(LASpoint& point, VoxelIndexAndCenter& cell) {
  if (pending_count > 0 || !second_pass) [[unlikely]]
    startSecondPass();
  return decide(point.get_x(), point.get_y(), get_z(point), point.gps_time, cell);
}

// The coordinates are those of the point path (see visitRecords).
template <class Payload>
bool VoxelFilter<Payload>::isSurvivingRecord(const U8* record, const PointRecordLayout& layout) {
  if (pending_count > 0 || !second_pass) [[unlikely]]
    startSecondPass();
  const LASscaling& scaling = *layout.scaling;
  F64 gps_time = 0.0;
  if (layout.gps_time_at >= 0) std::memcpy(&gps_time, record + layout.gps_time_at, sizeof(F64));
  VoxelIndexAndCenter cell;
  return decide(scaling.get_x(record_i32(record)), scaling.get_y(record_i32(record + 4)),
                scaling.get_z(record_i32(record + 8)), gps_time, cell)
      .survives;
}

// The coordinates and identity are those the point path computes (see
// visitRecords), so each bit is the decision isSurvivingPointAndModify gives.
// Most voxels a block meets are known to the recent table or met first at the
// cursor; for the others, the index slots and then the entries of a whole
// block are asked of the cache before they are read, so that the misses
// overlap instead of coming one after another.
template <class Payload>
void VoxelFilter<Payload>::markSurvivingRecords(const U8* records, U32 count, const PointRecordLayout& layout,
                                                U64 first, std::vector<U64>& marks) {
  if (pending_count > 0 || !second_pass) [[unlikely]]
    startSecondPass();
  // Marks of a block alone (the writing pass decides block by block): the
  // survivors of the blocks before were asked about by now, or never will be,
  // so their voxels need not be kept.
  if (first == 0) {
    survivor_positions.clear();
    next_survivor = 0;
  }
  // About one survivor per voxel: repeats of chosen points are few.
  if (survivor_positions.capacity() == 0) survivor_positions.reserve(cells.size() + cells.size() / 16 + 64);
  const LASscaling& scaling = *layout.scaling;
  U64 keys[RECORD_BLOCK], identities[RECORD_BLOCK], positions[RECORD_BLOCK];
  for (U32 start = 0; start < count; start += RECORD_BLOCK) {
    const U32 size = std::min(RECORD_BLOCK, count - start);
    const U8* record = records + static_cast<U64>(start) * layout.record_length;
    for (U32 i = 0; i < size; i++, record += layout.record_length) {
      const F64 x = scaling.get_x(record_i32(record));
      const F64 y = scaling.get_y(record_i32(record + 4));
      const F64 z = scaling.get_z(record_i32(record + 8));
      F64 gps_time = 0.0;
      if (layout.gps_time_at >= 0) std::memcpy(&gps_time, record + layout.gps_time_at, sizeof(F64));
      VoxelTriple triple;
      const bool inside = grid.locate(x, y, z, triple);
      keys[i] = cellKey(triple, inside, false);
      identities[i] = utils::PointHash::computeHash(x, y, z, gps_time);
      __builtin_prefetch(&recent[recentSlot(keys[i])]);
    }
    for (U32 i = 0; i < size; i++) {
      if (recent[recentSlot(keys[i])].key != keys[i]) cells.prefetch(Cells::hash(keys[i]));
    }
    for (U32 i = 0; i < size; i++) {
      positions[i] = findForSecondPass(keys[i]);
      if (positions[i] != Cells::NONE) __builtin_prefetch(&cells.at(positions[i]));
    }
    for (U32 i = 0; i < size; i++) {
      if (positions[i] != Cells::NONE && cells.at(positions[i]).value.hash == identities[i]) {
        const U64 ordinal = first + start + i;
        marks[ordinal >> 6] |= U64(1) << (ordinal & 63);
        if (positions[i] <= U32_MAX) survivor_positions.push_back(static_cast<U32>(positions[i]));
      }
    }
  }
}

// The 25 filters.
template class VoxelFilter<VoxelFilterPayloadFirstOccurrence<true>>;
template class VoxelFilter<VoxelFilterPayloadFirstOccurrence<false>>;
template class VoxelFilter<VoxelFilterPayloadHighest<true, F64, get_z>>;
template class VoxelFilter<VoxelFilterPayloadHighest<false, F64, get_z>>;
template class VoxelFilter<VoxelFilterPayloadLowest<true, F64, get_z>>;
template class VoxelFilter<VoxelFilterPayloadLowest<false, F64, get_z>>;
template class VoxelFilter<VoxelFilterPayloadHighest<true, U16, get_intensity>>;
template class VoxelFilter<VoxelFilterPayloadHighest<false, U16, get_intensity>>;
template class VoxelFilter<VoxelFilterPayloadLowest<true, U16, get_intensity>>;
template class VoxelFilter<VoxelFilterPayloadLowest<false, U16, get_intensity>>;
template class VoxelFilter<VoxelFilterPayloadHighest<true, U8, get_return_number>>;
template class VoxelFilter<VoxelFilterPayloadHighest<false, U8, get_return_number>>;
template class VoxelFilter<VoxelFilterPayloadLowest<true, U8, get_return_number>>;
template class VoxelFilter<VoxelFilterPayloadLowest<false, U8, get_return_number>>;
template class VoxelFilter<VoxelFilterPayloadHighest<true, U8, get_extended_return_number>>;
template class VoxelFilter<VoxelFilterPayloadHighest<false, U8, get_extended_return_number>>;
template class VoxelFilter<VoxelFilterPayloadLowest<true, U8, get_extended_return_number>>;
template class VoxelFilter<VoxelFilterPayloadLowest<false, U8, get_extended_return_number>>;
template class VoxelFilter<VoxelFilterPayloadHighest<true, F64, get_attribute>>;
template class VoxelFilter<VoxelFilterPayloadHighest<false, F64, get_attribute>>;
template class VoxelFilter<VoxelFilterPayloadLowest<true, F64, get_attribute>>;
template class VoxelFilter<VoxelFilterPayloadLowest<false, F64, get_attribute>>;
template class VoxelFilter<VoxelFilterPayloadClosest<true>>;
template class VoxelFilter<VoxelFilterPayloadClosest<false>>;
template class VoxelFilter<VoxelFilterPayloadRandom>;

template <template <bool> class Payload>
static PointFilterInterface* make_pair(bool counting, F64 step_xy, F64 step_z, const LASheader& header) {
  if (counting) return new VoxelFilter<Payload<true>>(step_xy, step_z, header);
  return new VoxelFilter<Payload<false>>(step_xy, step_z, header);
}

template <template <bool, class T, T (*)(const LASpoint&)> class Payload, class T, T (*get)(const LASpoint&)>
static PointFilterInterface* make_pair(bool counting, F64 step_xy, F64 step_z, const LASheader& header) {
  if (counting) return new VoxelFilter<Payload<true, T, get>>(step_xy, step_z, header);
  return new VoxelFilter<Payload<false, T, get>>(step_xy, step_z, header);
}

PointFilterInterface* make_voxel_filter(VoxelRule rule, bool counting, F64 step_xy, F64 step_z,
                                        const LASheader& header) {
  switch (rule) {
    case VoxelRule::FIRST:
      return make_pair<VoxelFilterPayloadFirstOccurrence>(counting, step_xy, step_z, header);
    case VoxelRule::HIGHEST_Z:
      return make_pair<VoxelFilterPayloadHighest, F64, get_z>(counting, step_xy, step_z, header);
    case VoxelRule::LOWEST_Z:
      return make_pair<VoxelFilterPayloadLowest, F64, get_z>(counting, step_xy, step_z, header);
    case VoxelRule::HIGHEST_INTENSITY:
      return make_pair<VoxelFilterPayloadHighest, U16, get_intensity>(counting, step_xy, step_z, header);
    case VoxelRule::LOWEST_INTENSITY:
      return make_pair<VoxelFilterPayloadLowest, U16, get_intensity>(counting, step_xy, step_z, header);
    case VoxelRule::HIGHEST_RETURN:
      return make_pair<VoxelFilterPayloadHighest, U8, get_return_number>(counting, step_xy, step_z, header);
    case VoxelRule::LOWEST_RETURN:
      return make_pair<VoxelFilterPayloadLowest, U8, get_return_number>(counting, step_xy, step_z, header);
    case VoxelRule::HIGHEST_EXTENDED_RETURN:
      return make_pair<VoxelFilterPayloadHighest, U8, get_extended_return_number>(counting, step_xy, step_z, header);
    case VoxelRule::LOWEST_EXTENDED_RETURN:
      return make_pair<VoxelFilterPayloadLowest, U8, get_extended_return_number>(counting, step_xy, step_z, header);
    case VoxelRule::HIGHEST_ATTRIBUTE:
      return make_pair<VoxelFilterPayloadHighest, F64, get_attribute>(counting, step_xy, step_z, header);
    case VoxelRule::LOWEST_ATTRIBUTE:
      return make_pair<VoxelFilterPayloadLowest, F64, get_attribute>(counting, step_xy, step_z, header);
    case VoxelRule::CLOSEST:
      return make_pair<VoxelFilterPayloadClosest>(counting, step_xy, step_z, header);
    case VoxelRule::RANDOM:
      break;
  }
  return new VoxelFilter<VoxelFilterPayloadRandom>(step_xy, step_z, header);
}
