// The merged reader: the file list, the header pass that builds the merged
// header and widens scale factors or offsets for the union box, and reading
// across the files with the filter, transform, area and index of each file.
#include "index/lasreadermerged.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "compressor/vembra.hpp"
#include "core/lasreader_las.hpp"
#include "filters/lasfilter.hpp"
#include "formats/lasreader_asc.hpp"
#include "formats/lasreader_bil.hpp"
#include "formats/lasreader_bin.hpp"
#include "formats/lasreader_dtm.hpp"
#include "formats/lasreader_ply.hpp"
#include "formats/lasreader_qfit.hpp"
#include "formats/lasreader_shp.hpp"
#include "formats/lasreader_txt.hpp"
#include "index/lasindex.hpp"
#include "transforms/lastransform.hpp"

namespace {

// By LASreadOpener::InputKind: the format's name in "cannot mix" messages and
// its reader's name in "could not open" messages.
const char* const FORMAT_NAMES[] = {"LAS", "BIN", "SHP", "ASC", "BIL", "DTM", "PLY", "QFIT", "TXT"};
const char* const READER_WORDS[] = {"lasreaderlas", "lasreaderbin", "lasreadershp",  "lasreaderasc", "lasreaderbil",
                                    "lasreaderdtm", "lasreaderply", "lasreaderqfit", "lasreadertxt"};

// The header pass reads little of each file.
constexpr I32 HEADER_PASS_IO_BUFFER_SIZE = 512;
// Box of a file without points: no area overlaps it.
constexpr F64 EMPTY_BOX_MIN = 2e307;
constexpr F64 EMPTY_BOX_MAX = -2e307;
// Each widening step multiplies a scale factor by 10; a box that needs more
// than this many steps is no point cloud but a broken header, and the loop
// would not end for an infinite bound.
constexpr int MAX_WIDENING_STEPS = 32;

const char* const AXIS_SCALE_NAMES[3] = {"x_scale_factor", "y_scale_factor", "z_scale_factor"};

// The plain reader of a format, or its variant that re-quantises to new
// scale factors, offsets or both.
template <class Plain, class Rescale, class Reoffset, class Both>
std::unique_ptr<LASreader> requantising(LASreadOpener* opener, const F64* s, const F64* o) {
  if (s && o) return std::make_unique<Both>(opener, s[0], s[1], s[2], o[0], o[1], o[2]);
  if (s) return std::make_unique<Rescale>(opener, s[0], s[1], s[2]);
  if (o) return std::make_unique<Reoffset>(opener, o[0], o[1], o[2]);
  return std::make_unique<Plain>(opener);
}

// By LASreadOpener::InputKind; PLY and text readers have no variants.
using MakeReader = std::unique_ptr<LASreader> (*)(LASreadOpener*, const F64*, const F64*);
const MakeReader REQUANTISING[] = {
    requantising<LASreaderLAS, LASreaderLASrescale, LASreaderLASreoffset, LASreaderLASrescalereoffset>,
    requantising<LASreaderBIN, LASreaderBINrescale, LASreaderBINreoffset, LASreaderBINrescalereoffset>,
    requantising<LASreaderSHP, LASreaderSHPrescale, LASreaderSHPreoffset, LASreaderSHPrescalereoffset>,
    requantising<LASreaderASC, LASreaderASCrescale, LASreaderASCreoffset, LASreaderASCrescalereoffset>,
    requantising<LASreaderBIL, LASreaderBILrescale, LASreaderBILreoffset, LASreaderBILrescalereoffset>,
    requantising<LASreaderDTM, LASreaderDTMrescale, LASreaderDTMreoffset, LASreaderDTMrescalereoffset>,
    nullptr,
    requantising<LASreaderQFIT, LASreaderQFITrescale, LASreaderQFITreoffset, LASreaderQFITrescalereoffset>,
    nullptr,
};

// A 64-bit count of a file: its legacy count unless that is 0.
U64 legacy_or_extended(U32 legacy, U64 extended) { return legacy ? (U64)legacy : extended; }

}  // namespace

