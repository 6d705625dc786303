// The buffered file input stream (see bytestreamin_file.hpp): refills, the
// reads that cross the end of the buffer, and seeks.
#include "core/bytestreamin_file.hpp"

#include <cstdlib>

ByteStreamInFileBuffered::ByteStreamInFileBuffered(FILE* file, size_t capacity)
    : file(file), capacity(capacity < 4096 ? 4096 : capacity) {
  buffer = (U8*)malloc(this->capacity);
  const off_t position = ftello(file);
  start = (position < 0) ? 0 : (I64)position;
  // A named pipe has no position: it is read in order, like standard input.
  seekable = file != stdin && position >= 0;
}

ByteStreamInFileBuffered::~ByteStreamInFileBuffered() { free(buffer); }

bool ByteStreamInFileBuffered::seek(const I64 position) {
  if (position >= start && position <= start + (I64)filled) {
    curr = (size_t)(position - start);
    return true;
  }
  if (fseeko(file, (off_t)position, SEEK_SET) != 0) return false;
  restart(position);
  return true;
}

bool ByteStreamInFileBuffered::seekEnd(const I64 distance) {
  if (fseeko(file, (off_t)-distance, SEEK_END) != 0) return false;
  const off_t position = ftello(file);
  restart(position < 0 ? 0 : (I64)position);
  return true;
}

bool ByteStreamInFileBuffered::refill() {
  if (buffer == nullptr) return false;
  start += (I64)filled;
  filled = curr = 0;
  filled = fread(buffer, 1, capacity, file);
  return filled > 0;
}

void ByteStreamInFileBuffered::get_bytes_slowly(U8* bytes, U64 count) {
  const size_t here = filled - curr;
  if (here) memcpy(bytes, buffer + curr, here);
  curr = filled;
  bytes += here;
  count -= here;
  while (count > 0) {
    if (!refill()) throw EOF;
    const size_t n = (count < filled) ? (size_t)count : filled;
    memcpy(bytes, buffer, n);
    curr = n;
    bytes += n;
    count -= n;
  }
}
