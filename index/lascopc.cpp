// Reading the COPC hierarchy into the header, building the octree of octants
// and querying it. Every page, level and position comes from the file: the walk
// reads each payload entry at most once and refuses levels that would overflow
// the shifts, so a hostile hierarchy can neither loop nor recurse deeply.
#include "index/lascopc.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "core/lasheader.hpp"
#include "core/laslayout.hpp"
#include "core/lasreader.hpp"

using namespace laslayout;

namespace {

LASvlr_copc_entry load_entry(const U8* bytes) {
  LASvlr_copc_entry e;
  e.level = las_load<I32>(bytes + COPC_ENTRY[COPC_LEVEL].offset);
  e.x = las_load<I32>(bytes + COPC_ENTRY[COPC_X].offset);
  e.y = las_load<I32>(bytes + COPC_ENTRY[COPC_Y].offset);
  e.z = las_load<I32>(bytes + COPC_ENTRY[COPC_Z].offset);
  e.offset = las_load<U64>(bytes + COPC_ENTRY[COPC_BYTE_OFFSET].offset);
  e.byte_size = las_load<I32>(bytes + COPC_ENTRY[COPC_BYTE_SIZE].offset);
  e.point_count = las_load<I32>(bytes + COPC_ENTRY[COPC_POINT_COUNT].offset);
  return e;
}

bool level_is_valid(const I32 level) { return level >= 0 && level <= EPT_MAX_LEVEL; }

// 2^level for a valid level.
F64 cells_per_side(const I32 level) { return (F64)((U64)1 << level); }

// The same warning for every hierarchy that cannot be used: the reader then
// reads the file as an ordinary one.
bool refuse_hierarchy() {
  LASMessage(WARNING, "COPC EPT hierarchy EVLR number of point does not match with the header.");
  return false;
}

// The entries of the pages reachable from the root page, breadth first. False
// for a page outside the payload or one that shares entries with a page read
// before (a page naming itself or an ancestor is one), and for a level that
// cannot be an octree level.
bool walk_pages(const U8* data, const U64 data_file_offset, const U64 data_length, const LASvlrCopcInfo& info,
                std::vector<LASvlr_copc_entry>& kept) {
  const U64 entry_count = data_length / COPC_ENTRY_SIZE;
  std::vector<bool> read(entry_count, false);
  std::deque<std::pair<U64, U64>> pages;  // file offset, byte size
  pages.emplace_back(info.root_hier_offset, info.root_hier_size);
  while (!pages.empty()) {
    const auto [offset, size] = pages.front();
    pages.pop_front();
    if (size < COPC_ENTRY_SIZE) continue;
    if (offset < data_file_offset) return false;
    const U64 first = (offset - data_file_offset) / COPC_ENTRY_SIZE;
    const U64 count = size / COPC_ENTRY_SIZE;
    if (first > entry_count || count > entry_count - first) return false;
    for (U64 i = first; i < first + count; i++) {
      if (read[i]) return false;
      read[i] = true;
      const LASvlr_copc_entry e = load_entry(data + i * COPC_ENTRY_SIZE);
      if (e.point_count >= 0) {
        if (!level_is_valid(e.level)) return false;
        kept.push_back(e);
      } else if (e.point_count == -1) {
        pages.emplace_back(e.offset, (U64)(U32)e.byte_size);
      }
    }
  }
  return true;
}

}  // namespace

// Every field reaches every bit: folding x with z and y with the level (as
// x ^ 2z) would give thousands of octants of a deep level one value, and the
// 2.4 million lookups of a query over 300 000 octants a second of chain walks.
size_t EPTKeyHasher::operator()(const EPTkey& key) const {
  U64 h = ((U64)(U32)key.y << 32) | (U32)key.x;
  h ^= (((U64)(U32)key.level << 32) | (U32)key.z) * 0x9E3779B97F4A7C15ull;
  h ^= h >> 31;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 29;
  return (size_t)h;
}

