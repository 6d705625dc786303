// The shared procedures of the item coders (see lasitemcoding.hpp): the
// return tables, the GPS time sequences and the colour difference coding.
#include "compressor/lasitemcoding.hpp"

// Row: number of returns 0-7; column: return number 0-7.
const U8 number_return_map[64] = {
    15, 14, 13, 12, 11, 10, 9,  8,   //
    14, 0,  1,  3,  6,  10, 10, 9,   //
    13, 1,  2,  4,  7,  11, 11, 10,  //
    12, 3,  4,  5,  8,  12, 12, 11,  //
    11, 6,  7,  8,  9,  13, 13, 12,  //
    10, 10, 11, 12, 13, 14, 14, 13,  //
    9,  10, 11, 12, 13, 14, 15, 14,  //
    8,  9,  10, 11, 12, 13, 14, 15,
};

const U8 number_return_level[64] = {
    0, 1, 2, 3, 4, 5, 6, 7,  //
    1, 0, 1, 2, 3, 4, 5, 6,  //
    2, 1, 0, 1, 2, 3, 4, 5,  //
    3, 2, 1, 0, 1, 2, 3, 4,  //
    4, 3, 2, 1, 0, 1, 2, 3,  //
    5, 4, 3, 2, 1, 0, 1, 2,  //
    6, 5, 4, 3, 2, 1, 0, 1,  //
    7, 6, 5, 4, 3, 2, 1, 0,
};

// ------------------------------------------------------------------ GPS time

namespace {

constexpr U32 TIME_CONTEXTS = 9;
constexpr U32 CONTEXT_FIRST_DELTA = 0;
constexpr U32 CONTEXT_NEW_SEQUENCE = 8;

I32 wrapping_product(I32 factor, I32 delta) { return (I32)((U32)factor * (U32)delta); }
I32 high_half(U64 time) { return (I32)(U32)(time >> 32); }

}  // namespace

I32 gps_time_multiplier(I32 difference, I32 reference) {
  // The quotient is formed in single precision on purpose: every reader of
  // these files rounds it the same way.
  const F32 quotient = (F32)difference / (F32)reference;
  const F64 rounded = (quotient < 0) ? (F64)quotient - 0.5 : (F64)quotient + 0.5;
  if (!(rounded < 2147483648.0) || !(rounded > -2147483649.0)) return I32_MIN;
  return (I32)rounded;
}

GpsMultiplierCode gps_multiplier_code(I32 k) {
  if (k == 1) return {1, 1, 1, false};
  if (k >= 2 && k <= 9) return {(U32)k, k, 2, false};
  if (k >= 10 && k < 500) return {(U32)k, k, 3, false};
  if (k >= 500) return {500, 500, 4, true};
  if (k <= -1 && k >= -9) return {(U32)(500 - k), k, 5, false};
  if (k <= -10) return {510, -10, 6, true};
  return {0, 0, 7, true};
}

GpsMultiplierCode gps_multiplier_code_of_symbol(U32 symbol) {
  if (symbol == 0) return gps_multiplier_code(0);
  if (symbol <= 500) return gps_multiplier_code((I32)symbol);
  if (symbol < 510) return gps_multiplier_code(500 - (I32)symbol);
  return gps_multiplier_code(-10);
}

GpsTimeWriter::GpsTimeWriter(ArithmeticEncoder* enc, bool with_unchanged_symbol)
    : enc(enc),
      symbols(with_unchanged_symbol),
      multiplier_model(make_model(enc, symbols.multiplier_models())),
      zero_delta_model(make_model(enc, symbols.zero_delta_models())),
      time_coder(enc, 32, TIME_CONTEXTS, 8, 0) {}

void GpsTimeWriter::init(U64 first_time) {
  seq.reset(first_time);
  enc->initSymbolModel(multiplier_model.get());
  enc->initSymbolModel(zero_delta_model.get());
  time_coder.initCompressor();
}

