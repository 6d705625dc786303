// Growth of the in-memory output stream; rare, so kept out of line.
#include "core/bytestreamout_array.hpp"

#include <cstdlib>

ByteStreamOutArray::ByteStreamOutArray(I64 alloc) {
  if (alloc > 0 && alloc <= (I64)U32_MAX) {
    data = (U8*)malloc_las((U64)alloc);
    if (data) this->alloc = alloc;
  }
}

ByteStreamOutArray::~ByteStreamOutArray() { free(data); }

U8* ByteStreamOutArray::takeData() {
  U8* taken = data;
  data = nullptr;
  alloc = size = curr = 0;
  return taken;
}

// The capacity is a 32-bit byte count: a buffer of 4 GiB or more is refused.
// After a failed growth the content is gone and every later put fails.
bool ByteStreamOutArray::grow(I64 new_alloc) {
  if (broken) return false;
  if (new_alloc > (I64)U32_MAX) {
    free(data);
  } else {
    U8* moved = (U8*)realloc_las(data, (U64)new_alloc);
    if (moved) {
      data = moved;
      alloc = new_alloc;
      return true;
    }
    free(data);
  }
  data = nullptr;
  alloc = size = curr = 0;
  broken = true;
  return false;
}
