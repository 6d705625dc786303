// The buffered reader: opening the tile, reading the neighbours' points within
// the buffer distance into raw records, the header of tile and buffer with the
// record of the tile's own counts, and playing tile and buffer back per pass.
#include "index/lasreaderbuffered.hpp"

#include <cstring>

#include "filters/lasfilter.hpp"
#include "index/lasreadermerged.hpp"
#include "transforms/lastransform.hpp"

namespace {

// The first item of a record in the layout of points without the extended
// layout: the in-memory point from X to the point source ID, as is.
constexpr U32 LEGACY_CORE_SIZE = 20;
// The first item of points with the extended layout, packed field by field.
constexpr U32 EXTENDED_CORE_SIZE = 30;
// The block table starts with this many slots and doubles when full.
constexpr size_t FIRST_BLOCK_SLOTS = 1024;

template <typename T>
T load(const U8* at) {
  T value;
  memcpy(&value, at, sizeof(T));
  return value;
}

template <typename T>
void store(U8* at, T value) {
  memcpy(at, &value, sizeof(T));
}

bool same_scaling(const LASscaling& a, const LASscaling& b) {
  return a.x_scale_factor == b.x_scale_factor && a.y_scale_factor == b.y_scale_factor &&
         a.z_scale_factor == b.z_scale_factor && a.x_offset == b.x_offset && a.y_offset == b.y_offset &&
         a.z_offset == b.z_offset;
}

// Raw coordinates of one quantisation into another; they fit 32 bits once
// the header was widened to the box of all points.
void requantise(I32& X, I32& Y, I32& Z, const LASscaling& from, const LASscaling& to) {
  X = (I32)(U32)(U64)to.get_X(from.get_x(X));
  Y = (I32)(U32)(U64)to.get_Y(from.get_y(Y));
  Z = (I32)(U32)(U64)to.get_Z(from.get_z(Z));
}

}  // namespace

LASreaderBuffered::LASreaderBuffered(LASreadOpener* opener) : LASreader(opener) {
  lasreadopener_neighbors.set_merged(true);
}

LASreaderBuffered::~LASreaderBuffered() {
  // The openers would delete what the outer opener lent.
  lasreadopener.set_filter(nullptr);
  lasreadopener.set_transform(nullptr);
  lasreadopener_neighbors.set_filter(nullptr);
  lasreadopener_neighbors.set_transform(nullptr);
  if (lasreader) {
    // The transform reports its overflows once, with this reader.
    lasreader->set_transform(nullptr);
    lasreader.reset();
  }
  buffers.clear();
}

I32 LASreaderBuffered::get_format() const { return lasreader ? lasreader->get_format() : 0; }

void LASreaderBuffered::set_filter(LASfilter* filter) {
  if (lasreader) lasreader->set_filter(filter);
  lasreadopener.set_filter(filter);
  lasreadopener_neighbors.set_filter(filter);
  this->filter = filter;
}

void LASreaderBuffered::set_transform(LAStransform* transform) {
  if (lasreader) lasreader->set_transform(transform);
  lasreadopener.set_transform(transform);
  lasreadopener_neighbors.set_transform(transform);
  this->transform = transform;
}

bool LASreaderBuffered::set_file_name(const char* file_name) {
  if (!las_file_can_be_read(file_name)) return false;
  return lasreadopener.add_file_name(file_name, false);
}

bool LASreaderBuffered::add_neighbor_file_name(const char* file_name) {
  if (!las_file_can_be_read(file_name)) return false;
  return lasreadopener_neighbors.add_file_name(file_name, false);
}

// ------------------------------------------------------------------ areas