bool las_bounds_overflow(F64 min, F64 max, F64 offset, F64 scale) {
  return (max - offset) / scale > 2147483647.0 || (min - offset) / scale < -2147483648.0;
}

LASreaderMerged::LASreaderMerged(LASreadOpener* opener) : LASreader(opener) { clean(); }

LASreaderMerged::~LASreaderMerged() {
  close(true);
  clean();
}

I32 LASreaderMerged::get_format() const { return file_reader ? file_reader->get_format() : 0; }

void LASreaderMerged::set_filter(LASfilter* filter) { this->filter = filter; }

void LASreaderMerged::set_transform(LAStransform* transform) { this->transform = transform; }

bool LASreaderMerged::inside_tile(const F32 ll_x, const F32 ll_y, const F32 size) {
  record_tile(ll_x, ll_y, size);
  // Just below the tile's upper edges, which belong to the next tile.
  replace_bounding_box(ll_x, ll_y, t_ur_x - (F64)0.001f * header.x_scale_factor,
                       t_ur_y - (F64)0.001f * header.y_scale_factor);
  return true;
}

bool LASreaderMerged::inside_circle(const F64 center_x, const F64 center_y, const F64 radius) {
  record_circle(center_x, center_y, radius);
  replace_bounding_box(center_x - radius, center_y - radius, center_x + radius, center_y + radius);
  return true;
}

bool LASreaderMerged::inside_rectangle(const F64 min_x, const F64 min_y, const F64 max_x, const F64 max_y) {
  record_rectangle(min_x, min_y, max_x, max_y);
  replace_bounding_box(min_x, min_y, max_x, max_y);
  return true;
}

bool LASreaderMerged::inside_copc_depth(const U8 mode, const I32 depth, const F32 resolution) {
  if (header.copc_info == nullptr) return false;
  copc_query = mode;
  copc_depth = depth;
  copc_resolution = resolution;
  return true;
}

void LASreaderMerged::close(const bool close_stream) {
  if (file_reader && file_open) file_reader->close(close_stream);
  file_open = false;
}

// ------------------------------------------------------------------ settings

void LASreaderMerged::set_scale_factor(const F64* scale_factor) {
  has_user_scale_factor = scale_factor != nullptr;
  for (int i = 0; i < 3; i++) user_scale_factor[i] = scale_factor ? scale_factor[i] : 0.0;
}

void LASreaderMerged::set_offset(const F64* offset) {
  has_user_offset = offset != nullptr;
  for (int i = 0; i < 3; i++) user_offset[i] = offset ? offset[i] : 0.0;
}

void LASreaderMerged::set_parse_string(const char* parse_string) {
  has_parse_string = parse_string != nullptr;
  this->parse_string = parse_string ? parse_string : "";
}

void LASreaderMerged::set_files_are_flightlines(I32 files_are_flightlines) {
  this->files_are_flightlines = files_are_flightlines;
  if (files_are_flightlines) header.file_source_ID = 0;
}

void LASreaderMerged::set_apply_file_source_ID(bool apply_file_source_ID) {
  this->apply_file_source_ID = apply_file_source_ID;
  if (apply_file_source_ID) header.file_source_ID = 0;
}

void LASreaderMerged::clean() {
  if (file_reader) {
    // The transform reports its overflows once, with this reader.
    file_reader->set_transform(nullptr);
    file_reader.reset();
  }
  file_open = false;
  opened = false;
  point_type_change = point_size_change = attribute_change = false;
  rescale = reoffset = false;
  set_scale_factor(nullptr);
  set_offset(nullptr);
  set_parse_string(nullptr);
  translate_intensity = 0.0f;
  scale_intensity = 1.0f;
  translate_scan_angle = 0.0f;
  scale_scan_angle = 1.0f;
  skip_lines = 0;
  populate_header = false;
  keep_lastiling = false;
  file_names.clear();
  has_IDs = false;
  file_IDs.clear();
  bounding_boxes.clear();
  file_name_current = 0;
  inside = INSIDE_NONE;
}

// ------------------------------------------------------------------ file list

