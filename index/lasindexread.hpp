// Guarded little-endian reads for the index blocks: the streams throw at the
// end of their data, the index readers want a bool to name the field that
// could not be read.
#pragma once

#include <cstring>

#include "core/bytestreamin.hpp"

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

// A four-character signature, terminated for messages.
inline bool lasindex_read_signature(ByteStreamIn* stream, char (&signature)[5]) {
  signature[4] = '\0';
  try {
    stream->getBytes((U8*)signature, 4);
  } catch (int) {
    return false;
  }
  return true;
}
