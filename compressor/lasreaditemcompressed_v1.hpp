// Compressed item readers of version 1, mirrors of laswriteitemcompressed_v1.hpp.
#pragma once

#include "compressor/lasitemcompressed_v1.hpp"
#include "compressor/lasreaditem.hpp"

class LASreadItemCompressed_WAVEPACKET13_v1 final : public LASreadItemCompressed {
 public:
  explicit LASreadItemCompressed_WAVEPACKET13_v1(ArithmeticDecoder* dec) : dec(dec), state(dec) {}
  void read(U8* item, U32& context) override;
  bool init(const U8* item, U32& context) override;

 private:
  ArithmeticDecoder* dec;
  WavePacket13State<ArithmeticDecoder> state;
};
