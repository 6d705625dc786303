// The header check against the points, shared by the tests of whole runs.
#include "support/header_scan.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <string>

void expect_header_matches_points(const lasfix::Parsed& out) {
  using lasfix::Point;
  const lasfix::Header& h = out.header;
  const uint64_t n = out.points.size();
  const bool extended = (h.point_data_format & 0x3F) >= 6;
  EXPECT_EQ(out.point_count(), n);
  if (h.version_minor >= 4) {
    EXPECT_EQ(*h.extended_number_of_point_records, n);
  }
  std::array<uint64_t, 16> by_return{};
  for (const Point& p : out.points) by_return[p.return_number & (extended ? 15 : 7)]++;
  // Point formats 6 to 10 leave the legacy counts at 0 where the extended
  // counts carry the points; before LAS 1.4 only the legacy counts can.
  const bool legacy_zero = extended && h.version_minor >= 4;
  if (legacy_zero) {
    EXPECT_EQ(*h.number_of_point_records, 0u);
  } else {
    EXPECT_EQ(*h.number_of_point_records, n);
  }
  for (int r = 1; r <= 5; r++) {
    SCOPED_TRACE("return " + std::to_string(r));
    EXPECT_EQ((*h.number_of_points_by_return)[r - 1], legacy_zero ? 0 : by_return[r]);
  }
  if (h.version_minor >= 4) {
    for (int r = 1; r <= 15; r++) EXPECT_EQ((*h.extended_number_of_points_by_return)[r - 1], by_return[r]);
  }
  if (n == 0) return;
  int32_t lo[3] = {INT32_MAX, INT32_MAX, INT32_MAX}, hi[3] = {INT32_MIN, INT32_MIN, INT32_MIN};
  for (const Point& p : out.points) {
    const int32_t v[3] = {p.X, p.Y, p.Z};
    for (int a = 0; a < 3; a++) {
      lo[a] = std::min(lo[a], v[a]);
      hi[a] = std::max(hi[a], v[a]);
    }
  }
  EXPECT_EQ(*h.min_x, lo[0] * h.x_scale_factor + h.x_offset);
  EXPECT_EQ(*h.max_x, hi[0] * h.x_scale_factor + h.x_offset);
  EXPECT_EQ(*h.min_y, lo[1] * h.y_scale_factor + h.y_offset);
  EXPECT_EQ(*h.max_y, hi[1] * h.y_scale_factor + h.y_offset);
  EXPECT_EQ(*h.min_z, lo[2] * h.z_scale_factor + h.z_offset);
  EXPECT_EQ(*h.max_z, hi[2] * h.z_scale_factor + h.z_offset);
}
