// Adaptive probability models of the arithmetic coder: a bit model for binary
// decisions and a symbol model for alphabets of 2 to 2048 symbols. The coder's
// inner loops read and change the fields directly, so they are public; users
// only create, init and destroy models through an encoder or a decoder.
#pragma once

#include "core/mydefs.hpp"

// Interval length below which the coder shifts out (or in) a byte.
constexpr U32 ARITH_MIN_LENGTH = 0x01000000u;
// The decoder throws this integer when the code cannot have come from an encoder.
constexpr int ARITH_CORRUPT_DATA = 4711;

// Bit probabilities are in units of 1/8192, symbol distributions in 1/32768.
constexpr U32 BIT_MODEL_LENGTH_SHIFT = 13;
constexpr U32 BIT_MODEL_MAX_COUNT = 1u << BIT_MODEL_LENGTH_SHIFT;
constexpr U32 SYMBOL_MODEL_LENGTH_SHIFT = 15;
constexpr U32 SYMBOL_MODEL_MAX_COUNT = 1u << SYMBOL_MODEL_LENGTH_SHIFT;
constexpr U32 SYMBOL_MODEL_MAX_SYMBOLS = 2048;

class ArithmeticBitModel {
 public:
  ArithmeticBitModel() { init(); }
  void init() {
    adapt_interval = adapt_countdown = 4;
    zero_probability = BIT_MODEL_MAX_COUNT / 2;
    zero_count = 1;
    bit_total = 2;
  }
  // Called by the coder when `adapt_countdown` runs out.
  void update();

  U32 adapt_interval;
  U32 adapt_countdown;
  U32 zero_probability;
  U32 zero_count;
  U32 bit_total;
};

// Owns one allocation holding `cumulative`, `counts` and (decoding models of
// more than 16 symbols only) the `lookup` table that narrows a symbol search
// to one slot. The allocation is made by the first `init` and kept.
class ArithmeticModel {
 public:
  ArithmeticModel(U32 symbols, bool for_encoder) : symbol_count(symbols), for_encoder(for_encoder) {}
  ~ArithmeticModel();
  ArithmeticModel(const ArithmeticModel&) = delete;
  ArithmeticModel& operator=(const ArithmeticModel&) = delete;

  // Resets the statistics (every count 1, or the table's counts). -1 when the
  // symbol count is outside 2..2048, the storage cannot be made, or the table
  // has a zero count or counts summing above 32768; 0 otherwise.
  I32 init(const U32* table = nullptr);
  // Rebuilds the distribution from the counts; called by the coder when
  // `adapt_countdown` runs out.
  void update();

  U32* cumulative = nullptr;
  U32* counts = nullptr;
  U32* lookup = nullptr;
  U32 count_total = 0;
  U32 adapt_interval = 0;
  U32 adapt_countdown = 0;
  U32 symbol_count;
  U32 top_symbol = 0;
  U32 lookup_size = 0;
  U32 lookup_shift = 0;
  bool for_encoder;
};
