// The COPC hierarchy of a file: its entries read into the header, the octree
// of octants with their boxes and point ranges, and the query that selects the
// octants of an area and a depth and seeks a reader through their points in
// one of three orders.
//
// A COPC file stores its points octant by octant, so an octant is one run of
// point indices; the reader seeks by point index, which also serves files whose
// points are compressed in one chunk per octant.
#pragma once

#include <cstddef>
#include <unordered_map>
#include <vector>

#include "core/mydefs.hpp"

class LASheader;
class LASreader;

// The position of an octant: its depth and its place along x, y and z there.
struct EPTkey {
  I32 level = 0;
  I32 x = 0;
  I32 y = 0;
  I32 z = 0;
  bool operator==(const EPTkey&) const = default;
};

struct EPTKeyHasher {
  size_t operator()(const EPTkey& key) const;
};

struct EPToctant {
  EPTkey key;
  U64 offset = 0;    // first byte of its point data
  U64 byte_end = 0;  // offset + byte size
  U64 point_start = 0;  // first and last point index, inclusive
  U64 point_end = 0;
  F64 min_x = 0, min_y = 0, min_z = 0, max_x = 0, max_y = 0, max_z = 0;
  // An empty octant has no range to read (point_start and point_end are 0).
  bool has_points = false;
  // Bit dx + 2 dy + 4 dz is set when the child (2x + dx, 2y + dy, 2z + dz)
  // is an octant too, so that a query looks up only children that exist.
  U8 children = 0;
};

// Inclusive run of point indices.
struct Range {
  U64 start = 0;
  U64 end = 0;
  bool operator==(const Range&) const = default;
};

// The deepest octree level a hierarchy may use: 2^level stays a positive
// 32-bit integer and the child positions 2x + 1 fit in 32 bits.
constexpr I32 EPT_MAX_LEVEL = 30;

class EPToctree {
 public:
  // Reads the hierarchy pages from the payload `data` of `data_length` bytes,
  // whose first byte lies at `data_file_offset` in the file, breadth first from
  // the root page of the header's COPC information; keeps the entries with a
  // point count of 0 or more, sorted by offset, in the header. False for a
  // missing payload or COPC information; false with a WARNING when the point
  // counts do not add up to the header's, and likewise for a hierarchy that
  // cannot be walked safely (a page outside the payload, a page met twice or
  // overlapping another, an octant level outside 0 to 30): the header is then
  // left as it was.
  static bool set_vlr_entries(const U8* data, const U64 data_file_offset, const U64 data_length, LASheader& header);

  // The octree of the header's hierarchy entries (none without COPC information).
  explicit EPToctree(const LASheader& header);

  F64 min_x = 0, min_y = 0, min_z = 0, max_x = 0, max_y = 0, max_z = 0;
  F64 spacing = 0;    // point spacing at the root
  I32 max_depth = 0;  // deepest level of an octant with points
  std::unordered_map<EPTkey, EPToctant, EPTKeyHasher> octants;
};

// Orders of the selected octants; each is true when `a` comes first.
// Spatial: by x and y at the root's scale, coarser levels first, then z.
bool spatial_order(const EPToctant& a, const EPToctant& b);
// File: by the octants' offsets.
bool file_order(const EPToctant& a, const EPToctant& b);
// Depth: level by level, each by x, y, z.
bool depth_order(const EPToctant& a, const EPToctant& b);

// Owns its octree and lists.
class COPCindex {
 public:
  // Values of the read opener's stream order.
  enum StreamOrder : U8 { STREAM_ORDER_FILE = 0, STREAM_ORDER_SPATIAL = 1, STREAM_ORDER_DEPTH = 2 };

  explicit COPCindex(const LASheader& header);
  COPCindex(const COPCindex&) = delete;
  COPCindex& operator=(const COPCindex&) = delete;

  // The order of the selected octants for the next query; the spatial order
  // is the default, an unknown value keeps it.
  void set_stream_order(const U8 stream_order);
  // Each changes the query and runs it again; true when an octant was selected.
  bool intersect_rectangle(const F64 min_x, const F64 min_y, const F64 max_x, const F64 max_y);
  bool intersect_circle(const F64 center_x, const F64 center_y, const F64 radius);
  // A negative depth means the deepest level.
  bool set_depth_limit(const I32 depth);
  // The depth becomes the first level whose spacing is at most `resolution`
  // (the deepest when none is); a resolution of 0 or less only resets the
  // depth to the deepest level and leaves the selection as it is.
  void set_resolution(const F64 resolution);
  bool query_intervals();
  // Fuses ranges that follow each other without a gap, in list order.
  static void merge_intervals(std::vector<Range>& ranges);
  // Positions the reader for its next point; false when every range is read.
  bool seek_next(LASreader* reader);

  const EPToctree& get_octree() const { return octree; }
  I32 get_query_depth() const { return query_depth; }
  const std::vector<Range>& get_point_ranges() const { return point_ranges; }
  // The selected octants in order, pointing into the octree.
  const std::vector<const EPToctant*>& get_query_octants() const { return query_octants; }

 private:
  // Selects the octant of `key` and its children that meet the query.
  void query_intervals(const EPTkey& key);

  EPToctree octree;
  bool (*order)(const EPToctant&, const EPToctant&) = spatial_order;
  F64 query_min_x = -2e307, query_min_y = -2e307, query_min_z = -2e307;
  F64 query_max_x = 2e307, query_max_y = 2e307, query_max_z = 2e307;
  I32 query_depth = 0;
  bool in_range = false;
  Range current_range;
  U32 next_range = 0;
  std::vector<Range> point_ranges;
  std::vector<const EPToctant*> query_octants;
};
