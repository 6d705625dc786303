// Adaptation of the bit and symbol models: counts are accumulated between
// adaptations whose interval grows by 5/4 up to a limit, and halved (rounding
// up, so no symbol ever gets a zero count) once their total passes the limit.
#include "compressor/arithmeticmodel.hpp"

#include <cstdlib>

void ArithmeticBitModel::update() {
  bit_total += adapt_interval;
  if (bit_total > BIT_MODEL_MAX_COUNT) {
    bit_total = (bit_total + 1) >> 1;
    zero_count = (zero_count + 1) >> 1;
    if (zero_count == bit_total) ++bit_total;  // a 1 bit must stay possible
  }
  const U32 scale = 0x80000000u / bit_total;
  zero_probability = (zero_count * scale) >> (31 - BIT_MODEL_LENGTH_SHIFT);
  adapt_interval = (5 * adapt_interval) >> 2;
  if (adapt_interval > 64) adapt_interval = 64;
  adapt_countdown = adapt_interval;
}

ArithmeticModel::~ArithmeticModel() { free(cumulative); }

I32 ArithmeticModel::init(const U32* table) {
  if (cumulative == nullptr && symbol_count - 2 > SYMBOL_MODEL_MAX_SYMBOLS - 2) return -1;
  // A table must leave every symbol codable and must not need halving at once.
  U64 table_total = 0;
  if (table) {
    for (U32 k = 0; k < symbol_count; k++) {
      if (table[k] == 0) return -1;
      table_total += table[k];
      if (table_total > SYMBOL_MODEL_MAX_COUNT) return -1;
    }
  }
  if (cumulative == nullptr) {
    top_symbol = symbol_count - 1;
    if (!for_encoder && symbol_count > 16) {
      U32 table_bits = 3;
      while (symbol_count > (1u << (table_bits + 2))) ++table_bits;
      lookup_size = 1u << table_bits;
      lookup_shift = SYMBOL_MODEL_LENGTH_SHIFT - table_bits;
    } else {
      lookup_size = lookup_shift = 0;
    }
    const U64 entries = 2 * (U64)symbol_count + (lookup_size ? lookup_size + 2 : 0);
    U32* storage = (U32*)malloc_las(entries * sizeof(U32));
    if (storage == nullptr) return -1;
    cumulative = storage;
    counts = storage + symbol_count;
    lookup = lookup_size ? storage + 2 * symbol_count : nullptr;
  }
  // The rebuild adds `adapt_interval` (here n) to the total: with all counts 1
  // that is their sum; with a table the start value makes the total its sum.
  count_total = table ? (U32)table_total - symbol_count : 0;
  adapt_interval = symbol_count;
  for (U32 k = 0; k < symbol_count; k++) counts[k] = table ? table[k] : 1;
  update();
  adapt_interval = adapt_countdown = (symbol_count + 6) >> 1;
  return 0;
}

void ArithmeticModel::update() {
  count_total += adapt_interval;
  if (count_total > SYMBOL_MODEL_MAX_COUNT) {
    count_total = 0;
    for (U32 k = 0; k < symbol_count; k++) {
      counts[k] = (counts[k] + 1) >> 1;
      count_total += counts[k];
    }
  }
  // cumulative[k] = 32768 * (counts below k) / total, in 32-bit arithmetic.
  const U32 scale = 0x80000000u / count_total;
  U32 sum = 0;
  if (lookup) {
    U32 filled = 0;
    for (U32 k = 0; k < symbol_count; k++) {
      cumulative[k] = (scale * sum) >> (31 - SYMBOL_MODEL_LENGTH_SHIFT);
      sum += counts[k];
      const U32 slot = cumulative[k] >> lookup_shift;
      while (filled < slot) lookup[++filled] = k - 1;
    }
    lookup[0] = 0;
    while (filled <= lookup_size) lookup[++filled] = top_symbol;
  } else {
    for (U32 k = 0; k < symbol_count; k++) {
      cumulative[k] = (scale * sum) >> (31 - SYMBOL_MODEL_LENGTH_SHIFT);
      sum += counts[k];
    }
  }
  adapt_interval = (5 * adapt_interval) >> 2;
  const U32 max_interval = (symbol_count << 3) + 48;
  if (adapt_interval > max_interval) adapt_interval = max_interval;
  adapt_countdown = adapt_interval;
}
