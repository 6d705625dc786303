// The layered writers of colour (RGB14, RGBNIR14), wave packets
// (WAVEPACKET14) and extra bytes (BYTE14). RGB14 has one stream, RGBNIR14 two
// (colour, then NIR), WAVEPACKET14 one, BYTE14 one per extra byte. Every point
// is coded into its streams; a stream whose values never changed in the chunk
// is stored as size 0 and no bytes. The `_v4` writers differ from `_v3` only
// in the channel switch (see switch_channel).
#pragma once

#include "compressor/lasitemcompressed_layered.hpp"

class LayeredColourWriter : public LayeredItemWriter<ColourChannel<ArithmeticEncoder>> {
 protected:
  LayeredColourWriter(ArithmeticEncoder* enc, bool nir, bool version4);
  void start_channel(ColourChannel<ArithmeticEncoder>& c) override;
  void encode(const U8* item, ColourChannel<ArithmeticEncoder>& s, U8* reference) override;

 private:
  bool nir;
};

class LASwriteItemCompressed_RGB14_v3 final : public LayeredColourWriter {
 public:
  explicit LASwriteItemCompressed_RGB14_v3(ArithmeticEncoder* enc) : LayeredColourWriter(enc, false, false) {}
};
class LASwriteItemCompressed_RGB14_v4 final : public LayeredColourWriter {
 public:
  explicit LASwriteItemCompressed_RGB14_v4(ArithmeticEncoder* enc) : LayeredColourWriter(enc, false, true) {}
};
class LASwriteItemCompressed_RGBNIR14_v3 final : public LayeredColourWriter {
 public:
  explicit LASwriteItemCompressed_RGBNIR14_v3(ArithmeticEncoder* enc) : LayeredColourWriter(enc, true, false) {}
};
class LASwriteItemCompressed_RGBNIR14_v4 final : public LayeredColourWriter {
 public:
  explicit LASwriteItemCompressed_RGBNIR14_v4(ArithmeticEncoder* enc) : LayeredColourWriter(enc, true, true) {}
};

class LayeredWavePacketWriter : public LayeredItemWriter<WavePacketChannel<ArithmeticEncoder>> {
 protected:
  LayeredWavePacketWriter(ArithmeticEncoder* enc, bool version4);
  void start_channel(WavePacketChannel<ArithmeticEncoder>& c) override;
  void encode(const U8* item, WavePacketChannel<ArithmeticEncoder>& s, U8* reference) override;
};

class LASwriteItemCompressed_WAVEPACKET14_v3 final : public LayeredWavePacketWriter {
 public:
  explicit LASwriteItemCompressed_WAVEPACKET14_v3(ArithmeticEncoder* enc) : LayeredWavePacketWriter(enc, false) {}
};
class LASwriteItemCompressed_WAVEPACKET14_v4 final : public LayeredWavePacketWriter {
 public:
  explicit LASwriteItemCompressed_WAVEPACKET14_v4(ArithmeticEncoder* enc) : LayeredWavePacketWriter(enc, true) {}
};

class LayeredByteWriter : public LayeredItemWriter<ByteChannel<ArithmeticEncoder>> {
 protected:
  LayeredByteWriter(ArithmeticEncoder* enc, U32 number, bool version4);
  void start_channel(ByteChannel<ArithmeticEncoder>& c) override;
  void encode(const U8* item, ByteChannel<ArithmeticEncoder>& s, U8* reference) override;
};

class LASwriteItemCompressed_BYTE14_v3 final : public LayeredByteWriter {
 public:
  LASwriteItemCompressed_BYTE14_v3(ArithmeticEncoder* enc, U32 number) : LayeredByteWriter(enc, number, false) {}
};
class LASwriteItemCompressed_BYTE14_v4 final : public LayeredByteWriter {
 public:
  LASwriteItemCompressed_BYTE14_v4(ArithmeticEncoder* enc, U32 number) : LayeredByteWriter(enc, number, true) {}
};
