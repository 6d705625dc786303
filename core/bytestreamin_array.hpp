// Input stream over a byte array in memory. The array belongs to the creator,
// unless the stream took over the buffer of an output array stream.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/bytestreamin.hpp"
#include "core/bytestreamout_array.hpp"

class ByteStreamInArray : public ByteStreamIn {
 public:
  ByteStreamInArray() {}
  ByteStreamInArray(const U8* data, I64 size) { init(data, size); }
  ~ByteStreamInArray() override { release(); }
  ByteStreamInArray(const ByteStreamInArray&) = delete;
  ByteStreamInArray& operator=(const ByteStreamInArray&) = delete;

  void init(const U8* data, I64 size) {
    release();
    this->data = data;
    this->size = (size > 0) ? size : 0;
    curr = 0;
  }
  // Takes the written bytes of `out`; this stream frees them from now on and
  // `out` is left with no buffer and size 0.
  void take_over(ByteStreamOutArray& out) {
    release();
    size = out.getSize();
    data = out.takeData();
    owns_data = true;
    curr = 0;
  }
  U32 getByte() override {
    if (curr == size) throw EOF;
    return data[curr++];
  }
  void getBytes(U8* bytes, const I64 num_bytes) override {
    if (num_bytes < 0 || num_bytes > size - curr) throw EOF;
    if (num_bytes == 0) return;
    memcpy(bytes, data + curr, (size_t)num_bytes);
    curr += num_bytes;
  }
  const U8* lend(const U32 unit, const U64 most, U64& units) override {
    units = (unit == 0) ? 0 : std::min(most, (U64)(size - curr) / unit);
    if (units == 0) return nullptr;
    const U8* lent = data + curr;
    curr += (I64)(units * unit);
    return lent;
  }
  bool isSeekable() const override { return true; }
  I64 tell() const override { return curr; }
  bool seek(const I64 position) override {
    if (position < 0 || position > size) return false;
    curr = position;
    return true;
  }
  bool seekEnd(const I64 distance = 0) override {
    if (distance < 0 || distance > size) return false;
    curr = size - distance;
    return true;
  }
  const U8* getData() const { return data; }
  I64 getSize() const { return size; }

 protected:
  const U8* data = nullptr;
  I64 size = 0;
  I64 curr = 0;

 private:
  void release() {
    if (owns_data) free(const_cast<U8*>(data));
    owns_data = false;
    data = nullptr;
  }
  bool owns_data = false;
};

class ByteStreamInArrayLE final : public ByteStreamInArray {
 public:
  ByteStreamInArrayLE() {}
  ByteStreamInArrayLE(const U8* data, I64 size) : ByteStreamInArray(data, size) {}
  BYTESTREAMIN_ORDERED_READS(LE, BE)
};

class ByteStreamInArrayBE final : public ByteStreamInArray {
 public:
  ByteStreamInArrayBE() {}
  ByteStreamInArrayBE(const U8* data, I64 size) : ByteStreamInArray(data, size) {}
  BYTESTREAMIN_ORDERED_READS(BE, LE)
};
