// The read opener: the input options and the readers it builds from them.
// For now only the opener's bookkeeping of input names exists: it parses no
// options yet and opens nothing.
#pragma once

#include <string>
#include <vector>

#include "core/mydefs.hpp"

class LASreadOpener {
 public:
  // Takes the input options among the arguments; none are known yet.
  bool parse(int argc, char* argv[], bool parse_ignore = false, bool suppress_ignore = false);
  void set_file_name(const char* file_name, bool unique = false);
  const char* get_file_name() const;
  U32 get_file_name_number() const { return (U32)file_names.size(); }
  bool active() const;
  bool is_piped() const { return false; }
  bool is_stdin() const { return false; }
  bool is_buffered() const { return false; }
  bool is_merged() const { return false; }
  bool is_inside() const { return false; }

 private:
  std::vector<std::string> file_names;
  size_t file_name_current = 0;
};
