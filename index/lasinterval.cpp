// Reading the interval block of a `.lax` index and merging the runs of the
// cells a query found. Cell and run counts are not trusted: storage grows only
// with the bytes really read.
#include "index/lasinterval.hpp"

#include <algorithm>
#include <cstring>

#include "core/lasmessage.hpp"
#include "index/lasindexread.hpp"

bool LASinterval::read(ByteStreamIn* stream) {
  const char* owner = "(LASinterval)";
  char signature[5];
  U32 version = 0, number_cells = 0;
  if (!lasindex_read_signature(stream, signature, owner, "signature") ||
      !lasindex_check_signature(signature, "LASV", owner, "signature") ||
      !lasindex_read_field(stream, version, owner, "version") ||
      !lasindex_read_field(stream, number_cells, owner, "number of cells")) {
    return false;
  }
  for (U32 c = 0; c < number_cells; c++) {
    I32 index = 0;
    U32 number_intervals = 0;
    LASintervalStartCell cell;
    if (!lasindex_read_field(stream, index, owner, "cell index") ||
        !lasindex_read_field(stream, number_intervals, owner, "number of intervals in cell") ||
        !lasindex_read_field(stream, cell.point_count, owner, "number of points in cell")) {
      return false;
    }
    for (U32 k = 0; k < number_intervals; k++) {
      LASintervalCell run;
      if (!lasindex_read_le(stream, run.start)) {
        laserror("(LASinterval): reading start %d of interval", (I32)run.start);
        return false;
      }
      if (!lasindex_read_le(stream, run.end)) {
        laserror("(LASinterval): reading end %d of interval", (I32)run.end);
        return false;
      }
      cell.covered_count += run.end - run.start + 1;
      if (k == 0) cell.runs[0] = run;
      else cell.runs.push_back(run);
    }
    // A cell listed again keeps its first listing.
    if (cell_table.emplace(index, cells.size()).second) {
      cells.push_back(std::move(cell));
      cell_indices.push_back(index);
    }
  }
  return true;
}

void LASinterval::choose(const size_t position) {
  const LASintervalStartCell& cell = cells[position];
  cell_index = cell_indices[position];
  point_count = cell.point_count;
  covered_count = cell.covered_count;
  next_runs = &cell.runs;
  next_interval = 0;
  current = &cell;
}

void LASinterval::get_cells() {
  iteration_cell = NO_CELL;
  next_runs = nullptr;
  current = nullptr;
}

bool LASinterval::has_cells() {
  const size_t next = iteration_cell == NO_CELL ? 0 : iteration_cell + 1;
  if (next >= cells.size()) {
    get_cells();
    return false;
  }
  iteration_cell = next;
  choose(next);
  return true;
}

bool LASinterval::get_cell(const I32 index) {
  const auto found = cell_table.find(index);
  if (found == cell_table.end()) {
    next_runs = nullptr;
    current = nullptr;
    return false;
  }
  choose(found->second);
  return true;
}

bool LASinterval::add_current_cell_to_merge_cell_set() {
  if (current == nullptr) return false;
  merge_cell_set.insert(current);
  return true;
}

bool LASinterval::merge(const bool) {
  merged.clear();
  next_runs = nullptr;
  current = nullptr;
  if (merge_cell_set.empty()) return false;
  if (merge_cell_set.size() == 1) {
    // A single cell's runs are handed out as listed, unfused.
    const LASintervalStartCell* cell = *merge_cell_set.begin();
    next_runs = &cell->runs;
    next_interval = 0;
    point_count = cell->point_count;
    covered_count = cell->covered_count;
    return true;
  }
  U32 points = 0;
  for (const LASintervalStartCell* cell : merge_cell_set) {
    points += cell->point_count;
    merged.insert(merged.end(), cell->runs.begin(), cell->runs.end());
  }
  std::stable_sort(merged.begin(), merged.end(),
                   [](const LASintervalCell& a, const LASintervalCell& b) { return a.start < b.start; });
  size_t tail = 0;
  U32 covered = merged[0].end - merged[0].start + 1;
  for (size_t k = 1; k < merged.size(); k++) {
    const LASintervalCell run = merged[k];
    if ((I64)run.start - (I64)merged[tail].end <= (I64)threshold) {
      if (run.end > merged[tail].end) {
        covered += run.end - merged[tail].end;
        merged[tail].end = run.end;
      }
    } else {
      merged[++tail] = run;
      covered += run.end - run.start + 1;
    }
  }
  merged.resize(tail + 1);
  next_runs = &merged;
  next_interval = 0;
  point_count = points;
  covered_count = covered;
  return true;
}

bool LASinterval::has_intervals() {
  if (next_runs == nullptr || next_interval >= next_runs->size()) return false;
  start = (*next_runs)[next_interval].start;
  end = (*next_runs)[next_interval].end;
  next_interval++;
  return true;
}
