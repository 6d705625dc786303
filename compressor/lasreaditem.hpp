// The item reader interfaces: one reader fills one item of a point record
// (POINT10, GPS time, colour, ...) in the point's memory. Raw readers copy the
// item's bytes from a byte stream; compressed readers decode them and are
// started afresh at every chunk from the chunk's first point.
#pragma once

#include "core/bytestreamin.hpp"
#include "core/mydefs.hpp"

class LASreadItem {
 public:
  // Fills the item at `item`. `context` is the coder context the point driver
  // passes through the items of one point (the scanner channel of layered
  // points); raw readers neither read nor change it. Running out of input
  // throws the stream's end-of-data integer.
  virtual void read(U8* item, U32& context) = 0;
  virtual ~LASreadItem() {}
};

// A reader of the item's bytes as they are in the file. The driver attaches
// the stream before the first read.
class LASreadItemRaw : public LASreadItem {
 public:
  bool init(ByteStreamIn* stream) {
    this->stream = stream;
    return stream != nullptr;
  }

 protected:
  ByteStreamIn* stream = nullptr;
};

// A decoder of the item inside a compressed chunk, built on the point
// driver's arithmetic decoder.
class LASreadItemCompressed : public LASreadItem {
 public:
  // Layered chunks only: reads from the chunk stream the byte counts of this
  // item's field streams. The base does nothing and returns false.
  virtual bool chunk_sizes() { return false; }
  // Starts decoding for a chunk whose first point, read raw, is at `item`.
  virtual bool init(const U8* item, U32& context) = 0;
};
