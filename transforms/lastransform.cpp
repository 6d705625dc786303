// The transform's list of operations, its option parser (the walk over the
// arguments, "-filtered_transform", the family tables), its help text and
// the overflow report.
#include "transforms/lastransform.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <span>
#include <vector>

#include "core/lasutility.hpp"
#include "core/lasreader.hpp"
#include "core/lasreadopener.hpp"
#include "filters/lasfilter.hpp"
#include "transforms/lasoperation.hpp"

// ------------------------------------------------------------------ the list

LAStransform::LAStransform() = default;
// The operations go before the filter, as in clean.
LAStransform::~LAStransform() { clean(); }

void LAStransform::clean() {
  // Swapped out, so that the capacity goes too.
  std::vector<std::unique_ptr<LASoperation>>().swap(op_list);
  op_count = 0;
  filter.reset();
  offsets_adjusted = false;
}

I32 LAStransform::unparse(std::string& text) const {
  const size_t start = text.size();
  if (filter) {
    filter->unparse(text);
    las_option_text(text, "-filtered_transform");
  }
  for (const std::unique_ptr<LASoperation>& op : op_list) op->get_command(text);
  return (I32)(text.size() - start);
}

void LAStransform::add_operation(LASoperation* operation) {
  // Owned from here on, also when the list cannot take it.
  las_append_owned(op_list, std::unique_ptr<LASoperation>(operation));
  op_count = (U32)op_list.size();
}

void LAStransform::delete_operation(const char* name) {
  if (name == nullptr) return;
  for (auto op = op_list.begin(); op != op_list.end(); ++op) {
    if (strcmp((*op)->name(), name) != 0) continue;
    op_list.erase(op);
    op_count = (U32)op_list.size();
    return;
  }
}

void LAStransform::setFilter(LASfilter* filter) {
  if (this->filter.get() != filter) this->filter.reset(filter);
  if (filter == nullptr) filtered_transform = false;
}

void LAStransform::setPointSource(U16 value) {
  delete_operation("set_point_source");
  add_operation(las_new_set_point_source(value));
}

// ------------------------------------------------------------------ offset adjustment

// A raw z limited to 32 bits the way an attribute standing in for z is.
static I32 clamped_raw_z(I64 q) {
  if (q < -2147483647) return I32_MIN;
  if (q > 2147483646) return I32_MAX;
  return (I32)q;
}

I32 LASoperation::get_Z(const LASpoint* point) const {
  const I32 raw = point->get_Z();
  if (!offset_adjust || point->scaling == nullptr || point->scaling->z_from_attribute < 0) return raw;
  // The attribute was quantised with the point's z, which after the adjustment
  // is the target's; the operation reads in its source quantisation.
  const F64 w = raw * target_scale[2] + target_offset[2];
  return clamped_raw_z(las_quantize(w, source_offset[2], source_scale[2]));
}

void LASoperation::write_transformed_values_with_adjust_offset(F64 x, F64 y, F64 z, LASpoint* point) {
  const F64 w[3] = {x, y, z};
  I32* raw[3] = {&point->X, &point->Y, &point->Z};
  for (int a = 0; a < 3; a++) {
    const I64 n = las_quantize(w[a], target_offset[a], target_scale[a]);
    if (bbox_header) {
      F64* min[3] = {&bbox_header->min_x, &bbox_header->min_y, &bbox_header->min_z};
      F64* max[3] = {&bbox_header->max_x, &bbox_header->max_y, &bbox_header->max_z};
      if (w[a] < *min[a]) {
        *min[a] = w[a];
      } else if (w[a] > *max[a]) {
        *max[a] = w[a];
      }
    }
    if (las_fits_i32(n)) {
      *raw[a] = (I32)n;
    } else {
      overflow_count++;
    }
  }
}

void LASoperation::set_offset_adjust_coord_without_trafo_changes(LASpoint* point) {
  write_transformed_values_with_adjust_offset(point->X * source_scale[0] + source_offset[0],
                                              point->Y * source_scale[1] + source_offset[1],
                                              get_Z(point) * source_scale[2] + source_offset[2], point);
}

// Corner coordinates beyond this are no basis for an offset.
static bool usable_corner(F64 v) { return v > -2e307 && v < 2e307; }

namespace {
// The walk of "-offset_adjust" through the operations: the bounding box as
// the operations before moved it, and the offsets they chose.
struct OffsetWalk {
  F64 lo[3];
  F64 hi[3];
  F64 running[3] = {0.0, 0.0, 0.0};
  F64 chosen[3] = {0.0, 0.0, 0.0};
};
}  // namespace

