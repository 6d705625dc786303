// The read dispatch of LASreader: which operation read_point() runs for the
// filter, transform and area query attached, the area reads themselves, and
// the re-quantisation every reader's rescale and reoffset variants share.
#include "core/lasreader.hpp"

#include <cmath>

#include "core/lasattributer.hpp"
#include "filters/lasfilter.hpp"
#include "index/lascopc.hpp"
#include "index/lasindex.hpp"
#include "transforms/lastransform.hpp"

LASreader::LASreader(LASreadOpener* opener) : opener(opener) {
  if (opener == nullptr) LASMessage(VERBOSE, "reader opened without opener");
}

LASreader::~LASreader() {
  if (transform) transform->check_for_overflow();
  // The point borrows the header's scaling and attributes: it goes first.
  point.clean();
  header.clean();
}

// Handing in the index already held keeps it.
void LASreader::set_index(LASindex* index) {
  if (this->index.get() != index) this->index.reset(index);
}

void LASreader::set_copcindex(COPCindex* copc_index) {
  if (this->copc_index.get() != copc_index) this->copc_index.reset(copc_index);
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
  return read_indexed(index.get(), [this] { return is_inside_tile(point.get_x(), point.get_y()); });
}

bool LASreader::read_point_inside_tile_copc_indexed() {
  return read_indexed(copc_index.get(), [this] { return is_inside_tile(point.get_x(), point.get_y()); });
}

bool LASreader::read_point_inside_circle() {
  while (read_point_default()) {
    if (is_inside_circle(point.get_x(), point.get_y())) return true;
  }
  return false;
}

bool LASreader::read_point_inside_circle_indexed() {
  return read_indexed(index.get(), [this] { return is_inside_circle(point.get_x(), point.get_y()); });
}

bool LASreader::read_point_inside_circle_copc_indexed() {
  return read_indexed(copc_index.get(), [this] { return is_inside_circle(point.get_x(), point.get_y()); });
}

bool LASreader::read_point_inside_rectangle() {
  while (read_point_default()) {
    if (is_inside_rectangle(point.get_x(), point.get_y())) return true;
  }
  return false;
}

bool LASreader::read_point_inside_rectangle_indexed() {
  return read_indexed(index.get(), [this] { return is_inside_rectangle(point.get_x(), point.get_y()); });
}

bool LASreader::read_point_inside_rectangle_copc_indexed() {
  return read_indexed(copc_index.get(), [this] { return is_inside_rectangle(point.get_x(), point.get_y()); });
}

bool LASreader::read_point_inside_depth_copc_indexed() {
  return read_indexed(copc_index.get(), [] { return true; });
}

// ------------------------------------------------------ re-quantising readers

namespace {

// Re-quantisation of one raw coordinate; a value outside 32 bits becomes I32_MIN.
I64 rescaled_by(const I64 n, const F64 s0, const F64 s1) { return las_round_i64((F64)n * s0 / s1); }
I64 rescaled_reoffset(const I64 n, const F64 s0, const F64 o0, const F64 o1, const F64 s1) {
  return las_round_i64(((F64)n * s0 + o0 - o1) / s1);
}
I32 clamp_i32(const I64 n) { return las_fits_i32(n) ? (I32)n : I32_MIN; }

const char* const BOX_NAMES[3][2] = {{"min_x", "max_x"}, {"min_y", "max_y"}, {"min_z", "max_z"}};

void box_of_axis(const LASheader& h, const int axis, F64 (&box)[2]) {
  box[0] = (axis == 0) ? h.min_x : (axis == 1 ? h.min_y : h.min_z);
  box[1] = (axis == 0) ? h.max_x : (axis == 1 ? h.max_y : h.max_z);
}

}  // namespace

void LASrequantiser::set_rescale(F64 x_scale_factor, F64 y_scale_factor, F64 z_scale_factor,
                                 bool check_for_overflow) {
  rescaling = true;
  this->check_for_overflow = check_for_overflow;
  new_scale_factor[0] = x_scale_factor;
  new_scale_factor[1] = y_scale_factor;
  new_scale_factor[2] = z_scale_factor;
}

void LASrequantiser::set_reoffset(F64 x_offset, F64 y_offset, F64 z_offset) {
  reoffsetting = true;
  auto_offset = false;
  new_offset[0] = x_offset;
  new_offset[1] = y_offset;
  new_offset[2] = z_offset;
}

void LASrequantiser::set_auto_reoffset() {
  reoffsetting = true;
  auto_offset = true;
  new_offset[0] = new_offset[1] = new_offset[2] = 0.0;
}

