// Raw item writers, mirror of lasreaditemraw.hpp: an item's bytes from the
// point's memory to the little-endian file, copied straight on a
// little-endian host (_LE) and field by field reversed on a big-endian one (_BE).
#pragma once

#include "compressor/lasreaditemraw.hpp"
#include "compressor/laswriteitem.hpp"
#include "core/laslayout.hpp"

class LASwriteItemRaw_POINT10_LE final : public LASwriteItemRaw {
 public:
  bool write(const U8* item, U32&) override { return stream->putBytes(item, laslayout::POINT10_SIZE); }
};

class LASwriteItemRaw_POINT10_BE final : public LASwriteItemRaw {
 public:
  bool write(const U8* item, U32&) override {
    lasitemraw::reverse_fields(scratch, item, laslayout::POINT10);
    return stream->putBytes(scratch, laslayout::POINT10_SIZE);
  }

 private:
  U8 scratch[laslayout::POINT10_SIZE] = {};
};

class LASwriteItemRaw_GPSTIME11_LE final : public LASwriteItemRaw {
 public:
  bool write(const U8* item, U32&) override { return stream->putBytes(item, laslayout::GPSTIME11_SIZE); }
};

class LASwriteItemRaw_GPSTIME11_BE final : public LASwriteItemRaw {
 public:
  bool write(const U8* item, U32&) override {
    lasitemraw::reverse_copy(scratch, item, laslayout::GPSTIME11_SIZE);
    return stream->putBytes(scratch, laslayout::GPSTIME11_SIZE);
  }

 private:
  U8 scratch[laslayout::GPSTIME11_SIZE] = {};
};

// RGB12 and RGB14.
class LASwriteItemRaw_RGB12_LE final : public LASwriteItemRaw {
 public:
  bool write(const U8* item, U32&) override { return stream->putBytes(item, laslayout::RGB12_SIZE); }
};

class LASwriteItemRaw_RGB12_BE final : public LASwriteItemRaw {
 public:
  bool write(const U8* item, U32&) override {
    for (U32 i = 0; i < laslayout::RGB12_SIZE; i += 2) lasitemraw::reverse_copy(scratch + i, item + i, 2);
    return stream->putBytes(scratch, laslayout::RGB12_SIZE);
  }

 private:
  U8 scratch[laslayout::RGB12_SIZE] = {};
};

class LASwriteItemRaw_RGBNIR14_LE final : public LASwriteItemRaw {
 public:
  bool write(const U8* item, U32&) override { return stream->putBytes(item, laslayout::RGBNIR14_SIZE); }
};

class LASwriteItemRaw_RGBNIR14_BE final : public LASwriteItemRaw {
 public:
  bool write(const U8* item, U32&) override {
    for (U32 i = 0; i < laslayout::RGBNIR14_SIZE; i += 2) lasitemraw::reverse_copy(scratch + i, item + i, 2);
    return stream->putBytes(scratch, laslayout::RGBNIR14_SIZE);
  }

 private:
  U8 scratch[laslayout::RGBNIR14_SIZE] = {};
};

// WAVEPACKET13 and WAVEPACKET14.
class LASwriteItemRaw_WAVEPACKET13_LE final : public LASwriteItemRaw {
 public:
  bool write(const U8* item, U32&) override { return stream->putBytes(item, laslayout::WAVEPACKET_SIZE); }
};

class LASwriteItemRaw_WAVEPACKET13_BE final : public LASwriteItemRaw {
 public:
  bool write(const U8* item, U32&) override {
    lasitemraw::reverse_fields(scratch, item, laslayout::WAVEPACKET);
    return stream->putBytes(scratch, laslayout::WAVEPACKET_SIZE);
  }

 private:
  U8 scratch[laslayout::WAVEPACKET_SIZE] = {};
};

// BYTE and BYTE14.
class LASwriteItemRaw_BYTE final : public LASwriteItemRaw {
 public:
  explicit LASwriteItemRaw_BYTE(U32 number) : number(number) {}
  bool write(const U8* item, U32&) override { return stream->putBytes(item, number); }

 private:
  U32 number;
};

// POINT14: formed from the point's legacy and extended fields (lasitemraw.cpp).
class LASwriteItemRaw_POINT14_LE final : public LASwriteItemRaw {
 public:
  bool write(const U8* item, U32&) override;

 private:
  U8 scratch[laslayout::POINT14_SIZE] = {};
};

class LASwriteItemRaw_POINT14_BE final : public LASwriteItemRaw {
 public:
  bool write(const U8* item, U32&) override;

 private:
  U8 scratch[laslayout::POINT14_SIZE] = {};
};

// Sets the point memory at `into` to what a reader of the POINT14 record
// formed from `item` would fill in, so that a coder of POINT14 sees the fields
// exactly as a reader of its output will. Only the record's fields change.
void point14_as_read_back(U8* into, const U8* item);
