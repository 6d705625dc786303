// Finding and reading a `.lax` index, preparing the runs of an area query and
// moving a reader through them.
#include "index/lasindex.hpp"

#include <cstring>
#include <string>

#include "core/bytestreamin_file.hpp"
#include "core/lasmessage.hpp"
#include "core/lasreader.hpp"
#include "core/lasutility.hpp"
#include "index/lasindexread.hpp"

bool LASindex::read(const char* file_name) {
  if (file_name == nullptr || file_name[0] == '\0') return false;
  // Any name can carry an index: short names such as "a.qi" are valid too.
  const std::string name = FileExtSet(file_name, ".lax");
  FILE* file = LASfopen(name.c_str(), "rb");
  if (file == nullptr) return false;
  const bool ok = read(file);
  fclose(file);
  if (!ok) {
    laserror("(LASindex): cannot read '%s'", name.c_str());
    return false;
  }
  return true;
}

bool attach_lax_index(LASreader* reader, const char* file_name) {
  auto index = std::make_unique<LASindex>();
  if (!index->read(file_name)) return false;
  reader->set_index(index.release());
  return true;
}

bool LASindex::read(FILE* file) {
  if (file == nullptr) return false;
  ByteStreamInFileLE stream(file);
  return read(&stream);
}

bool LASindex::read(ByteStreamIn* stream) {
  quadtree.reset();
  intervals.reset();
  in_interval = false;
  const char* owner = "(LASindex)";
  char signature[5];
  U32 version = 0;
  if (!lasindex_read_signature(stream, signature, owner, "signature") ||
      !lasindex_check_signature(signature, "LASX", owner, "signature") ||
      !lasindex_read_field(stream, version, owner, "version")) {
    return false;
  }
  quadtree = std::make_unique<LASquadtree>();
  if (!quadtree->read(stream)) {
    laserror("(LASindex): cannot read LASspatial (LASquadtree)");
    return false;
  }
  intervals = std::make_unique<LASinterval>(1000);
  if (!intervals->read(stream)) {
    laserror("(LASindex): reading LASinterval");
    return false;
  }
  intervals->get_cells();
  while (intervals->has_cells()) {
    if (!quadtree->manage_cell((U32)intervals->cell_index)) {
      laserror("(LASindex): cell index %d lies beyond the %u levels of the quadtree", intervals->cell_index,
               quadtree->levels);
      return false;
    }
  }
  return true;
}

bool LASindex::start_query() {
  in_interval = false;
  cell_count = 0;
  // A fresh run list per query: none of the last query's runs is read on.
  if (intervals) {
    intervals->clear_merge_cell_set();
    intervals->merge(false);
  }
  // An index without cells has nothing to select; asking the quadtree would
  // enumerate every cell of its finest level.
  return quadtree && intervals && intervals->number_of_cells() > 0;
}

bool LASindex::intersect_rectangle(const F64 r_min_x, const F64 r_min_y, const F64 r_max_x, const F64 r_max_y) {
  if (!start_query()) return false;
  cell_count = quadtree->intersect_rectangle(r_min_x, r_min_y, r_max_x, r_max_y);
  return cell_count != 0 && merge_intervals();
}

bool LASindex::intersect_tile(const F32 ll_x, const F32 ll_y, const F32 size) {
  if (!start_query()) return false;
  cell_count = quadtree->intersect_tile(ll_x, ll_y, size);
  return cell_count != 0 && merge_intervals();
}

bool LASindex::intersect_circle(const F64 center_x, const F64 center_y, const F64 radius) {
  if (!start_query()) return false;
  cell_count = quadtree->intersect_circle(center_x, center_y, radius);
  return cell_count != 0 && merge_intervals();
}

bool LASindex::merge_intervals() {
  if (!quadtree || !intervals || !quadtree->get_intersected_cells()) return false;
  U32 used = 0;
  while (quadtree->has_more_cells()) {
    if (intervals->get_cell((I32)quadtree->current_cell) && intervals->add_current_cell_to_merge_cell_set()) used++;
  }
  if (used == 0) return false;
  const bool merged = intervals->merge(false);
  intervals->clear_merge_cell_set();
  return merged;
}

bool LASindex::seek_next(LASreader* reader) {
  if (!intervals) return false;
  // A read that left the point index where it was failed: the rest of that
  // run cannot be read.
  if (in_interval && reader->points_read <= read_from) in_interval = false;
  while (!in_interval) {
    if (!intervals->has_intervals()) return false;
    interval_start = intervals->start;
    interval_end = intervals->end;
    const I64 count = reader->points_expected;
    if (count > 0) {
      // Runs are not trusted: none reaches past the file's last point.
      if ((I64)interval_start >= count) continue;
      if ((I64)interval_end >= count) interval_end = (U32)(count - 1);
    }
    in_interval = true;
    // A reader that cannot seek reads on from where it stands.
    reader->seek(interval_start);
  }
  // An end before the current point (a run backwards, or a reader that could
  // not seek past it) ends the run with this point.
  if (reader->points_read >= (I64)interval_end) in_interval = false;
  read_from = reader->points_read;
  return true;
}
