// The layered POINT14 reader of version 4: the streams of version 3, and the
// point's scanner channel handed on through the context for every point.
#pragma once

#include "compressor/lasreaditemcompressed_v3.hpp"

class LASreadItemCompressed_POINT14_v4 final : public LASreadItemCompressed_POINT14_v3 {
 public:
  LASreadItemCompressed_POINT14_v4(ArithmeticDecoder* dec, U32 decompress_selective)
      : LASreadItemCompressed_POINT14_v3(dec, decompress_selective) {
    context_on_every_point = true;
  }
};
