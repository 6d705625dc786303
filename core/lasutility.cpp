// The point inventory, the file-identity test and option text.
#include "core/lasutility.hpp"

#include <sys/stat.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/lasheader.hpp"
#include "core/laspoint.hpp"

bool LASinventory::add(const LASpoint* point) {
  number_of_point_records++;
  if (point->get_extended_layout())
    number_of_points_by_return[point->get_extended_return_number()]++;
  else
    number_of_points_by_return[point->get_return_number()]++;
  const I32 X = point->get_X();
  const I32 Y = point->get_Y();
  const I32 Z = point->get_Z();
  if (first) {
    min_X = max_X = X;
    min_Y = max_Y = Y;
    min_Z = max_Z = Z;
    if (point->has_gps_time) min_gps_time = max_gps_time = point->gps_time;
    first = false;
    return true;
  }
  if (X < min_X)
    min_X = X;
  else if (X > max_X)
    max_X = X;
  if (Y < min_Y)
    min_Y = Y;
  else if (Y > max_Y)
    max_Y = Y;
  if (Z < min_Z)
    min_Z = Z;
  else if (Z > max_Z)
    max_Z = Z;
  if (point->has_gps_time) {
    if (point->gps_time < min_gps_time)
      min_gps_time = point->gps_time;
    else if (point->gps_time > max_gps_time)
      max_gps_time = point->gps_time;
  }
  return true;
}

bool LASinventory::update_header(LASheader* header) const {
  if (header == nullptr) return false;
  const bool las_1_4_or_later = header->version_major > 1 || header->version_minor >= 4;
  // Every count that needs more than 32 bits: older headers cannot hold it;
  // from 1.4 on the legacy field holds 0 and the extended one the count. No
  // return count exceeds the total, so checking the total first is enough to
  // leave an older header untouched.
  if (number_of_point_records > (I64)U32_MAX && !las_1_4_or_later) return false;
  header->number_of_point_records = (number_of_point_records > (I64)U32_MAX) ? 0 : (U32)number_of_point_records;
  for (int r = 1; r <= 5; r++) {
    const I64 count = number_of_points_by_return[r];
    header->number_of_points_by_return[r - 1] = (count > (I64)U32_MAX) ? 0 : (U32)count;
  }
  header->max_x = header->get_x(max_X);
  header->min_x = header->get_x(min_X);
  header->max_y = header->get_y(max_Y);
  header->min_y = header->get_y(min_Y);
  header->max_z = header->get_z(max_Z);
  header->min_z = header->get_z(min_Z);
  header->max_gps_time = max_gps_time;
  header->min_gps_time = min_gps_time;
  header->extended_number_of_point_records = (U64)number_of_point_records;
  for (int r = 1; r <= 15; r++) header->extended_number_of_points_by_return[r - 1] = (U64)number_of_points_by_return[r];
  return true;
}

bool las_same_file(const char* name1, const char* name2) {
  if (name1 == nullptr || name2 == nullptr) return false;
  if (strcmp(name1, name2) == 0) return true;
  struct stat s1, s2;
  if (stat(name1, &s1) != 0 || stat(name2, &s2) != 0) return false;
  return s1.st_dev == s2.st_dev && s1.st_ino == s2.st_ino;
}

void append_quoted_option_value(std::string& text, const std::string& value) {
  text += '"';
  for (char c : value) {
    if (c == '"' || c == '\\') text += '\\';
    text += c;
  }
  text += "\" ";
}

std::vector<std::string> split_option_text(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false, in_double = false, in_single = false;
  for (size_t i = 0; i < text.size(); i++) {
    const char c = text[i];
    if (in_double) {
      if (c == '"') {
        in_double = false;
      } else if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\\')) {
        word += text[++i];
      } else {
        word += c;
      }
    } else if (c == '"') {
      // Inside single quotes a double quote opens nothing but is still dropped.
      in_double = !in_single;
      in_word = true;
    } else if (c == ' ' && !in_single) {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
    } else {
      if (c == '\'') in_single = !in_single;
      word += c;
      in_word = true;
    }
  }
  if (in_word) words.push_back(word);
  return words;
}

std::string option_text_f64(F64 value, const char* format) {
  char buffer[512];
  snprintf(buffer, sizeof(buffer), format, value);
  if (strtod(buffer, nullptr) == value) return buffer;
  const std::to_chars_result result = std::to_chars(buffer, buffer + sizeof(buffer), value);
  return std::string(buffer, result.ptr);
}

// Parsers read a float either directly ("%f") or as a double they narrow;
// the text must give the same float both ways.
static bool reads_back(const char* text, F32 value) {
  return strtof(text, nullptr) == value && (F32)strtod(text, nullptr) == value;
}

std::string option_text_f32(F32 value, const char* format) {
  char buffer[512];
  snprintf(buffer, sizeof(buffer), format, (F64)value);
  if (reads_back(buffer, value)) return buffer;
  std::to_chars_result result = std::to_chars(buffer, buffer + sizeof(buffer) - 1, value);
  *result.ptr = '\0';
  if (reads_back(buffer, value)) return std::string(buffer, result.ptr);
  // Nine significant digits name every float exactly.
  snprintf(buffer, sizeof(buffer), "%.9g", (F64)value);
  return buffer;
}