std::unique_ptr<LASreader> LASreaderMerged::make_file_reader(const F64* scale, const F64* offset) const {
  if (REQUANTISING[kind]) return REQUANTISING[kind](opener, scale, offset);
  if (kind == LASreadOpener::INPUT_PLY) {
    // PLY and text readers quantise to the scale factors and offsets they
    // are given, so they need no variants.
    auto reader = std::make_unique<LASreaderPLY>(opener);
    if (scale) reader->set_scale_factor(scale);
    if (offset) reader->set_offset(offset);
    return reader;
  }
  auto reader = std::make_unique<LASreaderTXT>(opener);
  reader->set_translate_intensity(translate_intensity);
  reader->set_scale_intensity(scale_intensity);
  reader->set_translate_scan_angle(translate_scan_angle);
  reader->set_scale_scan_angle(scale_scan_angle);
  reader->set_scale_factor(scale ? scale : (has_user_scale_factor ? user_scale_factor : nullptr));
  reader->set_offset(offset ? offset : (has_user_offset ? user_offset : nullptr));
  return reader;
}

bool las_file_can_be_read(const char* file_name) {
  if (file_name == nullptr) {
    laserror("file name pointer is NULL");
    return false;
  }
  FILE* probe = LASfopen(file_name, "r");
  if (probe == nullptr) {
    laserror("file '%s' cannot be opened", file_name);
    return false;
  }
  fclose(probe);
  return true;
}

bool LASreaderMerged::add_file_name(const char* file_name) {
  if (!las_file_can_be_read(file_name)) return false;
  const Kind file_kind = LASreadOpener::input_kind(file_name);
  if (file_reader && file_kind != kind) {
    laserror("cannot mix %s with %s. skipping '%s' ...", FORMAT_NAMES[kind], FORMAT_NAMES[file_kind], file_name);
    return false;
  }
  const size_t count = file_names.size();
  try {
    // The lists grow by 1024 names at a time.
    if (count == file_names.capacity()) file_names.reserve(count + 1024);
    if (has_IDs && count == file_IDs.capacity()) file_IDs.reserve(count + 1024);
    file_names.emplace_back(file_name);
    if (has_IDs) file_IDs.push_back(0);
  } catch (const std::bad_alloc&) {
    const bool names_grew = file_names.size() > count;
    file_names.resize(count);
    laserror(names_grew ? "alloc for file_names_ID array failed at %d" : "alloc for file_names pointer array failed at %d",
             (I32)(count + 1024));
    return false;
  }
  if (!file_reader) {
    kind = file_kind;
    file_reader = make_file_reader(nullptr, nullptr);
  }
  return true;
}

bool LASreaderMerged::add_file_name(const char* file_name, U32 ID) {
  if (!add_file_name(file_name)) return false;
  if (!has_IDs) {
    // Names added before without an ID get 0.
    try {
      file_IDs.reserve(file_names.capacity());
      file_IDs.assign(file_names.size(), 0);
    } catch (const std::bad_alloc&) {
      file_names.pop_back();
      laserror("alloc for file_names_ID array failed at %d", (I32)file_names.capacity());
      return false;
    }
    has_IDs = true;
  }
  file_IDs.back() = ID;
  return true;
}

// ------------------------------------------------------------------ header pass

