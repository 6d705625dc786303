// The buffered file input stream (see bytestreamin_file.hpp): refills, the
// reads that cross the end of the buffer, and seeks.
#include "core/bytestreamin_file.hpp"

#include <algorithm>
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

void ByteStreamInFileBuffered::top_up() {
  if (buffer == nullptr) return;
  const size_t here = filled - curr;
  if (curr > 0) {
    memmove(buffer, buffer + curr, here);
    start += (I64)curr;
    filled = here;
    curr = 0;
  }
  while (filled < capacity) {
    const size_t got = fread(buffer + filled, 1, capacity - filled, file);
    if (got == 0) break;
    filled += got;
  }
}

const U8* ByteStreamInFileBuffered::lend(const U32 unit, const U64 most, U64& units) {
  units = 0;
  if (unit == 0 || most == 0) return nullptr;
  const U64 fit = std::min(most, (U64)(capacity / unit));
  if (fit == 0) return nullptr;
  if (filled - curr < fit * unit) top_up();
  units = std::min(fit, (U64)((filled - curr) / unit));
  if (units == 0) return nullptr;
  const U8* lent = buffer + curr;
  curr += (size_t)(units * unit);
  return lent;
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
