#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <vector>

#include "compressor/arithmeticdecoder.hpp"
#include "compressor/arithmeticencoder.hpp"
#include "core/bytestreamin_array.hpp"
#include "core/bytestreamout_array.hpp"
#include "support/thrown.hpp"

namespace {

// Encodes with `encode`, then decodes the bytes with `decode`, which must end
// exactly at the end of the code.
class RoundTrip : public ::testing::Test {
 protected:
  void run(const std::function<void(ArithmeticEncoder&)>& encode,
           const std::function<void(ArithmeticDecoder&)>& decode) {
    ByteStreamOutArrayLE out(0);
    ArithmeticEncoder enc;
    ASSERT_TRUE(enc.init(&out));
    encode(enc);
    enc.done();
    ByteStreamInArrayLE in(out.getData(), out.getSize());
    ArithmeticDecoder dec;
    ASSERT_TRUE(dec.init(&in));
    decode(dec);
    dec.done();
    EXPECT_EQ(in.tell(), in.getSize());
  }
  std::mt19937 rng{2024};
};

TEST_F(RoundTrip, BitsOfEverySkew) {
  for (double p_one : {0.5, 0.1, 0.9, 0.001, 0.999, 0.0, 1.0}) {
    SCOPED_TRACE(p_one);
    std::bernoulli_distribution one(p_one);
    std::vector<U32> bits(200000);
    // Values other than 1 code a 1 too.
    for (U32& b : bits) b = one(rng) ? (rng() | 1) : 0;
    run(
        [&](ArithmeticEncoder& enc) {
          ArithmeticBitModel* models[3] = {enc.createBitModel(), enc.createBitModel(), enc.createBitModel()};
          for (size_t i = 0; i < bits.size(); i++) enc.encodeBit(models[i % 3], bits[i]);
          for (ArithmeticBitModel* m : models) enc.destroyBitModel(m);
        },
        [&](ArithmeticDecoder& dec) {
          ArithmeticBitModel* models[3] = {dec.createBitModel(), dec.createBitModel(), dec.createBitModel()};
          for (size_t i = 0; i < bits.size(); i++) ASSERT_EQ(dec.decodeBit(models[i % 3]), bits[i] ? 1u : 0u) << i;
          for (ArithmeticBitModel* m : models) dec.destroyBitModel(m);
        });
  }
}

// Every size from 2 to 256 (with and without lookup tables on the decoding side)
// and larger ones up to 2048; half the symbols uniform, half heavily skewed, so
// that rebuilds, halvings and the top symbol's remainder all occur.
TEST_F(RoundTrip, SymbolsOfEveryModelSize) {
  std::vector<U32> sizes;
  for (U32 n = 2; n <= 256; n++) sizes.push_back(n);
  for (U32 n : {257u, 511u, 512u, 513u, 1000u, 2047u, 2048u}) sizes.push_back(n);
  for (U32 n : sizes) {
    SCOPED_TRACE(n);
    std::vector<U32> symbols(n <= 256 ? 4000 : 40000);
    std::geometric_distribution<> skewed(0.3);
    for (size_t i = 0; i < symbols.size(); i++) {
      symbols[i] = (i / 500) % 2 ? rng() % n : n - 1 - std::min<U32>(n - 1, (U32)skewed(rng));
    }
    run(
        [&](ArithmeticEncoder& enc) {
          ArithmeticModel* m = enc.createSymbolModel(n);
          ASSERT_EQ(enc.initSymbolModel(m), 0);
          for (U32 s : symbols) enc.encodeSymbol(m, s);
          enc.destroySymbolModel(m);
        },
        [&](ArithmeticDecoder& dec) {
          ArithmeticModel* m = dec.createSymbolModel(n);
          ASSERT_EQ(dec.initSymbolModel(m), 0);
          for (size_t i = 0; i < symbols.size(); i++) ASSERT_EQ(dec.decodeSymbol(m), symbols[i]) << i;
          dec.destroySymbolModel(m);
        });
  }
}

TEST_F(RoundTrip, RawValuesOfEveryWidth) {
  struct Raw {
    U32 bits, value;
  };
  std::vector<Raw> raws;
  for (U32 bits = 1; bits <= 32; bits++) {
    const U32 max = (bits == 32) ? 0xFFFFFFFFu : (1u << bits) - 1;
    raws.push_back({bits, 0});
    raws.push_back({bits, max});
    for (int i = 0; i < 2000; i++) raws.push_back({bits, (U32)rng() & max});
  }
  std::shuffle(raws.begin(), raws.end(), rng);
  const U64 wide[] = {0, 1, 0xFFFF, 0x10000, 0xFFFFFFFF, 0x100000000ULL, 0x8000000000000000ULL, 0xFFFFFFFFFFFFFFFFULL,
                      0x0123456789ABCDEFULL};
  run(
      [&](ArithmeticEncoder& enc) {
        for (const Raw& r : raws) enc.writeBits(r.bits, r.value);
        for (U64 v : wide) {
          enc.writeInt((U32)v);
          enc.writeInt64(v);
        }
      },
      [&](ArithmeticDecoder& dec) {
        for (const Raw& r : raws) ASSERT_EQ(dec.readBits(r.bits), r.value) << r.bits;
        for (U64 v : wide) {
          ASSERT_EQ(dec.readInt(), (U32)v);
          ASSERT_EQ(dec.readInt64(), v);
        }
      });
}

// Several code streams back to back, as chunks are: every kind of value
// interleaved, models reset per stream, and the decoder started at each
// stream's first byte ends exactly at its last.
TEST(ArithmeticDecoder, ConsecutiveStreamsOfMixedValues) {
  struct Value {
    int kind;
    U32 model, value;
  };
  const U32 sizes[] = {2, 5, 16, 17, 64, 255, 300};
  std::mt19937 rng(5);
  std::vector<std::vector<Value>> streams(5);
  for (auto& values : streams) {
    for (int i = 0; i < 30000; i++) {
      const int kind = rng() % 3;
      const U32 model = rng() % 7;
      const U32 bits = 1 + rng() % 32;
      const U32 value = kind == 0 ? rng() % 2 : kind == 1 ? rng() % sizes[model] : (U32)(rng() >> (32 - bits));
      values.push_back({kind, kind == 2 ? bits : model, value});
    }
  }

  ByteStreamOutArrayLE out(0);
  std::vector<I64> ends;
  ArithmeticEncoder enc;
  ArithmeticBitModel* bit_models[7];
  ArithmeticModel* symbol_models[7];
  for (int i = 0; i < 7; i++) {
    bit_models[i] = enc.createBitModel();
    symbol_models[i] = enc.createSymbolModel(sizes[i]);
  }
  for (const auto& values : streams) {
    ASSERT_TRUE(enc.init(&out));
    for (int i = 0; i < 7; i++) {
      enc.initBitModel(bit_models[i]);
      ASSERT_EQ(enc.initSymbolModel(symbol_models[i]), 0);
    }
    for (const Value& v : values) {
      if (v.kind == 0) enc.encodeBit(bit_models[v.model], v.value);
      if (v.kind == 1) enc.encodeSymbol(symbol_models[v.model], v.value);
      if (v.kind == 2) enc.writeBits(v.model, v.value);
    }
    enc.done();
    ends.push_back(out.getSize());
  }
  for (int i = 0; i < 7; i++) {
    enc.destroyBitModel(bit_models[i]);
    enc.destroySymbolModel(symbol_models[i]);
  }

  ByteStreamInArrayLE in(out.getData(), out.getSize());
  ArithmeticDecoder dec;
  for (int i = 0; i < 7; i++) {
    bit_models[i] = dec.createBitModel();
    symbol_models[i] = dec.createSymbolModel(sizes[i]);
  }
  for (size_t s = 0; s < streams.size(); s++) {
    ASSERT_TRUE(dec.init(&in));
    for (int i = 0; i < 7; i++) {
      dec.initBitModel(bit_models[i]);
      ASSERT_EQ(dec.initSymbolModel(symbol_models[i]), 0);
    }
    for (const Value& v : streams[s]) {
      U32 got = 0;
      if (v.kind == 0) got = dec.decodeBit(bit_models[v.model]);
      if (v.kind == 1) got = dec.decodeSymbol(symbol_models[v.model]);
      if (v.kind == 2) got = dec.readBits(v.model);
      ASSERT_EQ(got, v.value);
    }
    dec.done();
    EXPECT_EQ(in.tell(), ends[s]) << s;
  }
  for (int i = 0; i < 7; i++) {
    dec.destroyBitModel(bit_models[i]);
    dec.destroySymbolModel(symbol_models[i]);
  }
}

TEST(ArithmeticDecoder, Attach) {
  ArithmeticDecoder dec;
  EXPECT_FALSE(dec.init(nullptr));
  const U8 bytes[] = {0x01, 0x00, 0x00, 0x00};
  ByteStreamInArrayLE in(bytes, 4);
  EXPECT_TRUE(dec.init(&in, false));
  EXPECT_EQ(in.tell(), 0);  // without read_start nothing is read
  EXPECT_TRUE(dec.init(&in, true));
  EXPECT_EQ(in.tell(), 4);
}

// Running out of code throws the stream's -1: at init, and when a value needs
// bytes the stream does not have.
TEST(ArithmeticDecoder, TruncatedCodeThrowsEndOfData) {
  const U8 bytes[] = {0xA5, 0x00, 0x00, 0x00, 0x00};  // raw 8-bit 0xA5
  ArithmeticDecoder dec;
  for (I64 size = 0; size < 4; size++) {
    ByteStreamInArrayLE in(bytes, size);
    EXPECT_EQ(thrown_by([&] { dec.init(&in); }), -1) << size;
  }
  ByteStreamInArrayLE in(bytes, 4);
  ASSERT_TRUE(dec.init(&in));
  EXPECT_EQ(thrown_by([&] { dec.readBits(8); }), -1);
}

// Code no encoder can write is reported as 4711, before any table is indexed
// with it: raw values beyond their width, and code above the top symbol's
// range, which would index past the end of a lookup table.
TEST(ArithmeticDecoder, CorruptCodeThrows4711) {
  struct Row {
    const char* name;
    std::vector<U8> bytes;
    std::function<void(ArithmeticDecoder&)> decode;
  };
  const Row rows[] = {
      // 0xFFFFFFFF / 0x00FFFFFF = 256 does not fit 8 bits.
      {"raw_8_bits", {0xFF, 0xFF, 0xFF, 0xFF, 0x00}, [](ArithmeticDecoder& d) { d.readBits(8); }},
      // 0xFFFFFFFF / 0xFFFF = 0x10001 does not fit a 16-bit word.
      {"raw_32_bits", {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}, [](ArithmeticDecoder& d) { d.readBits(32); }},
      {"raw_int", {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}, [](ArithmeticDecoder& d) { d.readInt(); }},
      {"raw_int64", {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}, [](ArithmeticDecoder& d) { d.readInt64(); }},
      // Code starting at 0xFFFFFFFF lies at the very top of the interval; 1 bits
      // keep it there and every byte shifted in lifts it further above, until
      // the third symbol's slot lies beyond the end of the lookup table.
      {"symbol_lookup", {0xFF, 0xFF, 0xFF, 0xFF, 0xF1, 0xF7, 0xDE},
       [](ArithmeticDecoder& d) {
         ArithmeticBitModel bit_model;
         ArithmeticModel model(2048, false);
         ASSERT_EQ(model.init(), 0);
         for (int i = 0; i < 9; i++) EXPECT_EQ(d.decodeBit(&bit_model), 1u);
         d.decodeSymbol(&model);
         d.decodeSymbol(&model);
         d.decodeSymbol(&model);
       }},
  };
  for (const Row& row : rows) {
    ArithmeticDecoder dec;
    ByteStreamInArrayLE in(row.bytes.data(), (I64)row.bytes.size());
    ASSERT_TRUE(dec.init(&in));
    EXPECT_EQ(thrown_by([&] { row.decode(dec); }), ARITH_CORRUPT_DATA) << row.name;
  }
}

}  // namespace
