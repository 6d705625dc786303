// Generated item sequences for the round trips of the legacy item coders of
// every version, and the items of hand-worked cases, laid out in the record's
// bytes.
#pragma once

#include <cstring>
#include <random>
#include <vector>

#include "compressor/lasitemcompressed_v2.hpp"
#include "support/item_chunks.hpp"

namespace itemchunks {

inline Point10 point10(I32 x, I32 y, I32 z, U16 intensity, U8 return_byte, U8 class_byte, I8 rank, U8 user_data,
                       U16 source) {
  Point10 p;
  p.x = x;
  p.y = y;
  p.z = z;
  p.intensity = intensity;
  p.return_byte = return_byte;
  p.class_byte = class_byte;
  p.scan_angle_rank = rank;
  p.user_data = user_data;
  p.point_source_ID = source;
  return p;
}

// Repeated points, returns of every (n, r) including 0, steps of every size,
// coordinates wrapping at the 32-bit ends, every other field changing now and
// then.
inline std::vector<Item> point10_sequence(U32 count, U32 seed) {
  std::mt19937 rng(seed);
  const auto chance = [&rng](U32 one_in) { return rng() % one_in == 0; };
  Point10 p = point10(-5000, 7000, 100, 300, 0x09, 2, 0, 0, 17);
  std::vector<Item> items;
  for (U32 i = 0; i < count; i++) {
    if (!chance(8)) {  // else a repeat of the previous point
      // Steps wrap at the 32-bit ends, as the coordinates' differences do.
      p.x = (I32)((U32)p.x + rng() % 41 - 20);
      p.y = (I32)((U32)p.y + rng() % 9 - 4);
      p.z = chance(3) ? (I32)((U32)p.z + rng() % 31 - 15) : (I32)(rng() % 2000);
      if (chance(50)) p.x = (I32)rng();  // large jumps and wraps
      if (chance(50)) p.y = chance(2) ? I32_MAX - (I32)(rng() % 3) : I32_MIN + (I32)(rng() % 3);
      if (chance(3)) p.return_byte = (U8)((p.return_byte & 0xC0) | (rng() % 64));
      if (chance(10)) p.return_byte ^= (U8)(0x40 << (rng() % 2));  // scan direction, edge
      if (chance(2)) p.intensity = (U16)(chance(4) ? rng() : p.intensity + rng() % 9 - 4);
      if (chance(20)) p.class_byte = (U8)rng();
      if (chance(7)) p.scan_angle_rank = chance(3) ? (I8)(p.scan_angle_rank == 127 ? -128 : 127) : (I8)rng();
      if (chance(30)) p.user_data = (U8)rng();
      if (chance(40)) p.point_source_ID = (U16)(chance(2) ? rng() : p.point_source_ID + 1);
    }
    items.push_back(bytes_of(p));
  }
  return items;
}

// Steady steps, repeats, jumps forward and backward, several interleaved
// flight lines, and bit patterns that are no ordinary times.
inline std::vector<Item> gps_sequence(U32 count, U32 seed) {
  std::mt19937 rng(seed);
  F64 lines[6];
  for (int k = 0; k < 6; k++) lines[k] = 1e6 * (k + 1) + k * 0.37;
  std::vector<Item> items;
  int line = 0;
  for (U32 i = 0; i < count; i++) {
    const U32 r = rng() % 100;
    if (r < 10) line = (int)(rng() % (r < 3 ? 6 : 3));  // mostly three lines, now and then six
    if (r < 70)
      lines[line] += 0.0000125;  // the pulse rate
    else if (r < 80)
      lines[line] += 0.0000125 * (rng() % 700);
    else if (r < 85)
      lines[line] -= 0.0000125 * (rng() % 30);
    else if (r < 88)
      lines[line] += 3600.0 * (rng() % 3);
    if (r == 99) {
      U64 odd = (U64)rng() << 32 | rng();
      items.push_back(bytes_of(odd));
      continue;
    }
    items.push_back(bytes_of(lines[line]));
  }
  return items;
}

// Grey runs, colours near the last one, and now and then any colour.
inline std::vector<Item> rgb_sequence(U32 count, U32 seed) {
  std::mt19937 rng(seed);
  U16 c[3] = {1000, 1000, 1000};
  std::vector<Item> items;
  for (U32 i = 0; i < count; i++) {
    const U32 r = rng() % 10;
    if (r < 3) {  // grey
      c[0] = c[1] = c[2] = (U16)(c[0] + rng() % 600 - 300);
    } else if (r < 8) {  // a colour near the last
      for (U16& v : c) v = (U16)(v + rng() % 64 - 32);
    } else if (r == 8) {  // anything
      for (U16& v : c) v = (U16)rng();
    }
    items.push_back(bytes_of(c));
  }
  return items;
}

// Extra bytes of `size`: byte 0 counts up, bytes 1, 4, ... never change, the
// others change now and then, the later the rarer.
inline std::vector<Item> byte_sequence(U32 size, U32 count) {
  std::mt19937 rng(size);
  Item bytes(size, 0);
  std::vector<Item> items;
  for (U32 i = 0; i < count; i++) {
    for (U32 b = 0; b < size; b++)
      if (b % 3 != 1 && rng() % (b + 2) == 0) bytes[b] = (U8)(b == 0 ? bytes[b] + 1 : rng());
    items.push_back(bytes);
  }
  return items;
}

inline Item wave(U8 index, U64 offset, U32 size, F32 location, F32 dx, F32 dy, F32 dz) {
  Item item(29);
  item[0] = index;
  memcpy(&item[1], &offset, 8);
  memcpy(&item[9], &size, 4);
  memcpy(&item[13], &location, 4);
  memcpy(&item[17], &dx, 4);
  memcpy(&item[21], &dy, 4);
  memcpy(&item[25], &dz, 4);
  return item;
}

inline I32 bits(F32 f) {
  I32 b;
  memcpy(&b, &f, 4);
  return b;
}

// Back to back, near, anywhere; sizes beyond 2^31 now and then.
inline std::vector<Item> wave_sequence(U32 count, U32 seed) {
  std::mt19937 rng(seed);
  U64 offset = 60;
  U32 size = 256;
  std::vector<Item> items;
  for (U32 i = 0; i < count; i++) {
    const U32 r = rng() % 10;
    if (r < 5)
      offset += size;  // back to back
    else if (r < 7)
      offset += (U64)(I64)(I32)(rng() % 20000) - 10000;  // near
    else if (r == 7)
      offset = ((U64)rng() << 32) | rng();                       // anywhere
    if (rng() % 20 == 0) size = (rng() % 2) ? (U32)rng() : 256;  // sizes beyond 2^31 as well
    F32 f[4];
    for (F32& v : f) v = (rng() % 4) ? 0.5f : (F32)(I32)rng() / 7.0f;
    items.push_back(wave((U8)(rng() % 3), offset, size, f[0], f[1], f[2], f[3]));
  }
  return items;
}

}  // namespace itemchunks
