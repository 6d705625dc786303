// The read dispatch of LASreader: which operation read_point() runs for the
// filter, transform and area query attached, and the area reads themselves.
#include "core/lasreader.hpp"

#include "filters/lasfilter.hpp"
#include "index/lascopc.hpp"
#include "index/lasindex.hpp"
#include "transforms/lastransform.hpp"

LASreader::LASreader(LASreadOpener* opener) : opener(opener) {
  if (opener == nullptr) LASMessage(VERBOSE, "reader opened without opener");
}

LASreader::~LASreader() {
  delete index;
  delete copc_index;
  if (transform) transform->check_for_overflow();
  // The point borrows the header's scaling and attributes: it goes first.
  point.clean();
  header.clean();
}

void LASreader::set_index(LASindex* index) {
  if (this->index != index) delete this->index;
  this->index = index;
}

void LASreader::set_copcindex(COPCindex* copc_index) {
  if (this->copc_index != copc_index) delete this->copc_index;
  this->copc_index = copc_index;
}

void LASreader::choose_read_complex() {
  if (filter && transform) {
    read_complex = &LASreader::read_point_filtered_and_transformed;
  } else if (filter) {
    read_complex = &LASreader::read_point_filtered;
  } else if (transform) {
    read_complex = &LASreader::read_point_transformed;
  } else {
    read_complex = &LASreader::read_point_default;
  }
  read_simple = &LASreader::read_point_default;
}

void LASreader::set_filter(LASfilter* filter) {
  this->filter = filter;
  choose_read_complex();
}

void LASreader::set_transform(LAStransform* transform) {
  this->transform = transform;
  choose_read_complex();
}

void LASreader::install_area_read(ReadOperation read) {
  if (filter || transform) {
    read_simple = read;
  } else {
    read_complex = read;
  }
}

void LASreader::record_tile(const F32 ll_x, const F32 ll_y, const F32 size) {
  inside = INSIDE_TILE;
  t_ll_x = ll_x;
  t_ll_y = ll_y;
  t_size = size;
  t_ur_x = ll_x + size;
  t_ur_y = ll_y + size;
}

void LASreader::record_circle(const F64 center_x, const F64 center_y, const F64 radius) {
  inside = INSIDE_CIRCLE;
  c_center_x = center_x;
  c_center_y = center_y;
  c_radius = radius;
  c_radius_squared = radius * radius;
}

void LASreader::record_rectangle(const F64 min_x, const F64 min_y, const F64 max_x, const F64 max_y) {
  inside = INSIDE_RECTANGLE;
  r_min_x = min_x;
  r_min_y = min_y;
  r_max_x = max_x;
  r_max_y = max_y;
}

void LASreader::replace_bounding_box(const F64 min_x, const F64 min_y, const F64 max_x, const F64 max_y) {
  saved_min_x = header.min_x;
  saved_min_y = header.min_y;
  saved_max_x = header.max_x;
  saved_max_y = header.max_y;
  header.min_x = min_x;
  header.min_y = min_y;
  header.max_x = max_x;
  header.max_y = max_y;
}

bool LASreader::inside_none() {
  install_area_read(&LASreader::read_point_default);
  if (inside) {
    header.min_x = saved_min_x;
    header.min_y = saved_min_y;
    header.max_x = saved_max_x;
    header.max_y = saved_max_y;
    inside = INSIDE_NONE;
  }
  return true;
}

bool LASreader::tile_meets_bounds() const {
  return !(header.max_x < saved_min_x || header.max_y < saved_min_y || saved_max_x < t_ll_x || saved_max_y < t_ll_y);
}

bool LASreader::inside_tile(const F32 ll_x, const F32 ll_y, const F32 size) {
  record_tile(ll_x, ll_y, size);
  // The largest coordinate a point inside the half-open tile can have.
  replace_bounding_box(ll_x, ll_y, t_ur_x - header.x_scale_factor, t_ur_y - header.y_scale_factor);
  if (!tile_meets_bounds()) {
    install_area_read(&LASreader::read_point_none);
  } else if (index) {
    index->intersect_tile(ll_x, ll_y, size);
    install_area_read(&LASreader::read_point_inside_tile_indexed);
  } else {
    install_area_read(&LASreader::read_point_inside_tile);
  }
  return true;
}

bool LASreader::inside_circle(const F64 center_x, const F64 center_y, const F64 radius) {
  record_circle(center_x, center_y, radius);
  replace_bounding_box(center_x - radius, center_y - radius, center_x + radius, center_y + radius);
  if (saved_min_x > center_x + radius || saved_min_y > center_y + radius || center_x - radius > saved_max_x ||
      center_y - radius > saved_max_y) {
    install_area_read(&LASreader::read_point_none);
  } else if (index) {
    index->intersect_circle(center_x, center_y, radius);
    install_area_read(&LASreader::read_point_inside_circle_indexed);
  } else if (copc_index) {
    copc_index->intersect_circle(center_x, center_y, radius);
    install_area_read(&LASreader::read_point_inside_circle_copc_indexed);
  } else {
    install_area_read(&LASreader::read_point_inside_circle);
  }
  return true;
}

