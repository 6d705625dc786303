// The layered POINT14 writer of version 4: the streams of version 3, and the
// point's scanner channel handed on through the context for every point.
#pragma once

#include "compressor/laswriteitemcompressed_v3.hpp"

class LASwriteItemCompressed_POINT14_v4 final : public LASwriteItemCompressed_POINT14_v3 {
 public:
  explicit LASwriteItemCompressed_POINT14_v4(ArithmeticEncoder* enc) : LASwriteItemCompressed_POINT14_v3(enc) {
    context_on_every_point = true;
  }
};
