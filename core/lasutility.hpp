// Small helpers around point files that several parts share: the inventory a
// writer keeps of the points it wrote, so that the header can be corrected
// without a second pass, and the file-identity test that keeps an output from
// landing on an input. Also the form of option text, in which parsers hand
// their settings to child processes.
#pragma once

#include <string>
#include <vector>

#include "core/mydefs.hpp"

class LASpoint;
class LASheader;

// Counts by return number, raw coordinate ranges and GPS-time range of the
// points added so far.
class LASinventory {
 public:
  I64 number_of_point_records = 0;
  I64 number_of_points_by_return[16] = {};
  I32 max_X = 0;
  I32 min_X = 0;
  I32 max_Y = 0;
  I32 min_Y = 0;
  I32 max_Z = 0;
  I32 min_Z = 0;
  F64 max_gps_time = 0.0;
  F64 min_gps_time = 0.0;
  bool first = true;

  // Runs once per written point: a few comparisons, no allocation.
  bool add(const LASpoint* point);
  // Counts, bounding box (raw bounds scaled by the header's own scaling) and
  // GPS range into the header. False for a null header, or, leaving it
  // unchanged, for counts above 32 bits in a header older than 1.4.
  bool update_header(LASheader* header) const;
};

// True when the two names are byte for byte equal or name the same existing
// file (same device and inode), so "./a.las", "a.las" and a hard link all
// count as one file.
bool las_same_file(const char* name1, const char* name2);

// Option text is a sequence of words, each followed by one blank. A value that
// may hold blanks or quotes (a name, a parse string) is written in double
// quotes, inside which \" and \\ stand for a quote and a backslash, so that
// any value reads back unchanged. Appends the quoted value and its blank.
void append_quoted_option_value(std::string& text, const std::string& value);
// The words of option text. A word ends at a blank outside quotes; double
// quotes are removed (with the two escapes inside them); single quotes protect
// blanks and are kept; runs of blanks separate like one, and "" is an empty word.
std::vector<std::string> split_option_text(const std::string& text);
// A number for option text that reads back to the same value: the given
// printf format (of the value widened to double) when it does, else the
// shortest exact digits, so that 1e-7 is not written as 0.000000.
std::string option_text_f64(F64 value, const char* format = "%lf");
std::string option_text_f32(F32 value, const char* format = "%g");
