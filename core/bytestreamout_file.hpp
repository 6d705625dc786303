// Output stream over a FILE handle that its creator opens and closes. Positions
// come from the handle; only where it has none (a pipe) the bytes written so far
// stand in for it, so chunk sizes stay right on piped output.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstring>

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

// File output with a block buffer of its own in front of the FILE handle: a
// point record then costs a copy instead of a locked stdio call per item.
// It counts its position itself, so that tell also answers on a pipe.
template <class Base>
class ByteStreamOutFileBlocked final : public Base {
 public:
  explicit ByteStreamOutFileBlocked(FILE* file);
  ~ByteStreamOutFileBlocked() override {
    flush();
    delete[] buffer;
  }
  ByteStreamOutFileBlocked(const ByteStreamOutFileBlocked&) = delete;
  ByteStreamOutFileBlocked& operator=(const ByteStreamOutFileBlocked&) = delete;
  bool putByte(U8 byte) override {
    if (used == CAPACITY && !flush()) return false;
    buffer[used++] = byte;
    return true;
  }
  bool putBytes(const U8* bytes, U32 num_bytes) override {
    if (num_bytes <= CAPACITY - used) {
      memcpy(buffer + used, bytes, num_bytes);
      used += num_bytes;
      return true;
    }
    return put_bytes_slowly(bytes, num_bytes);
  }
  bool isSeekable() const override { return seekable; }
  I64 tell() const override { return position + used; }
  bool seek(const I64 target) override;
  bool seekEnd() override;
  // Hands the buffered bytes to the FILE handle; false when it refuses them.
  bool flush();

 private:
  bool put_bytes_slowly(const U8* bytes, U32 num_bytes);
  static constexpr U32 CAPACITY = 1 << 20;
  U8* buffer;
  U32 used = 0;
  I64 position = 0;
  bool seekable = false;
};

extern template class ByteStreamOutFileBlocked<ByteStreamOutFileLE>;
extern template class ByteStreamOutFileBlocked<ByteStreamOutFileBE>;

// A blocked stream over `file` for this host's byte order.
ByteStreamOutFile* blocked_file_stream(FILE* file);
// Flushes `stream` when it is a blocked stream; true for any other stream.
bool flush_blocked(ByteStreamOut* stream);
