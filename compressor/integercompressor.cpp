// Folding, class split and raw low bits of the integer compressor. Differences
// wrap in 32 bits, so they are formed in unsigned arithmetic.
#include "compressor/integercompressor.hpp"

#include <bit>

IntegerCompressor::IntegerCompressor(ArithmeticEncoder* enc, U32 value_bits, U32 context_count, U32 high_bits,
                                     U32 value_range)
    : context_count(context_count), encoder(enc) {
  setup(value_bits, high_bits, value_range);
}

IntegerCompressor::IntegerCompressor(ArithmeticDecoder* dec, U32 value_bits, U32 context_count, U32 high_bits,
                                     U32 value_range)
    : context_count(context_count), decoder(dec) {
  setup(value_bits, high_bits, value_range);
}

void IntegerCompressor::setup(U32 value_bits, U32 high_bits, U32 value_range) {
  this->value_bits = value_bits;
  this->high_bits = high_bits;
  this->value_range = value_range;
  if (value_range) {
    corrector_range = value_range;
    // log2 for a power of two, else the bit length (5 -> 3, 8 -> 3, 9 -> 4).
    corrector_bits = std::has_single_bit(value_range) ? (U32)std::countr_zero(value_range)
                                                      : (U32)std::bit_width(value_range);
  } else if (value_bits && value_bits < 32) {
    corrector_bits = value_bits;
    corrector_range = 1u << value_bits;
  } else {
    corrector_bits = 32;
    corrector_range = 0;
    corrector_min = I32_MIN;
    corrector_max = I32_MAX;
    return;
  }
  corrector_min = -(I32)(corrector_range / 2);
  corrector_max = (I32)(corrector_range - corrector_range / 2 - 1);
}

bool IntegerCompressor::create_and_init_models() {
  if (!corrector_bit_model) {
    class_models.reserve(context_count);
    for (U32 i = 0; i < context_count; i++) {
      class_models.emplace_back(encoder ? encoder->createSymbolModel(corrector_bits + 1)
                                        : decoder->createSymbolModel(corrector_bits + 1));
    }
    corrector_bit_model.reset(encoder ? encoder->createBitModel() : decoder->createBitModel());
    corrector_models.reserve(corrector_bits + 1);
    corrector_models.emplace_back(nullptr);
    for (U32 k = 1; k <= corrector_bits; k++) {
      // More than 11 bits would exceed a symbol model; 0 symbols makes init refuse.
      const U32 width = (k <= high_bits) ? k : high_bits;
      const U32 symbols = (width <= 11) ? 1u << width : 0;
      corrector_models.emplace_back(encoder ? encoder->createSymbolModel(symbols)
                                            : decoder->createSymbolModel(symbols));
    }
  }
  // The models are the same for both directions apart from their lookup
  // tables, which they chose at creation.
  bool ok = true;
  for (U32 i = 0; i < context_count; i++) ok &= (class_models[i]->init() == 0);
  corrector_bit_model->init();
  for (U32 k = 1; k <= corrector_bits; k++) ok &= (corrector_models[k]->init() == 0);
  return ok;
}

bool IntegerCompressor::initCompressor() { return create_and_init_models(); }

bool IntegerCompressor::initDecompressor() { return create_and_init_models(); }

// A range above 2^31 holds differences that a 32-bit signed difference cannot
// tell apart, so those ranges fold in 64 bits; the others keep the 32-bit
// arithmetic (and its treatment of negative predictions) exactly.
static bool needs_wide_fold(U32 corrector_range) { return corrector_range > 0x80000000u; }

void IntegerCompressor::compress(I32 pred, I32 real, U32 context) {
  // Values further apart than one range (not of the field's width) are still
  // coded modulo the range rather than as a class beyond the class model.
  I32 d;
  if (needs_wide_fold(corrector_range)) {
    I64 wide = (I64)(U32)real - (I64)(U32)pred;
    if (wide < corrector_min) {
      wide += corrector_range;
    } else if (wide > corrector_max) {
      wide -= corrector_range;
    }
    d = (wide < corrector_min || wide > corrector_max) ? fold_fully(wide) : (I32)wide;
  } else {
    d = (I32)((U32)real - (U32)pred);
    if (d < corrector_min) {
      d = (I32)((U32)d + corrector_range);
    } else if (d > corrector_max) {
      d = (I32)((U32)d - corrector_range);
    }
    if (d < corrector_min || d > corrector_max) d = fold_fully(d);
  }
  write_corrector(d, class_models[context].get());
}

I32 IntegerCompressor::fold_fully(I64 d) const {
  const I64 range = corrector_range;  // not 0: a full range never needs this
  I64 offset = (d - corrector_min) % range;
  if (offset < 0) offset += range;
  return (I32)(corrector_min + offset);
}

I32 IntegerCompressor::decompress(I32 pred, U32 context) {
  const I32 d = read_corrector(class_models[context].get());
  if (needs_wide_fold(corrector_range)) {
    I64 wide = (I64)(U32)pred + d;
    if (wide < 0) {
      wide += corrector_range;
    } else if (wide >= corrector_range) {
      wide -= corrector_range;
    }
    return (I32)(U32)wide;
  }
  // A range of 0 (2^32) leaves the sum as it is.
  U32 real = (U32)pred + (U32)d;
  if ((I32)real < 0) {
    real += corrector_range;
  } else if (real >= corrector_range) {
    real -= corrector_range;
  }
  return (I32)real;
}

// Class k holds -(2^k - 1) .. -2^(k-1) and 2^(k-1) + 1 .. 2^k; class 0 holds 0
// and 1. Inside class k the corrector maps to 0 .. 2^k - 1.
void IntegerCompressor::write_corrector(I32 d, ArithmeticModel* class_model) {
  const U32 m = (d <= 0) ? 0u - (U32)d : (U32)d - 1;
  const U32 k = (U32)std::bit_width(m);
  last_class = k;
  encoder->encodeSymbol(class_model, k);
  if (k == 0) {
    encoder->encodeBit(corrector_bit_model.get(), (U32)d);
  } else if (k < 32) {
    const U32 v = (d < 0) ? (U32)d + ((1u << k) - 1) : (U32)d - 1;
    if (k <= high_bits) {
      encoder->encodeSymbol(corrector_models[k].get(), v);
    } else {
      const U32 r = k - high_bits;
      encoder->encodeSymbol(corrector_models[k].get(), v >> r);
      encoder->writeBits(r, v & ((1u << r) - 1));
    }
  }
  // Class 32 is only -2^31 of a full 32-bit range; the class says it all.
}

I32 IntegerCompressor::read_corrector(ArithmeticModel* class_model) {
  const U32 k = decoder->decodeSymbol(class_model);
  last_class = k;
  if (k == 0) return (I32)decoder->decodeBit(corrector_bit_model.get());
  if (k >= 32) return corrector_min;
  U32 v;
  if (k <= high_bits) {
    v = decoder->decodeSymbol(corrector_models[k].get());
  } else {
    const U32 r = k - high_bits;
    v = decoder->decodeSymbol(corrector_models[k].get()) << r;
    v |= decoder->readBits(r);
  }
  return (v >= (1u << (k - 1))) ? (I32)(v + 1) : (I32)(v - ((1u << k) - 1));
}
