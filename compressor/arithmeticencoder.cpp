// The rare paths of the encoder: carries into bytes already shifted out, ring
// buffer flushes and the end of a code stream.
#include "compressor/arithmeticencoder.hpp"

#include <cstdlib>

ArithmeticEncoder::ArithmeticEncoder() {
  ring_start = (U8*)malloc_las(ARITH_RING_SIZE);
  // Both positions stay null until `init`, which refuses to start without a ring.
  ring_end = ring_start ? ring_start + ARITH_RING_SIZE : nullptr;
}

ArithmeticEncoder::~ArithmeticEncoder() { free(ring_start); }

bool ArithmeticEncoder::init(ByteStreamOut* stream) {
  if (stream == nullptr || ring_start == nullptr) return false;
  this->stream = stream;
  interval_base = 0;
  interval_length = 0xFFFFFFFFu;
  write_pos = ring_start;
  flush_mark = ring_end;
  return true;
}

void ArithmeticEncoder::done() {
  if (stream == nullptr) return;
  // Pick a final base inside the interval whose low bytes are zero, so only one
  // or two bytes of it need coding; the zero bytes still follow, because the
  // decoder reads four bytes ahead.
  const U32 base = interval_base;
  const bool third_zero = interval_length > 2 * ARITH_MIN_LENGTH;
  if (third_zero) {
    interval_base += ARITH_MIN_LENGTH;
    interval_length = ARITH_MIN_LENGTH >> 1;
  } else {
    interval_base += ARITH_MIN_LENGTH >> 1;
    interval_length = ARITH_MIN_LENGTH >> 9;
  }
  if (base > interval_base) propagate_carry();
  renorm_enc_interval();
  // Unwritten bytes in the second half precede those at the start of the ring.
  if (flush_mark != ring_end) stream->putBytes(ring_start + ARITH_RING_HALF, ARITH_RING_HALF);
  if (write_pos > ring_start) stream->putBytes(ring_start, (U32)(write_pos - ring_start));
  stream->putByte(0);
  stream->putByte(0);
  if (third_zero) stream->putByte(0);
  stream = nullptr;
}

void ArithmeticEncoder::propagate_carry() {
  U8* p = (write_pos == ring_start) ? ring_end - 1 : write_pos - 1;
  while (*p == 0xFF) {
    *p = 0;
    p = (p == ring_start) ? ring_end - 1 : p - 1;
  }
  ++*p;
}

// The first flush comes only when the whole ring is full; from then on each
// half is written just before it is overwritten, so up to 8192 bytes stay
// within reach of a carry.
void ArithmeticEncoder::manage_outbuffer() {
  if (write_pos == ring_end) write_pos = ring_start;
  stream->putBytes(write_pos, ARITH_RING_HALF);
  flush_mark = write_pos + ARITH_RING_HALF;
}
