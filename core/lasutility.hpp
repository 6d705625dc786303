// Small helpers around point files that several parts share: the inventory a
// writer keeps of the points it wrote, so that the header can be corrected
// without a second pass; the file-identity tests that keep an output from
// landing on an input; the named output that is written whole or not at all.
// Also the form of option text, in which parsers hand their settings to child
// processes, and an owner that closes the reader or writer it gives up.
#pragma once

#include <map>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "core/mydefs.hpp"

class LASpoint;
class LASheader;
class LASreader;
class LASwriter;

// Gives up a reader or writer the way each must be given up, whichever exit
// path lets it go: its file ended (the input closed with its stream, the
// output finished and patched), then deleted.
struct LAScloseThenDelete {
  void operator()(LASreader* reader) const;
  void operator()(LASwriter* writer) const;
};
template <class T>
using LASclosing = std::unique_ptr<T, LAScloseThenDelete>;
using LASreaderOwner = LASclosing<LASreader>;

// Appends an object to a list of owned ones that grows 16 entries at a time,
// so that the lists of typical command lines allocate once. When memory runs
// out the object is released and the list stays as it was.
template <class T>
void las_append_owned(std::vector<std::unique_ptr<T>>& list, std::unique_ptr<T> object) {
  if (list.size() == list.capacity()) {
    try {
      list.reserve(list.capacity() + 16);
    } catch (const std::bad_alloc&) {
      return;
    }
  }
  list.push_back(std::move(object));
}

// Where the inventory finds what it keeps in point records as they lie in a
// file: X, Y, Z at 0, 4 and 8 and the return number in the low bits of 14 in
// every format, 3 bits of them in the legacy formats and 4 in the extended
// ones; the GPS time where the format has one (-1: none).
struct LASrecordFields {
  U32 record_length = 0;
  bool extended_returns = false;
  I32 gps_time_at = -1;
};

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
  // The same for `count` consecutive little-endian records, as add of the
  // points a reader makes of them.
  void add_records(const U8* records, U32 count, const LASrecordFields& fields);
  // Counts, bounding box (raw bounds scaled by the header's own scaling) and
  // GPS range into the header. False for a null header, or, leaving it
  // unchanged, for counts above 32 bits in a header older than 1.4.
  bool update_header(LASheader* header) const;

 private:
  // What add and add_records take of one point.
  void add_values(U32 return_number, I32 X, I32 Y, I32 Z, bool has_gps_time, F64 gps_time);
};

// True when the two names are byte for byte equal or name the same existing
// file (same device and inode), so "./a.las", "a.las" and a hard link all
// count as one file.
bool las_same_file(const char* name1, const char* name2);

// True when the name is a pipe (or socket): what is read from it is gone, so
// it cannot be opened a second time for another pass.
bool las_is_pipe(const char* name);

// True when an output of that name is a regular file or does not exist yet:
// such an output is written through a temporary file and can be corrected in
// place. A pipe or a device is written directly and never patched.
bool las_is_file_output(const char* name);

// Names of files, found again by the same name or as the same existing file
// (a link or another spelling of the path), each with a note of the caller's
// (for an output, the input it came from). The identity of an existing file
// is taken when it is added.
class LASfileSet {
 public:
  void add(const std::string& name, const std::string& note = "");
  // The name under which a file of the set was added, or null; `note` then
  // points to its note.
  const char* find(const char* name, const char** note = nullptr) const;
  bool empty() const { return notes.empty(); }

 private:
  std::map<std::string, std::string> notes;                  // name -> note
  std::map<std::pair<U64, U64>, std::string> identities;  // device and inode -> name
};

// A named output written whole or not at all. A regular file, or a name that
// is not there yet, is written to a temporary file in the same directory
// (that of the file a link names), which commit renames over the name only
// when it is complete; until then an early end of the run removes it (see
// las_remove_at_exit), so an existing file is never cut short and a partial
// file never carries the name. A pipe or a device is written directly.
class LASoutputFile {
 public:
  LASoutputFile() = default;
  ~LASoutputFile() { discard(); }
  LASoutputFile(const LASoutputFile&) = delete;
  LASoutputFile& operator=(const LASoutputFile&) = delete;

  // The file to write to ("wb"); null when it cannot be created.
  FILE* open(const char* name);
  // Closes the file: false when bytes did not reach it.
  bool close();
  // After close: the temporary file takes the name. False when it cannot;
  // the temporary file is then removed.
  bool commit();
  // Closes the file and removes the temporary one; a direct output stays as
  // far as it was written.
  void discard();

  FILE* get_file() const { return file; }
  // The name written to until commit (the name itself for direct output).
  const char* get_writing_name() const { return temporary.empty() ? target.c_str() : temporary.c_str(); }
  const char* get_name() const { return target.c_str(); }

 private:
  FILE* file = nullptr;
  std::string target;
  std::string temporary;  // empty for direct output
};

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
