// Output stream that only counts: lets a writer learn the size of what it would
// write (a header, a chunk) without writing it.
#pragma once

#include "core/bytestreamout.hpp"

class ByteStreamOutNil final : public ByteStreamOut {
 public:
  bool putByte(U8) override {
    num_bytes++;
    return true;
  }
  bool putBytes(const U8*, U32 n) override {
    num_bytes += n;
    return true;
  }
  bool put16bitsLE(const U8*) override { return add(2); }
  bool put32bitsLE(const U8*) override { return add(4); }
  bool put64bitsLE(const U8*) override { return add(8); }
  bool put16bitsBE(const U8*) override { return add(2); }
  bool put32bitsBE(const U8*) override { return add(4); }
  bool put64bitsBE(const U8*) override { return add(8); }
  bool isSeekable() const override { return true; }
  I64 tell() const override { return num_bytes; }
  bool seek(const I64) override { return true; }
  bool seekEnd() override { return true; }

 private:
  bool add(I64 n) {
    num_bytes += n;
    return true;
  }
  I64 num_bytes = 0;
};