bool LASreaderMerged::open_file(U32 index, bool header_pass) {
  const char* name = file_names[index].c_str();
  LASreader* reader = file_reader.get();
  bool ok = false;
  switch (kind) {
    case LASreadOpener::INPUT_LAS: {
      LASreaderLAS* las = static_cast<LASreaderLAS*>(reader);
      if (header_pass) {
        // Attributes are compared descriptor by descriptor, which needs the records.
        const bool header_only = index > 0 && header.number_of_attributes == 0;
        ok = las->open(name, HEADER_PASS_IO_BUFFER_SIZE, header_only, LAS_SELECTIVE_ALL);
      } else {
        ok = las->open(name, io_ibuffer_size, false, LAS_SELECTIVE_ALL);
      }
      break;
    }
    case LASreadOpener::INPUT_BIN:
      ok = static_cast<LASreaderBIN*>(reader)->open(name);
      break;
    case LASreadOpener::INPUT_SHP:
      ok = static_cast<LASreaderSHP*>(reader)->open(name);
      break;
    case LASreadOpener::INPUT_ASC:
      ok = static_cast<LASreaderASC*>(reader)->open(name, false);
      break;
    case LASreadOpener::INPUT_BIL:
      ok = static_cast<LASreaderBIL*>(reader)->open(name);
      break;
    case LASreadOpener::INPUT_DTM:
      ok = static_cast<LASreaderDTM*>(reader)->open(name);
      break;
    case LASreadOpener::INPUT_PLY:
      ok = static_cast<LASreaderPLY*>(reader)->open(name, 0, false);
      break;
    case LASreadOpener::INPUT_QFIT:
      ok = static_cast<LASreaderQFIT*>(reader)->open(name);
      break;
    case LASreadOpener::INPUT_TXT:
      ok = static_cast<LASreaderTXT*>(reader)->open(name, 0, has_parse_string ? parse_string.c_str() : nullptr,
                                                     skip_lines, populate_header);
      break;
  }
  if (!ok) laserror("could not open %s for file '%s'", READER_WORDS[kind], name);
  return ok;
}

void LASreaderMerged::take_first_header(LASheader& file, I64 count) {
  if (file.vlr_lastiling) {
    if (file.vlr_lastiling->get_buffer()) LASMessage(WARNING, "first file is a buffered tile. maybe remove buffers first?");
    if (!keep_lastiling) {
      file.vlr_lastiling.reset();
    }
  } else if (keep_lastiling) {
    LASMessage(WARNING, "first file has no LAStiling VLR cannot '-keep_lastiling' ...");
  }
  header.take_over(file);
  header.extended_number_of_point_records =
      legacy_or_extended(file.number_of_point_records, file.extended_number_of_point_records);
  for (int r = 0; r < 5; r++) {
    header.extended_number_of_points_by_return[r] =
        legacy_or_extended(file.number_of_points_by_return[r], file.extended_number_of_points_by_return[r]);
  }
  points_expected = count;
  if (files_are_flightlines || apply_file_source_ID) header.file_source_ID = 0;
}

void LASreaderMerged::add_counts_and_box(const LASheader& file, bool with_records) {
  if (with_records) header.number_of_point_records += file.number_of_point_records;
  for (int r = 0; r < 5; r++) header.number_of_points_by_return[r] += file.number_of_points_by_return[r];
  if (file.max_x > header.max_x) header.max_x = file.max_x;
  if (file.max_y > header.max_y) header.max_y = file.max_y;
  if (file.max_z > header.max_z) header.max_z = file.max_z;
  if (file.min_x < header.min_x) header.min_x = file.min_x;
  if (file.min_y < header.min_y) header.min_y = file.min_y;
  if (file.min_z < header.min_z) header.min_z = file.min_z;
}

void LASreaderMerged::merge_header(LASheader& file, I64 count) {
  points_expected += count;
  if (points_expected == count) {
    // Every file before was empty: this one's counts, box and scaling count.
    header.number_of_point_records = file.number_of_point_records;
    memcpy(header.number_of_points_by_return, file.number_of_points_by_return, sizeof(file.number_of_points_by_return));
    header.min_x = file.min_x;
    header.min_y = file.min_y;
    header.min_z = file.min_z;
    header.max_x = file.max_x;
    header.max_y = file.max_y;
    header.max_z = file.max_z;
    header.x_scale_factor = file.x_scale_factor;
    header.y_scale_factor = file.y_scale_factor;
    header.z_scale_factor = file.z_scale_factor;
    header.x_offset = file.x_offset;
    header.y_offset = file.y_offset;
    header.z_offset = file.z_offset;
    header.extended_number_of_point_records = 0;
    memset(header.extended_number_of_points_by_return, 0, sizeof(header.extended_number_of_points_by_return));
  } else {
    add_counts_and_box(file, true);
  }
  header.extended_number_of_point_records +=
      legacy_or_extended(file.number_of_point_records, file.extended_number_of_point_records);
  for (int r = 0; r < 5; r++) {
    header.extended_number_of_points_by_return[r] +=
        legacy_or_extended(file.number_of_points_by_return[r], file.extended_number_of_points_by_return[r]);
  }
  if (header.version_minor > 3) {
    for (int r = 5; r < 15; r++) header.extended_number_of_points_by_return[r] += file.extended_number_of_points_by_return[r];
  }
  compare_layout(file);
}

