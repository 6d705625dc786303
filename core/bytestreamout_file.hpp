// Output stream over a FILE handle that its creator opens and closes. Positions
// come from the handle; only where it has none (a pipe) the bytes written so far
// stand in for it, so chunk sizes stay right on piped output.
#pragma once

#include <unistd.h>

#include "core/bytestreamout.hpp"

class ByteStreamOutFile : public ByteStreamOut {
 public:
  explicit ByteStreamOutFile(FILE* file) : file(file) {}
  bool putByte(U8 byte) override {
    if (fputc(byte, file) != byte) return false;
    written++;
    return true;
  }
  bool putBytes(const U8* bytes, U32 num_bytes) override {
    if (num_bytes == 0) return true;
    size_t put = fwrite(bytes, 1, num_bytes, file);
    written += (I64)put;
    return put == num_bytes;
  }
  bool isSeekable() const override { return file != stdout; }
  I64 tell() const override {
    off_t position = ftello(file);
    return position < 0 ? written : (I64)position;
  }
  bool seek(const I64 position) override { return fseeko(file, (off_t)position, SEEK_SET) == 0; }
  bool seekEnd() override { return fseeko(file, 0, SEEK_END) == 0; }
  FILE* get_file() const { return file; }

 protected:
  FILE* file;
  I64 written = 0;
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
