// Input stream over a FILE handle that its creator opens and closes. The class
// keeps no position of its own, so several streams over one handle agree.
#pragma once

#include <unistd.h>

#include "core/bytestreamin.hpp"

class ByteStreamInFile : public ByteStreamIn {
 public:
  explicit ByteStreamInFile(FILE* file) : file(file) {}
  U32 getByte() override {
    int byte = getc(file);
    if (byte == EOF) throw EOF;
    return (U32)byte;
  }
  void getBytes(U8* bytes, const I64 num_bytes) override {
    if (num_bytes <= 0) return;
    if (fread(bytes, 1, (size_t)num_bytes, file) != (size_t)num_bytes) throw EOF;
  }
  bool isSeekable() const override { return file != stdin; }
  I64 tell() const override { return (I64)ftello(file); }
  bool seek(const I64 position) override {
    if (tell() == position) return true;
    return fseeko(file, (off_t)position, SEEK_SET) == 0;
  }
  bool seekEnd(const I64 distance = 0) override { return fseeko(file, (off_t)-distance, SEEK_END) == 0; }
  FILE* get_file() const { return file; }

 protected:
  FILE* file;
};

class ByteStreamInFileLE : public ByteStreamInFile {
 public:
  explicit ByteStreamInFileLE(FILE* file) : ByteStreamInFile(file) {}
  BYTESTREAMIN_ORDERED_READS(LE, BE)
};

class ByteStreamInFileBE : public ByteStreamInFile {
 public:
  explicit ByteStreamInFileBE(FILE* file) : ByteStreamInFile(file) {}
  BYTESTREAMIN_ORDERED_READS(BE, LE)
};