bool EPToctree::set_vlr_entries(const U8* data, const U64 data_file_offset, const U64 data_length,
                                LASheader& header) {
  if (data == nullptr || header.copc_info == nullptr) return false;
  std::vector<LASvlr_copc_entry> kept;
  if (!walk_pages(data, data_file_offset, data_length, *header.copc_info, kept)) return refuse_hierarchy();
  std::stable_sort(kept.begin(), kept.end(),
                   [](const LASvlr_copc_entry& a, const LASvlr_copc_entry& b) { return a.offset < b.offset; });
  I64 total = 0;
  for (const LASvlr_copc_entry& e : kept) total += e.point_count;
  if ((U64)total != header.extended_number_of_point_records) return refuse_hierarchy();
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

EPToctree::EPToctree(const LASheader& header) {
  const LASvlrCopcInfo* info = header.copc_info.get();
  if (info == nullptr) {
    const F64 half = std::max({header.max_x - header.min_x, header.max_y - header.min_y, header.max_z - header.min_z}) / 2;
    const F64 cx = (header.min_x + header.max_x) / 2;
    const F64 cy = (header.min_y + header.max_y) / 2;
    const F64 cz = (header.min_z + header.max_z) / 2;
    min_x = cx - half, min_y = cy - half, min_z = cz - half;
    max_x = cx + half, max_y = cy + half, max_z = cz + half;
    return;
  }
  min_x = info->center_x - info->halfsize, max_x = info->center_x + info->halfsize;
  min_y = info->center_y - info->halfsize, max_y = info->center_y + info->halfsize;
  min_z = info->center_z - info->halfsize, max_z = info->center_z + info->halfsize;
  spacing = info->spacing;
  const F64 extent = std::max({max_x - min_x, max_y - min_y, max_z - min_z});
  U64 next_point = 0;
  octants.reserve(header.number_of_copc_entries);
  for (U32 i = 0; i < header.number_of_copc_entries; i++) {
    const LASvlr_copc_entry& e = header.copc_entries[i];
    // The hierarchy reader refuses such levels; entries put into a header by
    // other means are held to the same rule.
    if (!level_is_valid(e.level)) continue;
    EPToctant o;
    o.key = {e.level, e.x, e.y, e.z};
    const F64 side = extent / cells_per_side(e.level);
    o.min_x = min_x + e.x * side, o.max_x = o.min_x + side;
    o.min_y = min_y + e.y * side, o.max_y = o.min_y + side;
    o.min_z = min_z + e.z * side, o.max_z = o.min_z + side;
    o.offset = e.offset;
    o.byte_end = e.offset + (U64)(U32)e.byte_size;
    if (e.point_count > 0) {
      o.has_points = true;
      o.point_start = next_point;
      o.point_end = next_point + (U64)e.point_count - 1;
      next_point += (U64)e.point_count;
      max_depth = std::max(max_depth, e.level);
    }
    octants[o.key] = o;
  }
  for (const auto& [key, o] : octants) {
    if (key.level == 0) continue;
    const auto up = octants.find(EPTkey{key.level - 1, key.x >> 1, key.y >> 1, key.z >> 1});
    const I32 d = (key.x & 1) | (key.y & 1) << 1 | (key.z & 1) << 2;
    if (up != octants.end()) up->second.children |= (U8)(1u << d);
  }
}

bool spatial_order(const EPToctant& a, const EPToctant& b) {
  const F64 a_side = cells_per_side(a.key.level), b_side = cells_per_side(b.key.level);
  const F64 ax = a.key.x / a_side, bx = b.key.x / b_side;
  if (ax != bx) return ax < bx;
  const F64 ay = a.key.y / a_side, by = b.key.y / b_side;
  if (ay != by) return ay < by;
  if (a.key.level != b.key.level) return a.key.level < b.key.level;
  return a.key.z / a_side < b.key.z / b_side;
}

bool file_order(const EPToctant& a, const EPToctant& b) { return a.offset < b.offset; }

bool depth_order(const EPToctant& a, const EPToctant& b) {
  if (a.key.level != b.key.level) return a.key.level < b.key.level;
  if (a.key.x != b.key.x) return a.key.x < b.key.x;
  if (a.key.y != b.key.y) return a.key.y < b.key.y;
  return a.key.z < b.key.z;
}

COPCindex::COPCindex(const LASheader& header) : octree(header) { query_depth = octree.max_depth; }

void COPCindex::set_stream_order(const U8 stream_order) {
  switch (stream_order) {
    case STREAM_ORDER_FILE:
      order = file_order;
      break;
    case STREAM_ORDER_SPATIAL:
      order = spatial_order;
      break;
    case STREAM_ORDER_DEPTH:
      order = depth_order;
      break;
    default:
      break;
  }
}

bool COPCindex::intersect_rectangle(const F64 min_x, const F64 min_y, const F64 max_x, const F64 max_y) {
  query_min_x = min_x;
  query_min_y = min_y;
  query_max_x = max_x;
  query_max_y = max_y;
  return query_intervals();
}

bool COPCindex::intersect_circle(const F64 center_x, const F64 center_y, const F64 radius) {
  return intersect_rectangle(center_x - radius, center_y - radius, center_x + radius, center_y + radius);
}

bool COPCindex::set_depth_limit(const I32 depth) {
  query_depth = depth < 0 ? octree.max_depth : depth;
  return query_intervals();
}

void COPCindex::set_resolution(const F64 resolution) {
  query_depth = octree.max_depth;
  if (!(resolution > 0.0)) return;
  F64 spacing = octree.spacing;
  for (I32 level = 0; level <= octree.max_depth; level++) {
    if (spacing <= resolution) {
      query_depth = level;
      break;
    }
    spacing /= 2;
  }
  query_intervals();
}

bool COPCindex::query_intervals() {
  in_range = false;
  current_range = Range();
  next_range = 0;
  point_ranges.clear();
  query_octants.clear();
  query_intervals(EPTkey{});
  const auto before = [this](const EPToctant* a, const EPToctant* b) { return order(*a, *b); };
  std::stable_sort(query_octants.begin(), query_octants.end(), before);
  point_ranges.reserve(query_octants.size());
  for (const EPToctant* o : query_octants) point_ranges.push_back({o->point_start, o->point_end});
  merge_intervals(point_ranges);
  return !query_octants.empty();
}

// Levels are at most EPT_MAX_LEVEL, so the recursion is at most 31 deep; only
// children that are octants are visited, so their positions fit in 32 bits.
void COPCindex::query_intervals(const EPTkey& key) {
  const auto found = octree.octants.find(key);
  if (found == octree.octants.end()) return;
  const EPToctant& o = found->second;
  if (o.min_x > query_max_x || o.min_y > query_max_y || o.min_z > query_max_z) return;
  if (o.max_x < query_min_x || o.max_y < query_min_y || o.max_z < query_min_z) return;
  if (key.level > query_depth) return;
  // An empty octant has no range; reading one would read point 0.
  if (o.offset != 0 && o.has_points) query_octants.push_back(&o);
  const U8 children = o.children;
  for (I32 d = 0; d < 8; d++) {
    if (((children >> d) & 1) == 0) continue;
    query_intervals(EPTkey{key.level + 1, 2 * key.x + (d & 1), 2 * key.y + ((d >> 1) & 1), 2 * key.z + ((d >> 2) & 1)});
  }
}

void COPCindex::merge_intervals(std::vector<Range>& ranges) {
  if (ranges.size() <= 1) return;
  size_t kept = 0;
  Range current = ranges[0];
  for (size_t i = 1; i < ranges.size(); i++) {
    const U64 gap = ranges[i].start - current.end;
    if (gap == 0 || gap == 1) {
      current.end = ranges[i].end;
    } else {
      ranges[kept++] = current;
      current = ranges[i];
    }
  }
  ranges[kept++] = current;
  ranges.resize(kept);
}

bool COPCindex::seek_next(LASreader* reader) {
  // A range the reader cannot seek to is skipped: reading on from wherever the
  // reader stands would deliver points outside the selection.
  while (!in_range) {
    if (next_range >= point_ranges.size()) return false;
    current_range = point_ranges[next_range++];
    in_range = current_range.start <= (U64)I64_MAX && reader->seek((I64)current_range.start);
  }
  if ((U64)reader->points_read == current_range.end) in_range = false;
  return true;
}
