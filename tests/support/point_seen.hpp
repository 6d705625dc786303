// What a reader hands out, field by field: every field a reader fills, legacy
// and extended, as the point holds it, so that two readers' points can be
// compared whole.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "core/lasreader.hpp"

namespace testpoints {

struct Seen {
  I32 X, Y, Z;
  U16 intensity;
  U8 return_byte, class_byte;
  I8 scan_angle_rank;
  U8 user_data;
  U16 point_source_ID;
  I16 extended_scan_angle;
  U8 extended_flags_byte, extended_classification, extended_return_byte;
  F64 gps_time;
  U16 rgb[4];
  std::string wave_packet, extra_bytes;
  bool operator==(const Seen&) const = default;
};

inline void PrintTo(const Seen& s, std::ostream* os) {
  *os << "X " << s.X << " Y " << s.Y << " Z " << s.Z << " intensity " << s.intensity << " returns "
      << (int)s.return_byte << " class " << (int)s.class_byte << " rank " << (int)s.scan_angle_rank << " ext "
      << (int)s.extended_return_byte << "/" << (int)s.extended_classification << "/" << (int)s.extended_flags_byte
      << "/" << s.extended_scan_angle;
}

inline Seen seen(const LASpoint& p) {
  return {p.X,
          p.Y,
          p.Z,
          p.intensity,
          p.return_byte,
          p.class_byte,
          p.scan_angle_rank,
          p.user_data,
          p.point_source_ID,
          p.extended_scan_angle,
          p.extended_flags_byte,
          p.extended_classification,
          p.extended_return_byte,
          p.gps_time,
          {p.rgb[0], p.rgb[1], p.rgb[2], p.rgb[3]},
          std::string((const char*)p.wave_packet.data, sizeof(p.wave_packet.data)),
          std::string((const char*)p.extra_bytes, (size_t)p.extra_bytes_count)};
}

// Every point the reader still delivers.
inline std::vector<Seen> read_all(LASreader& reader) {
  std::vector<Seen> points;
  while (reader.read_point()) points.push_back(seen(reader.point));
  return points;
}

}  // namespace testpoints
