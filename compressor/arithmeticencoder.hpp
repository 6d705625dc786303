// Arithmetic (range) encoder: turns modelled bits, modelled symbols and raw bit
// fields into a byte stream, most significant byte of the interval base first.
// Bytes wait in an 8192-byte ring so that a carry can still reach them, and go
// to the stream 4096 at a time. One encoder serves any number of code streams
// (`init` ... `done`); the coding calls are inline because item coders call
// them for every field of every point.
#pragma once

#include "compressor/arithmeticmodel.hpp"
#include "core/bytestreamout.hpp"

constexpr U32 ARITH_RING_SIZE = 8192;
constexpr U32 ARITH_RING_HALF = ARITH_RING_SIZE / 2;

class ArithmeticEncoder {
 public:
  ArithmeticEncoder();
  ~ArithmeticEncoder();
  ArithmeticEncoder(const ArithmeticEncoder&) = delete;
  ArithmeticEncoder& operator=(const ArithmeticEncoder&) = delete;

  // Starts a code stream; false for a null stream or when the ring buffer
  // could not be allocated.
  bool init(ByteStreamOut* stream);
  // Writes the last bytes of the code stream and detaches from it.
  void done();
  // The stream of the current code; layered item coders write their chunk
  // sections to it.
  ByteStreamOut* getByteStreamOut() const { return stream; }

  // Models are plain heap objects and destroying one is `delete`, so owners
  // may hold them in std::unique_ptr.
  ArithmeticBitModel* createBitModel() { return new ArithmeticBitModel(); }
  void initBitModel(ArithmeticBitModel* m) { m->init(); }
  void destroyBitModel(ArithmeticBitModel* m) { delete m; }
  ArithmeticModel* createSymbolModel(U32 symbols) { return new ArithmeticModel(symbols, true); }
  I32 initSymbolModel(ArithmeticModel* m, const U32* table = nullptr) { return m->init(table); }
  void destroySymbolModel(ArithmeticModel* m) { delete m; }

  // A non-zero bit codes 1.
  void encodeBit(ArithmeticBitModel* m, U32 bit) {
    const U32 x = m->zero_probability * (interval_length >> BIT_MODEL_LENGTH_SHIFT);
    if (bit == 0) {
      interval_length = x;
      ++m->zero_count;
    } else {
      add_to_base(x);
      interval_length -= x;
    }
    if (interval_length < ARITH_MIN_LENGTH) renorm_enc_interval();
    if (--m->adapt_countdown == 0) m->update();
  }

  // `s` must be below the model's symbol count.
  void encodeSymbol(ArithmeticModel* m, U32 s) {
    const U32 r = interval_length >> SYMBOL_MODEL_LENGTH_SHIFT;
    const U32 x = m->cumulative[s] * r;
    // The top symbol also takes the remainder of the division.
    if (s == m->top_symbol) {
      interval_length -= x;
    } else {
      interval_length = m->cumulative[s + 1] * r - x;
    }
    add_to_base(x);
    if (interval_length < ARITH_MIN_LENGTH) renorm_enc_interval();
    ++m->counts[s];
    if (--m->adapt_countdown == 0) m->update();
  }

  // `bits` from 1 to 32, `value` below 2^bits. Wide fields go out as a 16-bit
  // word first so that the length never drops below 2^5.
  void writeBits(U32 bits, U32 value) {
    if (bits > 19) {
      writeShort((U16)(value & 0xFFFF));
      value >>= 16;
      bits -= 16;
    }
    interval_length >>= bits;
    add_to_base(value * interval_length);
    if (interval_length < ARITH_MIN_LENGTH) renorm_enc_interval();
  }
  void writeShort(U16 value) {
    interval_length >>= 16;
    add_to_base((U32)value * interval_length);
    if (interval_length < ARITH_MIN_LENGTH) renorm_enc_interval();
  }
  void writeInt(U32 value) {
    writeShort((U16)(value & 0xFFFF));
    writeShort((U16)(value >> 16));
  }
  void writeInt64(U64 value) {
    writeInt((U32)(value & 0xFFFFFFFF));
    writeInt((U32)(value >> 32));
  }

 private:
  void add_to_base(U32 x) {
    const U32 base = interval_base;
    interval_base += x;
    if (interval_base < base) propagate_carry();
  }
  void renorm_enc_interval() {
    do {
      *write_pos++ = (U8)(interval_base >> 24);
      if (write_pos == flush_mark) manage_outbuffer();
      interval_base <<= 8;
    } while ((interval_length <<= 8) < ARITH_MIN_LENGTH);
  }
  void propagate_carry();
  void manage_outbuffer();

  ByteStreamOut* stream = nullptr;
  U8* ring_start = nullptr;
  U8* ring_end = nullptr;
  U8* write_pos = nullptr;
  U8* flush_mark = nullptr;
  U32 interval_base = 0;
  U32 interval_length = 0;
};
