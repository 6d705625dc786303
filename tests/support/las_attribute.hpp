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

// `count` varied points of a format (in a LAS 1.3 file, 1.4 from format 6)
// with a record of the input's own and, when asked, the attribute "value",
// which holds each point's index modulo 13.
inline lasfix::LasFile varied_file(uint8_t format, uint32_t count, bool attribute) {
  lasfix::LasFile f;
  f.header.version_minor = format >= 6 ? 4 : 3;
  f.header.point_data_format = format;
  f.vlrs.push_back({"someone", 7, "kept as it is"});
  if (attribute) add_i32_attribute(f, "value");
  for (uint32_t i = 0; i < count; i++) {
    lasfix::Point p = lasfix::varied_point(format, i, f.extra_bytes);
    if (attribute) {
      const int32_t value = (int32_t)(i % 13);
      p.extra_bytes.assign((const char*)&value, 4);
    }
    f.points.push_back(p);
  }
  return f;
}
