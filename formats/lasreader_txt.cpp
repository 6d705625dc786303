// Text input: the settings are kept; reading is not supported yet (see the header).
#include "formats/lasreader_txt.hpp"

void LASreaderTXT::set_scale_factor(const F64* scale_factor) {
  has_scale_factor = scale_factor != nullptr;
  for (int i = 0; i < 3; i++) this->scale_factor[i] = scale_factor ? scale_factor[i] : 0.0;
}

void LASreaderTXT::set_offset(const F64* offset) {
  has_offset = offset != nullptr;
  for (int i = 0; i < 3; i++) this->offset[i] = offset ? offset[i] : 0.0;
}

bool LASreaderTXT::add_attribute(I32 data_type, const char* name, const char* description, F64 scale, F64 offset,
                                 F64 pre_scale, F64 pre_offset, F64 no_data) {
  attributes.push_back({data_type, name ? name : "", description ? description : "", scale, offset, pre_scale,
                        pre_offset, no_data});
  return true;
}

bool LASreaderTXT::open(const char*, U8, const char*, I32, bool) { return false; }

bool LASreaderTXT::open(FILE*, const char*, U8, const char*, I32, bool) { return false; }

bool LASreaderTXT::reopen(const char*) { return false; }
