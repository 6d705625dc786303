// The buffered and the mapped file input streams (see bytestreamin_file.hpp):
// refills and windows, the reads that cross their ends, and seeks.
#include "core/bytestreamin_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include <sys/mman.h>
#include <sys/stat.h>

#include "core/mappedwindows.hpp"

// A read that runs past the end of the run takes what is left there and
// goes on in the runs that follow; the end of data is thrown with what was
// there read and the position at the end.
void ByteStreamInFileRun::get_bytes_slowly(U8* bytes, U64 count) {
  const size_t here = filled - curr;
  if (here) memcpy(bytes, data + curr, here);
  curr = filled;
  bytes += here;
  count -= here;
  while (count > 0) {
    if (!next_run()) throw EOF;
    const size_t n = (count < filled) ? (size_t)count : filled;
    memcpy(bytes, data, n);
    curr = n;
    bytes += n;
    count -= n;
  }
}

ByteStreamInFileBuffered::ByteStreamInFileBuffered(FILE* file, size_t capacity)
    : file(file), capacity(capacity < 4096 ? 4096 : capacity) {
  buffer = (U8*)malloc(this->capacity);
  data = buffer;
  const off_t position = ftello(file);
  start = (position < 0) ? 0 : (I64)position;
  // A named pipe has no position: it is read in order, like standard input.
  seekable = file != stdin && position >= 0;
}

ByteStreamInFileBuffered::~ByteStreamInFileBuffered() { free(buffer); }

bool ByteStreamInFileBuffered::seek(const I64 position) {
  if (seek_inside(position)) return true;
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

bool ByteStreamInFileBuffered::next_run() {
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
  return lend_from_run(unit, most, units, capacity, [this] { top_up(); });
}

// ------------------------------------------------------------ mapped stream

namespace {
#ifdef MAP_POPULATE
constexpr int POPULATE = MAP_POPULATE;
#else
constexpr int POPULATE = 0;
#endif
// Bytes asked into the cache ahead of the reader, and how often.
constexpr size_t PREFETCH_AHEAD = 32768;
constexpr size_t PREFETCH_STEP = 1024;
}  // namespace

ByteStreamInFileMapped::ByteStreamInFileMapped(FILE* file, size_t window, const char* file_name)
    : fd(fileno(file)), name(file_name ? file_name : "") {
  const long size = sysconf(_SC_PAGESIZE);
  page = size > 0 ? (size_t)size : 4096;
  this->window = std::max((window + page - 1) / page, (size_t)2) * page;
  struct stat status;
  if (file == stdin || fd < 0 || fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return;
  const off_t position = ftello(file);
  if (position < 0) return;
  restart((I64)position);
  // The first window tells whether the file can be mapped at all.
  if (position < status.st_size && !map_window((I64)position)) return;
  usable = true;
}

ByteStreamInFileMapped::~ByteStreamInFileMapped() {
  unmap();
  free(copy);
}

void ByteStreamInFileMapped::unmap() {
  if (map) {
    unguard_mapped_window(guard);
    munmap(map, map_length);
  }
  guard = -1;
  map = nullptr;
  map_length = 0;
}

// Maps the window from `position` on, or, where a later map fails, reads it
// into memory of its own. False where the file (at its size now) has no byte
// there: the window is then empty at that position.
bool ByteStreamInFileMapped::map_window(const I64 position) {
  unmap();
  restart(position);
  struct stat status;
  if (position < 0 || fstat(fd, &status) != 0 || position >= (I64)status.st_size) return false;
  const I64 size = (I64)status.st_size;
  const I64 aligned = position - position % (I64)page;
  const size_t length = (size_t)std::min((U64)window, (U64)(size - aligned));
  // Pages are mapped with the window, not one fault at a time, and so are
  // there for the reads' prefetches, which skip pages that are not mapped.
  void* mapped = mmap(nullptr, length, PROT_READ, MAP_PRIVATE | POPULATE, fd, (off_t)aligned);
  // A window that cannot be guarded is not read through: a fault there would
  // end the run by signal.
  if (mapped != MAP_FAILED && (guard = guard_mapped_window(mapped, length, name.c_str())) < 0) {
    munmap(mapped, length);
    mapped = MAP_FAILED;
  }
  if (mapped != MAP_FAILED) {
    map = (U8*)mapped;
    map_length = length;
    data = map + (position - aligned);
    filled = length - (size_t)(position - aligned);
    prefetched = next_prefetch = 0;
    return true;
  }
  // A file that cannot be mapped from the start is read by the buffered stream.
  if (!usable) return false;
  if (copy == nullptr) copy = (U8*)malloc(window);
  if (copy == nullptr) return false;
  const size_t wanted = (size_t)std::min((U64)window, (U64)(size - position));
  size_t got = 0;
  while (got < wanted) {
    const ssize_t n = pread(fd, copy + got, wanted - got, (off_t)(position + (I64)got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += (size_t)n;
  }
  data = copy;
  filled = got;
  prefetched = next_prefetch = 0;
  return filled > 0;
}

bool ByteStreamInFileMapped::seek(const I64 position) {
  if (seek_inside(position)) return true;
  if (position < 0) return false;
  restart(position);
  return true;
}

bool ByteStreamInFileMapped::seekEnd(const I64 distance) {
  struct stat status;
  if (fstat(fd, &status) != 0) return false;
  const I64 size = (I64)status.st_size;
  // Before the start fails, as a seek there does; the difference cannot wrap.
  if (distance > size || distance < size - I64_MAX) return false;
  restart(size - distance);
  return true;
}

// Pages of the file are not contiguous in memory, so the processor's own
// prefetch stops at each page end; reads from the map would wait for memory
// where read() copied at full speed. Asking, line by line, for the bytes just
// handed out from `from` on and for those the reader comes to next hides
// that wait.
void ByteStreamInFileMapped::prefetch_ahead(const size_t from) {
  const size_t to = std::min(filled, curr + PREFETCH_AHEAD);
  for (size_t p = std::max(prefetched, from); p < to; p += 64) __builtin_prefetch(data + p);
  prefetched = std::max(prefetched, to);
  next_prefetch = curr + PREFETCH_STEP;
}

const U8* ByteStreamInFileMapped::lend_slowly(const U32 unit, const U64 most, U64& units) {
  // A window mapped afresh holds this much from any position in its first page.
  return lend_from_run(unit, most, units, window - page, [this] { map_window(tell()); });
}
