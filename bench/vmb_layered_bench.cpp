// Compressing and decompressing format-6 points in layered chunks (the
// POINT14 coder, version 3) through the chunked point writer and reader, on
// the generated airborne strip of make_sample made into LAS 1.4 points: the
// lines flown one way on scanner channel 0, the other way on channel 1, the
// scan angle in 0.006 degree units. Reports points per second of compression,
// of full decompression and of decompression of x, y and z alone, and as the
// counter "ratio" the compressed size against the 30-byte records.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "bench/sample_strip.hpp"
#include "compressor/lasreaditemraw.hpp"
#include "compressor/lasreadpoint.hpp"
#include "compressor/laswritepoint.hpp"
#include "core/bytestreamin_array.hpp"
#include "core/bytestreamout_array.hpp"
#include "core/lasreader.hpp"

namespace {

constexpr U32 POINTS = 2000000;
constexpr U32 SAMPLE_RECORD = 28;
constexpr U32 RECORD = 30;
constexpr U32 BLOCK = 48;  // the point memory the POINT14 item covers

// The strip as point memory blocks of format 6, read from POINT14 records.
const std::vector<U8>& point_blocks() {
  static const std::vector<U8> blocks = [] {
    const std::vector<U8> sample = sample_strip_records(POINTS, "vmb_layered_bench");
    const size_t count = sample.size() / SAMPLE_RECORD;
    std::vector<U8> records(count * RECORD);
    for (size_t i = 0; i < count; i++) {
      const U8* s = &sample[i * SAMPLE_RECORD];
      U8* r = &records[i * RECORD];
      memcpy(r, s, 14);  // X, Y, Z, intensity
      const U8 returns = s[14];
      const U8 direction = (returns >> 6) & 1;
      r[14] = (U8)((returns & 7) | (((returns >> 3) & 7) << 4));
      r[15] = (U8)((s[15] >> 5) | (direction << 4) | (returns & 0xC0));
      r[16] = (U8)(s[15] & 31);
      r[17] = s[17];
      const I16 angle = (I16)std::lround((I8)s[16] / 0.006);
      memcpy(r + 18, &angle, 2);
      memcpy(r + 20, s + 18, 2);
      memcpy(r + 22, s + 20, 8);
    }
    std::vector<U8> out(count * BLOCK, 0);
    ByteStreamInArrayLE in(records.data(), (I64)records.size());
    LASreadItemRaw_POINT14_LE raw;
    raw.init(&in);
    U32 context = 0;
    for (size_t i = 0; i < count; i++) {
      out[i * BLOCK + 22] = 1;  // extended layout
      raw.read(&out[i * BLOCK], context);
    }
    return out;
  }();
  return blocks;
}

struct Layered {
  Layered() {
    LASitem item{LASitem::POINT14, 30, 0};
    vembra.setup(1, &item, Vembra::LAYERED_CHUNKED);
    vembra.request_version(3);
  }
  Vembra vembra;
};

bool compress(const Layered& format, const std::vector<U8>& blocks, ByteStreamOutArrayLE& out) {
  LASwritePoint writer;
  out.seek(0);
  if (!writer.setup(format.vembra.num_items, format.vembra.items, &format.vembra) || !writer.init(&out)) return false;
  for (size_t at = 0; at < blocks.size(); at += BLOCK) {
    const U8* item = &blocks[at];
    if (!writer.write(&item)) return false;
  }
  return writer.done();
}

bool have_points(benchmark::State& state, const std::vector<U8>& blocks) {
  if (blocks.size() == (size_t)POINTS * BLOCK) return true;
  state.SkipWithError("no sample");
  return false;
}

void BM_compress_layered(benchmark::State& state) {
  const Layered format;
  const std::vector<U8>& blocks = point_blocks();
  if (!have_points(state, blocks)) return;
  ByteStreamOutArrayLE out((I64)POINTS * RECORD);
  bool ok = true;
  for (auto _ : state) ok = compress(format, blocks, out);
  if (!ok) state.SkipWithError("compress");
  state.SetItemsProcessed((int64_t)state.iterations() * POINTS);
  state.counters["ratio"] = (double)out.getSize() / ((double)POINTS * RECORD);
}

// Decompression with a field mask; the benchmark's argument is the mask.
void BM_decompress_layered(benchmark::State& state) {
  const Layered format;
  const std::vector<U8>& blocks = point_blocks();
  if (!have_points(state, blocks)) return;
  ByteStreamOutArrayLE out((I64)POINTS * RECORD);
  if (!compress(format, blocks, out)) {
    state.SkipWithError("compress");
    return;
  }
  const std::vector<U8> data(out.getData(), out.getData() + out.getSize());
  const U32 mask = (U32)state.range(0);
  U8 point[2 * BLOCK] = {};
  point[22] = 1;
  U8* item = point;
  for (auto _ : state) {
    ByteStreamInArrayLE in(data.data(), (I64)data.size());
    LASreadPoint reader(mask);
    if (!reader.setup(format.vembra.num_items, format.vembra.items, &format.vembra) || !reader.init(&in)) {
      state.SkipWithError("setup");
      return;
    }
    I64 sum = 0;
    for (U32 i = 0; i < POINTS; i++) {
      if (!reader.read(&item)) {
        state.SkipWithError("read");
        return;
      }
      I32 z;
      memcpy(&z, point + 8, 4);
      sum += z;
    }
    benchmark::DoNotOptimize(sum);
    if (memcmp(point, &blocks[blocks.size() - BLOCK], 12) != 0) state.SkipWithError("last point differs");
  }
  state.SetItemsProcessed((int64_t)state.iterations() * POINTS);
}

}  // namespace

BENCHMARK(BM_compress_layered)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_decompress_layered)
    ->Arg((I64)LAS_SELECTIVE_ALL)
    ->Arg(LAS_SELECTIVE_Z)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5);
