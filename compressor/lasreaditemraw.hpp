// Raw item readers: an item's bytes from the file into the point's memory,
// for uncompressed records and the first point of every compressed chunk. The
// file is little-endian; the _LE classes serve a little-endian host and copy
// straight into the point, the _BE classes reverse each multi-byte field
// through a scratch copy. The point driver picks by Endian::IS_LITTLE_ENDIAN.
#pragma once

#include <cstring>

#include "compressor/lasreaditem.hpp"
#include "core/laslayout.hpp"

namespace lasitemraw {

// Copies `size` bytes from `from` to `to` in reverse order (one field).
inline void reverse_copy(U8* to, const U8* from, U32 size) {
  for (U32 i = 0; i < size; i++) to[i] = from[size - 1 - i];
}

// Copies a packed record field by field, reversing every field wider than a byte.
template <typename Table>
inline void reverse_fields(U8* to, const U8* from, const Table& table) {
  for (const laslayout::Field& field : table) reverse_copy(to + field.offset, from + field.offset, field.size);
}

}  // namespace lasitemraw

class LASreadItemRaw_POINT10_LE final : public LASreadItemRaw {
 public:
  void read(U8* item, U32&) override { stream->getBytes(item, laslayout::POINT10_SIZE); }
};

class LASreadItemRaw_POINT10_BE final : public LASreadItemRaw {
 public:
  void read(U8* item, U32&) override {
    stream->getBytes(scratch, laslayout::POINT10_SIZE);
    lasitemraw::reverse_fields(item, scratch, laslayout::POINT10);
  }

 private:
  U8 scratch[laslayout::POINT10_SIZE] = {};
};

class LASreadItemRaw_GPSTIME11_LE final : public LASreadItemRaw {
 public:
  void read(U8* item, U32&) override { stream->getBytes(item, laslayout::GPSTIME11_SIZE); }
};

class LASreadItemRaw_GPSTIME11_BE final : public LASreadItemRaw {
 public:
  void read(U8* item, U32&) override {
    stream->getBytes(scratch, laslayout::GPSTIME11_SIZE);
    lasitemraw::reverse_copy(item, scratch, laslayout::GPSTIME11_SIZE);
  }

 private:
  U8 scratch[laslayout::GPSTIME11_SIZE] = {};
};

// RGB12 and RGB14.
class LASreadItemRaw_RGB12_LE final : public LASreadItemRaw {
 public:
  void read(U8* item, U32&) override { stream->getBytes(item, laslayout::RGB12_SIZE); }
};

class LASreadItemRaw_RGB12_BE final : public LASreadItemRaw {
 public:
  void read(U8* item, U32&) override {
    stream->getBytes(scratch, laslayout::RGB12_SIZE);
    for (U32 i = 0; i < laslayout::RGB12_SIZE; i += 2) lasitemraw::reverse_copy(item + i, scratch + i, 2);
  }

 private:
  U8 scratch[laslayout::RGB12_SIZE] = {};
};

class LASreadItemRaw_RGBNIR14_LE final : public LASreadItemRaw {
 public:
  void read(U8* item, U32&) override { stream->getBytes(item, laslayout::RGBNIR14_SIZE); }
};

class LASreadItemRaw_RGBNIR14_BE final : public LASreadItemRaw {
 public:
  void read(U8* item, U32&) override {
    stream->getBytes(scratch, laslayout::RGBNIR14_SIZE);
    for (U32 i = 0; i < laslayout::RGBNIR14_SIZE; i += 2) lasitemraw::reverse_copy(item + i, scratch + i, 2);
  }

 private:
  U8 scratch[laslayout::RGBNIR14_SIZE] = {};
};

// WAVEPACKET13 and WAVEPACKET14.
class LASreadItemRaw_WAVEPACKET13_LE final : public LASreadItemRaw {
 public:
  void read(U8* item, U32&) override { stream->getBytes(item, laslayout::WAVEPACKET_SIZE); }
};

class LASreadItemRaw_WAVEPACKET13_BE final : public LASreadItemRaw {
 public:
  void read(U8* item, U32&) override {
    stream->getBytes(scratch, laslayout::WAVEPACKET_SIZE);
    lasitemraw::reverse_fields(item, scratch, laslayout::WAVEPACKET);
  }

 private:
  U8 scratch[laslayout::WAVEPACKET_SIZE] = {};
};

// BYTE and BYTE14: the extra bytes as they are, in either byte order.
class LASreadItemRaw_BYTE final : public LASreadItemRaw {
 public:
  explicit LASreadItemRaw_BYTE(U32 number) : number(number) {}
  void read(U8* item, U32&) override { stream->getBytes(item, number); }

 private:
  U32 number;
};

// The 30 little-endian bytes of a POINT14 item, read on a little-endian host,
// spread over the point's fields as the raw reader below does.
void point14_read_raw(U8* item, const U8* bytes);

// POINT14: the 30 bytes are spread over the point's legacy and extended
// fields, with the legacy ones derived (lasitemraw.cpp).
class LASreadItemRaw_POINT14_LE final : public LASreadItemRaw {
 public:
  void read(U8* item, U32&) override;

 private:
  U8 scratch[laslayout::POINT14_SIZE] = {};
};

class LASreadItemRaw_POINT14_BE final : public LASreadItemRaw {
 public:
  void read(U8* item, U32&) override;

 private:
  U8 scratch[laslayout::POINT14_SIZE] = {};
};
