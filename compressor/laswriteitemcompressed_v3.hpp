// The layered POINT14 writer: each field of the point goes into a code stream
// of its own, kept in memory until the chunk ends, when the stream sizes and
// then the streams themselves go to the chunk. Four scanner channels keep
// their own state; the writer hands the point's channel to the items after it
// through the context. Version 4 hands it on for every point, version 3 only
// at the chunk start and where the channel changes.
#pragma once

#include <memory>

#include "compressor/lasitemcompressed_v3.hpp"
#include "compressor/laswriteitem.hpp"
#include "core/bytestreamout_array.hpp"

class LASwriteItemCompressed_POINT14_v3 : public LASwriteItemCompressed {
 public:
  explicit LASwriteItemCompressed_POINT14_v3(ArithmeticEncoder* enc) : enc(enc) {}
  bool write(const U8* item, U32& context) override;
  bool init(const U8* item, U32& context) override;
  bool chunk_sizes() override;
  bool chunk_bytes() override;

 protected:
  // Version 4: the context names the channel of every point.
  bool context_on_every_point = false;

 private:
  void encode_gps_time(Point14Channel<ArithmeticEncoder>& s, const Point14Block& item);
  U32 stream_bytes(U32 stream) const;

  ArithmeticEncoder* enc;  // the driver's: it knows the chunk stream
  std::unique_ptr<ByteStreamOutArray> streams[POINT14_STREAMS];
  std::unique_ptr<ArithmeticEncoder> encoders[POINT14_STREAMS];
  ArithmeticEncoder* coders[POINT14_STREAMS] = {};
  bool changed[POINT14_STREAMS] = {};  // streams 2 to 8: some point differed
  U32 current_channel = 0;
  Point14Channel<ArithmeticEncoder> channels[POINT14_CHANNELS];
};
