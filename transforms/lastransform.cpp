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
    las_classification_operations,
    las_classify_operations,
    las_flag_operations,
    las_return_operations,
    las_user_data_operations,
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
