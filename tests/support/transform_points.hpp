// One point to run transforms on, with its raw coordinates as a value, and the
// option text of a transform.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "core/laspoint.hpp"
#include "transforms/lastransform.hpp"

struct Raw {
  I32 X, Y, Z;
  bool operator==(const Raw&) const = default;
};

inline void PrintTo(const Raw& r, std::ostream* os) { *os << "(" << r.X << ", " << r.Y << ", " << r.Z << ")"; }

// A point on a scaling whose offsets are not 0, so that scaling about the
// origin and scaling about the offset differ: x = X / 100 + 1000,
// y = Y / 100 + 2000, z = Z / 100.
class Points {
 public:
  Points() {
    scaling.x_offset = 1000.0;
    scaling.y_offset = 2000.0;
    EXPECT_TRUE(point.init(&scaling, &table, (U8)1, (U16)28));
  }
  LASpoint* at(const Raw& r) {
    point.X = r.X;
    point.Y = r.Y;
    point.Z = r.Z;
    return &point;
  }
  Raw raw() const { return {point.X, point.Y, point.Z}; }
  Raw transformed(LAStransform& transform, const Raw& r) {
    transform.transform(at(r));
    return raw();
  }

  LASscaling scaling;
  LASattributeTable table;
  LASpoint point;
};

inline std::string text_of(const LAStransform& transform) {
  std::string text;
  const I32 n = transform.unparse(text);
  EXPECT_EQ((size_t)n, text.size());
  return text;
}
