// Input stream over a FILE handle that its creator opens and closes. Positions
// come from the handle, so several streams over one handle agree; only where the
// handle has none (a pipe) the bytes read so far stand in for it.
#pragma once

#include <unistd.h>

#include "core/bytestreamin.hpp"

class ByteStreamInFile : public ByteStreamIn {
 public:
  explicit ByteStreamInFile(FILE* file) : file(file) {}
  U32 getByte() override {
    int byte = getc(file);
    if (byte == EOF) throw EOF;
    consumed++;
    return (U32)byte;
  }
  void getBytes(U8* bytes, const I64 num_bytes) override {
    if (num_bytes <= 0) return;
    size_t got = fread(bytes, 1, (size_t)num_bytes, file);
    consumed += (I64)got;
    if (got != (size_t)num_bytes) throw EOF;
  }
  bool isSeekable() const override { return file != stdin; }
  I64 tell() const override {
    off_t position = ftello(file);
    return position < 0 ? consumed : (I64)position;
  }
  bool seek(const I64 position) override {
    if (tell() == position) return true;
    return fseeko(file, (off_t)position, SEEK_SET) == 0;
  }
  bool seekEnd(const I64 distance = 0) override { return fseeko(file, (off_t)-distance, SEEK_END) == 0; }
  FILE* get_file() const { return file; }

 protected:
  FILE* file;
  I64 consumed = 0;
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
