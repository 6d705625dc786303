// Guarded little-endian reads for the blocks of index data. The streams throw
// at the end of their data; these report which field of which block could not
// be read ("(LASquadtree): reading levels") and answer false.
#pragma once

#include <cstring>

#include "core/bytestreamin.hpp"
#include "core/lasmessage.hpp"

// A u32, i32 or f32 field.
template <typename T>
inline bool lasindex_read_le(ByteStreamIn* stream, T& value) {
  static_assert(sizeof(T) == 4);
  U8 bytes[4];
  try {
    stream->get32bitsLE(bytes);
  } catch (int) {
    return false;
  }
  memcpy(&value, bytes, 4);
  return true;
}

template <typename T>
inline bool lasindex_read_field(ByteStreamIn* stream, T& value, const char* owner, const char* field) {
  if (lasindex_read_le(stream, value)) return true;
  laserror("%s: reading %s", owner, field);
  return false;
}

// Four characters, terminated for messages.
inline bool lasindex_read_signature(ByteStreamIn* stream, char (&signature)[5], const char* owner, const char* field) {
  signature[4] = '\0';
  try {
    stream->getBytes((U8*)signature, 4);
  } catch (int) {
    laserror("%s: reading %s", owner, field);
    return false;
  }
  return true;
}

inline bool lasindex_check_signature(const char* signature, const char* expected, const char* owner,
                                     const char* field) {
  if (strncmp(signature, expected, 4) == 0) return true;
  laserror("%s: wrong %s %4s instead of '%s'", owner, field, signature, expected);
  return false;
}
