// Source of bytes for every reader and decoder. Running out of input throws the
// int -1 (EOF), so per-point decoding loops need no end-of-data checks.
#pragma once

#include "core/mydefs.hpp"

class ByteStreamIn {
 public:
  virtual U32 getByte() = 0;
  virtual void getBytes(U8* bytes, const I64 num_bytes) = 0;
  virtual void get16bitsLE(U8* bytes) = 0;
  virtual void get32bitsLE(U8* bytes) = 0;
  virtual void get64bitsLE(U8* bytes) = 0;
  virtual void get16bitsBE(U8* bytes) = 0;
  virtual void get32bitsBE(U8* bytes) = 0;
  virtual void get64bitsBE(U8* bytes) = 0;
  virtual bool isSeekable() const = 0;
  virtual I64 tell() const = 0;
  virtual bool seek(const I64 position) = 0;
  virtual bool seekEnd(const I64 distance = 0) = 0;
  virtual bool skipBytes(const U32 num_bytes) { return seek(tell() + num_bytes); }
  // Lends up to `most` whole units of `unit` bytes where they lie in the
  // stream's memory and moves past them; `units` tells how many. Fewer come
  // only where that memory holds no more or the data ends. Null (units 0,
  // position unchanged) when the stream lends nothing or not one whole unit
  // remains: the caller then reads the bytes, and meets the end, as before.
  // The bytes stay valid until the next call on the stream.
  virtual const U8* lend(const U32 unit, const U64 most, U64& units) {
    (void)unit;
    (void)most;
    units = 0;
    return nullptr;
  }
  virtual ~ByteStreamIn() {}
};

// The 16/32/64-bit reads of one byte-order class: bytes that are in host order
// are copied, the others are reversed. Each is one getBytes call on the object.
#define BYTESTREAMIN_ORDERED_READS(SAME, OTHER)                   \
  void get16bits##SAME(U8* bytes) override { getBytes(bytes, 2); } \
  void get32bits##SAME(U8* bytes) override { getBytes(bytes, 4); } \
  void get64bits##SAME(U8* bytes) override { getBytes(bytes, 8); } \
  void get16bits##OTHER(U8* bytes) override { get_swapped(bytes, 2); } \
  void get32bits##OTHER(U8* bytes) override { get_swapped(bytes, 4); } \
  void get64bits##OTHER(U8* bytes) override { get_swapped(bytes, 8); } \
                                                                    \
 private:                                                           \
  void get_swapped(U8* bytes, int n) {                              \
    getBytes(swapped, n);                                           \
    for (int i = 0; i < n; i++) bytes[i] = swapped[n - 1 - i];      \
  }                                                                 \
  U8 swapped[8];                                                    \
                                                                    \
 public:
