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

#include "filters/lasfilter.hpp"
#include "transforms/lasoperation.hpp"

// ------------------------------------------------------------------ the list

LAStransform::~LAStransform() { clean(); }

void LAStransform::clean() {
  for (U32 i = 0; i < op_count; i++) delete op_list[i];
  free(op_list);
  op_list = nullptr;
  op_count = 0;
  op_capacity = 0;
  delete filter;
  filter = nullptr;
}

I32 LAStransform::unparse(std::string& text) const {
  const size_t start = text.size();
  if (filter) {
    filter->unparse(text);
    las_option_text(text, "-filtered_transform");
  }
  for (U32 i = 0; i < op_count; i++) op_list[i]->get_command(text);
  return (I32)(text.size() - start);
}

void LAStransform::add_operation(LASoperation* operation) {
  if (op_count == op_capacity) {
    // Grows by 16 so that typical command lines allocate once.
    LASoperation** grown = (LASoperation**)malloc_las(sizeof(LASoperation*) * ((U64)op_capacity + 16));
    if (grown == nullptr) {
      delete operation;
      return;
    }
    if (op_list) memcpy((void*)grown, op_list, sizeof(LASoperation*) * op_count);
    free(op_list);
    op_list = grown;
    op_capacity += 16;
  }
  op_list[op_count++] = operation;
}

void LAStransform::delete_operation(const char* name) {
  if (op_list == nullptr || name == nullptr) return;
  for (U32 i = 0; i < op_count; i++) {
    if (strcmp(op_list[i]->name(), name) != 0) continue;
    delete op_list[i];
    memmove((void*)(op_list + i), op_list + i + 1, sizeof(LASoperation*) * (op_count - i - 1));
    op_count--;
    return;
  }
}

void LAStransform::setFilter(LASfilter* filter) {
  if (this->filter != filter) delete this->filter;
  this->filter = filter;
  if (filter == nullptr) filtered_transform = false;
}

void LAStransform::setPointSource(U16 value) {
  delete_operation("set_point_source");
  add_operation(las_new_set_point_source(value));
}

void LAStransform::adjust_offset(LASreader*, const F64*) {}

void LAStransform::transform(LASpoint* point) {
  if (filter && filter->filter(point)) return;
  for (U32 i = 0; i < op_count; i++) op_list[i]->transform(point);
}

// The filter is reset too: a stateful criterion (a thinning) must choose the
// same points in every pass, or the second pass changes other points.
void LAStransform::reset() {
  for (U32 i = 0; i < op_count; i++) op_list[i]->reset();
  memset(registers, 0, sizeof(registers));
  if (filter) filter->reset();
}

void LAStransform::check_for_overflow() const {
  for (U32 i = 0; i < op_count; i++) {
    if (op_list[i]->overflow_count == 0) continue;
    std::string command;
    op_list[i]->get_command(command);
    LASMessage(WARNING, "total of  %lld overflows caused by '%s'", (long long)op_list[i]->overflow_count,
               command.c_str());
  }
}

F64 las_world_z_of_attribute(const LASpoint* point) { return point->scaling->get_z(point->get_Z()); }

// ------------------------------------------------------------------ families

// The operation families; a new family adds its own.
static LASoperationFamily (*const families[])() = {
    las_translate_scale_operations,
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

bool LAStransform::parse(const char* text) {
  LASoptionWords words(text);
  return parse(words.argc(), words.argv());
}

// ------------------------------------------------------------------ point source

namespace {

// Sets every point's source ID. The read opener puts one at the end of the
// list for each file it opens ("-faf", "-apply_file_source_ID").
class LASoperationSetPointSource : public LASoperation {
 public:
  explicit LASoperationSetPointSource(U16 psid) : psid(psid) {}
  const char* name() const override { return "set_point_source"; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_operation_text(text, name());
    las_option_text_d(text, psid);
    return las_operation_text_size(text, start);
  }
  F64* transform_coords_for_offset_adjustment(F64 x, F64 y, F64 z) override { return new F64[3]{x, y, z}; }
  void transform(LASpoint* point) override { point->point_source_ID = psid; }

 private:
  U16 psid;
};

}  // namespace

LASoperation* las_new_set_point_source(U16 psid) { return new LASoperationSetPointSource(psid); }
