// The spatial index of one point file (the `.lax` quadtree with runs of point
// indices): lets an area query read only the runs of points that can lie in
// the area. The quadtree finds the cells of the area, the intervals turn them
// into one ascending list of runs, and seek_next moves the reader through it.
#pragma once

#include <cstdio>
#include <memory>

#include "core/mydefs.hpp"
#include "index/lasinterval.hpp"
#include "index/lasquadtree.hpp"

class ByteStreamIn;
class LASreader;

// Owns `quadtree` and `intervals`.
class LASindex {
 public:
  U32 interval_start = 0, interval_end = 0;
  // Cells the last query found.
  U32 cell_count = 0;

  LASindex() = default;
  LASindex(const LASindex&) = delete;
  LASindex& operator=(const LASindex&) = delete;

  // The index beside a point file: its name with the extension ".lax". A
  // missing index file is silent.
  bool read(const char* file_name);
  bool read(FILE* file);
  // Index data at the stream's position (also the payload of the index EVLR).
  bool read(ByteStreamIn* stream);
  // Each selects the runs that can meet the area, afresh; false when none can.
  bool intersect_rectangle(const F64 r_min_x, const F64 r_min_y, const F64 r_max_x, const F64 r_max_y);
  bool intersect_tile(const F32 ll_x, const F32 ll_y, const F32 size);
  bool intersect_circle(const F64 center_x, const F64 center_y, const F64 radius);
  bool merge_intervals();
  // Positions the reader for its next candidate point; false when every run
  // is read. Always ends: a run stops at the reader's last point and after a
  // failed read.
  bool seek_next(LASreader* reader);

  LASquadtree* get_quadtree() const { return quadtree.get(); }
  LASinterval* get_intervals() const { return intervals.get(); }

 private:
  std::unique_ptr<LASquadtree> quadtree;
  std::unique_ptr<LASinterval> intervals;
  bool in_interval = false;
  // The reader's point index when seek_next last let it read: unchanged at
  // the next call means that read failed.
  I64 read_from = -1;

  // Before a query: nothing of an earlier query is read on.
  bool start_query();
};

// Reads the `.lax` index beside the point file `file_name` and gives it to the
// reader; false (the reader untouched) when there is none or it cannot be read.
bool attach_lax_index(LASreader* reader, const char* file_name);
