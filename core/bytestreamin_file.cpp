// The buffered file input stream (see bytestreamin_file.hpp): blocks, the
// thread that reads them ahead, the reads that cross the end of a block, and
// seeks.
#include "core/bytestreamin_file.hpp"

#include <sched.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Up to `count` bytes at `offset`; fewer only at the end of the file or on a
// read error, which ends the data as a short fread would.
size_t read_at(int descriptor, U8* into, size_t count, I64 offset) {
  size_t got = 0;
  while (got < count) {
    const ssize_t n = pread(descriptor, into + got, count - got, (off_t)(offset + (I64)got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += (size_t)n;
  }
  return got;
}

// A second thread only pays where it gets a CPU of its own; on one it would
// only take turns with the caller. Asked once: the answer does not move.
bool several_cpus() {
  static const bool several = [] {
    cpu_set_t set;
    CPU_ZERO(&set);
    return sched_getaffinity(0, sizeof(set), &set) == 0 && CPU_COUNT(&set) > 1;
  }();
  return several;
}

// The largest buffer that is read ahead: the thread's slots take 16 times
// the buffer (the default is 256 KB).
constexpr size_t MOST_AHEAD = 1 << 20;

}  // namespace

// The thread and its slots. The worker reads block after block from
// `next_offset` into free slots and queues them; the stream takes them in
// order and hands back the slot it is done with. A restart (a seek) drops the
// queue; a read still in flight for the old position is dropped when it
// lands, which the generation tells.
struct ByteStreamInFileBuffered::ReadAhead {
  static constexpr int SLOTS = 8;  // the one in view and the ones read ahead
  // The worker is woken when this many slots are free: a wake-up per block
  // costs more than the copy it moves.
  static constexpr size_t WAKE_AT = SLOTS / 2;
  struct Block {
    int slot;
    size_t length;
  };
  int descriptor;
  size_t capacity;
  U8* slots[SLOTS] = {};  // each the room for carried bytes, then the block
  std::mutex mutex;
  std::condition_variable wake_worker;
  std::condition_variable wake_reader;
  std::deque<Block> ready;
  std::vector<int> free_slots;
  int held = -1;  // the slot in view
  I64 next_offset = 0;
  unsigned generation = 0;
  int in_flight = 0;  // reads of the worker under way
  bool ended = false;  // the last block came short: wait for a restart
  bool stop = false;
  std::thread worker;

  ReadAhead(int descriptor, size_t capacity) : descriptor(descriptor), capacity(capacity) {}
  ~ReadAhead() {
    if (worker.joinable()) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;
      }
      wake_worker.notify_one();
      worker.join();
    }
    for (U8* slot : slots) free(slot);
  }

  // False when the slots or the thread cannot be had.
  bool begin(I64 offset) {
    for (int i = 0; i < SLOTS; i++) {
      slots[i] = (U8*)malloc(2 * capacity);
      if (slots[i] == nullptr) return false;
      free_slots.push_back(i);
    }
    next_offset = offset;
    try {
      worker = std::thread([this] { run(); });
    } catch (...) {
      return false;
    }
    return true;
  }

  void run() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      wake_worker.wait(lock, [this] { return stop || (!ended && !free_slots.empty()); });
      if (stop) return;
      Block block;
      if (!read_next(lock, block)) continue;
      ready.push_back(block);
      wake_reader.notify_one();
    }
  }

  // Reads the block at next_offset into a free slot, without the lock while
  // it reads; called and returning with the lock held. False when a restart
  // dropped the block's position meanwhile: its slot is free again.
  bool read_next(std::unique_lock<std::mutex>& lock, Block& block) {
    const int slot = free_slots.back();
    free_slots.pop_back();
    const I64 offset = next_offset;
    const unsigned asked = generation;
    next_offset += (I64)capacity;
    in_flight++;
    lock.unlock();
    const size_t length = read_at(descriptor, slots[slot] + capacity, capacity, offset);
    lock.lock();
    in_flight--;
    if (asked != generation) {
      free_slots.push_back(slot);
      return false;
    }
    if (length < capacity) ended = true;
    block = {slot, length};
    return true;
  }

  // The next block. When none is queued and none is in flight (the worker
  // has not had a CPU yet), the caller reads it itself instead of waiting.
  Block take() {
    std::unique_lock<std::mutex> lock(mutex);
    // Only the caller restarts, so its own read cannot be dropped.
    Block block;
    if (ready.empty() && in_flight == 0 && !ended && !free_slots.empty() && read_next(lock, block)) return block;
    wake_reader.wait(lock, [this] { return !ready.empty(); });
    block = ready.front();
    ready.pop_front();
    return block;
  }

  void release_held_for(int slot) {
    bool wake = false;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (held >= 0) free_slots.push_back(held);
      held = slot;
      wake = free_slots.size() == WAKE_AT;
    }
    if (wake) wake_worker.notify_one();
  }

  // True when the bytes up to `offset` are queued or being read.
  bool reads_up_to(I64 offset) {
    std::lock_guard<std::mutex> lock(mutex);
    return offset < next_offset;
  }

  void restart(I64 offset) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      generation++;
      for (const Block& block : ready) free_slots.push_back(block.slot);
      ready.clear();
      next_offset = offset;
      ended = false;
    }
    wake_worker.notify_one();
  }
};

