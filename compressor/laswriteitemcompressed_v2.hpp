// Compressed item writers of version 2 for the legacy point formats: POINT10,
// GPS time, RGB colour and extra bytes, each coded as its difference to the
// same item of the previous point of the chunk, all on the point driver's one
// arithmetic encoder. The readers in lasreaditemcompressed_v2.hpp mirror them.
#pragma once

#include "compressor/lasitemcompressed_v2.hpp"
#include "compressor/lasitemcoding.hpp"
#include "compressor/laswriteitem.hpp"

// Coordinates predicted per return class (medians of the recent X and Y
// steps, the last Z of the return level), the other fields coded only when
// they changed, behind one mask of changed fields.
class LASwriteItemCompressed_POINT10_v2 final : public LASwriteItemCompressed {
 public:
  explicit LASwriteItemCompressed_POINT10_v2(ArithmeticEncoder* enc) : enc(enc), state(enc) {}
  bool write(const U8* item, U32& context) override;
  bool init(const U8* item, U32& context) override;

 private:
  ArithmeticEncoder* enc;
  Point10State<ArithmeticEncoder> state;
};

class LASwriteItemCompressed_GPSTIME11_v2 final : public LASwriteItemCompressed {
 public:
  explicit LASwriteItemCompressed_GPSTIME11_v2(ArithmeticEncoder* enc) : gps(enc, true) {}
  bool write(const U8* item, U32& context) override;
  bool init(const U8* item, U32& context) override;

 private:
  GpsTimeWriter gps;
};

class LASwriteItemCompressed_RGB12_v2 final : public LASwriteItemCompressed {
 public:
  explicit LASwriteItemCompressed_RGB12_v2(ArithmeticEncoder* enc) : enc(enc), models(enc) {}
  bool write(const U8* item, U32& context) override;
  bool init(const U8* item, U32& context) override;

 private:
  ArithmeticEncoder* enc;
  U16 reference[3] = {0, 0, 0};
  ColourModels<ArithmeticEncoder> models;
};

// Every byte at every point, with one model per byte position.
class LASwriteItemCompressed_BYTE_v2 final : public LASwriteItemCompressed {
 public:
  LASwriteItemCompressed_BYTE_v2(ArithmeticEncoder* enc, U32 number) : state(enc, number) {}
  bool write(const U8* item, U32& context) override;
  bool init(const U8* item, U32& context) override;

 private:
  BytesState<ArithmeticEncoder> state;
};