void GpsTimeWriter::write(U64 time) {
  for (;;) {
    const U32 s = seq.current;
    const I64 d = (I64)(time - seq.time[s]);
    if (seq.delta[s] == 0) {
      ArithmeticModel* m = zero_delta_model.get();
      if (symbols.unchanged && time == seq.time[s]) {
        enc->encodeSymbol(m, 0);
        return;
      }
      if (fits_in_32_bits(d)) {
        enc->encodeSymbol(m, symbols.zero_fit());
        time_coder.compress(0, (I32)d, CONTEXT_FIRST_DELTA);
        seq.delta[s] = (I32)d;
        seq.outliers[s] = 0;
        seq.time[s] = time;
        return;
      }
      if (switch_to_fitting_sequence(time, m, symbols.zero_new() + 1)) continue;
      enc->encodeSymbol(m, symbols.zero_new());
    } else {
      ArithmeticModel* m = multiplier_model.get();
      if (symbols.unchanged && time == seq.time[s]) {
        enc->encodeSymbol(m, 511);
        return;
      }
      if (fits_in_32_bits(d)) {
        const GpsMultiplierCode code = gps_multiplier_code(gps_time_multiplier((I32)d, seq.delta[s]));
        enc->encodeSymbol(m, code.symbol);
        time_coder.compress(wrapping_product(code.factor, seq.delta[s]), (I32)d, code.context);
        if (code.symbol == 1) seq.outliers[s] = 0;
        if (code.outlier) seq.count_outlier(s, (I32)d);
        seq.time[s] = time;
        return;
      }
      if (switch_to_fitting_sequence(time, m, symbols.multiplier_new() + 1)) continue;
      enc->encodeSymbol(m, symbols.multiplier_new());
    }
    start_sequence(time);
    return;
  }
}

// A time that fits one of the other three sequences switches to it and is
// then coded against it.
bool GpsTimeWriter::switch_to_fitting_sequence(U64 time, ArithmeticModel* model, U32 first_switch_symbol) {
  for (U32 i = 1; i <= 3; i++) {
    const U32 other = (seq.current + i) & 3;
    if (fits_in_32_bits((I64)(time - seq.time[other]))) {
      enc->encodeSymbol(model, first_switch_symbol + i - 1);
      seq.current = other;
      return true;
    }
  }
  return false;
}

void GpsTimeWriter::start_sequence(U64 time) {
  time_coder.compress(high_half(seq.time[seq.current]), high_half(time), CONTEXT_NEW_SEQUENCE);
  enc->writeInt((U32)time);
  seq.newest = (seq.newest + 1) & 3;
  seq.current = seq.newest;
  seq.time[seq.current] = time;
  seq.delta[seq.current] = 0;
  seq.outliers[seq.current] = 0;
}

GpsTimeReader::GpsTimeReader(ArithmeticDecoder* dec, bool with_unchanged_symbol)
    : dec(dec),
      symbols(with_unchanged_symbol),
      multiplier_model(make_model(dec, symbols.multiplier_models())),
      zero_delta_model(make_model(dec, symbols.zero_delta_models())),
      time_coder(dec, 32, TIME_CONTEXTS, 8, 0) {}

void GpsTimeReader::init(U64 first_time) {
  seq.reset(first_time);
  dec->initSymbolModel(multiplier_model.get());
  dec->initSymbolModel(zero_delta_model.get());
  time_coder.initDecompressor();
}

U64 GpsTimeReader::read() {
  for (;;) {
    const U32 s = seq.current;
    if (seq.delta[s] == 0) {
      const U32 symbol = dec->decodeSymbol(zero_delta_model.get());
      if (symbol == symbols.zero_fit()) {
        const I32 d = time_coder.decompress(0, CONTEXT_FIRST_DELTA);
        seq.delta[s] = d;
        seq.outliers[s] = 0;
        seq.time[s] += (U64)(I64)d;
      } else if (symbol == symbols.zero_new()) {
        start_sequence();
      } else if (symbol > symbols.zero_new()) {
        seq.current = (s + symbol - symbols.zero_new()) & 3;
        continue;
      }
      // else: the time is unchanged
    } else {
      const U32 symbol = dec->decodeSymbol(multiplier_model.get());
      if (symbol <= 510) {
        const GpsMultiplierCode code = gps_multiplier_code_of_symbol(symbol);
        const I32 d = time_coder.decompress(wrapping_product(code.factor, seq.delta[s]), code.context);
        seq.time[s] += (U64)(I64)d;
        if (symbol == 1) seq.outliers[s] = 0;
        if (code.outlier) seq.count_outlier(s, d);
      } else if (symbol == symbols.multiplier_new()) {
        start_sequence();
      } else if (symbol > symbols.multiplier_new()) {
        seq.current = (s + symbol - symbols.multiplier_new()) & 3;
        continue;
      }
      // else: the time is unchanged
    }
    return seq.time[seq.current];
  }
}

void GpsTimeReader::start_sequence() {
  seq.newest = (seq.newest + 1) & 3;
  const U32 high = (U32)time_coder.decompress(high_half(seq.time[seq.current]), CONTEXT_NEW_SEQUENCE);
  const U32 low = dec->readInt();
  seq.current = seq.newest;
  seq.time[seq.current] = ((U64)high << 32) | low;
  seq.delta[seq.current] = 0;
  seq.outliers[seq.current] = 0;
}

