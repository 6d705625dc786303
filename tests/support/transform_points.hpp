// One point to run transforms on, with its raw coordinates as a value, and the
// option text of a transform.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "core/laspoint.hpp"
#include "support/arg_vector.hpp"
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

// The words are refused with the message, as an ERROR, and build nothing.
// Halting on errors must be off.
inline void expect_parse_refused(const std::vector<std::string>& words, const std::string& message) {
  SCOPED_TRACE(message);
  ArgVector args(words);
  LAStransform transform;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(transform.parse(args.argc(), args.argv()));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ERROR: " + message + "\n");
  EXPECT_EQ(transform.op_count, 0u);
}

// A point with the attributes given, one after the other in its extra bytes.
struct AttributePoint {
  explicit AttributePoint(const std::vector<LASattributeDescriptor>& attributes, U16 extra = 0) {
    for (const LASattributeDescriptor& a : attributes) {
      EXPECT_GE(points.table.add_attribute(a), 0);
      extra = (U16)(extra + a.get_size());
    }
    EXPECT_TRUE(points.point.init(&points.scaling, &points.table, (U8)1, (U16)(28 + extra)));
    point = &points.point;
  }
  void run(const char* options) {
    LAStransform transform;
    ASSERT_TRUE(transform.parse(options));
    transform.transform(point);
  }
  // The first `size` bytes of attribute `index` as a little-endian number.
  U64 stored(U32 index, int size) const {
    U64 v = 0;
    memcpy(&v, point->extra_bytes + points.table.attribute_starts[index], size);
    return v;
  }
  Points points;
  LASpoint* point;
};

inline LASattributeDescriptor attribute(U32 type, F64 scale = 0.0, F64 offset = 0.0) {
  LASattributeDescriptor a(type, "a");
  if (scale != 0.0) a.set_scale(scale);
  if (offset != 0.0) a.set_offset(offset);
  return a;
}
