// Compressed item writers of version 1. Wave packets of the legacy formats
// have no version-2 coder, so files of formats 4 and 5 carry this one beside
// the version-2 coders of the other items.
#pragma once

#include "compressor/lasitemcompressed_v1.hpp"
#include "compressor/laswriteitem.hpp"

class LASwriteItemCompressed_WAVEPACKET13_v1 final : public LASwriteItemCompressed {
 public:
  explicit LASwriteItemCompressed_WAVEPACKET13_v1(ArithmeticEncoder* enc) : enc(enc), state(enc) {}
  bool write(const U8* item, U32& context) override;
  bool init(const U8* item, U32& context) override;

 private:
  ArithmeticEncoder* enc;
  WavePacket13State<ArithmeticEncoder> state;
};