bool LASreader::inside_rectangle(const F64 min_x, const F64 min_y, const F64 max_x, const F64 max_y) {
  record_rectangle(min_x, min_y, max_x, max_y);
  replace_bounding_box(min_x, min_y, max_x, max_y);
  if (saved_min_x > max_x || saved_min_y > max_y || min_x > saved_max_x || min_y > saved_max_y) {
    install_area_read(&LASreader::read_point_none);
  } else if (index) {
    index->intersect_rectangle(min_x, min_y, max_x, max_y);
    install_area_read(&LASreader::read_point_inside_rectangle_indexed);
  } else if (copc_index) {
    copc_index->intersect_rectangle(min_x, min_y, max_x, max_y);
    install_area_read(&LASreader::read_point_inside_rectangle_copc_indexed);
  } else {
    install_area_read(&LASreader::read_point_inside_rectangle);
  }
  return true;
}

bool LASreader::inside_copc_depth(const U8 mode, const I32 depth, const F32 resolution) {
  if (copc_index == nullptr) return false;
  copc_query = mode;
  copc_depth = depth;
  copc_resolution = resolution;
  if (mode == COPC_QUERY_DEPTH) {
    copc_index->set_depth_limit(depth);
  } else if (mode == COPC_QUERY_RESOLUTION) {
    copc_index->set_resolution(resolution);
  } else {
    return false;
  }
  // A tile is read without the COPC index, which would ignore a limit that
  // leaves out levels: such a tile is read through the index too.
  if (inside == INSIDE_TILE) {
    if (copc_index->get_query_depth() < copc_index->get_octree().max_depth && tile_meets_bounds()) {
      copc_index->intersect_rectangle(t_ll_x, t_ll_y, t_ur_x, t_ur_y);
      install_area_read(&LASreader::read_point_inside_tile_copc_indexed);
    }
    return true;
  }
  // Circle and rectangle reads already go through the COPC index, which now
  // also limits the depth.
  if (inside) return true;
  install_area_read(&LASreader::read_point_inside_depth_copc_indexed);
  return true;
}

bool LASreader::read_point_filtered() {
  while ((this->*read_simple)()) {
    if (!filter->filter(&point)) return true;
  }
  return false;
}

// Under offset adjustment the header states the quantisation the transform
// writes; area tests and the filter judge a point as read, in the file's.
bool LASreader::read_then_transform(ReadOperation read) {
  const LASscaling* own = point.scaling;
  if (const LASscaling* as_read = transform->read_scaling()) point.scaling = as_read;
  const bool got = (this->*read)();
  point.scaling = own;
  if (!got) return false;
  transform->transform(&point);
  return true;
}

bool LASreader::read_point_transformed() { return read_then_transform(read_simple); }

bool LASreader::read_point_filtered_and_transformed() {
  return read_then_transform(&LASreader::read_point_filtered);
}

bool LASreader::read_point_inside_tile() {
  while (read_point_default()) {
    if (is_inside_tile(point.get_x(), point.get_y())) return true;
  }
  return false;
}

// The runs of an index: a failed read goes on with the next candidate (a
// corrupt chunk is skipped), but a read that fails again at the same point
// would never end, so it ends the read.
template <typename Index, typename Test>
bool LASreader::read_indexed(Index* runs, Test passes) {
  I64 failed_at = -1;
  while (runs->seek_next(this)) {
    if (read_point_default()) {
      if (passes()) return true;
    } else {
      if (failed_at == points_read) return false;
      failed_at = points_read;
    }
  }
  return false;
}

bool LASreader::read_point_inside_tile_indexed() {
  return read_indexed(index, [this] { return is_inside_tile(point.get_x(), point.get_y()); });
}

bool LASreader::read_point_inside_tile_copc_indexed() {
  return read_indexed(copc_index, [this] { return is_inside_tile(point.get_x(), point.get_y()); });
}

bool LASreader::read_point_inside_circle() {
  while (read_point_default()) {
    if (is_inside_circle(point.get_x(), point.get_y())) return true;
  }
  return false;
}

bool LASreader::read_point_inside_circle_indexed() {
  return read_indexed(index, [this] { return is_inside_circle(point.get_x(), point.get_y()); });
}

bool LASreader::read_point_inside_circle_copc_indexed() {
  return read_indexed(copc_index, [this] { return is_inside_circle(point.get_x(), point.get_y()); });
}

bool LASreader::read_point_inside_rectangle() {
  while (read_point_default()) {
    if (is_inside_rectangle(point.get_x(), point.get_y())) return true;
  }
  return false;
}

bool LASreader::read_point_inside_rectangle_indexed() {
  return read_indexed(index, [this] { return is_inside_rectangle(point.get_x(), point.get_y()); });
}

bool LASreader::read_point_inside_rectangle_copc_indexed() {
  return read_indexed(copc_index, [this] { return is_inside_rectangle(point.get_x(), point.get_y()); });
}

bool LASreader::read_point_inside_depth_copc_indexed() {
  return read_indexed(copc_index, [] { return true; });
}
