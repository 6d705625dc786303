// Codes an integer as its difference (the corrector) to a prediction both sides
// can make. The corrector is folded into the value range, then split into its
// class (bit length of its magnitude), coded with a per-context model, and its
// position inside the class, coded with a model of that class; for classes
// wider than `high_bits` only the top `high_bits` bits are modelled and the rest
// go out raw. An instance works either for an encoder or for a decoder.
#pragma once

#include <memory>
#include <vector>

#include "compressor/arithmeticdecoder.hpp"
#include "compressor/arithmeticencoder.hpp"

class IntegerCompressor {
 public:
  // `high_bits` from 1 to 11; `value_range` 0 (use `value_bits`) or at least 2.
  IntegerCompressor(ArithmeticEncoder* enc, U32 value_bits = 16, U32 context_count = 1, U32 high_bits = 8,
                    U32 value_range = 0);
  IntegerCompressor(ArithmeticDecoder* dec, U32 value_bits = 16, U32 context_count = 1, U32 high_bits = 8,
                    U32 value_range = 0);
  IntegerCompressor(const IntegerCompressor&) = delete;
  IntegerCompressor& operator=(const IntegerCompressor&) = delete;

  // Create the models on the first call, reset them on every call: statistics
  // never cross a code stream. False when a model cannot be made.
  bool initCompressor();
  bool initDecompressor();

  // `context` must be below the context count.
  void compress(I32 pred, I32 real, U32 context = 0);
  I32 decompress(I32 pred, U32 context = 0);

  // Class of the last value coded; item coders choose later contexts by it.
  U32 getLastClass() const { return last_class; }

 private:
  void setup(U32 value_bits, U32 high_bits, U32 value_range);
  bool create_and_init_models();
  I32 fold_fully(I64 d) const;
  void write_corrector(I32 d, ArithmeticModel* class_model);
  I32 read_corrector(ArithmeticModel* class_model);

  U32 last_class = 0;
  U32 context_count;
  U32 high_bits = 0;
  U32 value_bits = 0;
  U32 value_range = 0;
  U32 corrector_bits = 0;
  U32 corrector_range = 0;  // 0 stands for 2^32
  I32 corrector_min = 0;
  I32 corrector_max = 0;
  ArithmeticEncoder* encoder = nullptr;
  ArithmeticDecoder* decoder = nullptr;
  // Made on the first init (the bit model tells), then kept and reset.
  std::vector<std::unique_ptr<ArithmeticModel>> class_models;      // one per context
  std::unique_ptr<ArithmeticBitModel> corrector_bit_model;         // class 0
  std::vector<std::unique_ptr<ArithmeticModel>> corrector_models;  // classes 1 to `corrector_bits`; entry 0 unused
};