void LASreaderMerged::compare_layout(const LASheader& file) {
  // A factor or offset that is not a number counts as different.
  if (!(file.x_scale_factor == header.x_scale_factor) || !(file.y_scale_factor == header.y_scale_factor) ||
      !(file.z_scale_factor == header.z_scale_factor)) {
    rescale = true;
  }
  if (!(file.x_offset == header.x_offset) || !(file.y_offset == header.y_offset) ||
      !(file.z_offset == header.z_offset)) {
    reoffset = true;
  }
  if (file.point_data_format != header.point_data_format && !point_type_change) {
    LASMessage(WARNING, "files have different point types: %d vs %d", header.point_data_format,
               file.point_data_format);
    point_type_change = true;
  }
  if (file.point_data_record_length != header.point_data_record_length && !point_size_change) {
    LASMessage(WARNING, "files have different point sizes: %d vs %d", header.point_data_record_length,
               file.point_data_record_length);
    point_size_change = true;
  }
  if (attribute_change) return;
  if (file.number_of_attributes != header.number_of_attributes) {
    LASMessage(WARNING, "files have different number of attributes: %d vs %d", header.number_of_attributes,
               file.number_of_attributes);
    attribute_change = true;
    return;
  }
  for (I32 i = 0; i < header.number_of_attributes; i++) {
    if (memcmp(&file.attributes[i], &header.attributes[i], sizeof(LASattributeDescriptor)) != 0) {
      LASMessage(WARNING, "files have different attribute %d", i);
      attribute_change = true;
      return;
    }
  }
}

bool las_init_point_for_header(LASpoint& point, LASheader& header) {
  if (header.compressor) return point.init(&header, header.compressor->num_items, header.compressor->items);
  Vembra layout;
  U16 num_items = 0;
  LASitem* list = nullptr;
  if (!layout.setup(&num_items, &list, header.point_data_format, header.point_data_record_length)) {
    laserror("unknown point type %d with point size %d", header.point_data_format, header.point_data_record_length);
    return false;
  }
  const std::unique_ptr<LASitem[]> items(list);
  // The point links to the header's attributes, so that they can be read by index.
  return point.init(&header, num_items, items.get());
}

bool LASreaderMerged::init_point() { return las_init_point_for_header(point, header); }

bool las_widen_to_bounds(LASheader& header, int axis, bool& rescale, bool& reoffset) {
  F64* scales[3] = {&header.x_scale_factor, &header.y_scale_factor, &header.z_scale_factor};
  F64* offsets[3] = {&header.x_offset, &header.y_offset, &header.z_offset};
  const F64 mins[3] = {header.min_x, header.min_y, header.min_z};
  const F64 maxs[3] = {header.max_x, header.max_y, header.max_z};
  const F64 scale = *scales[axis], offset = *offsets[axis], min = mins[axis], max = maxs[axis];
  if (!las_bounds_overflow(min, max, offset, scale)) return true;

  const F64 middle = (min + max) * 0.5;
  const F64 new_offset = (F64)las_f64_to_i64(middle >= 0 ? middle + 0.5 : middle - 0.5);
  F64 new_scale = scale;
  int steps = 0;
  bool fits = scale != 0.0 && std::isfinite(scale) && std::isfinite(min) && std::isfinite(max);
  while (fits && las_bounds_overflow(min, max, new_offset, new_scale)) {
    if (++steps > MAX_WIDENING_STEPS) fits = false;
    new_scale *= 10;
  }
  if (!fits) {
    laserror("cannot change %s %g to accommodate enlarged bounding box from %g to %g", AXIS_SCALE_NAMES[axis], scale,
             min, max);
    return false;
  }
  if (new_scale != scale) {
    if (axis == 0) {
      LASMessage(WARNING, "i changed x_scale_factor from %g to %g to accommodate enlarged bounding box", scale, new_scale);
    } else if (axis == 1) {
      LASMessage(WARNING, "i changed y_scale_factor from %g to %g to accommodate enlarged bounding box", scale, new_scale);
    } else {
      LASMessage(WARNING, "i changed  z_scale_factor from %g to %g to accommodate enlarged bounding box", scale,
                 new_scale);
    }
    rescale = true;
    *scales[axis] = new_scale;
  }
  // A larger scale factor is preferred: the offset moves only when it alone does not do.
  if (!las_bounds_overflow(min, max, offset, new_scale)) return true;
  if (axis == 0) {
    LASMessage(WARNING, "i changed x_offset from %g to %g to accommodate enlarged bounding box", offset, new_offset);
  } else if (axis == 1) {
    LASMessage(WARNING, "i changed y_offset from %g to %g to accommodate enlarged bounding box", offset, new_offset);
  } else {
    LASMessage(WARNING, "i changed z_offset from %g to %g to accommodate enlarged bounding box", offset, new_offset);
  }
  reoffset = true;
  *offsets[axis] = new_offset;
  return true;
}

