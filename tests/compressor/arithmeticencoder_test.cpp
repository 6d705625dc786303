#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "compressor/arithmeticdecoder.hpp"
#include "compressor/arithmeticencoder.hpp"
#include "core/bytestreamin_array.hpp"
#include "core/bytestreamout_array.hpp"

namespace {

typedef std::vector<U8> Bytes;

static Bytes written(const ByteStreamOutArray& out) { return Bytes(out.getData(), out.getData() + out.getSize()); }

// One value coded with a fresh model, and the bytes it must give. Each vector is
// worked out by hand from the coder's arithmetic (comments give the steps).
enum class Op { NOTHING, BIT, SYMBOL, RAW };
struct HandVector {
  const char* name;
  Op op;
  U32 size;  // symbols of the model, or bits of a raw value
  U32 value;
  Bytes bytes;
};

const HandVector hand_vectors[] = {
    // Finishing with length 2^32-1 > 2^25: base + 2^24 gives the byte 1, then three zeros.
    {"empty", Op::NOTHING, 0, 0, {0x01, 0x00, 0x00, 0x00}},
    // x = (0xFFFFFFFF >> 13) * 4096 = 0x7FFFF000; a 0 keeps base 0: as empty.
    {"bit_0", Op::BIT, 0, 0, {0x01, 0x00, 0x00, 0x00}},
    // A 1 moves the base to 0x7FFFF000; + 2^24 = 0x80FFF000.
    {"bit_1", Op::BIT, 0, 1, {0x80, 0x00, 0x00, 0x00}},
    // cumulative of 3 symbols: 0, 10922, 21845; r = 131071; base = 10922 r = 0x5553D556,
    // length 0x5555D555; + 2^24 = 0x5653D556.
    {"symbol_1_of_3", Op::SYMBOL, 3, 1, {0x56, 0x00, 0x00, 0x00}},
    // cumulative[k] = 128 k; base = 25600 r = 0xC7FF9C00, length 128 r < 2^24: shift out
    // 0xC7; base 0xFF9C0000 + 2^24 wraps and the carry makes it 0xC8, then byte 0x00.
    {"symbol_200_of_256", Op::SYMBOL, 256, 200, {0xC8, 0x00, 0x00, 0x00, 0x00}},
    // length 0x00FFFFFF, base 0xA5 * it = 0xA4FFFF5B: shift out 0xA4; base 0xFFFF5B00
    // + 2^24 wraps, carry makes 0xA5, then byte 0x00.
    {"raw_8_bits", Op::RAW, 8, 0xA5, {0xA5, 0x00, 0x00, 0x00, 0x00}},
    // 16-bit word 0x5678 first: base 0x5677A988, shifts 0x56, 0x77; then 0x1234 adds
    // 0x1233EDCC: base 0xBBBBEDCC, shifts 0xBB, 0xBB; 0xEDCC0000 + 2^24 gives 0xEE.
    {"raw_32_bits", Op::RAW, 32, 0x12345678, {0x56, 0x77, 0xBB, 0xBB, 0xEE, 0x00, 0x00, 0x00}},
};

TEST(ArithmeticEncoder, HandWorkedVectors) {
  for (const HandVector& hv : hand_vectors) {
    SCOPED_TRACE(hv.name);
    ArithmeticEncoder enc;
    ByteStreamOutArrayLE out(0);
    ASSERT_TRUE(enc.init(&out));
    ArithmeticBitModel* bit_model = enc.createBitModel();
    ArithmeticModel* symbol_model = enc.createSymbolModel(hv.op == Op::SYMBOL ? hv.size : 2);
    ASSERT_EQ(enc.initSymbolModel(symbol_model), 0);
    if (hv.op == Op::BIT) enc.encodeBit(bit_model, hv.value);
    if (hv.op == Op::SYMBOL) enc.encodeSymbol(symbol_model, hv.value);
    if (hv.op == Op::RAW) enc.writeBits(hv.size, hv.value);
    enc.done();
    enc.destroyBitModel(bit_model);
    enc.destroySymbolModel(symbol_model);
    EXPECT_EQ(written(out), hv.bytes);

    // The decoder reads four bytes at init plus one per shift: all of them.
    ArithmeticDecoder dec;
    ByteStreamInArrayLE in(hv.bytes.data(), (I64)hv.bytes.size());
    ASSERT_TRUE(dec.init(&in));
    EXPECT_EQ(in.tell(), 4);
    bit_model = dec.createBitModel();
    symbol_model = dec.createSymbolModel(hv.op == Op::SYMBOL ? hv.size : 2);
    ASSERT_EQ(dec.initSymbolModel(symbol_model), 0);
    if (hv.op == Op::BIT) {
      EXPECT_EQ(dec.decodeBit(bit_model), hv.value);
    }
    if (hv.op == Op::SYMBOL) {
      EXPECT_EQ(dec.decodeSymbol(symbol_model), hv.value);
    }
    if (hv.op == Op::RAW) {
      EXPECT_EQ(dec.readBits(hv.size), hv.value);
    }
    dec.done();
    dec.destroyBitModel(bit_model);
    dec.destroySymbolModel(symbol_model);
    EXPECT_EQ(in.tell(), in.getSize());
  }
}

// The wide raw writes are 16-bit words, lowest first: the same code as writeBits.
TEST(ArithmeticEncoder, WideRawWritesAreWordsLowestFirst) {
  auto encode = [](auto write) {
    ArithmeticEncoder enc;
    ByteStreamOutArrayLE out(0);
    enc.init(&out);
    write(enc);
    enc.done();
    return written(out);
  };
  const Bytes raw32 = {0x56, 0x77, 0xBB, 0xBB, 0xEE, 0x00, 0x00, 0x00};
  EXPECT_EQ(encode([](ArithmeticEncoder& e) { e.writeInt(0x12345678); }), raw32);
  EXPECT_EQ(encode([](ArithmeticEncoder& e) {
              e.writeShort(0x5678);
              e.writeShort(0x1234);
            }),
            raw32);
  EXPECT_EQ(encode([](ArithmeticEncoder& e) { e.writeInt64(0x9ABCDEF012345678ULL); }),
            encode([](ArithmeticEncoder& e) {
              e.writeInt(0x12345678);
              e.writeInt(0x9ABCDEF0);
            }));
  EXPECT_EQ(encode([](ArithmeticEncoder& e) { e.writeBits(24, 0xABCDEF); }),
            encode([](ArithmeticEncoder& e) {
              e.writeShort(0xCDEF);
              e.writeBits(8, 0xAB);
            }));
}

TEST(ArithmeticEncoder, AttachAndDetach) {
  ArithmeticEncoder enc;
  EXPECT_FALSE(enc.init(nullptr));
  enc.done();  // nothing attached: nothing happens

  // One encoder, several code streams back to back in one buffer.
  ByteStreamOutArrayLE out(0);
  for (int i = 0; i < 3; i++) {
    ASSERT_TRUE(enc.init(&out));
    enc.writeBits(8, 0xA5);
    enc.done();
  }
  const Bytes once = {0xA5, 0x00, 0x00, 0x00, 0x00};
  Bytes thrice;
  for (int i = 0; i < 3; i++) thrice.insert(thrice.end(), once.begin(), once.end());
  EXPECT_EQ(written(out), thrice);
}

// Records the size of every write so that the ring's flush schedule shows.
class RecordingStream : public ByteStreamOutArray {
 public:
  RecordingStream() : ByteStreamOutArray(0) {}
  bool putByte(U8 byte) override {
    puts.push_back(1);
    return ByteStreamOutArray::putByte(byte);
  }
  bool putBytes(const U8* bytes, U32 n) override {
    puts.push_back(n);
    return ByteStreamOutArray::putBytes(bytes, n);
  }
  BYTESTREAMOUT_ORDERED_WRITES(LE, BE)
 public:
  std::vector<U32> puts;
};

// An 8-bit raw write from a full-width length shifts out exactly one byte, so the
// number of writes is the number of bytes waiting in the ring.
TEST(ArithmeticEncoder, RingFlushesHalvesOnlyWhenFull) {
  struct Row {
    U32 bytes;
    std::vector<U32> before_done, after_done;
  };
  const Row rows[] = {
      {8191, {}, {4096, 4096, 1, 1, 1}},  // the last shift of done fills the ring
      {8192, {4096}, {4096, 4096, 1, 1, 1, 1}},
      {8202, {4096}, {4096, 4096, 11, 1, 1, 1}},
      {12288, {4096, 4096}, {4096, 4096, 4097, 1, 1, 1}},
      {12298, {4096, 4096}, {4096, 4096, 4107, 1, 1, 1}},
      {16384, {4096, 4096, 4096}, {4096, 4096, 4096, 4096, 1, 1, 1, 1}},
  };
  std::mt19937 rng(7);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.bytes);
    ArithmeticEncoder enc;
    RecordingStream out;
    ASSERT_TRUE(enc.init(&out));
    std::vector<U32> values;
    for (U32 i = 0; i < row.bytes; i++) {
      values.push_back(rng() & 0xFF);
      enc.writeBits(8, values.back());
    }
    EXPECT_EQ(out.puts, row.before_done);
    enc.done();
    EXPECT_EQ(out.puts, row.after_done);
    EXPECT_EQ(out.getSize(), (I64)row.bytes + 4);

