// The layered POINT14 reader, mirror of laswriteitemcompressed_v3.hpp. At a
// chunk start it reads the sizes of the nine field streams, fetches the
// streams of the fields its caller asked for and skips the others; the fields
// it does not decode keep the values of the point that started the channel.
#pragma once

#include <memory>
#include <vector>

#include "compressor/lasitemcompressed_v3.hpp"
#include "compressor/lasreaditem.hpp"
#include "core/bytestreamin_array.hpp"

class LASreadItemCompressed_POINT14_v3 : public LASreadItemCompressed {
 public:
  // `decompress_selective`: the fields the caller needs (LAS_SELECTIVE_*).
  LASreadItemCompressed_POINT14_v3(ArithmeticDecoder* dec, U32 decompress_selective);
  void read(U8* item, U32& context) override;
  bool chunk_sizes() override;
  bool init(const U8* item, U32& context) override;

 protected:
  // Version 4: the context names the channel of every point.
  bool context_on_every_point = false;

 private:
  ArithmeticDecoder* dec;  // the driver's: it knows the chunk stream
  std::unique_ptr<ByteStreamInArray> streams[POINT14_STREAMS];
  std::unique_ptr<ArithmeticDecoder> decoders[POINT14_STREAMS];
  ArithmeticDecoder* coders[POINT14_STREAMS] = {};
  bool changed[POINT14_STREAMS] = {};    // streams 1 to 8: has code in this chunk and is decoded
  U32 bytes[POINT14_STREAMS] = {};       // as the chunk gives them
  bool requested[POINT14_STREAMS] = {};  // streams 1 to 8
  std::vector<U8> buffer;                // the fetched streams; it only grows
  U32 current_channel = 0;
  Point14Channel<ArithmeticDecoder> channels[POINT14_CHANNELS];
};
