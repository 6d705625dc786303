// The interface every point writer offers: points go in one by one, the
// writer keeps an inventory of them, the header already written can be
// rewritten with the true counts and bounds, and close finishes the output.
#pragma once

#include "core/lasattributer.hpp"
#include "core/lasutility.hpp"

class LASpoint;
class LASheader;

class LASwriter {
 public:
  // Scale factors and offsets of the header written, so that the raw bounds
  // of the inventory can be turned back into coordinates.
  LASscaling scaling;
  // The point count the written header announces.
  I64 points_expected = 0;
  // Points written since open.
  I64 points_written = 0;
  LASinventory inventory;

  virtual bool write_point(const LASpoint* point) = 0;
  virtual bool update_inventory(const LASpoint* point) { return inventory.add(point); }
  // Whether write_records takes records of this point format and length as
  // they lie in a file: it writes them byte for byte as write_point would
  // write the points a reader makes of them.
  virtual bool takes_records(U8 /*format*/, U32 /*record_length*/) const { return false; }
  // `count` records as they lie in a file, each counted as a point written;
  // only where takes_records says so.
  virtual bool write_records(const U8* /*records*/, U32 /*count*/) { return false; }
  virtual void update_inventory_records(const U8* records, U32 count, const LASrecordFields& fields) {
    inventory.add_records(records, count, fields);
  }
  // Ends the current chunk of compressed points.
  virtual bool chunk() = 0;
  // Rewrites counts, bounding box and related fields of the header already
  // written, from the inventory or from `header`.
  virtual bool update_header(const LASheader* header, bool use_inventory = false, bool update_extra_bytes = false) = 0;
  // Finishes the output; the number of bytes written.
  virtual I64 close(bool update_npoints = true) = 0;
  virtual I64 tell() { return 0; }
  virtual ~LASwriter();
};