void LASreaderBuffered::hand_area_to_main() {
  if (!lasreader) return;
  lasreader->inside_none();
  if (inside == INSIDE_RECTANGLE) {
    lasreader->inside_rectangle(r_min_x, r_min_y, r_max_x, r_max_y);
  } else if (inside == INSIDE_TILE) {
    lasreader->inside_tile(t_ll_x, t_ll_y, t_size);
  } else if (inside == INSIDE_CIRCLE) {
    lasreader->inside_circle(c_center_x, c_center_y, c_radius);
  }
}

bool LASreaderBuffered::inside_none() {
  LASreader::inside_none();
  hand_area_to_main();
  return true;
}

bool LASreaderBuffered::inside_tile(const F32 ll_x, const F32 ll_y, const F32 size) {
  record_tile(ll_x, ll_y, size);
  // Just below the tile's upper edges, which belong to the next tile.
  replace_bounding_box(ll_x, ll_y, t_ur_x - (F64)0.001f * header.x_scale_factor,
                       t_ur_y - (F64)0.001f * header.y_scale_factor);
  hand_area_to_main();
  return true;
}

bool LASreaderBuffered::inside_circle(const F64 center_x, const F64 center_y, const F64 radius) {
  record_circle(center_x, center_y, radius);
  replace_bounding_box(center_x - radius, center_y - radius, center_x + radius, center_y + radius);
  hand_area_to_main();
  return true;
}

bool LASreaderBuffered::inside_rectangle(const F64 min_x, const F64 min_y, const F64 max_x, const F64 max_y) {
  record_rectangle(min_x, min_y, max_x, max_y);
  replace_bounding_box(min_x, min_y, max_x, max_y);
  hand_area_to_main();
  return true;
}

bool LASreaderBuffered::inside_copc_depth(const U8 mode, const I32 depth, const F32 resolution) {
  if (header.copc_info == nullptr) return false;
  copc_query = mode;
  copc_depth = depth;
  copc_resolution = resolution;
  return true;
}

bool LASreaderBuffered::buffer_point_inside() const {
  switch (inside) {
    case INSIDE_TILE:
      return is_inside_tile(point.get_x(), point.get_y());
    case INSIDE_CIRCLE:
      return is_inside_circle(point.get_x(), point.get_y());
    case INSIDE_RECTANGLE:
      return is_inside_rectangle(point.get_x(), point.get_y());
    default:
      return true;
  }
}

// ------------------------------------------------------------------ opening

bool LASreaderBuffered::check_record_layout() {
  const LASitem* items = point.items;
  bool ok = point.num_items > 0;
  if (ok) {
    extended_record = items[0].type == LASitem::POINT14;
    ok = (items[0].type == LASitem::POINT10 && items[0].size == LEGACY_CORE_SIZE) ||
         (extended_record && items[0].size == EXTENDED_CORE_SIZE);
  }
  for (U16 i = 1; ok && i < point.num_items; i++) {
    ok = items[i].type != LASitem::POINT10 && items[i].type != LASitem::POINT14;
  }
  if (!ok) {
    laserror("unknown point type %d with point size %d", header.point_data_format, header.point_data_record_length);
    return false;
  }
  record_size = point.record_size;
  return true;
}

void LASreaderBuffered::record_original_counts() {
  auto original = std::make_unique<LASvlrOriginal>();
  if (header.version_minor > 3) {
    original->number_of_point_records = (I64)header.extended_number_of_point_records;
    for (int r = 0; r < 15; r++)
      original->number_of_points_by_return[r] = (I64)header.extended_number_of_points_by_return[r];
  } else {
    original->number_of_point_records = header.number_of_point_records;
    for (int r = 0; r < 5; r++) original->number_of_points_by_return[r] = header.number_of_points_by_return[r];
  }
  original->max_x = header.max_x;
  original->min_x = header.min_x;
  original->max_y = header.max_y;
  original->min_y = header.min_y;
  original->max_z = header.max_z;
  original->min_z = header.min_z;
  // The header owns its record of the original counts.
  header.vlr_lasoriginal = std::move(original);
}