// Moves the box through the operation and chooses offsets for the moved box;
// an operation that refuses leaves box and choice as they were.
static void move_box(LASoperation* op, OffsetWalk& walk, const F64 header_scale[3]) {
  const std::unique_ptr<F64[]> low(op->transform_coords_for_offset_adjustment(walk.lo[0], walk.lo[1], walk.lo[2]));
  const std::unique_ptr<F64[]> high(op->transform_coords_for_offset_adjustment(walk.hi[0], walk.hi[1], walk.hi[2]));
  if (!low || !high) return;
  for (int a = 0; a < 3; a++) {
    walk.chosen[a] = 0.0;
    if (usable_corner(low[a]) && usable_corner(high[a])) {
      // The middle in scale units, cut toward zero to a multiple of 1e7 units.
      const I64 tens = las_f64_to_i64((low[a] + high[a]) / header_scale[a] / 2e7);
      walk.chosen[a] = (F64)tens * 10000000 * header_scale[a];
    }
    walk.lo[a] = low[a];
    walk.hi[a] = high[a];
  }
}

void LAStransform::adjust_offset(LASreader* reader, const F64* scale_factor) {
  if (op_list.empty() || reader == nullptr) return;
  LASheader& h = reader->header;
  const F64 header_scale[3] = {h.x_scale_factor, h.y_scale_factor, h.z_scale_factor};
  const F64 header_offset[3] = {h.x_offset, h.y_offset, h.z_offset};
  scaling_as_read = h;
  offsets_adjusted = true;
  OffsetWalk walk = {{h.min_x, h.min_y, h.min_z}, {h.max_x, h.max_y, h.max_z}};
  // A flat box cannot be moved corner by corner: the points widen it instead.
  const bool flat = h.max_x == h.min_x || h.max_y == h.min_y || h.max_z == h.min_z;
  for (size_t i = 0; i < op_list.size(); i++) {
    LASoperation* op = op_list[i].get();
    for (int a = 0; a < 3; a++) {
      op->source_offset[a] = (i == 0) ? header_offset[a] : walk.running[a];
      op->source_scale[a] = (i == 0) ? header_scale[a] : op_list[i - 1]->target_scale[a];
    }
    move_box(op, walk, header_scale);
    for (int a = 0; a < 3; a++) {
      if (walk.chosen[a] != 0.0) {
        walk.running[a] = walk.chosen[a];
      } else if (i == 0) {
        walk.running[a] = header_offset[a];
      }
      op->target_offset[a] = walk.running[a];
      if (scale_factor) {
        op->target_scale[a] = scale_factor[a] != 0.0 ? scale_factor[a] : op->source_scale[a];
      } else {
        op->target_scale[a] = header_scale[a] != 0.0 ? header_scale[a] : op->source_scale[a];
      }
    }
    op->offset_adjust = true;
    // Set afresh for every file: a header of a file read before is gone.
    op->bbox_header = flat ? &h : nullptr;
    LASMessage(VERBOSE,
               "Offset_adjust: Sets the adjusted offset for the operation '%s' to the values x_offset: %.0lf, "
               "y_offset: %.0lf, z_offset: %.0lf",
               op->name(), walk.running[0], walk.running[1], walk.running[2]);
  }
  if (reader->opener == nullptr) return;
  reader->opener->set_offset(walk.running);
  h.x_offset = walk.running[0];
  h.y_offset = walk.running[1];
  h.z_offset = walk.running[2];
  h.min_x = walk.lo[0];
  h.min_y = walk.lo[1];
  h.min_z = walk.lo[2];
  h.max_x = walk.hi[0];
  h.max_y = walk.hi[1];
  h.max_z = walk.hi[2];
  if (scale_factor) {
    reader->opener->set_scale_factor(scale_factor);
    const LASoperation* last = op_list.back().get();
    h.x_scale_factor = last->target_scale[0];
    h.y_scale_factor = last->target_scale[1];
    h.z_scale_factor = last->target_scale[2];
  }
}

void LAStransform::transform(LASpoint* point) {
  if (filter) {
    const LASscaling* own = point->scaling;
    if (offsets_adjusted) point->scaling = &scaling_as_read;
    const bool unchanged = filter->filter(point);
    point->scaling = own;
    if (unchanged) {
      if (offsets_adjusted && !op_list.empty()) keep_in_adjusted_offsets(point);
      return;
    }
  }
  for (const std::unique_ptr<LASoperation>& op : op_list) op->transform(point);
}

