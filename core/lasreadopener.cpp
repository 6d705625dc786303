// Read opener bookkeeping of input names.
#include "core/lasreadopener.hpp"

bool LASreadOpener::parse(int, char*[], bool, bool) { return true; }

void LASreadOpener::set_file_name(const char* file_name, bool) {
  if (file_name && file_name[0]) file_names.emplace_back(file_name);
}

const char* LASreadOpener::get_file_name() const {
  if (file_names.empty()) return nullptr;
  return file_names[file_name_current < file_names.size() ? file_name_current : file_names.size() - 1].c_str();
}

bool LASreadOpener::active() const { return file_name_current < file_names.size(); }