// ------------------------------------------------------------------ colour

namespace {

// Mask bits: which bytes differ from the reference (red low, red high, green
// low, green high, blue low, blue high), and 64 when the colour is not grey.
constexpr U32 NOT_GREY = 64;

}  // namespace

U32 encode_colour_difference(ArithmeticEncoder* enc, ColourModels<ArithmeticEncoder>& models, const U16* r,
                             const U16* x) {
  U32 mask = 0;
  if (lo_byte(x[0]) != lo_byte(r[0])) mask |= 1;
  if (hi_byte(x[0]) != hi_byte(r[0])) mask |= 2;
  if (lo_byte(x[1]) != lo_byte(r[1])) mask |= 4;
  if (hi_byte(x[1]) != hi_byte(r[1])) mask |= 8;
  if (lo_byte(x[2]) != lo_byte(r[2])) mask |= 16;
  if (hi_byte(x[2]) != hi_byte(r[2])) mask |= 32;
  if (x[1] != x[0] || x[2] != x[0]) mask |= NOT_GREY;
  enc->encodeSymbol(models.changed.get(), mask);
  const auto dm = [&models](int k) { return models.difference[k].get(); };
  I32 d0 = 0, d1 = 0;
  if (mask & 1) {
    d0 = (I32)lo_byte(x[0]) - lo_byte(r[0]);
    enc->encodeSymbol(dm(0), fold_byte(d0));
  }
  if (mask & 2) {
    d1 = (I32)hi_byte(x[0]) - hi_byte(r[0]);
    enc->encodeSymbol(dm(1), fold_byte(d1));
  }
  if (mask & NOT_GREY) {
    if (mask & 4) {
      const I32 p = clamp_byte(d0 + lo_byte(r[1]));
      enc->encodeSymbol(dm(2), fold_byte((I32)lo_byte(x[1]) - p));
    }
    if (mask & 16) {
      const I32 p = clamp_byte(half(d0 + lo_byte(x[1]) - lo_byte(r[1])) + lo_byte(r[2]));
      enc->encodeSymbol(dm(4), fold_byte((I32)lo_byte(x[2]) - p));
    }
    if (mask & 8) {
      const I32 p = clamp_byte(d1 + hi_byte(r[1]));
      enc->encodeSymbol(dm(3), fold_byte((I32)hi_byte(x[1]) - p));
    }
    if (mask & 32) {
      const I32 p = clamp_byte(half(d1 + hi_byte(x[1]) - hi_byte(r[1])) + hi_byte(r[2]));
      enc->encodeSymbol(dm(5), fold_byte((I32)hi_byte(x[2]) - p));
    }
  }
  return mask;
}

void decode_colour_difference(ArithmeticDecoder* dec, ColourModels<ArithmeticDecoder>& models, const U16* r, U16* x) {
  const U32 mask = dec->decodeSymbol(models.changed.get());
  const auto dm = [&models](int k) { return models.difference[k].get(); };
  const U8 red_lo = (mask & 1) ? decode_byte_difference(dec, dm(0), lo_byte(r[0])) : lo_byte(r[0]);
  const U8 red_hi = (mask & 2) ? decode_byte_difference(dec, dm(1), hi_byte(r[0])) : hi_byte(r[0]);
  const U16 red = (U16)(red_lo | (red_hi << 8));
  if (!(mask & NOT_GREY)) {
    x[0] = x[1] = x[2] = red;
    return;
  }
  const I32 d0 = (I32)red_lo - lo_byte(r[0]);
  const I32 d1 = (I32)red_hi - hi_byte(r[0]);
  U8 green_lo = lo_byte(r[1]), blue_lo = lo_byte(r[2]), green_hi = hi_byte(r[1]), blue_hi = hi_byte(r[2]);
  if (mask & 4) green_lo = (U8)(dec->decodeSymbol(dm(2)) + clamp_byte(d0 + lo_byte(r[1])));
  if (mask & 16) blue_lo = (U8)(dec->decodeSymbol(dm(4)) + clamp_byte(half(d0 + green_lo - lo_byte(r[1])) + lo_byte(r[2])));
  if (mask & 8) green_hi = (U8)(dec->decodeSymbol(dm(3)) + clamp_byte(d1 + hi_byte(r[1])));
  if (mask & 32) blue_hi = (U8)(dec->decodeSymbol(dm(5)) + clamp_byte(half(d1 + green_hi - hi_byte(r[1])) + hi_byte(r[2])));
  x[0] = red;
  x[1] = (U16)(green_lo | (green_hi << 8));
  x[2] = (U16)(blue_lo | (blue_hi << 8));
}
