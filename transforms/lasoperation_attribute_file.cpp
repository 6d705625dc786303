// Attribute operations that take their data from a text file named on the
// command line: colours looked up by an attribute's value in a colour map,
// and one value per point, in point order, loaded into an attribute. Neither
// moves a point, so under offset adjustment the point is only re-quantised.
#include <cerrno>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/lasutility.hpp"
#include "transforms/lasoperation.hpp"

namespace {

// Closes the text file it owns on every way out.
struct CloseFile {
  void operator()(FILE* file) const { fclose(file); }
};
using OwnedFile = std::unique_ptr<FILE, CloseFile>;

// One line of a text file, however long, so that the text behind what a line
// starts with never counts as a line of its own. False at the end of the file.
bool read_line(FILE* file, std::string& line) {
  line.clear();
  int c;
  while ((c = getc_unlocked(file)) != EOF) {
    if (c == '\n') return true;
    line += (char)c;
  }
  return !line.empty();
}

// An unsigned number as "%u" reads it (blanks, an optional sign, digits) that
// is at most 255; a negative one would wrap and is no such number.
bool scan_colour(const char*& p, U8& value) {
  while (isspace((unsigned char)*p)) p++;
  const bool negative = (*p == '-');
  char* end;
  errno = 0;
  const unsigned long long v = strtoull(p, &end, 10);
  if (end == p) return false;
  p = end;
  if (errno == ERANGE || v > 255 || (negative && v != 0)) return false;
  value = (U8)v;
  return true;
}

class LASoperationFromFile : public LASoperationValuesOnly {
 public:
  I32 get_command(std::string& text) const override {
    const size_t start = las_operation_text(text, name());
    las_option_text_d(text, index);
    append_quoted_option_value(text, file_name);
    return las_operation_text_size(text, start);
  }

 protected:
  LASoperationFromFile(U32 index, const char* file_name) : index(index), file_name(file_name) {}
  U32 index;              // the attribute
  std::string file_name;  // as typed
};

// ------------------------------------------------------------------ colour map

struct LASmapEntry {
  F64 value;
  U8 red, green, blue;
};

// The entries of a colour map file in file order: each line that starts with
// a value and three colours of at most 255; other lines are passed over.
// False when the file cannot be opened or read.
bool read_colour_map(const char* file_name, std::vector<LASmapEntry>& entries) {
  const OwnedFile file(LASfopen(file_name, "r"));
  if (file == nullptr) return false;
  std::string line;
  while (read_line(file.get(), line)) {
    const char* p = line.c_str();
    char* end;
    LASmapEntry entry;
    entry.value = strtod(p, &end);
    if (end == p) continue;
    p = end;
    if (scan_colour(p, entry.red) && scan_colour(p, entry.green) && scan_colour(p, entry.blue)) {
      entries.push_back(entry);
    }
  }
  return !ferror(file.get());
}

// Red, green and blue of the entry for the attribute's value: the first entry
// at or below its value, the last at or above its value, else the entry
// closest to it, the earlier one on a tie. An empty map changes nothing.
class LASoperationMapAttributeIntoRGB final : public LASoperationFromFile {
 public:
  LASoperationMapAttributeIntoRGB(U32 index, const char* file_name, std::vector<LASmapEntry> entries)
      : LASoperationFromFile(index, file_name), entries(std::move(entries)) {}
  const char* name() const override { return "map_attribute_into_RGB"; }
  U32 get_decompress_selective() const override { return LAS_SELECTIVE_EXTRA_BYTES; }
  void transform(LASpoint* point) override {
    requantise(point);
    if (entries.empty()) return;
    const LASmapEntry& entry = lookup(point->get_attribute_as_float(index));
    point->rgb[0] = entry.red;
    point->rgb[1] = entry.green;
    point->rgb[2] = entry.blue;
  }

 private:
  const LASmapEntry& lookup(F64 a) const {
    if (a <= entries.front().value) return entries.front();
    if (a >= entries.back().value) return entries.back();
    size_t best = 0;
    F64 distance = std::fabs(a - entries[0].value);
    for (size_t i = 1; i < entries.size(); i++) {
      const F64 d = std::fabs(a - entries[i].value);
      if (d < distance) {
        best = i;
        distance = d;
      }
    }
    return entries[best];
  }

  std::vector<LASmapEntry> entries;
};

// ------------------------------------------------------------------ value file

// The next value of the file goes into the attribute of each point that
// reaches the operation, also when the point has no such attribute; once the
// file is exhausted the points stay as they are. Every pass starts again at
// the first value, so every pass writes the same values to the same points.
class LASoperationLoadAttributeFromText final : public LASoperationFromFile {
 public:
  LASoperationLoadAttributeFromText(U32 index, const char* file_name)
      : LASoperationFromFile(index, file_name), file(LASfopen(file_name, "r")) {}

  const char* name() const override { return "load_attribute_from_text"; }
  void transform(LASpoint* point) override {
    requantise(point);
    F64 value;
    if (next_value(value)) store_attribute_value(point, index, value);
  }
  // The overflow count stays: the base's reset is not called.
  void reset() override {
    file.reset();
    file.reset(LASfopen(file_name.c_str(), "r"));
  }

 private:
  // The number the next line that starts with one starts with; closes the
  // file at its end.
  bool next_value(F64& value) {
    if (file == nullptr) return false;
    while (read_line(file.get(), line)) {
      char* end;
      value = strtod(line.c_str(), &end);
      if (end != line.c_str()) return true;
    }
    file.reset();
    return false;
  }

  OwnedFile file;
  std::string line;  // kept, so that a point's line needs no new memory
};

// ------------------------------------------------------------------ options

LASoptionResult add_map_attribute(LAStransformParse& parse, const LASoptionCall& call) {
  // The map is read once, into a table that grows with it.
  std::vector<LASmapEntry> entries;
  if (!read_colour_map(call.values[1].text, entries)) {
    laserror("'%s' needs text file with map but '%s' cannot be opened", call.typed, call.values[1].text);
    return LASoptionResult::FAILED;
  }
  parse.add(new LASoperationMapAttributeIntoRGB(call.values[0].u32, call.values[1].text, std::move(entries)));
  return LASoptionResult::TAKEN;
}

LASoptionResult add_load_attribute(LAStransformParse& parse, const LASoptionCall& call) {
  if (!OwnedFile(LASfopen(call.values[1].text, "r"))) {
    laserror("'%s' needs text file with attribute values but '%s' cannot be opened", call.typed,
             call.values[1].text);
    return LASoptionResult::FAILED;
  }
  parse.add(new LASoperationLoadAttributeFromText(call.values[0].u32, call.values[1].text));
  return LASoptionResult::TAKEN;
}

const LASoperationOption options[] = {
    {{"-map_attribute_into_RGB", "attribute_index map_file_name.txt", 2, "%u %s"}, add_map_attribute},
    {{"-load_attribute_from_text", "attribute_index attribute_file_name.txt", 2, "%u %s"}, add_load_attribute},
};

const LASoperationUsage usage[] = {
    {13, 5, "-map_attribute_into_RGB 0 map_height_to_RGB.txt"},
};

}  // namespace

LASoperationFamily las_attribute_file_operations() { return {options, usage}; }
