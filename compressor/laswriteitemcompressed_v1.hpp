// Compressed item writers of version 1, for files asked to carry the older
// coding. Wave packets of the legacy formats have no version-2 coder, so files
// of formats 4 and 5 carry that one beside the version-2 coders of the other
// items. The readers in lasreaditemcompressed_v1.hpp mirror them.
#pragma once

#include "compressor/lasitemcompressed_v1.hpp"
#include "compressor/laswriteitem.hpp"

// Coordinates predicted by the median of the last three steps (Z by the last
// Z), then a mask of the other fields that changed and those fields.
class LASwriteItemCompressed_POINT10_v1 final : public LASwriteItemCompressed {
 public:
  explicit LASwriteItemCompressed_POINT10_v1(ArithmeticEncoder* enc) : enc(enc), state(enc) {}
  bool write(const U8* item, U32& context) override;
  bool init(const U8* item, U32& context) override;

 private:
  ArithmeticEncoder* enc;
  Point10StateV1<ArithmeticEncoder> state;
};

// Time patterns as multiples of one reference difference.
class LASwriteItemCompressed_GPSTIME11_v1 final : public LASwriteItemCompressed {
 public:
  explicit LASwriteItemCompressed_GPSTIME11_v1(ArithmeticEncoder* enc) : enc(enc), state(enc) {}
  bool write(const U8* item, U32& context) override;
  bool init(const U8* item, U32& context) override;

 private:
  ArithmeticEncoder* enc;
  GpsTime11StateV1<ArithmeticEncoder> state;
};

// A mask of the colour bytes that changed, then each changed byte.
class LASwriteItemCompressed_RGB12_v1 final : public LASwriteItemCompressed {
 public:
  explicit LASwriteItemCompressed_RGB12_v1(ArithmeticEncoder* enc) : enc(enc), state(enc) {}
  bool write(const U8* item, U32& context) override;
  bool init(const U8* item, U32& context) override;

 private:
  ArithmeticEncoder* enc;
  Rgb12StateV1<ArithmeticEncoder> state;
};

class LASwriteItemCompressed_BYTE_v1 final : public LASwriteItemCompressed {
 public:
  LASwriteItemCompressed_BYTE_v1(ArithmeticEncoder* enc, U32 number) : state(enc, number) {}
  bool write(const U8* item, U32& context) override;
  bool init(const U8* item, U32& context) override;

 private:
  BytesStateV1<ArithmeticEncoder> state;
};

class LASwriteItemCompressed_WAVEPACKET13_v1 final : public LASwriteItemCompressed {
 public:
  explicit LASwriteItemCompressed_WAVEPACKET13_v1(ArithmeticEncoder* enc) : enc(enc), state(enc) {}
  bool write(const U8* item, U32& context) override;
  bool init(const U8* item, U32& context) override;

 private:
  ArithmeticEncoder* enc;
  WavePacket13State<ArithmeticEncoder> state;
};
