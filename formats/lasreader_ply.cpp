// PLY input: the settings are kept; reading is not supported yet (see the header).
#include "formats/lasreader_ply.hpp"

void LASreaderPLY::set_scale_factor(const F64* scale_factor) {
  has_scale_factor = scale_factor != nullptr;
  for (int i = 0; i < 3; i++) this->scale_factor[i] = scale_factor ? scale_factor[i] : 0.0;
}

void LASreaderPLY::set_offset(const F64* offset) {
  has_offset = offset != nullptr;
  for (int i = 0; i < 3; i++) this->offset[i] = offset ? offset[i] : 0.0;
}

bool LASreaderPLY::open(const char*, U8, bool) { return false; }

bool LASreaderPLY::open(FILE*, const char*, U8, bool) { return false; }
