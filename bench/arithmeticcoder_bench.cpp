// Throughput of the arithmetic coder on its three workloads: modelled bits,
// 256-symbol models and 32-bit integers through the integer compressor, each
// encoded and decoded in memory. Streams and models are made once; the timed
// loops only code (items/s is values per second).
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "compressor/integercompressor.hpp"
#include "core/bytestreamin_array.hpp"
#include "core/bytestreamout_array.hpp"

namespace {

constexpr size_t VALUES = 1 << 20;

// One bit in five is 1, as in flags and change masks.
static const std::vector<U32>& bits() {
  static const std::vector<U32> values = [] {
    std::mt19937 rng(1);
    std::vector<U32> v(VALUES);
    for (U32& b : v) b = (rng() % 5) == 0;
    return v;
  }();
  return values;
}

// Skewed towards small symbols (about 5.3 bits each), as coded differences are.
static const std::vector<U32>& symbols() {
  static const std::vector<U32> values = [] {
    std::mt19937 rng(2);
    std::geometric_distribution<> skewed(0.05);
    std::vector<U32> v(VALUES);
    for (U32& s : v) s = std::min(255, skewed(rng));
    return v;
  }();
  return values;
}

// A random walk: mostly small steps, now and then a jump anywhere.
static const std::vector<I32>& integers() {
  static const std::vector<I32> values = [] {
    std::mt19937 rng(3);
    std::vector<I32> v(VALUES);
    U32 x = 0;
    for (I32& i : v) {
      x = (rng() % 16 == 0) ? (U32)rng() : x + (U32)((I32)(rng() % 2001) - 1000);
      i = (I32)x;
    }
    return v;
  }();
  return values;
}

static void encode_bits(ArithmeticEncoder& enc, ArithmeticBitModel* m) {
  for (U32 b : bits()) enc.encodeBit(m, b);
}
static void encode_symbols(ArithmeticEncoder& enc, ArithmeticModel* m) {
  for (U32 s : symbols()) enc.encodeSymbol(m, s);
}
static void encode_integers(IntegerCompressor& ic) {
  I32 pred = 0;
  for (I32 v : integers()) {
    ic.compress(pred, v);
    pred = v;
  }
}

// Encodes into a buffer sized once, rewound for every pass.
template <class Setup>
static void bench_encode(benchmark::State& state, Setup setup) {
  ByteStreamOutArrayLE out(2 * VALUES * 4);
  ArithmeticEncoder enc;
  auto code = setup(enc);
  for (auto _ : state) {
    out.seek(0);
    enc.init(&out);
    code(enc);
    enc.done();
    benchmark::DoNotOptimize(out.getData());
  }
  state.SetItemsProcessed((int64_t)state.iterations() * VALUES);
  state.counters["bytes"] = (double)out.getCurr();
}

static void BM_EncodeBits(benchmark::State& state) {
  bench_encode(state, [](ArithmeticEncoder& enc) {
    return [m = enc.createBitModel()](ArithmeticEncoder& e) {
      e.initBitModel(m);
      encode_bits(e, m);
    };
  });
}

static void BM_EncodeSymbols256(benchmark::State& state) {
  bench_encode(state, [](ArithmeticEncoder& enc) {
    return [m = enc.createSymbolModel(256)](ArithmeticEncoder& e) {
      e.initSymbolModel(m);
      encode_symbols(e, m);
    };
  });
}

static void BM_CompressIntegers32(benchmark::State& state) {
  bench_encode(state, [](ArithmeticEncoder& enc) {
    auto ic = std::make_shared<IntegerCompressor>(&enc, 32, 1, 8, 0);
    return [ic](ArithmeticEncoder&) {
      ic->initCompressor();
      encode_integers(*ic);
    };
  });
}

// Encodes once, then decodes the same code on every pass.
template <class Encode, class Decode>
static void bench_decode(benchmark::State& state, Encode encode, Decode decode) {
  ByteStreamOutArrayLE out(0);
  ArithmeticEncoder enc;
  enc.init(&out);
  encode(enc);
  enc.done();
  ByteStreamInArrayLE in(out.getData(), out.getSize());
  ArithmeticDecoder dec;
  auto code = decode(dec);
  for (auto _ : state) {
    in.seek(0);
    dec.init(&in);
    benchmark::DoNotOptimize(code(dec));
  }
  state.SetItemsProcessed((int64_t)state.iterations() * VALUES);
}

static void BM_DecodeBits(benchmark::State& state) {
  bench_decode(
      state,
      [](ArithmeticEncoder& enc) {
        ArithmeticBitModel m;
        encode_bits(enc, &m);
      },
      [](ArithmeticDecoder& dec) {
        return [m = dec.createBitModel()](ArithmeticDecoder& d) {
          d.initBitModel(m);
          U32 sum = 0;
          for (size_t i = 0; i < VALUES; i++) sum += d.decodeBit(m);
          return sum;
        };
      });
}

static void BM_DecodeSymbols256(benchmark::State& state) {
  bench_decode(
      state,
      [](ArithmeticEncoder& enc) {
        ArithmeticModel* m = enc.createSymbolModel(256);
        enc.initSymbolModel(m);
        encode_symbols(enc, m);
        enc.destroySymbolModel(m);
      },
      [](ArithmeticDecoder& dec) {
        return [m = dec.createSymbolModel(256)](ArithmeticDecoder& d) {
          d.initSymbolModel(m);
          U32 sum = 0;
          for (size_t i = 0; i < VALUES; i++) sum += d.decodeSymbol(m);
          return sum;
        };
      });
}

static void BM_DecompressIntegers32(benchmark::State& state) {
  bench_decode(
      state,
      [](ArithmeticEncoder& enc) {
        IntegerCompressor ic(&enc, 32, 1, 8, 0);
        ic.initCompressor();
        encode_integers(ic);
      },
      [](ArithmeticDecoder& dec) {
        auto ic = std::make_shared<IntegerCompressor>(&dec, 32, 1, 8, 0);
        return [ic](ArithmeticDecoder&) {
          ic->initDecompressor();
          I32 pred = 0;
          for (size_t i = 0; i < VALUES; i++) pred = ic->decompress(pred);
          return pred;
        };
      });
}

BENCHMARK(BM_EncodeBits)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBits)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeSymbols256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeSymbols256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompressIntegers32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecompressIntegers32)->Unit(benchmark::kMillisecond);

}  // namespace
