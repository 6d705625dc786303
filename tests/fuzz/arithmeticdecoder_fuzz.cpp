// Fuzz target of the arithmetic decoder: arbitrary bytes decoded with every kind
// of model (bit models, symbol models of several sizes with and without lookup
// tables, raw fields, integer compressors). The only acceptable outcomes are the
// values or the thrown -1 (end of code) and 4711 (corrupt code).
//
// Input: byte 0 gives the script length n (low 6 bits, 0 for the default
// script), bytes 1..n the script, the rest the code. Each script byte names one
// value to decode, kind in the low 3 bits, a parameter in the high 5; the script
// repeats until the code ends. The seeds in corpus/arithmeticdecoder are made by
// our encoder from the same tables, with this file built as a program (from the
// repository root, after a build in build/):
//   g++ -std=c++20 -I. -DARITHMETICDECODER_MAKE_SEEDS tests/fuzz/arithmeticdecoder_fuzz.cpp
//       build/libpelkarts.a -o make_seeds
//   ./make_seeds tests/fuzz/corpus/arithmeticdecoder
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

#include "compressor/integercompressor.hpp"
#include "core/bytestreamin_array.hpp"

namespace {

enum Kind { BIT = 0, SYMBOL = 1, RAW = 2, INT = 3, INT64 = 4, INTEGER = 5, INTEGER_TOO = 6, NEW_STREAM = 7 };

constexpr U32 BIT_MODELS = 4;
constexpr U32 SYMBOL_SIZES[] = {2, 3, 16, 17, 33, 100, 256, 1000, 2048};
constexpr U32 SYMBOL_MODELS = sizeof(SYMBOL_SIZES) / sizeof(SYMBOL_SIZES[0]);
struct IntegerConfig {
  U32 value_bits, contexts, high_bits, value_range;
};
constexpr IntegerConfig INTEGER_CONFIGS[] = {{8, 2, 8, 0},  {16, 4, 8, 0}, {32, 3, 8, 0},         {12, 1, 11, 0},
                                             {20, 2, 4, 0}, {0, 1, 8, 5},  {0, 2, 8, 0xFFFFFFFF}};
constexpr U32 INTEGER_CODERS = sizeof(INTEGER_CONFIGS) / sizeof(INTEGER_CONFIGS[0]);
// Near-certain models decode thousands of values per byte; a bound keeps each
// run short (the seeds code fewer values than this).
static U32 max_values(size_t code_size) { return 128 + 16 * (U32)code_size; }

// Every kind once, with a few parameters each.
constexpr U8 DEFAULT_SCRIPT[] = {BIT,          BIT | 1 << 3,  SYMBOL,        SYMBOL | 3 << 3, SYMBOL | 6 << 3,
                                 SYMBOL | 8 << 3, RAW | 7 << 3, RAW | 19 << 3, RAW | 31 << 3,   INT,
                                 INT64,        INTEGER,       INTEGER | 2 << 3, INTEGER | 4 << 3, INTEGER_TOO | 5 << 3,
                                 INTEGER_TOO | 6 << 3};

struct Script {
  const U8* ops;
  size_t count;
};

static Script split_input(const uint8_t*& data, size_t& size) {
  Script script = {DEFAULT_SCRIPT, sizeof(DEFAULT_SCRIPT)};
  if (size == 0) return script;
  size_t n = data[0] & 63;
  if (n > size - 1) n = size - 1;
  if (n) script = {data + 1, n};
  data += 1 + n;
  size -= 1 + n;
  return script;
}

// The models of one side (encoder or decoder). A model is made and reset at its
// first use in a code stream, not at the stream's start: resetting every large
// model for each stream would take most of the time of a run.
template <class Coder>
class Models {
 public:
  explicit Models(Coder* coder) : coder(coder) {
    for (U32 i = 0; i < BIT_MODELS; i++) bits[i] = coder->createBitModel();
    for (U32 i = 0; i < SYMBOL_MODELS; i++) symbols[i] = coder->createSymbolModel(SYMBOL_SIZES[i]);
  }
  ~Models() {
    for (U32 i = 0; i < BIT_MODELS; i++) coder->destroyBitModel(bits[i]);
    for (U32 i = 0; i < SYMBOL_MODELS; i++) coder->destroySymbolModel(symbols[i]);
  }
  void new_stream() {
    for (bool& s : stale_bits) s = true;
    for (bool& s : stale_symbols) s = true;
    for (bool& s : stale_integers) s = true;
  }
  ArithmeticBitModel* bit(U32 i) {
    if (stale_bits[i]) coder->initBitModel(bits[i]);
    stale_bits[i] = false;
    return bits[i];
  }
  ArithmeticModel* symbol(U32 i) {
    if (stale_symbols[i]) coder->initSymbolModel(symbols[i]);
    stale_symbols[i] = false;
    return symbols[i];
  }
  IntegerCompressor* integer(U32 i) {
    if (!integers[i]) {
      const IntegerConfig& c = INTEGER_CONFIGS[i];
      integers[i] = std::make_unique<IntegerCompressor>(coder, c.value_bits, c.contexts, c.high_bits, c.value_range);
    }
    if (stale_integers[i]) {
      if constexpr (std::is_same_v<Coder, ArithmeticEncoder>) {
        integers[i]->initCompressor();
      } else {
        integers[i]->initDecompressor();
      }
    }
    stale_integers[i] = false;
    return integers[i].get();
  }