// From the quantisation the first operation reads to the one the last writes.
void LAStransform::keep_in_adjusted_offsets(LASpoint* point) {
  const LASoperation* first = op_list.front().get();
  op_list.back()->write_transformed_values_with_adjust_offset(
      point->X * first->source_scale[0] + first->source_offset[0],
      point->Y * first->source_scale[1] + first->source_offset[1],
      first->get_Z(point) * first->source_scale[2] + first->source_offset[2], point);
}

// The filter is reset too: a stateful criterion (a thinning) must choose the
// same points in every pass, or the second pass changes other points.
void LAStransform::reset() {
  for (const std::unique_ptr<LASoperation>& op : op_list) op->reset();
  memset(registers, 0, sizeof(registers));
  if (filter) filter->reset();
}

void LAStransform::check_for_overflow() const {
  for (const std::unique_ptr<LASoperation>& op : op_list) {
    if (op->overflow_count == 0) continue;
    std::string command;
    op->get_command(command);
    LASMessage(WARNING, "total of  %lld overflows caused by '%s'", (long long)op->overflow_count, command.c_str());
  }
}

F64 las_world_z_of_attribute(const LASpoint* point) { return point->scaling->get_z(point->get_Z()); }

// ------------------------------------------------------------------ families

// The operation families; a new family adds its own.
static LASoperationFamily (*const families[])() = {
    las_translate_scale_operations,
    las_classification_operations,
    las_classify_operations,
    las_flag_operations,
    las_return_operations,
    las_user_data_operations,
    las_geometry_operations,
    las_clamp_operations,
    las_raw_operations,
    las_attribute_operations,
    las_coordinate_copy_operations,
    las_register_operations,
    las_attribute_file_operations,
    las_intensity_operations,
    las_color_operations,
    las_angle_time_operations,
};

// ------------------------------------------------------------------ help

// The headings of the help sections, in order; a section shows when a family
// has a line in it.
static const char* const usage_headings[] = {
    "Transform coordinates.",
    "Transform raw xyz integers.",
    "Transform intensity.",
    "Transform scan_angle.",
    "Change the return number or return count of points.",
    "Modify the classification.",
    "Change the flags.",
    "Modify the extended scanner channel.",
    "Modify the user data.",
    "Modify the point source ID.",
    "Transform gps_time.",
    "Transform RGB/NIR colors.",
    "Transform attributes in \"Extra Bytes\".",
    "Transform using \"registers\".",
};

void LAStransform::usage() const {
  std::vector<LASoperationUsage> lines;
  for (auto family : families) {
    for (const LASoperationUsage& line : family().usage) lines.push_back(line);
  }
  std::stable_sort(lines.begin(), lines.end(), [](const LASoperationUsage& a, const LASoperationUsage& b) {
    return a.section != b.section ? a.section < b.section : a.place < b.place;
  });
  std::string text;
  U8 section = 0;
  for (const LASoperationUsage& line : lines) {
    if (line.section != section) {
      section = line.section;
      if (section >= 1 && section <= std::size(usage_headings)) text += usage_headings[section - 1];
      text += '\n';
    }
    text += "  ";
    text += line.line;
    text += '\n';
  }
  LASMessage(INFO, "%s", text.c_str());
}

// ------------------------------------------------------------------ parsing

// The row of a transform option among the families' tables.
static const LASoperationOption* find_option(const char* word) {
  std::span<const LASoperationOption> tables[std::size(families)];
  for (size_t i = 0; i < std::size(families); i++) tables[i] = families[i]().options;
  return las_find_option_among<LAStransformParse>(tables, word);
}

bool LAStransform::parse(int argc, char* argv[]) {
  LAStransformParse parse(*this);
  for (int i = 1; i < argc; i++) {
    const char* word = argv[i];
    if (word[0] == '\0') continue;
    if (strcmp(word, "-h") == 0 || strcmp(word, "-help") == 0) return true;
    if (strcmp(word, "-hh") == 0) {
      usage();
      return true;
    }
    if (strcmp(word, "-filtered_transform") == 0) {
      filtered_transform = true;
      las_blank_arguments(argv, i, i);
      continue;
    }
    const LASoperationOption* row = find_option(word);
    if (row == nullptr) continue;  // another parser's, or nobody's: the tool reports it
    if (las_run_option(*row, parse, i, argc, argv) == LASoptionResult::FAILED) return false;
  }
  return true;
}

// Quoted values (file names of the map options) come back without their
// quotes, as the command lines of child processes are split.
bool LAStransform::parse(const char* text) {
  std::vector<std::string> words = split_option_text(text ? text : "");
  static char program[] = "";
  std::vector<char*> argv = {program};
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  return parse((int)argv.size() - 1, argv.data());
}
