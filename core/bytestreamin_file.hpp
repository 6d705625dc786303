// Input stream over a FILE handle that its creator opens and closes. Positions
// come from the handle, so several streams over one handle agree; only where the
// handle has none (a pipe) the bytes read so far stand in for it.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

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

// The stream over a file opened by name: little-endian reads served from a
// buffer of its own, so that a point record costs a copy per item instead of
// a stdio call per item. Only its owner reads the file, so the buffer cannot
// go stale; seeks inside the buffer keep it.
//
// The file comes in blocks of `capacity` bytes, each in a slot with room in
// front of it for the bytes of the previous block not yet handed out, so that
// whole units stay whole. A regular file is read at known offsets
// (pread), and once a stream reads on past its first block, a thread of its
// own reads the next blocks while the caller works on this one: the kernel's
// copy then costs no time on the caller's thread. Its ReadAhead is stopped
// and joined before the slots go; the file must stay open until then.
class ByteStreamInFileBuffered final : public ByteStreamIn {
 public:
  ByteStreamInFileBuffered(FILE* file, size_t capacity);
  ~ByteStreamInFileBuffered() override;
  // False when the buffer could not be had: the caller then reads unbuffered.
  bool has_buffer() const { return memory != nullptr; }
  // True once the thread reads ahead (tests look).
  bool reads_ahead() const { return ahead != nullptr; }
  ByteStreamInFileBuffered(const ByteStreamInFileBuffered&) = delete;
  ByteStreamInFileBuffered& operator=(const ByteStreamInFileBuffered&) = delete;

  U32 getByte() override {
    if (curr == filled && !fetch(0)) throw EOF;
    return buffer[curr++];
  }
  void getBytes(U8* bytes, const I64 num_bytes) override {
    if (num_bytes <= 0) return;
    if ((U64)num_bytes <= filled - curr) {
      memcpy(bytes, buffer + curr, (size_t)num_bytes);
      curr += (size_t)num_bytes;
      return;
    }
    get_bytes_slowly(bytes, (U64)num_bytes);
  }
  // Whole units never straddle the end of a block: what is left of it moves
  // in front of the next one.
  const U8* lend(const U32 unit, const U64 most, U64& units) override;
  bool isSeekable() const override { return seekable; }
  I64 tell() const override { return start + (I64)curr; }
  bool seek(const I64 position) override;
  bool seekEnd(const I64 distance = 0) override;
  BYTESTREAMIN_ORDERED_READS(LE, BE)

 private:
  struct ReadAhead;
  void restart(const I64 position);
  // Moves the `keep` bytes at curr in front of the next block and views them
  // and it; false when no byte came.
  bool fetch(size_t keep);
  size_t read_block(U8* into, I64 offset);
  void get_bytes_slowly(U8* bytes, U64 count);
  FILE* file;
  size_t capacity;
  int descriptor = -1;     // read at offsets when not -1 (a regular file)
  U8* memory = nullptr;    // the slot read into while no thread reads ahead
  const U8* buffer = nullptr;  // the bytes in view
  I64 start = 0;      // file position of buffer[0]
  size_t filled = 0;  // valid bytes in view
  size_t curr = 0;    // next byte to hand out
  bool seekable = false;
  bool at_end = false;      // a block came short: no more until a seek
  bool continuing = false;  // a block came since the last seek
  bool may_read_ahead = false;
  std::unique_ptr<ReadAhead> ahead;
};
