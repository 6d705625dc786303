// The buffered reader's settings and neighbour list; buffering itself is not
// built yet.
#include "index/lasreaderbuffered.hpp"

void LASreaderBuffered::set_scale_factor(const F64* scale_factor) {
  has_scale_factor = scale_factor != nullptr;
  for (int i = 0; i < 3; i++) this->scale_factor[i] = scale_factor ? scale_factor[i] : 0.0;
}

void LASreaderBuffered::set_offset(const F64* offset) {
  has_offset = offset != nullptr;
  for (int i = 0; i < 3; i++) this->offset[i] = offset ? offset[i] : 0.0;
}

bool LASreaderBuffered::add_neighbor_file_name(const char* file_name) {
  if (file_name == nullptr) return false;
  neighbor_file_names.push_back(file_name);
  return true;
}

bool LASreaderBuffered::open() { return false; }

bool LASreaderBuffered::reopen() { return false; }