bool LASreaderMerged::widen(int axis) { return las_widen_to_bounds(header, axis, rescale, reoffset); }

bool LASreaderMerged::read_headers() {
  // The file reader reads every header once, without filter, transform or area.
  file_reader->set_filter(nullptr);
  file_reader->set_transform(nullptr);
  file_reader->inside_none();
  for (U32 i = 0; i < (U32)file_names.size(); i++) {
    if (!open_file(i, true)) return false;
    LASheader& file = file_reader->header;
    const I64 points = file_reader->points_expected;
    F64* box = &bounding_boxes[4 * (size_t)i];
    box[0] = points > 0 ? file.min_x : EMPTY_BOX_MIN;
    box[1] = points > 0 ? file.min_y : EMPTY_BOX_MIN;
    box[2] = points > 0 ? file.max_x : EMPTY_BOX_MAX;
    box[3] = points > 0 ? file.max_y : EMPTY_BOX_MAX;
    if (i == 0) {
      take_first_header(file, points);
    } else if (points > 0) {
      merge_header(file, points);
    }
    file_reader->close(true);
  }
  return true;
}

void LASreaderMerged::apply_user_scaling() {
  F64* scales[3] = {&header.x_scale_factor, &header.y_scale_factor, &header.z_scale_factor};
  F64* offsets[3] = {&header.x_offset, &header.y_offset, &header.z_offset};
  for (int a = 0; a < 3; a++) {
    if (has_user_scale_factor && user_scale_factor[a] != 0.0 && user_scale_factor[a] != *scales[a]) {
      *scales[a] = user_scale_factor[a];
      rescale = true;
    }
    if (has_user_offset && user_offset[a] != *offsets[a]) {
      *offsets[a] = user_offset[a];
      reoffset = true;
    }
  }
}

bool LASreaderMerged::open() {
  if (file_names.empty()) {
    laserror("no valid file names");
    return false;
  }
  opened = false;
  close(true);
  bounding_boxes.assign(4 * file_names.size(), 0.0);
  point.clean();
  header.clean();
  points_expected = 0;
  if (!read_headers()) return false;
  if (points_expected > (I64)U32_MAX && header.version_minor <= 3) {
    LASMessage(WARNING, "on-the-fly merged LAS 1.%d files contain too many points (%lld) for single LAS 1.%d file.",
               header.version_minor, (long long)points_expected, header.version_minor);
  }
  apply_user_scaling();
  if (!init_point()) return false;
  for (int a = 0; a < 3; a++) {
    if (!widen(a)) return false;
  }
  if (rescale || reoffset) {
    const F64 scale[3] = {header.x_scale_factor, header.y_scale_factor, header.z_scale_factor};
    const F64 offset[3] = {header.x_offset, header.y_offset, header.z_offset};
    file_reader = make_file_reader(rescale ? scale : nullptr, reoffset ? offset : nullptr);
  }
  file_name_current = 0;
  points_read = 0;
  opened = true;
  return true;
}

// ------------------------------------------------------------------ reading