    ArithmeticDecoder dec;
    ByteStreamInArrayLE in(out.getData(), out.getSize());
    ASSERT_TRUE(dec.init(&in));
    for (U32 v : values) ASSERT_EQ(dec.readBits(8), v);
    EXPECT_EQ(in.tell(), in.getSize());
  }
}

// The same coding as the encoder's raw writes, but all bytes in one growing
// array that a carry can always reach: whatever the ring does must agree.
struct PlainRawEncoder {
  U32 base = 0, length = 0xFFFFFFFF;
  Bytes out;
  void add(U32 x) {
    const U32 before = base;
    base += x;
    if (base < before) {
      size_t i = out.size() - 1;
      while (out[i] == 0xFF) out[i--] = 0;
      out[i]++;
    }
    while (length < ARITH_MIN_LENGTH) {
      out.push_back((U8)(base >> 24));
      base <<= 8;
      length <<= 8;
    }
  }
  void writeBits(U32 bits, U32 v) {
    length >>= bits;
    add(v * length);
  }
  void done() {
    const bool three = length > 0x2000000;
    length = three ? 0x800000 : 0x8000;
    add(three ? 0x1000000 : 0x800000);
    out.insert(out.end(), three ? 3 : 2, 0);
  }
};

// Long streams of raw words carry often, also into bytes at the far end of the
// ring when the carry comes right after a wrap. Runs of 0xFFFF words make long
// runs of 0xFF bytes that a carry must clear.
TEST(ArithmeticEncoder, RingAndCarryAgreeWithUnboundedBuffer) {
  for (U32 seed = 1; seed <= 16; seed++) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    ArithmeticEncoder enc;
    ByteStreamOutArrayLE out(0);
    ASSERT_TRUE(enc.init(&out));
    PlainRawEncoder plain;
    std::vector<U32> values;
    for (int i = 0; i < 40000; i++) {
      U32 v = rng() & 0xFFFF;
      if (rng() % 4 == 0) v = 0xFFFF;
      values.push_back(v);
      enc.writeShort((U16)v);
      plain.writeBits(16, v);
    }
    enc.done();
    plain.done();
    ASSERT_EQ(written(out), plain.out);

    ArithmeticDecoder dec;
    ByteStreamInArrayLE in(out.getData(), out.getSize());
    ASSERT_TRUE(dec.init(&in));
    for (U32 v : values) ASSERT_EQ(dec.readBits(16), v);
    EXPECT_EQ(in.tell(), in.getSize());
  }
}

