// The pipe-on reader: every point of the first pass is copied to a plain LAS
// stream on standard output as the tool receives it.
#include "index/lasreaderpipeon.hpp"

#include <cstdio>

#include "core/laswriter_las.hpp"
#include "index/lasreadermerged.hpp"

LASreaderPipeOn::~LASreaderPipeOn() {
  // The inner reader goes first, as its messages come before the writer's.
  lasreader.reset();
  // Reading stopped before the end of the input: the piped stream is
  // finished with the points written, and its header patched no more than
  // standard output allows.
  laswriterlas.reset();
}

void LASreaderPipeOn::set_filter(LASfilter* filter) {
  if (lasreader) lasreader->set_filter(filter);
}

void LASreaderPipeOn::set_transform(LAStransform* transform) {
  if (lasreader) lasreader->set_transform(transform);
}

bool LASreaderPipeOn::inside_tile(const F32 ll_x, const F32 ll_y, const F32 size) {
  return lasreader ? lasreader->inside_tile(ll_x, ll_y, size) : false;
}

bool LASreaderPipeOn::inside_circle(const F64 center_x, const F64 center_y, const F64 radius) {
  return lasreader ? lasreader->inside_circle(center_x, center_y, radius) : false;
}

bool LASreaderPipeOn::inside_rectangle(const F64 min_x, const F64 min_y, const F64 max_x, const F64 max_y) {
  return lasreader ? lasreader->inside_rectangle(min_x, min_y, max_x, max_y) : false;
}

bool LASreaderPipeOn::inside_copc_depth(const U8 mode, const I32 depth, const F32 resolution) {
  return lasreader ? lasreader->inside_copc_depth(mode, depth, resolution) : false;
}

void LASreaderPipeOn::close(const bool close_stream) {
  if (lasreader) lasreader->close(close_stream);
}

bool LASreaderPipeOn::open(LASreader* lasreader) {
  if (lasreader == nullptr) {
    laserror("no lasreader");
    return false;
  }
  this->lasreader.reset(lasreader);
  // The inner reader keeps its own attribute arrays for the points it reads,
  // and keeps no record counts for records it no longer holds.
  header.take_over(lasreader->header, true);
  set_ignore(lasreader->get_ignore());
  if (!las_init_point_for_header(point, header)) return false;

  laswriterlas.reset();
  // Owned plainly until it is open: a writer that never opened has nothing to close.
  auto writer = std::make_unique<LASwriterLAS>();
  if (!writer->open(stdout, &header, 0, 0, 50000)) {
    writer.reset();
    laserror("opening laswriterlas to stdout");
    return false;
  }
  laswriterlas.reset(writer.release());
  points_expected = header.number_of_point_records ? (I64)header.number_of_point_records
                                                   : (I64)header.extended_number_of_point_records;
  points_read = 0;
  return true;
}

bool LASreaderPipeOn::read_point_default() {
  if (lasreader && lasreader->read_point()) {
    point = lasreader->point;
    if (laswriterlas) laswriterlas->write_point(&point);
    points_read++;
    return true;
  }
  laswriterlas.reset();
  point.reset();
  return false;
}