ByteStreamInFileBuffered::ByteStreamInFileBuffered(FILE* file, size_t capacity)
    : file(file), capacity(capacity < 4096 ? 4096 : capacity) {
  memory = (U8*)malloc(2 * this->capacity);
  const off_t position = ftello(file);
  start = (position < 0) ? 0 : (I64)position;
  // A named pipe has no position: it is read in order, like standard input.
  seekable = file != stdin && position >= 0;
  struct stat info;
  const int number = fileno(file);
  if (seekable && number >= 0 && fstat(number, &info) == 0 && S_ISREG(info.st_mode)) descriptor = number;
  // A larger buffer is read in turn: its owner asked for that much memory,
  // not sixteen times as much.
  may_read_ahead = descriptor >= 0 && this->capacity <= MOST_AHEAD && several_cpus();
}

ByteStreamInFileBuffered::~ByteStreamInFileBuffered() {
  ahead.reset();  // the thread stops before the memory goes
  free(memory);
}

void ByteStreamInFileBuffered::restart(const I64 position) {
  start = position;
  filled = curr = 0;
  at_end = false;
  continuing = false;
  if (ahead) ahead->restart(position);
}

bool ByteStreamInFileBuffered::seek(const I64 position) {
  if (position >= start && position <= start + (I64)filled) {
    curr = (size_t)(position - start);
    return true;
  }
  // A skip forward into blocks already read ahead goes through them instead
  // of reading them again.
  if (ahead && position > start && ahead->reads_up_to(position)) {
    while (position > start + (I64)filled && fetch(0)) {
    }
    if (position <= start + (I64)filled) {
      curr = (size_t)(position - start);
      return true;
    }
  }
  // Read at offsets, the file's own position is of no use; a stdio seek
  // would also read a block into the handle's buffer.
  if (descriptor >= 0) {
    if (position < 0) return false;
  } else if (fseeko(file, (off_t)position, SEEK_SET) != 0) {
    return false;
  }
  restart(position);
  return true;
}

bool ByteStreamInFileBuffered::seekEnd(const I64 distance) {
  if (fseeko(file, (off_t)-distance, SEEK_END) != 0) return false;
  const off_t position = ftello(file);
  restart(position < 0 ? 0 : (I64)position);
  return true;
}

size_t ByteStreamInFileBuffered::read_block(U8* into, I64 offset) {
  if (descriptor >= 0) return read_at(descriptor, into, capacity, offset);
  size_t got = 0;
  while (got < capacity) {
    const size_t n = fread(into + got, 1, capacity - got, file);
    if (n == 0) break;
    got += n;
  }
  return got;
}

bool ByteStreamInFileBuffered::fetch(const size_t keep) {
  if (memory == nullptr) return false;
  const I64 next = start + (I64)filled;
  if (at_end) {
    if (keep == 0) {
      start = next;
      filled = curr = 0;
    }
    return false;
  }
  // Reading on past a block: from here the thread reads ahead, where it can.
  if (!ahead && continuing && may_read_ahead) {
    ahead = std::make_unique<ReadAhead>(descriptor, capacity);
    if (!ahead->begin(next)) {
      ahead.reset();
      may_read_ahead = false;
    }
  }
  U8* slot;
  size_t length;
  if (ahead) {
    const ReadAhead::Block block = ahead->take();
    slot = ahead->slots[block.slot];
    length = block.length;
    if (keep) memcpy(slot + capacity - keep, buffer + curr, keep);
    ahead->release_held_for(block.slot);
  } else {
    slot = memory;
    if (keep) memmove(slot + capacity - keep, buffer + curr, keep);
    length = read_block(slot + capacity, next);
  }
  if (length < capacity) at_end = true;
  continuing = true;
  buffer = slot + capacity - keep;
  start = next - (I64)keep;
  filled = keep + length;
  curr = 0;
  return length > 0;
}

const U8* ByteStreamInFileBuffered::lend(const U32 unit, const U64 most, U64& units) {
  units = 0;
  if (unit == 0 || most == 0) return nullptr;
  const U64 fit = std::min(most, (U64)(capacity / unit));
  if (fit == 0) return nullptr;
  if (filled - curr < fit * unit) fetch(filled - curr);
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
    if (!fetch(0)) throw EOF;
    const size_t n = (count < filled) ? (size_t)count : filled;
    memcpy(bytes, buffer, n);
    curr = n;
    bytes += n;
    count -= n;
  }
}