// Steers 8-bit raw writes (one byte each) so that 200 bytes of 0xFF straddle the
// ring's wrap, then forces a carry: it must clear them all, stepping from the
// first byte of the ring to its last, and raise the byte before the run.
TEST(ArithmeticEncoder, CarryRunsBackAcrossTheRingWrap) {
  std::mt19937 rng(3);
  ArithmeticEncoder enc;
  ByteStreamOutArrayLE out(0);
  ASSERT_TRUE(enc.init(&out));
  PlainRawEncoder plain;
  std::vector<U32> values;
  auto write = [&](U32 v) {
    values.push_back(v);
    enc.writeBits(8, v);
    plain.writeBits(8, v);
  };
  // The base after adding v, before its top byte is shifted out (no wrap: < 2^32).
  auto sum_with = [&](U32 v) { return (U64)plain.base + (U64)v * (plain.length >> 8); };
  const U32 run_start = ARITH_RING_SIZE - 100;
  while (plain.out.size() < run_start) write(rng() & 0xFF);
  while (plain.out.size() < run_start + 200) {
    U32 v = 0;
    while (v < 256 && !(sum_with(v) < 0x100000000ULL && (sum_with(v) >> 24) == 0xFF)) v++;
    ASSERT_LT(v, 256u);
    write(v);
  }
  const U8 before_run = plain.out[run_start - 1];
  ASSERT_NE(before_run, 0xFF);
  U32 v = 0;
  while (v < 256 && sum_with(v) < 0x100000000ULL) v++;
  ASSERT_LT(v, 256u);
  write(v);
  ASSERT_EQ(plain.out[run_start - 1], before_run + 1);  // the carry went all the way
  ASSERT_EQ(plain.out[run_start + 199], 0);
  for (int i = 0; i < 5000; i++) write(rng() & 0xFF);
  enc.done();
  plain.done();
  ASSERT_EQ(written(out), plain.out);

  ArithmeticDecoder dec;
  ByteStreamInArrayLE in(out.getData(), out.getSize());
  ASSERT_TRUE(dec.init(&in));
  for (U32 value : values) ASSERT_EQ(dec.readBits(8), value);
  EXPECT_EQ(in.tell(), in.getSize());
}

}  // namespace
