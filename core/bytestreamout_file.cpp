// The blocked file output stream (see bytestreamout_file.hpp): writes that do
// not fit the block, seeks and flushes.
#include "core/bytestreamout_file.hpp"

#include <sys/stat.h>

template <class Base>
ByteStreamOutFileBlocked<Base>::ByteStreamOutFileBlocked(FILE* file) : Base(file), buffer(new U8[CAPACITY]) {
  const I64 start = (I64)ftello(file);
  position = (start < 0) ? 0 : start;
  // Only a file can be patched: a seek on a pipe fails and one on a device
  // goes nowhere, and the patch bytes would land behind the points.
  struct stat info;
  seekable = Base::isSeekable() && fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode);
}

template <class Base>
bool ByteStreamOutFileBlocked<Base>::put_bytes_slowly(const U8* bytes, U32 num_bytes) {
  if (!flush()) return false;
  if (num_bytes >= CAPACITY) {
    if (fwrite(bytes, 1, num_bytes, this->file) != num_bytes) return false;
    position += num_bytes;
    return true;
  }
  memcpy(buffer, bytes, num_bytes);
  used = num_bytes;
  return true;
}

template <class Base>
bool ByteStreamOutFileBlocked<Base>::seek(const I64 target) {
  if (!flush() || !Base::seek(target)) return false;
  position = target;
  return true;
}

template <class Base>
bool ByteStreamOutFileBlocked<Base>::seekEnd() {
  if (!flush() || !Base::seekEnd()) return false;
  position = (I64)ftello(this->file);
  return true;
}

template <class Base>
bool ByteStreamOutFileBlocked<Base>::flush() {
  if (used == 0) return true;
  const bool ok = fwrite(buffer, 1, used, this->file) == used;
  position += used;
  used = 0;
  return ok;
}

template class ByteStreamOutFileBlocked<ByteStreamOutFileLE>;
template class ByteStreamOutFileBlocked<ByteStreamOutFileBE>;

ByteStreamOutFile* blocked_file_stream(FILE* file) {
  if (Endian::IS_LITTLE_ENDIAN) return new ByteStreamOutFileBlocked<ByteStreamOutFileLE>(file);
  return new ByteStreamOutFileBlocked<ByteStreamOutFileBE>(file);
}

bool flush_blocked(ByteStreamOut* stream) {
  if (auto* le = dynamic_cast<ByteStreamOutFileBlocked<ByteStreamOutFileLE>*>(stream)) return le->flush();
  if (auto* be = dynamic_cast<ByteStreamOutFileBlocked<ByteStreamOutFileBE>*>(stream)) return be->flush();
  return true;
}
