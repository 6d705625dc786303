// The list of live mapped input windows and the bus error handler that reads
// it (see mappedwindows.hpp). The handler takes no lock and allocates nothing:
// slots are fixed and each field is a lock-free atomic; a slot is marked live
// only after its fields are written.
#include "core/mappedwindows.hpp"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>

#include "core/lasmessage.hpp"

namespace {

enum : int { FREE = 0, TAKEN = 1, LIVE = 2 };

struct Slot {
  std::atomic<int> state{FREE};
  std::atomic<uintptr_t> start{0};
  std::atomic<size_t> length{0};
  std::atomic<const char*> name{nullptr};
};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<uintptr_t>::is_always_lock_free &&
              std::atomic<size_t>::is_always_lock_free && std::atomic<const char*>::is_always_lock_free);

// More than any run keeps open at once: a reader holds one window per file.
constexpr int SLOTS = 64;
Slot slots[SLOTS];

std::atomic<bool> installed{false};
struct sigaction previous;

// Whether a live window holds `address`; `name` is then its file's name.
bool window_holding(const void* address, const char*& name) {
  const uintptr_t at = (uintptr_t)address;
  for (const Slot& slot : slots) {
    if (slot.state.load(std::memory_order_acquire) != LIVE) continue;
    const uintptr_t start = slot.start.load(std::memory_order_relaxed);
    if (at >= start && at - start < slot.length.load(std::memory_order_relaxed)) {
      name = slot.name.load(std::memory_order_relaxed);
      return true;
    }
  }
  return false;
}

// Appends `text` to the line in `buffer` as far as it fits.
void append(char* buffer, size_t capacity, size_t& used, const char* text) {
  while (*text && used < capacity) buffer[used++] = *text++;
}

void on_bus_error(int signal_number, siginfo_t* info, void* /*context*/) {
  // Only faults carry an address: a SIGBUS sent by a program (si_code <= 0)
  // holds the sender's ids in its place.
  const char* name = nullptr;
  if (info != nullptr && info->si_code > 0 && window_holding(info->si_addr, name)) {
    char line[4200];
    size_t used = 0;
    if (name != nullptr && *name) {
      append(line, sizeof(line) - 1, used, "ERROR: file '");
      append(line, sizeof(line) - 80, used, name);
      append(line, sizeof(line) - 1, used, "' was cut short or could not be read while being read\n");
    } else {
      append(line, sizeof(line) - 1, used, "ERROR: an input file was cut short or could not be read while being read\n");
    }
    const char* out = line;
    while (used > 0) {
      const ssize_t n = write(STDERR_FILENO, out, used);
      if (n <= 0) break;
      out += n;
      used -= (size_t)n;
    }
    // As laserror and byebye would end the run.
    lasmessage_cnt[ERROR]++;
    las_remove_exit_files();
    _exit(las_exit_code());
  }
  // Not ours: the action set before takes this signal. A fault happens again
  // as soon as the handler returns; a signal sent is sent again, and waits
  // until then.
  sigaction(signal_number, &previous, nullptr);
  installed.store(false);
  if (info == nullptr || info->si_code <= 0) raise(signal_number);
}

void install() {
  if (installed.exchange(true)) return;
  struct sigaction action = {};
  action.sa_sigaction = on_bus_error;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  if (sigaction(SIGBUS, &action, &previous) != 0) installed.store(false);
}

}  // namespace

int guard_mapped_window(const void* start, size_t length, const char* file_name) {
  install();
  if (!installed.load()) return -1;
  for (int i = 0; i < SLOTS; i++) {
    int free = FREE;
    if (!slots[i].state.compare_exchange_strong(free, TAKEN)) continue;
    slots[i].start.store((uintptr_t)start, std::memory_order_relaxed);
    slots[i].length.store(length, std::memory_order_relaxed);
    slots[i].name.store(file_name, std::memory_order_relaxed);
    slots[i].state.store(LIVE, std::memory_order_release);
    return i;
  }
  return -1;
}

void unguard_mapped_window(int slot) {
  if (slot < 0 || slot >= SLOTS) return;
  slots[slot].state.store(FREE, std::memory_order_release);
}

bool is_guarded_address(const void* address) {
  const char* name = nullptr;
  return window_holding(address, name);
}