 private:
  Coder* coder;
  ArithmeticBitModel* bits[BIT_MODELS];
  ArithmeticModel* symbols[SYMBOL_MODELS];
  std::unique_ptr<IntegerCompressor> integers[INTEGER_CODERS];
  bool stale_bits[BIT_MODELS] = {};
  bool stale_symbols[SYMBOL_MODELS] = {};
  bool stale_integers[INTEGER_CODERS] = {};
};

// Which integer coder and context a parameter picks.
static U32 integer_coder(U32 param) { return param % INTEGER_CODERS; }
static U32 integer_context(U32 param) {
  return (param / INTEGER_CODERS) % INTEGER_CONFIGS[integer_coder(param)].contexts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Script script = split_input(data, size);
  ByteStreamInArrayLE in(data, (I64)size);
  ArithmeticDecoder dec;
  Models<ArithmeticDecoder> models(&dec);
  auto start = [&] {
    dec.init(&in);
    models.new_stream();
  };
  try {
    start();
    I32 last = 0;
    const U32 values = max_values(size);
    for (U32 i = 0; i < values; i++) {
      const U32 op = script.ops[i % script.count], param = op >> 3;
      switch (op & 7) {
        case BIT: last = (I32)dec.decodeBit(models.bit(param % BIT_MODELS)); break;
        case SYMBOL: last = (I32)dec.decodeSymbol(models.symbol(param % SYMBOL_MODELS)); break;
        case RAW: last = (I32)dec.readBits(1 + param); break;
        case INT: last = (I32)dec.readInt(); break;
        case INT64: last = (I32)dec.readInt64(); break;
        case INTEGER:
        case INTEGER_TOO:
          last = models.integer(integer_coder(param))->decompress(last, integer_context(param));
          break;
        case NEW_STREAM:
          dec.done();
          start();
          break;
      }
    }
  } catch (int e) {
    if (e != -1 && e != ARITH_CORRUPT_DATA) __builtin_trap();
  }
  return 0;
}

#ifdef ARITHMETICDECODER_MAKE_SEEDS
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "core/bytestreamout_array.hpp"

// Encodes `values` values of `script` with random contents, as the target decodes them.
static std::vector<U8> make_seed(const std::vector<U8>& script, U32 values, U32 seed) {
  std::mt19937 rng(seed);
  ByteStreamOutArrayLE out(0);
  ArithmeticEncoder enc;
  Models<ArithmeticEncoder> models(&enc);
  auto start = [&] {
    enc.init(&out);
    models.new_stream();
  };
  start();
  I32 last = 0;
  for (U32 i = 0; i < values; i++) {
    const U32 op = script[i % script.size()], param = op >> 3;
    switch (op & 7) {
      case BIT: {
        const U32 bit = (rng() % 8) == 0;  // mostly 0, so the models adapt
        enc.encodeBit(models.bit(param % BIT_MODELS), bit);
        last = (I32)bit;
        break;
      }
      case SYMBOL: {
        const U32 n = SYMBOL_SIZES[param % SYMBOL_MODELS];
        const U32 s = (rng() % 2) ? rng() % n : rng() % (1 + n / 8);
        enc.encodeSymbol(models.symbol(param % SYMBOL_MODELS), s);
        last = (I32)s;
        break;
      }
      case RAW: {
        const U32 v = (U32)rng() >> (31 - param);
        enc.writeBits(1 + param, v);
        last = (I32)v;
        break;
      }
      case INT: {
        const U32 v = (U32)rng();
        enc.writeInt(v);
        last = (I32)v;
        break;
      }
      case INT64: {
        const U64 v = ((U64)rng() << 32) | (U32)rng();
        enc.writeInt64(v);
        last = (I32)(U32)v;
        break;
      }
      case INTEGER:
      case INTEGER_TOO: {
        // A value in range near the prediction, as item coders produce them.
        const IntegerConfig& c = INTEGER_CONFIGS[integer_coder(param)];
        const U64 range = c.value_range ? c.value_range : (c.value_bits < 32 ? 1ull << c.value_bits : 1ull << 32);
        const U64 step = (rng() % 4) ? rng() % 100 : rng();
        const I32 real = (I32)(U32)(((U64)(U32)last + step) % range);
        models.integer(integer_coder(param))->compress(last, real, integer_context(param));
        last = real;
        break;
      }
      case NEW_STREAM:
        enc.done();
        start();
        break;
    }
  }
  enc.done();
  std::vector<U8> seed_bytes = {(U8)(script.size() == sizeof(DEFAULT_SCRIPT) &&
                                             std::equal(script.begin(), script.end(), DEFAULT_SCRIPT)
                                         ? 0
                                         : script.size())};
  if (seed_bytes[0]) seed_bytes.insert(seed_bytes.end(), script.begin(), script.end());
  seed_bytes.insert(seed_bytes.end(), out.getData(), out.getData() + out.getSize());
  return seed_bytes;
}

int main(int argc, char** argv) {
  if (argc != 2) return 1;
  struct Seed {
    const char* name;
    std::vector<U8> script;
    U32 values;
  };
  const std::vector<Seed> seeds = {
      {"default", std::vector<U8>(DEFAULT_SCRIPT, DEFAULT_SCRIPT + sizeof(DEFAULT_SCRIPT)), 160},
      {"bits", {BIT, BIT | 1 << 3, BIT | 2 << 3, BIT | 3 << 3}, 400},
      {"symbols", {SYMBOL, SYMBOL | 1 << 3, SYMBOL | 2 << 3, SYMBOL | 3 << 3, SYMBOL | 4 << 3, SYMBOL | 5 << 3,
                   SYMBOL | 6 << 3, SYMBOL | 7 << 3, SYMBOL | 8 << 3}, 270},
      {"raw", {RAW, RAW | 7 << 3, RAW | 15 << 3, RAW | 18 << 3, RAW | 19 << 3, RAW | 23 << 3, RAW | 31 << 3, INT,
               INT64}, 90},
      {"integers", {INTEGER, INTEGER | 1 << 3, INTEGER | 2 << 3, INTEGER | 3 << 3, INTEGER | 4 << 3,
                    INTEGER | 5 << 3, INTEGER | 6 << 3, INTEGER | 9 << 3, INTEGER | 16 << 3}, 180},
      {"streams", {BIT, SYMBOL | 6 << 3, INTEGER | 2 << 3, RAW | 9 << 3, NEW_STREAM}, 60},
  };
  for (U32 i = 0; i < seeds.size(); i++) {
    const std::vector<U8> bytes = make_seed(seeds[i].script, seeds[i].values, 1000 + i);
    const std::string path = std::string(argv[1]) + "/" + seeds[i].name;
    FILE* file = fopen(path.c_str(), "wb");
    if (!file || fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) return 1;
    fclose(file);
  }
  return 0;
}
#endif
