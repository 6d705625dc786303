// One signed 32-bit extra-bytes attribute for a fixture file: the records get
// 4 extra bytes and the header the descriptor record that names them.
#pragma once

#include <string>

#include "support/las_fixture.hpp"

inline void add_i32_attribute(lasfix::LasFile& file, const std::string& name) {
  file.extra_bytes = 4;
  lasfix::ExtraBytesAttribute attribute;
  attribute.data_type = 6;  // i32
  attribute.name = name;
  file.vlrs.push_back({"LASF_Spec", 4, lasfix::extra_bytes_payload({attribute})});
}