bool LASreaderBuffered::open() {
  if (!lasreadopener.active()) {
    laserror("no input name");
    return false;
  }
  lasreader.reset(lasreadopener.open());
  if (!lasreader) {
    laserror("opening '%s'", lasreadopener.get_file_name());
    return false;
  }
  main_open = true;
  main_done = false;
  // The tile reader keeps its own attribute arrays for the points it reads.
  header.take_over(lasreader->header, true);
  if (!las_init_point_for_header(point, header)) return false;
  if (!check_record_layout()) return false;
  main_scaling = static_cast<const LASscaling&>(header);
  buffer_scaling = main_scaling;

  if (lasreadopener_neighbors.active() && !read_neighbors()) return false;

  for (int axis = 0; axis < 3; axis++) {
    if (!las_widen_to_bounds(header, axis, rescale, reoffset)) return false;
  }
  const LASscaling& final_scaling = header;
  requantise_main = !same_scaling(main_scaling, final_scaling);
  if (!same_scaling(buffer_scaling, final_scaling)) requantise_buffer();

  points_expected = header.number_of_point_records ? (I64)header.number_of_point_records
                                                   : (I64)header.extended_number_of_point_records;
  points_read = 0;
  buffer_read_count = 0;
  return true;
}

bool LASreaderBuffered::read_neighbors() {
  const F64 w = buffer_size;
  lasreadopener_neighbors.set_inside_rectangle(header.min_x - w, header.min_y - w, header.max_x + w, header.max_y + w);
  record_original_counts();
  // Neighbour points arrive in the tile's quantisation, unless the grown box
  // does not fit it: then they keep their own, so that none wraps around, and
  // are brought to the widened header afterwards.
  if (!las_bounds_overflow(header.min_x - w, header.max_x + w, header.x_offset, header.x_scale_factor) &&
      !las_bounds_overflow(header.min_y - w, header.max_y + w, header.y_offset, header.y_scale_factor)) {
    const F64 scale[3] = {header.x_scale_factor, header.y_scale_factor, header.z_scale_factor};
    const F64 offset[3] = {header.x_offset, header.y_offset, header.z_offset};
    lasreadopener_neighbors.set_scale_factor(scale);
    lasreadopener_neighbors.set_offset(offset);
  }
  std::unique_ptr<LASreader> neighbors(lasreadopener_neighbors.open());
  if (!neighbors) {
    laserror("opening neighbor '%s'", lasreadopener_neighbors.get_file_name());
    return false;
  }
  const LASheader& theirs = neighbors->header;
  if (theirs.point_data_format != header.point_data_format && !point_type_change) {
    LASMessage(WARNING, "files have different point types: %d vs %d", header.point_data_format,
               theirs.point_data_format);
    point_type_change = true;
  }
  if (theirs.point_data_record_length != header.point_data_record_length && !point_size_change) {
    LASMessage(WARNING, "files have different point sizes: %d vs %d", header.point_data_record_length,
               theirs.point_data_record_length);
    point_size_change = true;
  }
  buffer_scaling = static_cast<const LASscaling&>(theirs);

  const U32 before = buffered_points;
  while (neighbors->read_point()) {
    point = neighbors->point;
    if (!copy_point_to_buffer()) return false;
    count_buffer_point();
  }
  neighbors->close(true);
  neighbors.reset();
  point.reset();
  // The tile's points are read after the neighbours' in this pass but first
  // in every later one: criteria and operations that keep state start afresh
  // for them, so that each pass sees the same tile points.
  if (filter) filter->reset();
  if (transform) transform->reset();

  const U32 added = buffered_points - before;
  if (header.number_of_point_records) header.number_of_point_records += added;
  if (header.extended_number_of_point_records || !header.number_of_point_records) {
    header.extended_number_of_point_records += added;
  }
  LASMessage(INFO, "LASreaderBuffered: adding %u buffer points.", buffered_points);
  return true;
}

