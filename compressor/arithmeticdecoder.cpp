// Start of a code stream and the decoder's corruption exit, kept out of the
// inline decoding paths.
#include "compressor/arithmeticdecoder.hpp"

bool ArithmeticDecoder::init(ByteStreamIn* stream, bool read_start) {
  if (stream == nullptr) return false;
  this->stream = stream;
  interval_length = 0xFFFFFFFFu;
  if (read_start) {
    // Assign only after all four bytes are there: a short stream throws -1.
    U32 value = stream->getByte() << 24;
    value |= stream->getByte() << 16;
    value |= stream->getByte() << 8;
    value |= stream->getByte();
    code_value = value;
  }
  return true;
}

void ArithmeticDecoder::throw_corrupt() { throw ARITH_CORRUPT_DATA; }
