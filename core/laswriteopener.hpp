// The write opener: the output options and the writer it builds from them.
// For now only the opener's output name exists: it parses no options yet.
#pragma once

#include <string>

#include "core/mydefs.hpp"

class LASwriteOpener {
 public:
  // Takes the output options among the arguments; none are known yet.
  bool parse(int argc, char* argv[]);
  void set_file_name(const char* file_name);
  const char* get_file_name() const { return file_name.empty() ? nullptr : file_name.c_str(); }
  bool is_piped() const { return false; }

 private:
  std::string file_name;
};
