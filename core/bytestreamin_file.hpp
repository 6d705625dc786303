// Input stream over a FILE handle that its creator opens and closes. Positions
// come from the handle, so several streams over one handle agree; only where the
// handle has none (a pipe) the bytes read so far stand in for it.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

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

// What the buffered and the mapped file streams share: a run of the file's
// bytes in memory, from file position `start` on, handed out in order; where
// it ends, the stream moves the run on.
class ByteStreamInFileRun : public ByteStreamIn {
 public:
  U32 getByte() override {
    if (curr == filled && !next_run()) throw EOF;
    return data[curr++];
  }
  I64 tell() const override { return start + (I64)curr; }

 protected:
  // Moves the run on to the bytes that follow it; false where none do.
  virtual bool next_run() = 0;
  void restart(const I64 position) {
    start = position;
    filled = curr = 0;
  }
  // Seeks that stay inside the run keep it.
  bool seek_inside(const I64 position) {
    if (position < start || position > start + (I64)filled) return false;
    curr = (size_t)(position - start);
    return true;
  }
  void get_bytes_slowly(U8* bytes, U64 count);
  // Lends up to `most` whole units from the run. A run holds `room` bytes
  // from any position once `move_on` has moved it to the reader's position,
  // which is done where fewer than asked are left.
  template <class MoveOn>
  const U8* lend_from_run(const U32 unit, const U64 most, U64& units, const size_t room, MoveOn move_on) {
    units = 0;
    if (unit == 0 || most == 0) return nullptr;
    const U64 fit = std::min(most, (U64)(room / unit));
    if (fit == 0) return nullptr;
    if (filled - curr < fit * unit) move_on();
    units = std::min(fit, (U64)((filled - curr) / unit));
    if (units == 0) return nullptr;
    const U8* lent = data + curr;
    curr += (size_t)(units * unit);
    return lent;
  }
  const U8* data = nullptr;  // the byte at file position `start`
  I64 start = 0;
  size_t filled = 0;  // bytes at data
  size_t curr = 0;    // next byte to hand out
};

// The stream over a file opened by name: little-endian reads served from a
// buffer of its own, so that a point record costs a copy per item instead of
// a stdio call per item. Only its owner reads the file, so the buffer cannot
// go stale; seeks inside the buffer keep it.
class ByteStreamInFileBuffered final : public ByteStreamInFileRun {
 public:
  ByteStreamInFileBuffered(FILE* file, size_t capacity);
  ~ByteStreamInFileBuffered() override;
  // False when the buffer could not be had: the caller then reads unbuffered.
  bool has_buffer() const { return buffer != nullptr; }
  ByteStreamInFileBuffered(const ByteStreamInFileBuffered&) = delete;
  ByteStreamInFileBuffered& operator=(const ByteStreamInFileBuffered&) = delete;

  void getBytes(U8* bytes, const I64 num_bytes) override {
    if (num_bytes <= 0) return;
    if ((U64)num_bytes <= filled - curr) {
      memcpy(bytes, buffer + curr, (size_t)num_bytes);
      curr += (size_t)num_bytes;
      return;
    }
    get_bytes_slowly(bytes, (U64)num_bytes);
  }
  // Whole units never straddle the end of the buffer: what is left there
  // moves to its front and the rest is filled from the file.
  const U8* lend(const U32 unit, const U64 most, U64& units) override;
  bool isSeekable() const override { return seekable; }
  bool seek(const I64 position) override;
  bool seekEnd(const I64 distance = 0) override;
  BYTESTREAMIN_ORDERED_READS(LE, BE)

 private:
  bool next_run() override;
  void top_up();
  FILE* file;
  size_t capacity;
  U8* buffer = nullptr;
  bool seekable = false;
};

// The stream over a regular file opened by name, read through a read-only
// memory map instead of read() copies: the kernel then copies nothing. The
// file is mapped a window of a few MB at a time, and the window behind the
// reader is unmapped when the next one is mapped, so its pages stay out of the
// process's resident memory. Positions, seeks and the end of data behave as
// in the buffered stream. The file's size is taken again before each window
// is mapped: a file that shrank between windows ends there, as a file cut
// short. A read from a window of a file cut inside it, or from a page that
// cannot be read, ends the run with an ERROR naming the file (see
// mappedwindows.hpp) where it would otherwise die of SIGBUS.
class ByteStreamInFileMapped final : public ByteStreamInFileRun {
 public:
  static constexpr size_t DEFAULT_WINDOW = (size_t)4 << 20;
  // `window` is rounded up to whole pages, two at least; `file_name` is the
  // name that error shows.
  ByteStreamInFileMapped(FILE* file, size_t window = DEFAULT_WINDOW, const char* file_name = nullptr);
  ~ByteStreamInFileMapped() override;
  // False for a file that is not regular or cannot be mapped: the caller
  // then reads it through the buffered stream.
  bool is_mapped() const { return usable; }
  ByteStreamInFileMapped(const ByteStreamInFileMapped&) = delete;
  ByteStreamInFileMapped& operator=(const ByteStreamInFileMapped&) = delete;

  void getBytes(U8* bytes, const I64 num_bytes) override {
    if (num_bytes <= 0) return;
    if ((U64)num_bytes <= filled - curr) {
      memcpy(bytes, data + curr, (size_t)num_bytes);
      curr += (size_t)num_bytes;
      if (curr >= next_prefetch) prefetch_ahead(curr - (size_t)num_bytes);
      return;
    }
    get_bytes_slowly(bytes, (U64)num_bytes);
  }
  // Lent units point into the map. Whole units never straddle the end of a
  // window: where fewer than asked remain, the window is mapped afresh at
  // the reader's position.
  const U8* lend(const U32 unit, const U64 most, U64& units) override {
    // `most` is checked first so that the product cannot wrap.
    if (unit != 0 && most - 1 < filled && most * unit <= filled - curr) {
      units = most;
      const size_t from = curr;
      curr += (size_t)(most * unit);
      if (curr >= next_prefetch) prefetch_ahead(from);
      return data + from;
    }
    return lend_slowly(unit, most, units);
  }
  bool isSeekable() const override { return true; }
  bool seek(const I64 position) override;
  bool seekEnd(const I64 distance = 0) override;
  BYTESTREAMIN_ORDERED_READS(LE, BE)

 private:
  bool map_window(const I64 position);
  bool next_run() override { return map_window(start + (I64)filled); }
  void unmap();
  void prefetch_ahead(const size_t from);
  const U8* lend_slowly(const U32 unit, const U64 most, U64& units);
  int fd;
  std::string name;
  size_t page;
  size_t window;          // bytes mapped at most, whole pages
  bool usable = false;
  U8* map = nullptr;      // the mapped window, or null
  size_t map_length = 0;
  int guard = -1;         // the window's slot in the list of guarded ones
  U8* copy = nullptr;     // where a window is read when it cannot be mapped
  size_t prefetched = 0;     // bytes of the window asked into the cache
  size_t next_prefetch = 0;  // where the reader asks for more
};
