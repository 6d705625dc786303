// Compressed item readers of version 1, mirrors of laswriteitemcompressed_v1.hpp.
#pragma once

#include "compressor/lasitemcompressed_v1.hpp"
#include "compressor/lasreaditem.hpp"

class LASreadItemCompressed_POINT10_v1 final : public LASreadItemCompressed {
 public:
  explicit LASreadItemCompressed_POINT10_v1(ArithmeticDecoder* dec) : dec(dec), state(dec) {}
  void read(U8* item, U32& context) override;
  bool init(const U8* item, U32& context) override;

 private:
  ArithmeticDecoder* dec;
  Point10StateV1<ArithmeticDecoder> state;
};

class LASreadItemCompressed_GPSTIME11_v1 final : public LASreadItemCompressed {
 public:
  explicit LASreadItemCompressed_GPSTIME11_v1(ArithmeticDecoder* dec) : dec(dec), state(dec) {}
  void read(U8* item, U32& context) override;
  bool init(const U8* item, U32& context) override;

 private:
  ArithmeticDecoder* dec;
  GpsTime11StateV1<ArithmeticDecoder> state;
};

class LASreadItemCompressed_RGB12_v1 final : public LASreadItemCompressed {
 public:
  explicit LASreadItemCompressed_RGB12_v1(ArithmeticDecoder* dec) : dec(dec), state(dec) {}
  void read(U8* item, U32& context) override;
  bool init(const U8* item, U32& context) override;

 private:
  ArithmeticDecoder* dec;
  Rgb12StateV1<ArithmeticDecoder> state;
};

class LASreadItemCompressed_BYTE_v1 final : public LASreadItemCompressed {
 public:
  LASreadItemCompressed_BYTE_v1(ArithmeticDecoder* dec, U32 number) : state(dec, number) {}
  void read(U8* item, U32& context) override;
  bool init(const U8* item, U32& context) override;

 private:
  BytesStateV1<ArithmeticDecoder> state;
};

class LASreadItemCompressed_WAVEPACKET13_v1 final : public LASreadItemCompressed {
 public:
  explicit LASreadItemCompressed_WAVEPACKET13_v1(ArithmeticDecoder* dec) : dec(dec), state(dec) {}
  void read(U8* item, U32& context) override;
  bool init(const U8* item, U32& context) override;

 private:
  ArithmeticDecoder* dec;
  WavePacket13State<ArithmeticDecoder> state;
};
