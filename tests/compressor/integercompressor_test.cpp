#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "compressor/integercompressor.hpp"
#include "core/bytestreamin_array.hpp"
#include "core/bytestreamout_array.hpp"

namespace {

typedef std::vector<U8> Bytes;

struct Config {
  U32 value_bits, contexts, high_bits, value_range;
};

// One value, and the class and in-class position it must be coded as.
struct Coded {
  const char* name;
  Config config;
  I32 pred, real;
  U32 k;       // class
  U32 v;       // position in the class (the bit for class 0)
  I32 decoded; // what decompress gives back
};

const Coded coded[] = {
    // 65535 - 0 folds to -1 in 16 bits: class 1, position 0; comes back as 65535.
    {"16_bits_fold", {16, 1, 8, 0}, 0, 65535, 1, 0, 65535},
    {"diff_0", {32, 1, 8, 0}, 100, 100, 0, 0, 100},
    {"diff_1", {32, 1, 8, 0}, 100, 101, 0, 1, 101},
    {"diff_2", {32, 1, 8, 0}, 100, 102, 1, 1, 102},
    {"diff_minus_1", {32, 1, 8, 0}, 100, 99, 1, 0, 99},
    {"diff_3", {32, 1, 8, 0}, 100, 103, 2, 2, 103},
    {"diff_4", {32, 1, 8, 0}, 100, 104, 2, 3, 104},
    {"diff_minus_2", {32, 1, 8, 0}, 100, 98, 2, 1, 98},
    {"diff_minus_3", {32, 1, 8, 0}, 100, 97, 2, 0, 97},
    // 600000 needs 20 bits: v = 599999, symbol v >> 12 = 146 of 256, then 12 raw bits.
    {"20_bit_diff", {32, 1, 8, 0}, 0, 600000, 20, 599999, 600000},
    {"20_bit_diff_high_4", {32, 1, 4, 0}, 0, 600000, 20, 599999, 600000},
    // -2^31 is class 32: nothing follows the class.
    {"class_32", {32, 1, 8, 0}, 5, (I32)(5u + 0x80000000u), 32, 0, (I32)(5u + 0x80000000u)},
    // Range 5 gives 3 corrector bits and correctors -2..2: 0 - 4 folds to 1.
    {"range_5", {0, 1, 8, 5}, 4, 0, 0, 1, 0},
    {"range_5_up", {0, 1, 8, 5}, 0, 4, 1, 0, 4},  // 4 folds to -1
    // 8 bits, a signed prediction: 3 - (-5) = 8, class 3; back as 3.
    {"8_bits_signed_pred", {8, 1, 8, 0}, -5, 3, 3, 7, 3},
};

static U32 corrector_bits_of(const Config& c) {
  if (c.value_range) return (c.value_range & (c.value_range - 1)) ? 32 - __builtin_clz(c.value_range) : __builtin_ctz(c.value_range);
  return (c.value_bits && c.value_bits < 32) ? c.value_bits : 32;
}

// The compressor's bytes must be those of its class symbol, then the bit or the
// position's symbol with fresh models of the sizes the layout prescribes, then
// the raw low bits.
TEST(IntegerCompressor, CodesClassThenPosition) {
  for (const Coded& c : coded) {
    SCOPED_TRACE(c.name);
    const Config& cfg = c.config;
    ByteStreamOutArrayLE out(0);
    ArithmeticEncoder enc;
    ASSERT_TRUE(enc.init(&out));
    IntegerCompressor ic(&enc, cfg.value_bits, cfg.contexts, cfg.high_bits, cfg.value_range);
    ASSERT_TRUE(ic.initCompressor());
    ic.compress(c.pred, c.real, 0);
    EXPECT_EQ(ic.getLastClass(), c.k);
    enc.done();
    const Bytes got(out.getData(), out.getData() + out.getSize());

    ByteStreamOutArrayLE expected_out(0);
    ArithmeticEncoder plain;
    ASSERT_TRUE(plain.init(&expected_out));
    ArithmeticModel* class_model = plain.createSymbolModel(corrector_bits_of(cfg) + 1);
    ASSERT_EQ(plain.initSymbolModel(class_model), 0);
    plain.encodeSymbol(class_model, c.k);
    plain.destroySymbolModel(class_model);
    if (c.k == 0) {
      ArithmeticBitModel bit_model;
      plain.encodeBit(&bit_model, c.v);
    } else if (c.k < 32) {
      const U32 width = std::min(c.k, cfg.high_bits), r = c.k - width;
      ArithmeticModel* m = plain.createSymbolModel(1u << width);
      ASSERT_EQ(plain.initSymbolModel(m), 0);
      plain.encodeSymbol(m, c.v >> r);
      plain.destroySymbolModel(m);
      if (r) plain.writeBits(r, c.v & ((1u << r) - 1));
    }
    plain.done();
    EXPECT_EQ(got, Bytes(expected_out.getData(), expected_out.getData() + expected_out.getSize()));

    ByteStreamInArrayLE in(out.getData(), out.getSize());
    ArithmeticDecoder dec;
    ASSERT_TRUE(dec.init(&in));
    IntegerCompressor id(&dec, cfg.value_bits, cfg.contexts, cfg.high_bits, cfg.value_range);
    ASSERT_TRUE(id.initDecompressor());
    EXPECT_EQ(id.decompress(c.pred, 0), c.decoded);
    EXPECT_EQ(id.getLastClass(), c.k);
    EXPECT_EQ(in.tell(), in.getSize());
  }
}

// Round trips over long random sequences: values in range come back exactly,
// and for a power-of-two range any 32-bit value comes back modulo the range,
// whatever the prediction; the class seen by both sides agrees; the decoder
// ends at the end of the code.
TEST(IntegerCompressor, RoundTripsOfEveryWidthAndRange) {
  std::vector<Config> configs;
  for (U32 bits = 8; bits <= 32; bits++) configs.push_back({bits, 3, 8, 0});
  for (U32 high : {1u, 4u, 11u}) configs.push_back({32, 2, high, 0});
  configs.push_back({16, 4, 11, 0});
  for (U32 range : {2u, 5u, 9u, 1000u, 0x80000000u, 0x80000001u, 0xFFFFFFFFu}) configs.push_back({0, 2, 8, range});
  for (const Config& cfg : configs) {
    SCOPED_TRACE(testing::Message() << cfg.value_bits << " bits, high " << cfg.high_bits << ", range " << cfg.value_range);
    const U64 range = cfg.value_range ? cfg.value_range : (cfg.value_bits < 32 ? 1ull << cfg.value_bits : 1ull << 32);
    std::mt19937 rng(cfg.value_bits * 131 + cfg.high_bits + cfg.value_range);
    struct Value {
      I32 pred, real;
      U32 context;
    };
    std::vector<Value> values;
    I32 previous = 0;
    for (int i = 0; i < 20000; i++) {
      Value v;
      v.context = rng() % cfg.contexts;
      switch ((i / 1000) % 4) {
        case 0:  // near the previous value, in range: the usual case
          v.pred = previous;
          v.real = (I32)(U32)(((U64)(U32)previous + range + (rng() % 64) - 32) % range);
          break;
        case 1:  // anywhere in range
          v.pred = previous;
          v.real = (I32)(U32)(rng() % range);
          break;
        case 2:  // the ends of the range
          v.pred = (I32)(U32)((rng() % 2) ? 0 : range - 1);
          v.real = (I32)(U32)((rng() % 2) ? 0 : range - 1);
          break;
        default:  // any 32-bit prediction and value
          v.pred = (I32)rng();
          v.real = (I32)rng();
      }
      previous = v.real;
      values.push_back(v);
    }

    ByteStreamOutArrayLE out(0);
    ArithmeticEncoder enc;
    ASSERT_TRUE(enc.init(&out));
    IntegerCompressor ic(&enc, cfg.value_bits, cfg.contexts, cfg.high_bits, cfg.value_range);
    ASSERT_TRUE(ic.initCompressor());
    std::vector<U32> classes;
    for (const Value& v : values) {
      ic.compress(v.pred, v.real, v.context);
      classes.push_back(ic.getLastClass());
    }
    enc.done();

    ByteStreamInArrayLE in(out.getData(), out.getSize());
    ArithmeticDecoder dec;
    ASSERT_TRUE(dec.init(&in));
    IntegerCompressor id(&dec, cfg.value_bits, cfg.contexts, cfg.high_bits, cfg.value_range);
    ASSERT_TRUE(id.initDecompressor());
    for (size_t i = 0; i < values.size(); i++) {
      const Value& v = values[i];
      const I32 got = id.decompress(v.pred, v.context);
      ASSERT_EQ(id.getLastClass(), classes[i]) << i;
      const bool in_range = (U32)v.pred < range && (U32)v.real < range;
      if (range == (1ull << 32) || in_range) {
        ASSERT_EQ(got, v.real) << i;
      } else if ((range & (range - 1)) == 0) {
        // Values out of range: they come back right modulo a power-of-two range.
        ASSERT_EQ((U32)got % range, (U32)v.real % range) << i;
      }
    }
    EXPECT_EQ(in.tell(), in.getSize());
  }
}

// Statistics never cross a code stream: after init the same values give the
// same bytes, while carrying the models on does not.
TEST(IntegerCompressor, InitResetsStatistics) {
  std::mt19937 rng(9);
  std::vector<I32> values(3000);
  for (I32& v : values) v = (I32)(rng() % 500);
  ArithmeticEncoder enc;
  IntegerCompressor ic(&enc, 16, 1);
  auto stream = [&](bool reset) {
    ByteStreamOutArrayLE out(0);
    enc.init(&out);
    if (reset) ic.initCompressor();
    I32 pred = 0;
    for (I32 v : values) {
      ic.compress(pred, v);
      pred = v;
    }
    enc.done();
    return Bytes(out.getData(), out.getData() + out.getSize());
  };
  const Bytes first = stream(true);
  EXPECT_EQ(stream(true), first);
  EXPECT_NE(stream(false), first);
}

// Configurations whose models a symbol model refuses are reported by init.
TEST(IntegerCompressor, RefusedConfigurations) {
  const Config refused[] = {{16, 1, 0, 0}, {32, 1, 12, 0}, {0, 1, 8, 1}};
  for (const Config& cfg : refused) {
    ArithmeticEncoder enc;
    IntegerCompressor ic(&enc, cfg.value_bits, cfg.contexts, cfg.high_bits, cfg.value_range);
    EXPECT_FALSE(ic.initCompressor()) << cfg.high_bits << " " << cfg.value_range;
  }
  ArithmeticDecoder dec;
  IntegerCompressor widest(&dec, 32, 1, 11, 0);
  EXPECT_TRUE(widest.initDecompressor());
  IntegerCompressor never_initialised(&dec, 32, 4);  // destroys nothing
}

}  // namespace
