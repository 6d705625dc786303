// Sink of bytes for every writer and encoder. Failures are a false result;
// nothing here throws.
#pragma once

#include "core/mydefs.hpp"

class ByteStreamOut {
 public:
  virtual bool putByte(U8 byte) = 0;
  virtual bool putBytes(const U8* bytes, U32 num_bytes) = 0;
  virtual bool put16bitsLE(const U8* bytes) = 0;
  virtual bool put32bitsLE(const U8* bytes) = 0;
  virtual bool put64bitsLE(const U8* bytes) = 0;
  virtual bool put16bitsBE(const U8* bytes) = 0;
  virtual bool put32bitsBE(const U8* bytes) = 0;
  virtual bool put64bitsBE(const U8* bytes) = 0;
  virtual bool isSeekable() const = 0;
  virtual I64 tell() const = 0;
  virtual bool seek(const I64 position) = 0;
  virtual bool seekEnd() = 0;
  virtual ~ByteStreamOut() {}
};

// The 16/32/64-bit writes of one byte-order class, each one putBytes call.
#define BYTESTREAMOUT_ORDERED_WRITES(SAME, OTHER)                                 \
  bool put16bits##SAME(const U8* bytes) override { return putBytes(bytes, 2); }   \
  bool put32bits##SAME(const U8* bytes) override { return putBytes(bytes, 4); }   \
  bool put64bits##SAME(const U8* bytes) override { return putBytes(bytes, 8); }   \
  bool put16bits##OTHER(const U8* bytes) override { return put_swapped(bytes, 2); } \
  bool put32bits##OTHER(const U8* bytes) override { return put_swapped(bytes, 4); } \
  bool put64bits##OTHER(const U8* bytes) override { return put_swapped(bytes, 8); } \
                                                                                  \
 private:                                                                         \
  bool put_swapped(const U8* bytes, int n) {                                      \
    for (int i = 0; i < n; i++) swapped[i] = bytes[n - 1 - i];                    \
    return putBytes(swapped, (U32)n);                                             \
  }                                                                               \
  U8 swapped[8];                                                                  \
                                                                                  \
 public:
