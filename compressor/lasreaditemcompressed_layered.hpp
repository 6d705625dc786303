// The layered readers of colour (RGB14, RGBNIR14), wave packets
// (WAVEPACKET14) and extra bytes (BYTE14), mirrors of
// laswriteitemcompressed_layered.hpp. A stream the caller did not ask for is
// skipped unread, and its fields keep the chunk's first point's values. The
// `_v4` readers differ from `_v3` only in the channel switch (see
// switch_channel).
#pragma once

#include "compressor/lasitemcompressed_layered.hpp"

class LayeredColourReader : public LayeredItemReader<ColourChannel<ArithmeticDecoder>> {
 protected:
  LayeredColourReader(ArithmeticDecoder* dec, U32 decompress_selective, bool nir, bool version4);
  void start_channel(ColourChannel<ArithmeticDecoder>& c) override;
  void decode(U8* item, ColourChannel<ArithmeticDecoder>& s, U8* reference) override;

 private:
  bool nir;
};

class LASreadItemCompressed_RGB14_v3 final : public LayeredColourReader {
 public:
  LASreadItemCompressed_RGB14_v3(ArithmeticDecoder* dec, U32 decompress_selective)
      : LayeredColourReader(dec, decompress_selective, false, false) {}
};
class LASreadItemCompressed_RGB14_v4 final : public LayeredColourReader {
 public:
  LASreadItemCompressed_RGB14_v4(ArithmeticDecoder* dec, U32 decompress_selective)
      : LayeredColourReader(dec, decompress_selective, false, true) {}
};
class LASreadItemCompressed_RGBNIR14_v3 final : public LayeredColourReader {
 public:
  LASreadItemCompressed_RGBNIR14_v3(ArithmeticDecoder* dec, U32 decompress_selective)
      : LayeredColourReader(dec, decompress_selective, true, false) {}
};
class LASreadItemCompressed_RGBNIR14_v4 final : public LayeredColourReader {
 public:
  LASreadItemCompressed_RGBNIR14_v4(ArithmeticDecoder* dec, U32 decompress_selective)
      : LayeredColourReader(dec, decompress_selective, true, true) {}
};

class LayeredWavePacketReader : public LayeredItemReader<WavePacketChannel<ArithmeticDecoder>> {
 protected:
  LayeredWavePacketReader(ArithmeticDecoder* dec, U32 decompress_selective, bool version4);
  void start_channel(WavePacketChannel<ArithmeticDecoder>& c) override;
  void decode(U8* item, WavePacketChannel<ArithmeticDecoder>& s, U8* reference) override;
};

class LASreadItemCompressed_WAVEPACKET14_v3 final : public LayeredWavePacketReader {
 public:
  LASreadItemCompressed_WAVEPACKET14_v3(ArithmeticDecoder* dec, U32 decompress_selective)
      : LayeredWavePacketReader(dec, decompress_selective, false) {}
};
class LASreadItemCompressed_WAVEPACKET14_v4 final : public LayeredWavePacketReader {
 public:
  LASreadItemCompressed_WAVEPACKET14_v4(ArithmeticDecoder* dec, U32 decompress_selective)
      : LayeredWavePacketReader(dec, decompress_selective, true) {}
};

class LayeredByteReader : public LayeredItemReader<ByteChannel<ArithmeticDecoder>> {
 protected:
  LayeredByteReader(ArithmeticDecoder* dec, U32 number, U32 decompress_selective, bool version4);
  void start_channel(ByteChannel<ArithmeticDecoder>& c) override;
  void decode(U8* item, ByteChannel<ArithmeticDecoder>& s, U8* reference) override;
};

class LASreadItemCompressed_BYTE14_v3 final : public LayeredByteReader {
 public:
  LASreadItemCompressed_BYTE14_v3(ArithmeticDecoder* dec, U32 number, U32 decompress_selective)
      : LayeredByteReader(dec, number, decompress_selective, false) {}
};
class LASreadItemCompressed_BYTE14_v4 final : public LayeredByteReader {
 public:
  LASreadItemCompressed_BYTE14_v4(ArithmeticDecoder* dec, U32 number, U32 decompress_selective)
      : LayeredByteReader(dec, number, decompress_selective, true) {}
};
