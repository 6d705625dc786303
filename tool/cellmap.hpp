// Hash map from a cell key to a small trivially copyable record, made for the
// voxel filters. Two arrays, no per-entry allocation or pointer:
//
// - the entries, each a key with its record, in the order in which the keys
//   were first inserted. An entry's position (0, 1, 2, ...) names it for good:
//   entries are never removed nor moved between positions, so a position
//   stays valid through growth (a pointer into the array does not).
// - the index: open addressing with linear probing after a strong integer
//   mix, one 64-bit slot per entry holding its position and 24 further bits of
//   the key's mix, so that a probe reads an entry only when those bits match.
//   At most 7/8 of the slots are used before the index doubles.
//
// Memory follows the number of occupied cells. Keeping the entries in order
// of first insertion is what makes a second pass over the same points cheap:
// it meets the cells first in that same order (see VoxelFilter).
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

// Per key type: the hash, well mixed in all 64 bits.
template <class Key>
struct CellMapKey;

template <>
struct CellMapKey<U64> {
  static U64 hash(U64 key) { return cell_map_mix(key); }
};

template <class Key, class Value>
class CellMap {
  static_assert(std::is_trivially_copyable_v<Key> && std::is_trivially_copyable_v<Value>,
                "entries are moved by plain copies");

 public:
  // Entries are packed to 4 bytes so that a record of a 64-bit hash, a 32-bit
  // count and a double takes 28 bytes with its key, not 32.
#pragma pack(push, 4)
  struct Entry {
    Key key;
    Value value;
  };
#pragma pack(pop)

  // A slot: the entry's position in the low POSITION_BITS, the low 24 bits of
  // the key's hash above it. The home slot comes from the high bits of the
  // hash, which the tag never overlaps while the index has at most 2^40 slots.
  static constexpr int POSITION_BITS = 40;
  static constexpr U64 POSITION_MASK = (U64(1) << POSITION_BITS) - 1;
  static constexpr U64 FREE = U64_MAX;  // never a slot in use: position 2^40 - 1 is beyond the limit
  static constexpr U64 MAX_SLOTS = U64(1) << POSITION_BITS;
  static constexpr U64 MIN_SLOTS = 16;
  // What find and insert return for no entry.
  static constexpr U64 NONE = U64_MAX;

  CellMap() = default;
  ~CellMap() {
    std::free(index_block);
    std::free(entries);
  }
  CellMap(const CellMap&) = delete;
  CellMap& operator=(const CellMap&) = delete;

  U64 size() const { return count; }
  // Slots of the index.
  U64 capacity() const { return slots ? mask + 1 : 0; }
  // Bytes held for the index and the entries, free room included.
  U64 memoryBytes() const { return capacity() * sizeof(U64) + entry_room * sizeof(Entry); }

  static U64 hash(const Key& key) { return CellMapKey<Key>::hash(key); }

  // The entry at a position below size().
  Entry& at(U64 position) { return entries[position]; }
  const Entry& at(U64 position) const { return entries[position]; }

  // Asks the cache for the home slot of a key of this hash, ahead of a find or
  // an insert of that key.
  void prefetch(U64 hash) const {
    if (slots) __builtin_prefetch(&slots[hash >> shift]);
  }

  // Position of the key's entry, NONE when there is none; hash is hash(key).
  U64 find(const Key& key, U64 hash) const {
    if (!slots) return NONE;
    const U64 tag = tagOf(hash);
    for (U64 i = hash >> shift;; i = (i + 1) & mask) {
      const U64 slot = slots[i];
      if (slot == FREE) return NONE;
      if ((slot & ~POSITION_MASK) == tag && keyAt(slot & POSITION_MASK) == key) return slot & POSITION_MASK;
    }
  }

  // Position of the key's entry, added with a zeroed record when the key is
  // new; inserted tells which. Throws std::bad_alloc when the map cannot grow,
  // leaving it as it was.
  U64 insert(const Key& key, U64 hash, bool& inserted) {
    const U64 tag = tagOf(hash);
    U64 i = 0;
    if (slots) {
      for (i = hash >> shift;; i = (i + 1) & mask) {
        const U64 slot = slots[i];
        if (slot == FREE) break;
        if ((slot & ~POSITION_MASK) == tag && keyAt(slot & POSITION_MASK) == key) {
          inserted = false;
          return slot & POSITION_MASK;
        }
      }
    }
    if (count == entry_room) growEntries();
    if (count + 1 > max_count) {
      growIndex();
      for (i = hash >> shift; slots[i] != FREE; i = (i + 1) & mask) {
      }
    }
    const U64 position = count++;
    slots[i] = tag | position;
    Entry& entry = entries[position];
    entry.key = key;
    std::memset(static_cast<void*>(&entry.value), 0, sizeof(Value));
    inserted = true;
    return position;
  }

