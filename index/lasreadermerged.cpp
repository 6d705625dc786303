// The merged reader's settings and file list; merging itself is not built yet.
#include "index/lasreadermerged.hpp"

void LASreaderMerged::set_scale_factor(const F64* scale_factor) {
  has_scale_factor = scale_factor != nullptr;
  for (int i = 0; i < 3; i++) this->scale_factor[i] = scale_factor ? scale_factor[i] : 0.0;
}

void LASreaderMerged::set_offset(const F64* offset) {
  has_offset = offset != nullptr;
  for (int i = 0; i < 3; i++) this->offset[i] = offset ? offset[i] : 0.0;
}

bool LASreaderMerged::add_file_name(const char* file_name) { return add_file_name(file_name, 0); }

bool LASreaderMerged::add_file_name(const char* file_name, U32 ID) {
  if (file_name == nullptr) return false;
  file_names.push_back(file_name);
  file_IDs.push_back(ID);
  return true;
}

bool LASreaderMerged::open() { return false; }

bool LASreaderMerged::reopen() { return false; }
