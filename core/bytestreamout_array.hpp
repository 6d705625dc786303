// Growable output stream in memory. It owns its buffer; the owner reads the
// buffer, size and cursor to collect what was written and may seek to 0 to reuse it.
#pragma once

#include <cstring>

#include "core/bytestreamout.hpp"

class ByteStreamOutArray : public ByteStreamOut {
 public:
  explicit ByteStreamOutArray(I64 alloc = 1024);
  ~ByteStreamOutArray() override;
  ByteStreamOutArray(const ByteStreamOutArray&) = delete;
  ByteStreamOutArray& operator=(const ByteStreamOutArray&) = delete;

  bool putByte(U8 byte) override {
    if (curr == alloc && !grow(curr + 4096)) return false;
    data[curr++] = byte;
    if (curr > size) size = curr;
    return true;
  }
  bool putBytes(const U8* bytes, U32 num_bytes) override {
    if (curr + (I64)num_bytes > alloc && !grow(alloc + num_bytes + 4096)) return false;
    if (num_bytes) memcpy(data + curr, bytes, num_bytes);
    curr += num_bytes;
    if (curr > size) size = curr;
    return true;
  }
  bool isSeekable() const override { return true; }
  I64 tell() const override { return curr; }
  bool seek(const I64 position) override {
    if (position < 0 || position > size) return false;
    curr = position;
    return true;
  }
  bool seekEnd() override {
    curr = size;
    return true;
  }
  U8* getData() const { return data; }
  I64 getSize() const { return size; }
  I64 getCurr() const { return curr; }
  I64 getAlloc() const { return alloc; }
  // Hands the buffer to the caller, who frees it; this stream is left empty.
  U8* takeData();

 protected:
  U8* data = nullptr;
  I64 alloc = 0;
  I64 size = 0;
  I64 curr = 0;

 private:
  bool grow(I64 new_alloc);
  bool broken = false;
};

class ByteStreamOutArrayLE final : public ByteStreamOutArray {
 public:
  explicit ByteStreamOutArrayLE(I64 alloc = 1024) : ByteStreamOutArray(alloc) {}
  BYTESTREAMOUT_ORDERED_WRITES(LE, BE)
};

class ByteStreamOutArrayBE final : public ByteStreamOutArray {
 public:
  explicit ByteStreamOutArrayBE(I64 alloc = 1024) : ByteStreamOutArray(alloc) {}
  BYTESTREAMOUT_ORDERED_WRITES(BE, LE)
};
