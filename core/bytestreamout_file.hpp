// Output stream over a FILE handle that its creator opens and closes.
#pragma once

#include <unistd.h>

#include "core/bytestreamout.hpp"

class ByteStreamOutFile : public ByteStreamOut {
 public:
  explicit ByteStreamOutFile(FILE* file) : file(file) {}
  bool putByte(U8 byte) override { return fputc(byte, file) == byte; }
  bool putBytes(const U8* bytes, U32 num_bytes) override {
    if (num_bytes == 0) return true;
    return fwrite(bytes, 1, num_bytes, file) == num_bytes;
  }
  bool isSeekable() const override { return file != stdout; }
  I64 tell() const override { return (I64)ftello(file); }
  bool seek(const I64 position) override { return fseeko(file, (off_t)position, SEEK_SET) == 0; }
  bool seekEnd() override { return fseeko(file, 0, SEEK_END) == 0; }
  FILE* get_file() const { return file; }

 protected:
  FILE* file;
};

class ByteStreamOutFileLE : public ByteStreamOutFile {
 public:
  explicit ByteStreamOutFileLE(FILE* file) : ByteStreamOutFile(file) {}
  BYTESTREAMOUT_ORDERED_WRITES(LE, BE)
};

class ByteStreamOutFileBE : public ByteStreamOutFile {
 public:
  explicit ByteStreamOutFileBE(FILE* file) : ByteStreamOutFile(file) {}
  BYTESTREAMOUT_ORDERED_WRITES(BE, LE)
};
