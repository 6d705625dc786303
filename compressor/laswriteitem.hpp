// The item writer interfaces, mirror of lasreaditem.hpp: raw writers put an
// item's bytes on a byte stream; compressed writers code them, started afresh
// at every chunk from the chunk's first point.
#pragma once

#include "core/bytestreamout.hpp"
#include "core/mydefs.hpp"

class LASwriteItem {
 public:
  // Writes the item at `item`; false when the stream refuses the bytes.
  // `context` as for LASreadItem::read.
  virtual bool write(const U8* item, U32& context) = 0;
  virtual ~LASwriteItem() {}
};

class LASwriteItemRaw : public LASwriteItem {
 public:
  bool init(ByteStreamOut* stream) {
    this->stream = stream;
    return stream != nullptr;
  }

 protected:
  ByteStreamOut* stream = nullptr;
};

class LASwriteItemCompressed : public LASwriteItem {
 public:
  // Starts a chunk whose first point (already written raw) is at `item`.
  virtual bool init(const U8* item, U32& context) = 0;
  // Layered chunks only, at the end of a chunk: write the byte counts of the
  // item's field streams, then (after every item's counts) the streams
  // themselves, to the chunk stream. The bases do nothing and return false.
  virtual bool chunk_sizes() { return false; }
  virtual bool chunk_bytes() { return false; }
};
