// Hash map from a cell key to a small trivially copyable record, made for the
// voxel filters. Two arrays, no per-entry allocation or pointer:
//
// - the entries, each a key with its record, in the order in which the keys
//   were first inserted. An entry's position (0, 1, 2, ...) names it for good:
//   entries are never removed nor moved between positions, so a position
//   stays valid through growth (a pointer into the array does not).
// - the index: open addressing with linear probing after a strong integer
//   mix, one slot per entry holding its position plus one (0 is a free slot,
//   so fresh zero pages are an empty index) and as many further bits of the
//   key's mix as the slot has room for, so that a probe reads an entry only
//   when those bits match. Slots take 32 bits while the positions fit in
//   them, 64 bits beyond: the same memory holds twice the slots, which keeps
//   probes short. At most 7/8 of the slots are used before the index doubles.
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

  // A slot of an index of 2^k slots: the entry's position plus one in the low
  // bits (k of them in a 32-bit slot, WIDE_POSITION_BITS in a 64-bit one), the
  // low bits of the key's hash above. The home slot comes from the high k bits
  // of the hash, which the tag never overlaps.
  static constexpr int WIDE_POSITION_BITS = 40;
  static constexpr U64 MAX_SLOTS = U64(1) << WIDE_POSITION_BITS;
  static constexpr U64 MIN_SLOTS = 16;
  // The most slots an index of 32-bit slots has: positions below 7/8 of it
  // plus one fit in 32 bits.
  static constexpr U64 NARROW_SLOTS = U64(1) << 32;
  // What find and insert return for no entry.
  static constexpr U64 NONE = U64_MAX;

  CellMap() = default;
  // An index of at most narrow_slots 32-bit slots (a power of two, at most
  // NARROW_SLOTS; less only to try the wider slots on a small map).
  explicit CellMap(U64 narrow_slots) : narrow_limit(narrow_slots < NARROW_SLOTS ? narrow_slots : NARROW_SLOTS) {}
  ~CellMap() {
    release(slots, capacity() << slot_shift);
    release(entries, entries_bytes);
  }
  CellMap(const CellMap&) = delete;
  CellMap& operator=(const CellMap&) = delete;

  U64 size() const { return count; }
  // Slots of the index.
  U64 capacity() const { return slots ? mask + 1 : 0; }
  // Bytes of one slot of the index: 4, or 8 once positions need more bits.
  U32 slotBytes() const { return U32(1) << slot_shift; }
  // Bytes held for the index and the entries, free room included.
  U64 memoryBytes() const { return (capacity() << slot_shift) + entry_room * sizeof(Entry); }

  static U64 hash(const Key& key) { return CellMapKey<Key>::hash(key); }

  // The entry at a position below size().
  Entry& at(U64 position) { return entries[position]; }
  const Entry& at(U64 position) const { return entries[position]; }

  // Asks the cache for the home slot of a key of this hash, ahead of a find or
  // an insert of that key.
  void prefetch(U64 hash) const {
    if (slots) __builtin_prefetch(static_cast<const char*>(slots) + ((hash >> shift) << slot_shift));
  }

  // Position of the key's entry, NONE when there is none; hash is hash(key).
  U64 find(const Key& key, U64 hash) const {
    if (!slots) return NONE;
    U64 free_slot;
    return slot_shift == 2 ? probe<U32>(key, hash, free_slot) : probe<U64>(key, hash, free_slot);
  }

  // Position of the key's entry, added with a zeroed record when the key is
  // new; inserted tells which. Throws std::bad_alloc when the map cannot grow,
  // leaving it as it was.
  U64 insert(const Key& key, U64 hash, bool& inserted) {
    U64 i = 0;
    if (slots) {
      const U64 found = slot_shift == 2 ? probe<U32>(key, hash, i) : probe<U64>(key, hash, i);
      if (found != NONE) {
        inserted = false;
        return found;
      }
    }
    if (count == entry_room) growEntries();
    if (count + 1 > max_count) {
      growIndex();
      i = slot_shift == 2 ? freeSlot<U32>(hash) : freeSlot<U64>(hash);
    }
    const U64 position = count++;
    if (slot_shift == 2)
      put<U32>(i, hash, position);
    else
      put<U64>(i, hash, position);
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

  // The entry's position of the key, else NONE with free_slot the free slot
  // that ends its probe.
  template <class Slot>
  U64 probe(const Key& key, U64 hash, U64& free_slot) const {
    const Slot* index = static_cast<const Slot*>(slots);
    const Slot low = static_cast<Slot>(position_mask);
    const Slot tag = static_cast<Slot>(hash << position_bits);
    for (U64 i = hash >> shift;; i = (i + 1) & mask) {
      const Slot slot = index[i];
      if (slot == 0) {
        free_slot = i;
        return NONE;
      }
      if ((slot & ~low) == tag && keyAt((slot & low) - 1) == key) return (slot & low) - 1;
    }
  }
  template <class Slot>
  U64 freeSlot(U64 hash) const {
    const Slot* index = static_cast<const Slot*>(slots);
    U64 i = hash >> shift;
    while (index[i] != 0) i = (i + 1) & mask;
    return i;
  }
  template <class Slot>
  void put(U64 i, U64 hash, U64 position) {
    static_cast<Slot*>(slots)[i] = static_cast<Slot>(hash << position_bits) | static_cast<Slot>(position + 1);
  }

  // Doubles the room for entries, or makes it `room`; their positions stay.
  // Small arrays live on the heap. Large ones are written front to back, a
  // fresh page at a time, and faults on fresh pages are dear: they take huge
  // pages like a large index, and grow by moving their pages into a larger
  // mapping rather than by copying (a realloc may copy, and its block cannot
  // take the advice without being split in ways that make it copy).
  void growEntries() { growEntries(entry_room ? entry_room * 2 : MIN_SLOTS); }
  void growEntries(U64 room) {
    if (room > MAX_SLOTS || room > U64_MAX / 2 / sizeof(Entry)) throw std::bad_alloc();
    U64 bytes = room * sizeof(Entry);
    if (bytes < 2 * HUGE_PAGE) {
      void* grown = realloc_las(entries, bytes);
      if (!grown) throw std::bad_alloc();
      entries = static_cast<Entry*>(grown);
      entry_room = room;
      return;
    }
    bytes = (bytes + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    void* fresh = mapHuge(bytes);  // may throw; the entries stay where they are
    if (!entries_bytes) {
      if (count) std::memcpy(fresh, static_cast<void*>(entries), count * sizeof(Entry));
      std::free(entries);
    } else if (!movePages(entries, entries_bytes, fresh, bytes)) {
      throw std::bad_alloc();
    }
    entries = static_cast<Entry*>(fresh);
    entries_bytes = bytes;
    entry_room = bytes / sizeof(Entry);
  }

  // Doubles the index (or makes it `new_capacity` slots, a power of two) and
  // fills it again from the entries, which hold every key: the old index is
  // dropped first, so the two never take memory at once.
  void growIndex() { growIndex(slots ? capacity() * 2 : MIN_SLOTS); }
  void growIndex(U64 new_capacity) {
    if (new_capacity > MAX_SLOTS) throw std::bad_alloc();
    const int new_slot_shift = new_capacity <= narrow_limit ? 2 : 3;
    const U64 bytes = new_capacity << new_slot_shift;
    void* fresh = allocateZeroed(bytes);  // may throw; the old index still serves
    release(slots, capacity() << slot_shift);
    slots = fresh;
    slot_shift = new_slot_shift;
    mask = new_capacity - 1;
    const int k = std::countr_zero(new_capacity);
    shift = 64 - k;
    position_bits = slot_shift == 2 ? k : WIDE_POSITION_BITS;
    position_mask = (U64(1) << position_bits) - 1;
    max_count = new_capacity - new_capacity / 8;
    if (slot_shift == 2)
      refill<U32>();
    else
      refill<U64>();
  }
  template <class Slot>
  void refill() {
    for (U64 p = 0; p < count; p++) {
      const U64 h = hash(keyAt(p));
      put<Slot>(freeSlot<Slot>(h), h, p);
    }
  }

  // A zeroed index. Small ones come from the heap. Every probe of a large one
  // lands on a random page; backed by 4 KiB pages each costs a TLB miss on top
  // of the cache miss, so indexes of 4 MiB and more are mapped afresh (zero
  // pages, filled in by the kernel where first touched, with no pass of our
  // own) as huge pages.
  static constexpr U64 HUGE_PAGE = U64(1) << 21;
  static void* allocateZeroed(U64 bytes) {
    if (bytes >= 2 * HUGE_PAGE) return mapHuge(bytes);
    void* block = malloc_las(bytes);
    if (!block) throw std::bad_alloc();
    std::memset(block, 0, bytes);
    return block;
  }
  // A fresh zeroed mapping of `bytes` (a multiple of HUGE_PAGE) starting on a
  // HUGE_PAGE boundary and asking for huge pages (a hint; ignored where
  // unsupported). The slack mapped to find the boundary is given back, so the
  // mapping is exactly the block and can be moved whole.
  static void* mapHuge(U64 bytes) {
    void* block = mmap(nullptr, bytes + HUGE_PAGE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
    char* const first = static_cast<char*>(block);
    char* const start =
        reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(first) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1));
    const U64 head = start - first;
    if (head) munmap(first, head);
    munmap(start + bytes, HUGE_PAGE - head);
#ifdef MADV_HUGEPAGE
    madvise(start, bytes, MADV_HUGEPAGE);
#endif
    return start;
  }
  // Moves the pages of a mapHuge block of `bytes` to the front of a larger
  // one, which it replaces there; the huge pages move whole, with no copy.
  // False, with both blocks as they were, when it fails: the larger block is
  // given back then.
  static bool movePages(void* from, U64 bytes, void* to, U64 to_bytes) {
#ifdef MREMAP_FIXED
    if (mremap(from, bytes, bytes, MREMAP_MAYMOVE | MREMAP_FIXED, to) != MAP_FAILED) return true;
    munmap(to, to_bytes);
    return false;
#else
    std::memcpy(to, from, bytes);
    munmap(from, bytes);
    return true;
#endif
  }
  // Gives back a block of allocateZeroed, mapHuge or the heap: `bytes` is
  // its size when it is mapped, 0 when it is from the heap.
  static void release(void* block, U64 bytes) {
    if (!block) return;
    if (bytes >= 2 * HUGE_PAGE)
      munmap(block, bytes);
    else
      std::free(block);
  }

  void* slots = nullptr;
  int slot_shift = 2;  // slots of 4 or 8 bytes
  U64 narrow_limit = NARROW_SLOTS;
  U64 mask = 0;
  int shift = 64;
  int position_bits = 0;
  U64 position_mask = 0;
  U64 max_count = 0;  // 7/8 of the slots
  Entry* entries = nullptr;
  U64 entry_room = 0;
  U64 entries_bytes = 0;  // of their mapping; 0 while they are on the heap
  U64 count = 0;
};
