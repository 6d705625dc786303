// The COPC hierarchy of a file: its entries read into the header, and the
// query over its octants that seeks a reader through the selected point ranges.
//
// Stand-in: `EPToctree::set_vlr_entries` reads the hierarchy completely; the
// octree queries do not exist yet. A `COPCindex` therefore serves one run over
// every point in file order, which is exact for the unlimited depth (the
// default) and for areas (the reader tests every point it reads); a depth or
// resolution limit cannot be served and is refused with an ERROR.
#pragma once

#include "core/mydefs.hpp"

class LASheader;
class LASreader;

class EPToctree {
 public:
  // Reads the hierarchy pages from the payload `data` of `data_length` bytes,
  // whose first byte lies at `data_file_offset` in the file, breadth first from
  // the root page of the header's COPC information; keeps the entries with a
  // point count of 0 or more, sorted by offset, in the header. False for a
  // missing payload or COPC information, and with a WARNING when the point
  // counts do not add up to the header's. Pages outside the payload and pages
  // met a second time are skipped.
  static bool set_vlr_entries(const U8* data, const U64 data_file_offset, const U64 data_length, LASheader& header);
};

class COPCindex {
 public:
  explicit COPCindex(const LASheader& header);
  ~COPCindex() = default;
  COPCindex(const COPCindex&) = delete;
  COPCindex& operator=(const COPCindex&) = delete;

  bool intersect_rectangle(const F64 min_x, const F64 min_y, const F64 max_x, const F64 max_y);
  bool intersect_circle(const F64 center_x, const F64 center_y, const F64 radius);
  // A negative depth means the deepest level.
  bool set_depth_limit(const I32 depth);
  void set_resolution(const F64 resolution);
  bool query_intervals();
  // Positions the reader for its next point; false when every range is read.
  bool seek_next(LASreader* reader);

 private:
  I64 number_of_points = 0;
  bool run_taken = false;   // the one run was handed out
  bool run_active = false;  // and the reader is still within it
};