// A buffer point enters the counts by return and the bounding box, in real
// coordinates of the quantisation it was read in.
void LASreaderBuffered::count_buffer_point() {
  const U8 r = point.get_return_number();
  // Point formats 6 to 10 keep the legacy counts at 0.
  if (r >= 1 && r <= 5 && header.number_of_point_records) header.number_of_points_by_return[r - 1]++;
  if (header.version_minor > 3) {
    const U8 e = point.get_extended_layout() ? point.get_extended_return_number() : r;
    if (e >= 1 && e <= 15) header.extended_number_of_points_by_return[e - 1]++;
  }
  const F64 v[3] = {buffer_scaling.get_x(point.X), buffer_scaling.get_y(point.Y), buffer_scaling.get_z(point.get_Z())};
  F64* mins[3] = {&header.min_x, &header.min_y, &header.min_z};
  F64* maxs[3] = {&header.max_x, &header.max_y, &header.max_z};
  for (int a = 0; a < 3; a++) {
    if (v[a] < *mins[a]) {
      *mins[a] = v[a];
    } else if (v[a] > *maxs[a]) {
      *maxs[a] = v[a];
    }
  }
}

// ------------------------------------------------------------------ records

bool LASreaderBuffered::copy_point_to_buffer() {
  const U32 slot = buffered_points % points_per_buffer;
  if (slot == 0) {
    if (buffered_points > U32_MAX - points_per_buffer) {
      laserror("too many buffer points (%u)", buffered_points);
      return false;
    }
    if (buffers.size() == buffers.capacity()) buffers.reserve(buffers.empty() ? FIRST_BLOCK_SLOTS : 2 * buffers.size());
    U8* block = (U8*)malloc_las((size_t)points_per_buffer * record_size);
    if (block == nullptr) {
      laserror("cannot allocate memory for %u buffer points", buffered_points + points_per_buffer);
      return false;
    }
    buffers.emplace_back(block);
    current_buffer = block;
  }
  U8* record = current_buffer + (size_t)slot * record_size;
  U32 at;
  if (extended_record) {
    store<I32>(record, point.X);
    store<I32>(record + 4, point.Y);
    store<I32>(record + 8, point.Z);
    store<U16>(record + 12, point.intensity);
    record[14] = point.extended_return_byte;
    record[15] = (U8)(((point.class_byte >> 5) & 0x07) | (point.get_extended_classification_flags() & 0x08) |
                      (point.get_extended_scanner_channel() << 4) | (point.get_scan_direction_flag() << 6) |
                      (point.get_edge_of_flight_line() << 7));
    record[16] = point.extended_classification;
    record[17] = point.user_data;
    store<I16>(record + 18, point.extended_scan_angle);
    store<U16>(record + 20, point.point_source_ID);
    store<F64>(record + 22, point.gps_time);
    at = EXTENDED_CORE_SIZE;
  } else {
    memcpy(record, &point.X, LEGACY_CORE_SIZE);
    at = LEGACY_CORE_SIZE;
  }
  for (U16 i = 1; i < point.num_items; i++) {
    memcpy(record + at, point.item_data[i], point.items[i].size);
    at += point.items[i].size;
  }
  buffered_points++;
  return true;
}