  // Room for `entries` keys without growing, asked for before the first
  // insert when their number can be foreseen: a map grown by doubling fills
  // its index again at every step. Entry room not yet used takes address space
  // only. Throws std::bad_alloc like insert; an empty map stays usable then.
  void reserve(U64 entries) {
    if (count != 0 || entries <= max_count) return;
    if (entries > MAX_SLOTS / 2) entries = MAX_SLOTS / 2;
    if (entries > entry_room) growEntries(std::bit_ceil(entries));
    U64 wanted = MIN_SLOTS;
    while (wanted - wanted / 8 < entries) wanted *= 2;
    if (wanted > capacity()) growIndex(wanted);
  }

  // The same by key alone; the record pointer is valid until the next insert.
  Value* find(const Key& key) {
    const U64 position = find(key, hash(key));
    return position == NONE ? nullptr : &entries[position].value;
  }
  const Value* find(const Key& key) const { return const_cast<CellMap*>(this)->find(key); }
  Value* insert(const Key& key, bool& inserted) {
    const U64 position = insert(key, hash(key), inserted);  // first: it may move the entries
    return &entries[position].value;
  }

  // Calls f(key, value) for every entry, in order of first insertion.
  template <class F>
  void forEach(F f) const {
    for (U64 p = 0; p < count; p++) f(keyAt(p), entries[p].value);
  }

 private:
  // A copy: a key in a packed entry may lie off its natural alignment.
  Key keyAt(U64 position) const { return entries[position].key; }

  static U64 tagOf(U64 hash) { return hash << POSITION_BITS; }

  // Doubles the room for entries, or makes it `room`; their positions stay.
  void growEntries() { growEntries(entry_room ? entry_room * 2 : MIN_SLOTS); }
  void growEntries(U64 room) {
    if (room > MAX_SLOTS || room > U64_MAX / 2 / sizeof(Entry)) throw std::bad_alloc();
    void* grown = realloc_las(entries, room * sizeof(Entry));
    if (!grown) throw std::bad_alloc();
    entries = static_cast<Entry*>(grown);
    entry_room = room;
  }

  // Doubles the index (or makes it `new_capacity` slots, a power of two) and
  // fills it again from the entries, which hold every key: the old index is
  // dropped first, so the two never take memory at once.
  void growIndex() { growIndex(slots ? capacity() * 2 : MIN_SLOTS); }
  void growIndex(U64 new_capacity) {
    if (new_capacity > MAX_SLOTS) throw std::bad_alloc();
    void* block = nullptr;
    U64* fresh = allocate(new_capacity * sizeof(U64), block);  // may throw; the old index still serves
    std::free(index_block);
    index_block = block;
    slots = fresh;
    std::memset(slots, 0xFF, new_capacity * sizeof(U64));
    mask = new_capacity - 1;
    shift = 64 - std::countr_zero(new_capacity);
    max_count = new_capacity - new_capacity / 8;
    for (U64 p = 0; p < count; p++) {
      const U64 h = hash(keyAt(p));
      U64 i = h >> shift;
      while (slots[i] != FREE) i = (i + 1) & mask;
      slots[i] = tagOf(h) | p;
    }
  }

  // Every probe of a large index lands on a random page; backed by 4 KiB pages
  // each costs a TLB miss on top of the cache miss, and filling a fresh index
  // costs a page fault per 4 KiB. Indexes of 4 MiB and more therefore start on
  // a 2 MiB boundary and ask the kernel for huge pages (a hint; ignored where
  // unsupported). The alignment slack is never touched, so it takes no memory.
  static U64* allocate(U64 bytes, void*& block) {
    constexpr U64 HUGE_PAGE = U64(1) << 21;
    const bool large = bytes >= 2 * HUGE_PAGE;
    void* fresh = malloc_las(large ? bytes + HUGE_PAGE : bytes);
    if (!fresh) throw std::bad_alloc();
    block = fresh;
    if (!large) return static_cast<U64*>(block);
    const std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(block) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
#ifdef MADV_HUGEPAGE
    madvise(reinterpret_cast<void*>(start), bytes & ~(HUGE_PAGE - 1), MADV_HUGEPAGE);
#endif
    return reinterpret_cast<U64*>(start);
  }

  void* index_block = nullptr;  // what was allocated; slots lies within it
  U64* slots = nullptr;
  U64 mask = 0;
  int shift = 64;
  U64 max_count = 0;  // 7/8 of the slots
  Entry* entries = nullptr;
  U64 entry_room = 0;
  U64 count = 0;
};
