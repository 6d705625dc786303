// Arithmetic (range) decoder: reads back what `ArithmeticEncoder` wrote when it
// is asked for the same kinds of values, in the same order, with models in the
// same state. It keeps only the code value relative to the interval base and
// pulls one byte per renormalisation shift, so after the last value of a code
// stream it stands exactly at the stream's end. Data errors are thrown as
// integers: -1 by the byte stream at the end of input, 4711 for code that no
// encoder can have produced.
#pragma once

#include "compressor/arithmeticmodel.hpp"
#include "core/bytestreamin.hpp"

class ArithmeticDecoder {
 public:
  ArithmeticDecoder() {}
  ArithmeticDecoder(const ArithmeticDecoder&) = delete;
  ArithmeticDecoder& operator=(const ArithmeticDecoder&) = delete;

  // Starts a code stream; with `read_start` it reads the four bytes that seed
  // the code value. False for a null stream.
  bool init(ByteStreamIn* stream, bool read_start = true);
  void done() { stream = nullptr; }
  // The stream of the current code; layered item coders read their chunk
  // sections from it.
  ByteStreamIn* getByteStreamIn() const { return stream; }

  // Models are plain heap objects and destroying one is `delete`, so owners
  // may hold them in std::unique_ptr.
  ArithmeticBitModel* createBitModel() { return new ArithmeticBitModel(); }
  void initBitModel(ArithmeticBitModel* m) { m->init(); }
  void destroyBitModel(ArithmeticBitModel* m) { delete m; }
  ArithmeticModel* createSymbolModel(U32 symbols) { return new ArithmeticModel(symbols, false); }
  I32 initSymbolModel(ArithmeticModel* m, const U32* table = nullptr) { return m->init(table); }
  void destroySymbolModel(ArithmeticModel* m) { delete m; }

  U32 decodeBit(ArithmeticBitModel* m) {
    const U32 x = m->zero_probability * (interval_length >> BIT_MODEL_LENGTH_SHIFT);
    const U32 bit = (code_value >= x);
    if (bit == 0) {
      interval_length = x;
      ++m->zero_count;
    } else {
      code_value -= x;
      interval_length -= x;
    }
    if (interval_length < ARITH_MIN_LENGTH) renorm_dec_interval();
    if (--m->adapt_countdown == 0) m->update();
    return bit;
  }

  U32 decodeSymbol(ArithmeticModel* m) {
    U32 s, x, y = interval_length;
    if (m->lookup) {
      const U32 d = code_value / (interval_length >>= SYMBOL_MODEL_LENGTH_SHIFT);
      const U32 t = d >> m->lookup_shift;
      // Valid code never passes the top symbol's slot (the table's last but
      // one entry); beyond it lies only corrupt data.
      if (t > m->lookup_size) throw_corrupt();
      s = m->lookup[t];
      const U32 n = m->lookup[t + 1] + 1;
      // The symbols of one slot are few, and the likely ones fill slots of
      // their own: a short upward scan beats halving (fewer mispredictions).
      while (s + 1 < n && m->cumulative[s + 1] <= d) ++s;
      x = m->cumulative[s] * interval_length;
      if (s != m->top_symbol) y = m->cumulative[s + 1] * interval_length;
    } else {
      s = x = 0;
      interval_length >>= SYMBOL_MODEL_LENGTH_SHIFT;
      U32 n = m->symbol_count;
      U32 k = n >> 1;
      do {
        const U32 z = interval_length * m->cumulative[k];
        if (z > code_value) {
          n = k;
          y = z;
        } else {
          s = k;
          x = z;
        }
      } while ((k = (s + n) >> 1) != s);
    }
    code_value -= x;
    interval_length = y - x;
    if (interval_length < ARITH_MIN_LENGTH) renorm_dec_interval();
    ++m->counts[s];
    if (--m->adapt_countdown == 0) m->update();
    return s;
  }

  // `bits` from 1 to 32.
  U32 readBits(U32 bits) {
    if (bits > 19) {
      const U32 low = readShort();
      return (readBits(bits - 16) << 16) | low;
    }
    const U32 q = code_value / (interval_length >>= bits);
    code_value -= q * interval_length;
    if (interval_length < ARITH_MIN_LENGTH) renorm_dec_interval();
    if (q >= (1u << bits)) throw_corrupt();
    return q;
  }
  U32 readInt() {
    const U32 low = readShort();
    return ((U32)readShort() << 16) | low;
  }
  U64 readInt64() {
    const U64 low = readInt();
    return ((U64)readInt() << 32) | low;
  }

 private:
  U32 readShort() {
    const U32 q = code_value / (interval_length >>= 16);
    code_value -= q * interval_length;
    if (interval_length < ARITH_MIN_LENGTH) renorm_dec_interval();
    if (q > 0xFFFF) throw_corrupt();
    return q;
  }
  void renorm_dec_interval() {
    do {
      code_value = (code_value << 8) | stream->getByte();
    } while ((interval_length <<= 8) < ARITH_MIN_LENGTH);
  }
  [[noreturn]] static void throw_corrupt();

  ByteStreamIn* stream = nullptr;
  U32 code_value = 0;
  U32 interval_length = 0;
};