void LASreaderBuffered::copy_point_from_buffer() {
  const U8* record = buffers[buffer_read_count / points_per_buffer].get() +
                     (size_t)(buffer_read_count % points_per_buffer) * record_size;
  U32 at;
  if (extended_record) {
    point.X = load<I32>(record);
    point.Y = load<I32>(record + 4);
    point.Z = load<I32>(record + 8);
    point.intensity = load<U16>(record + 12);
    point.extended_return_byte = record[14];
    const U8 flags = record[15];
    point.set_extended_classification_flags(flags & 0x0F);
    point.set_extended_scanner_channel((flags >> 4) & 0x03);
    point.set_scan_direction_flag((flags >> 6) & 0x01);
    point.set_edge_of_flight_line(flags >> 7);
    point.extended_classification = record[16];
    point.user_data = record[17];
    point.extended_scan_angle = load<I16>(record + 18);
    point.point_source_ID = load<U16>(record + 20);
    point.gps_time = load<F64>(record + 22);
    // The record holds no legacy returns, class or scan angle: they are
    // derived as the readers derive them for such points.
    point.derive_legacy_fields();
    at = EXTENDED_CORE_SIZE;
  } else {
    memcpy(&point.X, record, LEGACY_CORE_SIZE);
    at = LEGACY_CORE_SIZE;
  }
  for (U16 i = 1; i < point.num_items; i++) {
    memcpy(point.item_data[i], record + at, point.items[i].size);
    at += point.items[i].size;
  }
  buffer_read_count++;
}

void LASreaderBuffered::requantise_buffer() {
  const LASscaling& to = header;
  for (U32 i = 0; i < buffered_points; i++) {
    U8* record = buffers[i / points_per_buffer].get() + (size_t)(i % points_per_buffer) * record_size;
    I32 X = load<I32>(record), Y = load<I32>(record + 4), Z = load<I32>(record + 8);
    requantise(X, Y, Z, buffer_scaling, to);
    store<I32>(record, X);
    store<I32>(record + 4, Y);
    store<I32>(record + 8, Z);
  }
  buffer_scaling = to;
}

// ------------------------------------------------------------------ reading

bool LASreaderBuffered::read_point_default() {
  if (!main_done && main_open) {
    if (lasreader->read_point()) {
      point = lasreader->point;
      if (requantise_main) requantise(point.X, point.Y, point.Z, main_scaling, header);
      points_read++;
      return true;
    }
    main_done = true;
  }
  while (buffer_read_count < buffered_points) {
    copy_point_from_buffer();
    if (inside == INSIDE_NONE || buffer_point_inside()) {
      points_read++;
      return true;
    }
  }
  if (main_open) {
    lasreader->close(true);
    main_open = false;
  }
  point.reset();
  return false;
}

void LASreaderBuffered::close(const bool close_stream) {
  if (lasreader && main_open) lasreader->close(close_stream);
  main_open = false;
}

bool LASreaderBuffered::reopen() {
  buffer_read_count = 0;
  points_read = 0;
  if (!lasreader) return false;
  if (!lasreadopener.reopen(lasreader.get())) return false;
  main_open = true;
  main_done = false;
  return true;
}

bool LASreaderBuffered::remove_buffer() {
  buffers.clear();
  buffers.shrink_to_fit();
  current_buffer = nullptr;
  buffered_points = 0;
  buffer_read_count = 0;
  // The record goes with this call: the header then counts the tile alone.
  const std::unique_ptr<LASvlrOriginal> original(std::move(header.vlr_lasoriginal));
  if (original == nullptr) return false;
  points_expected = original->number_of_point_records;
  if (header.version_minor > 3) {
    for (int r = 0; r < 15; r++)
      header.extended_number_of_points_by_return[r] = (U64)original->number_of_points_by_return[r];
  }
  if (header.version_minor > 3 || header.extended_number_of_point_records) {
    header.extended_number_of_point_records = (U64)original->number_of_point_records;
  }
  // Files up to LAS 1.3 count in the legacy fields only; later ones there too
  // when their point format has them.
  if (header.version_minor <= 3 || header.number_of_point_records) {
    header.number_of_point_records = (U32)original->number_of_point_records;
    for (int r = 0; r < 5; r++) header.number_of_points_by_return[r] = (U32)original->number_of_points_by_return[r];
  }
  header.max_x = original->max_x;
  header.min_x = original->min_x;
  header.max_y = original->max_y;
  header.min_y = original->min_y;
  header.max_z = original->max_z;
  header.min_z = original->min_z;
  return true;
}
