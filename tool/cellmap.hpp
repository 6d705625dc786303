// Open-addressing hash map from a cell key to a small trivially copyable record,
// made for the voxel filters: one flat array of (key, record) slots with a
// power-of-two capacity, linear probing after a strong integer mix, and no
// per-entry allocation or pointer. Memory follows the number of occupied cells:
// at most 7/8 of the slots are used before the array doubles. Entries are never
// removed (a filter only grows its cells, then reads them).
#pragma once

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include <sys/mman.h>

#include "core/mydefs.hpp"

// Bijective 64-bit finaliser (xor-shift and multiply rounds): every input bit
// reaches every output bit, so regular keys such as ix + nx * iy spread evenly.
inline U64 cell_map_mix(U64 v) {
  v ^= v >> 30;
  v *= 0xbf58476d1ce4e5b9ULL;
  v ^= v >> 27;
  v *= 0x94d049bb133111ebULL;
  v ^= v >> 31;
  return v;
}

// Per key type: the value that marks a free slot and the hash. The marker can
// still be stored as a key: it is kept outside the slot array.
template <class Key>
struct CellMapKey;

template <>
struct CellMapKey<U64> {
  static constexpr U64 empty() { return U64_MAX; }
  static U64 hash(U64 key) { return cell_map_mix(key); }
};

template <class Key, class Value>
class CellMap {
  static_assert(std::is_trivially_copyable_v<Key> && std::is_trivially_copyable_v<Value>,
                "slots are moved by plain copies");

 public:
  // Slots are packed to 4 bytes so that a record of a 64-bit hash, a 32-bit
  // count and a double takes 28 bytes, not 32.
#pragma pack(push, 4)
  struct Slot {
    Key key;
    Value value;
  };
#pragma pack(pop)

  static constexpr U64 MIN_CAPACITY = 16;

  CellMap() = default;
  ~CellMap() { std::free(block); }
  CellMap(const CellMap&) = delete;
  CellMap& operator=(const CellMap&) = delete;

  U64 size() const { return count + (has_empty_key ? 1 : 0); }
  U64 capacity() const { return slots ? mask + 1 : 0; }
  // Bytes held for the entries, free slots included.
  U64 memoryBytes() const { return capacity() * sizeof(Slot); }

  Value* find(const Key& key) {
    if (key == CellMapKey<Key>::empty()) [[unlikely]]
      return has_empty_key ? &empty_key_value : nullptr;
    if (!slots) return nullptr;
    for (U64 i = home(key);; i = (i + 1) & mask) {
      Slot& slot = slots[i];
      if (slot.key == key) return &slot.value;
      if (slot.key == CellMapKey<Key>::empty()) return nullptr;
    }
  }
  const Value* find(const Key& key) const { return const_cast<CellMap*>(this)->find(key); }

  // Finds the record of key or adds a zeroed one; inserted tells which. Throws
  // std::bad_alloc when the array cannot grow.
  Value* insert(const Key& key, bool& inserted) {
    if (key == CellMapKey<Key>::empty()) [[unlikely]] {
      inserted = !has_empty_key;
      if (inserted) {
        has_empty_key = true;
        std::memset(static_cast<void*>(&empty_key_value), 0, sizeof(Value));
      }
      return &empty_key_value;
    }
    if (slots) {
      U64 i = home(key);
      for (;; i = (i + 1) & mask) {
        Slot& slot = slots[i];
        if (slot.key == key) {
          inserted = false;
          return &slot.value;
        }
        if (slot.key == CellMapKey<Key>::empty()) break;
      }
      if (count + 1 <= max_count) {
        inserted = true;
        count++;
        return occupy(slots[i], key);
      }
    }
    grow();
    U64 i = home(key);
    while (slots[i].key != CellMapKey<Key>::empty()) i = (i + 1) & mask;
    inserted = true;
    count++;
    return occupy(slots[i], key);
  }

  // Calls f(key, value) for every entry, in no particular order.
  template <class F>
  void forEach(F f) const {
    if (has_empty_key) f(CellMapKey<Key>::empty(), empty_key_value);
    for (U64 i = 0; i < capacity(); i++) {
      if (slots[i].key != CellMapKey<Key>::empty()) f(slots[i].key, slots[i].value);
    }
  }

 private:
  U64 home(const Key& key) const { return CellMapKey<Key>::hash(key) >> shift; }

  static Value* occupy(Slot& slot, const Key& key) {
    slot.key = key;
    std::memset(static_cast<void*>(&slot.value), 0, sizeof(Value));
    return &slot.value;
  }

  void grow() {
    const U64 old_capacity = capacity();
    const U64 new_capacity = old_capacity ? old_capacity * 2 : MIN_CAPACITY;
    if (new_capacity > U64_MAX / 2 / sizeof(Slot)) throw std::bad_alloc();
    void* old_block = block;
    Slot* old = slots;
    slots = allocate(new_capacity * sizeof(Slot), block);
    for (U64 i = 0; i < new_capacity; i++) slots[i].key = CellMapKey<Key>::empty();
    mask = new_capacity - 1;
    shift = 64 - std::countr_zero(new_capacity);
    max_count = new_capacity - new_capacity / 8;
    for (U64 j = 0; j < old_capacity; j++) {
      if (old[j].key == CellMapKey<Key>::empty()) continue;
      U64 i = home(old[j].key);
      while (slots[i].key != CellMapKey<Key>::empty()) i = (i + 1) & mask;
      slots[i] = old[j];
    }
    std::free(old_block);
  }

  // Every probe of a large table lands on a random page; backed by 4 KiB pages
  // each costs a TLB miss on top of the cache miss, and filling a fresh table
  // costs a page fault per 4 KiB. Tables of 4 MiB and more therefore start on a
  // 2 MiB boundary and ask the kernel for huge pages (a hint; ignored where
  // unsupported). The alignment slack is never touched, so it takes no memory.
  static Slot* allocate(U64 bytes, void*& block) {
    constexpr U64 HUGE_PAGE = U64(1) << 21;
    const bool large = bytes >= 2 * HUGE_PAGE;
    void* fresh = malloc_las(large ? bytes + HUGE_PAGE : bytes);
    if (!fresh) throw std::bad_alloc();
    block = fresh;
    if (!large) return static_cast<Slot*>(block);
    const std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(block) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
#ifdef MADV_HUGEPAGE
    madvise(reinterpret_cast<void*>(start), bytes & ~(HUGE_PAGE - 1), MADV_HUGEPAGE);
#endif
    return reinterpret_cast<Slot*>(start);
  }

  void* block = nullptr;  // what was allocated; slots lies within it
  Slot* slots = nullptr;
  U64 mask = 0;
  int shift = 64;
  U64 count = 0;      // keys in the slot array
  U64 max_count = 0;  // 7/8 of the capacity
  bool has_empty_key = false;
  Value empty_key_value{};
};
