// The spatial index of one point file (the `.lax` quadtree with runs of point
// indices): lets an area query read only the runs of points that can lie in
// the area.
//
// Stand-in: no index data can be read yet, so `read` always answers false and
// a reader never gets an index; the query operations select nothing.
#pragma once

#include <cstdio>

#include "core/mydefs.hpp"

class ByteStreamIn;
class LASreader;

class LASindex {
 public:
  LASindex() = default;
  ~LASindex() = default;
  LASindex(const LASindex&) = delete;
  LASindex& operator=(const LASindex&) = delete;

  // The index beside a point file: its name with the extension ".lax".
  bool read(const char* file_name);
  bool read(FILE* file);
  // Index data at the stream's position (the payload of the index EVLR).
  bool read(ByteStreamIn* stream);
  // Each selects the runs that can meet the area; false when none can.
  bool intersect_rectangle(const F64 r_min_x, const F64 r_min_y, const F64 r_max_x, const F64 r_max_y);
  bool intersect_tile(const F32 ll_x, const F32 ll_y, const F32 size);
  bool intersect_circle(const F64 center_x, const F64 center_y, const F64 radius);
  bool merge_intervals();
  // Positions the reader for its next candidate point; false when every run is read.
  bool seek_next(LASreader* reader);
};