bool LASreaderMerged::misses_area(U32 index) const {
  const F64* box = &bounding_boxes[4 * (size_t)index];
  if (header.min_x > box[2] || header.min_y > box[3]) return true;
  // A rectangle holds its upper edges; tiles and circles end just before them.
  if (inside == INSIDE_RECTANGLE) return box[0] > header.max_x || box[1] > header.max_y;
  return box[0] >= header.max_x || box[1] >= header.max_y;
}

void LASreaderMerged::attach_index(const char* name) {
  switch (kind) {
    case LASreadOpener::INPUT_LAS:
      // The .lax or COPC index, as the opener attaches it to a single file.
      if (opener) {
        opener->attach_las_index(file_reader.get(), name);
      } else {
        attach_lax_index(file_reader.get(), name);
      }
      return;
    case LASreadOpener::INPUT_BIN:
    case LASreadOpener::INPUT_BIL:
    case LASreadOpener::INPUT_DTM:
    case LASreadOpener::INPUT_PLY:
    case LASreadOpener::INPUT_QFIT:
      file_reader->set_index(nullptr);
      attach_lax_index(file_reader.get(), name);
      return;
    default:
      return;
  }
}

void LASreaderMerged::set_point_source(U32 index) {
  if (transform == nullptr) return;
  if (files_are_flightlines) {
    const I64 value = has_IDs ? (I64)file_IDs[index] + 1 : (I64)files_are_flightlines + index;
    transform->setPointSource((U16)value);
  } else if (apply_file_source_ID) {
    transform->setPointSource(file_reader->header.file_source_ID);
  }
}

void LASreaderMerged::hand_down() {
  LASreader* reader = file_reader.get();
  // Filter and transform first: they reset the file reader's area read.
  if (filter) reader->set_filter(filter);
  if (transform) reader->set_transform(transform);
  if (inside == INSIDE_RECTANGLE) {
    reader->inside_rectangle(r_min_x, r_min_y, r_max_x, r_max_y);
  } else if (inside == INSIDE_TILE) {
    reader->inside_tile(t_ll_x, t_ll_y, t_size);
  } else if (inside == INSIDE_CIRCLE) {
    reader->inside_circle(c_center_x, c_center_y, c_radius);
  }
  if (copc_query != COPC_QUERY_NONE) reader->inside_copc_depth(copc_query, copc_depth, copc_resolution);
}

bool LASreaderMerged::open_next_file() {
  const U32 count = (U32)file_names.size();
  if (inside != INSIDE_NONE) {
    while (file_name_current < count && misses_area(file_name_current)) file_name_current++;
  }
  if (file_name_current >= count) return false;
  const char* name = file_names[file_name_current].c_str();
  if (kind == LASreadOpener::INPUT_LAS) {
    file_reader->set_index(nullptr);
    file_reader->set_copcindex(nullptr);
  }
  // A file reader that was given a filter or transform before would apply
  // them to nothing but what this reader hands down again below.
  file_reader->set_filter(nullptr);
  file_reader->set_transform(nullptr);
  file_reader->inside_none();
  if (!open_file(file_name_current, false)) return false;
  file_open = true;
  attach_index(name);
  set_point_source(file_name_current);
  file_name_current++;
  hand_down();
  return true;
}

void LASreaderMerged::update_header_after_file() {
  if (kind == LASreadOpener::INPUT_BIN) {
    add_counts_and_box(file_reader->header, false);
  } else if (kind == LASreadOpener::INPUT_TXT && !populate_header) {
    add_counts_and_box(file_reader->header, true);
  }
}

bool LASreaderMerged::read_point_default() {
  if (!opened) return false;
  if (!file_open && (file_name_current != 0 || !open_next_file())) return false;
  while (!file_reader->read_point()) {
    update_header_after_file();
    file_reader->close(true);
    file_open = false;
    point.reset();
    if (!open_next_file()) return false;
  }
  point = file_reader->point;
  points_read++;
  return true;
}

bool LASreaderMerged::reopen() {
  if (!opened) return false;
  close(true);
  file_name_current = 0;
  points_read = 0;
  inside_none();
  if (filter) filter->reset();
  return true;
}