void LASrequantiser::requantise_header(LASheader& header) {
  if (rescaling) install_scale_factors(header);
  // Automatic offsets follow the new scale factors.
  if (reoffsetting) install_offsets(header);
  warn_about_overflow(header);
}

void LASrequantiser::install_scale_factors(LASheader& header) {
  F64* factor[3] = {&header.x_scale_factor, &header.y_scale_factor, &header.z_scale_factor};
  for (int a = 0; a < 3; a++) {
    rescaled[a] = false;
    file_scale_factor[a] = *factor[a];
    if (new_scale_factor[a] != 0.0 && new_scale_factor[a] != file_scale_factor[a]) {
      *factor[a] = new_scale_factor[a];
      rescaled[a] = true;
    }
  }
}

void LASrequantiser::install_offsets(LASheader& header) {
  const F64 factor[3] = {header.x_scale_factor, header.y_scale_factor, header.z_scale_factor};
  if (auto_offset) {
    for (int a = 0; a < 3; a++) {
      F64 box[2];
      box_of_axis(header, a, box);
      new_offset[a] = 0.0;
      if (box[0] > -2e307 && box[0] < 2e307 && box[1] > -2e307 && box[1] < 2e307) {
        // The centre in whole units of the factor, cut toward zero to a multiple of 10^7 units.
        new_offset[a] = std::trunc((box[0] + box[1]) / factor[a] / 20000000) * 10000000 * factor[a];
      }
    }
  }
  F64* offset[3] = {&header.x_offset, &header.y_offset, &header.z_offset};
  for (int a = 0; a < 3; a++) {
    reoffset[a] = false;
    file_offset[a] = *offset[a];
    if (new_offset[a] != file_offset[a]) {
      *offset[a] = new_offset[a];
      reoffset[a] = true;
    }
  }
}

// Where the corners of the bounding box land: a rescale alone checks only when
// asked to, and both changes are named together in one message.
void LASrequantiser::warn_about_overflow(const LASheader& header) const {
  if (rescaling && !reoffsetting && !check_for_overflow) return;
  const F64 factor[3] = {header.x_scale_factor, header.y_scale_factor, header.z_scale_factor};
  const F64 header_offset[3] = {header.x_offset, header.y_offset, header.z_offset};
  for (int a = 0; a < 3; a++) {
    if (!rescaled[a] && !reoffset[a]) continue;
    const F64 from_scale = rescaling ? file_scale_factor[a] : factor[a];
    const F64 from_offset = reoffsetting ? file_offset[a] : header_offset[a];
    F64 box[2];
    box_of_axis(header, a, box);
    for (int m = 0; m < 2; m++) {
      const I64 n = las_quantize(box[m], from_offset, from_scale);
      const I64 moved = reoffset[a] ? rescaled_reoffset(n, from_scale, from_offset, new_offset[a], factor[a])
                                    : rescaled_by(n, from_scale, factor[a]);
      if (las_fits_i32(moved)) continue;
      if (rescaling && reoffsetting) {
        LASMessage(WARNING,
                   "rescaling from %g to %g and reoffsetting from %g to %g causes LAS integer overflow for %s",
                   from_scale, factor[a], from_offset, new_offset[a], BOX_NAMES[a][m]);
      } else if (rescaling) {
        LASMessage(WARNING, "rescaling from %g to %g causes LAS integer overflow for %s", from_scale, factor[a],
                   BOX_NAMES[a][m]);
      } else {
        LASMessage(WARNING, "reoffsetting from %g to %g causes LAS integer overflow for %s", from_offset,
                   new_offset[a], BOX_NAMES[a][m]);
      }
    }
  }
}

void LASrequantiser::requantise_point(LASpoint& point, const LASheader& header) const {
  const F64 s[3] = {header.x_scale_factor, header.y_scale_factor, header.z_scale_factor};
  I32* raw[3] = {&point.X, &point.Y, &point.Z};
  for (int a = 0; a < 3; a++) {
    if (!rescaled[a] && !reoffset[a]) continue;
    // Without a rescale the header's scale factor is the file's.
    const F64 from_scale = rescaling ? file_scale_factor[a] : s[a];
    const I32 n = (a == 2) ? point.get_Z() : *raw[a];
    *raw[a] = clamp_i32(reoffset[a] ? rescaled_reoffset(n, from_scale, file_offset[a], new_offset[a], s[a])
                                    : rescaled_by(n, from_scale, s[a]));
  }
}
