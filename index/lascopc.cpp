// Reading the COPC hierarchy into the header. The query side is a stand-in
// that selects nothing; see the header.
#include "index/lascopc.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "core/lasheader.hpp"
#include "core/lasreader.hpp"

namespace {

LASvlr_copc_entry load_entry(const U8* bytes) {
  LASvlr_copc_entry e;
  memcpy(&e.level, bytes, 4);
  memcpy(&e.x, bytes + 4, 4);
  memcpy(&e.y, bytes + 8, 4);
  memcpy(&e.z, bytes + 12, 4);
  memcpy(&e.offset, bytes + 16, 8);
  memcpy(&e.byte_size, bytes + 24, 4);
  memcpy(&e.point_count, bytes + 28, 4);
  return e;
}

}  // namespace

bool EPToctree::set_vlr_entries(const U8* data, const U64 data_file_offset, const U64 data_length,
                                LASheader& header) {
  if (data == nullptr || header.copc_info == nullptr) return false;
  const U64 entry_count = data_length / sizeof(LASvlr_copc_entry);
  // A page is visited once: a hierarchy whose pages name each other cannot loop.
  std::vector<bool> visited(entry_count, false);
  std::vector<LASvlr_copc_entry> kept;
  std::deque<std::pair<U64, U64>> pages;  // file offset, byte size
  pages.emplace_back(header.copc_info->root_hier_offset, header.copc_info->root_hier_size);
  while (!pages.empty()) {
    const U64 offset = pages.front().first;
    const U64 size = pages.front().second;
    pages.pop_front();
    if (size < sizeof(LASvlr_copc_entry) || offset < data_file_offset) continue;
    const U64 first = (offset - data_file_offset) / sizeof(LASvlr_copc_entry);
    const U64 count = size / sizeof(LASvlr_copc_entry);
    if (first >= entry_count || count > entry_count - first || visited[first]) continue;
    visited[first] = true;
    for (U64 i = first; i < first + count; i++) {
      const LASvlr_copc_entry e = load_entry(data + i * sizeof(LASvlr_copc_entry));
      if (e.point_count >= 0) {
        kept.push_back(e);
      } else if (e.point_count == -1) {
        pages.emplace_back(e.offset, (U64)(U32)e.byte_size);
      }
    }
  }
  std::stable_sort(kept.begin(), kept.end(),
                   [](const LASvlr_copc_entry& a, const LASvlr_copc_entry& b) { return a.offset < b.offset; });
  I64 total = 0;
  for (const LASvlr_copc_entry& e : kept) total += e.point_count;
  if ((U64)total != header.extended_number_of_point_records) {
    LASMessage(WARNING, "COPC EPT hierarchy EVLR number of point does not match with the header.");
    return false;
  }
  LASvlr_copc_entry* entries = nullptr;
  if (!kept.empty()) {
    entries = (LASvlr_copc_entry*)malloc_las(sizeof(LASvlr_copc_entry) * kept.size());
    if (entries == nullptr) return false;
    memcpy((void*)entries, kept.data(), sizeof(LASvlr_copc_entry) * kept.size());
  }
  free(header.copc_entries);
  header.copc_entries = entries;
  header.number_of_copc_entries = (U32)kept.size();
  return true;
}

COPCindex::COPCindex(const LASheader& header) {
  number_of_points = header.extended_number_of_point_records ? (I64)header.extended_number_of_point_records
                                                             : (I64)header.number_of_point_records;
}

bool COPCindex::intersect_rectangle(const F64, const F64, const F64, const F64) { return query_intervals(); }
bool COPCindex::intersect_circle(const F64, const F64, const F64) { return query_intervals(); }

// Only "every level" can be served: a limit would need the octree.
bool COPCindex::set_depth_limit(const I32 depth) {
  if (depth >= 0 && depth != I32_MAX) {
    laserror("COPC depth queries are not supported yet");
    return false;
  }
  return query_intervals();
}

void COPCindex::set_resolution(const F64 resolution) {
  if (resolution > 0.0) {
    laserror("COPC resolution queries are not supported yet");
    return;
  }
  query_intervals();
}

bool COPCindex::query_intervals() {
  run_taken = false;
  run_active = false;
  return number_of_points > 0;
}

bool COPCindex::seek_next(LASreader* reader) {
  if (run_active && reader->points_read >= number_of_points) run_active = false;
  if (run_active) return true;
  if (run_taken || number_of_points <= 0) return false;
  run_taken = true;
  if (!reader->seek(0)) return false;
  run_active = true;
  return true;
}
