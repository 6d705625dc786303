// Compressed item readers of version 2 for the legacy point formats, the
// mirrors of the writers in laswriteitemcompressed_v2.hpp: the same state,
// updated in the same order, asking the point driver's one arithmetic decoder
// for the same symbols with the same models.
#pragma once

#include "compressor/lasitemcompressed_v2.hpp"
#include "compressor/lasitemcoding.hpp"
#include "compressor/lasreaditem.hpp"

class LASreadItemCompressed_POINT10_v2 final : public LASreadItemCompressed {
 public:
  explicit LASreadItemCompressed_POINT10_v2(ArithmeticDecoder* dec) : dec(dec), state(dec) {}
  void read(U8* item, U32& context) override;
  bool init(const U8* item, U32& context) override;

 private:
  ArithmeticDecoder* dec;
  Point10State<ArithmeticDecoder> state;
};

class LASreadItemCompressed_GPSTIME11_v2 final : public LASreadItemCompressed {
 public:
  explicit LASreadItemCompressed_GPSTIME11_v2(ArithmeticDecoder* dec) : gps(dec, true) {}
  void read(U8* item, U32& context) override;
  bool init(const U8* item, U32& context) override;

 private:
  GpsTimeReader gps;
};

class LASreadItemCompressed_RGB12_v2 final : public LASreadItemCompressed {
 public:
  explicit LASreadItemCompressed_RGB12_v2(ArithmeticDecoder* dec) : dec(dec), models(dec) {}
  void read(U8* item, U32& context) override;
  bool init(const U8* item, U32& context) override;

 private:
  ArithmeticDecoder* dec;
  U16 reference[3] = {0, 0, 0};
  ColourModels<ArithmeticDecoder> models;
};

class LASreadItemCompressed_BYTE_v2 final : public LASreadItemCompressed {
 public:
  LASreadItemCompressed_BYTE_v2(ArithmeticDecoder* dec, U32 number) : state(dec, number) {}
  void read(U8* item, U32& context) override;
  bool init(const U8* item, U32& context) override;

 private:
  BytesState<ArithmeticDecoder> state;
};
