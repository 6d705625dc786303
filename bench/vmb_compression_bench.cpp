// Compressing and decompressing point records of formats 1 and 3 through the
// chunked point writer and reader with the item coders of version 2 and of
// version 1, on the generated airborne strip of make_sample (rolling ground,
// trees and roofs scanned in lines, one to three returns per pulse), given
// colours from an image that varies smoothly over the ground for format 3.
// Reports points per second of each direction and, as the counter "ratio",
// the compressed size against the LAS records.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/sample_strip.hpp"
#include "compressor/lasreadpoint.hpp"
#include "compressor/laswritepoint.hpp"
#include "core/bytestreamin_array.hpp"
#include "core/bytestreamout_array.hpp"

namespace {

constexpr U32 POINTS = 2000000;
constexpr U32 SAMPLE_RECORD = 28;

// The format-1 records of a strip of POINTS points, made by make_sample once.
const std::vector<U8>& sample_records() {
  static const std::vector<U8> records = sample_strip_records(POINTS, "vmb_compression_bench");
  return records;
}

// The strip as format 1, or as format 3 with colour: roofs reddish, trees
// green, the ground shaded, 8-bit values scaled to 16 bits.
std::vector<U8> airborne_records(U8 format) {
  const std::vector<U8>& sample = sample_records();
  if (format == 1) return sample;
  std::vector<U8> out;
  out.reserve(sample.size() / SAMPLE_RECORD * 34);
  for (size_t at = 0; at + SAMPLE_RECORD <= sample.size(); at += SAMPLE_RECORD) {
    I32 xy[2];
    memcpy(xy, &sample[at], 8);
    const U8 classification = sample[at + 15];
    const double x = xy[0] * 0.01, y = xy[1] * 0.01;
    const double shade = 0.5 + 0.25 * std::sin(x / 13.0) + 0.2 * std::cos(y / 17.0);
    const int noise = (int)((xy[0] * 7919u + xy[1] * 104729u) % 9) - 4;
    const U16 rgb[3] = {
        (U16)(std::clamp((int)(shade * (classification == 6 ? 180 : 90)) + noise, 0, 255) * 256),
        (U16)(std::clamp((int)(shade * (classification == 5 ? 160 : 120)) + noise, 0, 255) * 256),
        (U16)(std::clamp((int)(shade * 70) + noise, 0, 255) * 256)};
    out.insert(out.end(), &sample[at], &sample[at] + SAMPLE_RECORD);
    out.insert(out.end(), (const U8*)rgb, (const U8*)rgb + 6);
  }
  return out;
}

struct Format {
  Format(U8 format, U16 item_version) : record_size(format == 3 ? 34 : 28) {
    U16 num_items = 0;
    LASitem* items = nullptr;
    Vembra maker;
    maker.setup(&num_items, &items, format, record_size);
    vembra.setup(num_items, items, Vembra::POINTWISE_CHUNKED);
    vembra.request_version(item_version);
    delete[] items;
    offsets = {0, 20, 28};
  }
  U32 record_size;
  Vembra vembra;
  std::vector<U32> offsets;  // of the items within a record
};

// The records compressed into `out` in chunks of 50000, as a VMB file holds them.
bool compress(const Format& format, const std::vector<U8>& records, ByteStreamOutArrayLE& out) {
  LASwritePoint writer;
  out.seek(0);
  if (!writer.setup(format.vembra.num_items, format.vembra.items, &format.vembra) || !writer.init(&out)) return false;
  const U8* item[3];
  for (const U8* record = records.data(); record < records.data() + records.size(); record += format.record_size) {
    for (U32 i = 0; i < format.vembra.num_items; i++) item[i] = record + format.offsets[i];
    if (!writer.write(item)) return false;
  }
  return writer.done();
}

// The compressed size; the bytes are left in `out`.
size_t compress_size(const Format& format, const std::vector<U8>& records, ByteStreamOutArrayLE& out) {
  return compress(format, records, out) ? (size_t)out.getSize() : 0;
}

// The records of the benchmark's format, or none (and the run skipped).
std::vector<U8> records_of(benchmark::State& state, const Format& format) {
  std::vector<U8> records = airborne_records((U8)state.range(0));
  if (records.size() != (size_t)POINTS * format.record_size) {
    state.SkipWithError("no sample");
    records.clear();
  }
  return records;
}

void BM_compress(benchmark::State& state) {
  const Format format((U8)state.range(0), (U16)state.range(1));
  const std::vector<U8> records = records_of(state, format);
  if (records.empty()) return;
  ByteStreamOutArrayLE out((I64)records.size());
  size_t size = 0;
  for (auto _ : state) size = compress_size(format, records, out);
  if (size == 0) state.SkipWithError("compress");
  state.SetItemsProcessed((int64_t)state.iterations() * POINTS);
  state.counters["ratio"] = (double)size / (double)records.size();
}

void BM_decompress(benchmark::State& state) {
  const Format format((U8)state.range(0), (U16)state.range(1));
  const std::vector<U8> records = records_of(state, format);
  if (records.empty()) return;
  ByteStreamOutArrayLE out((I64)records.size());
  const std::vector<U8> data(out.getData(), out.getData() + compress_size(format, records, out));
  std::vector<U8> point(format.record_size);
  U8* item[3] = {point.data(), point.data() + 20, point.data() + 28};
  for (auto _ : state) {
    ByteStreamInArrayLE in(data.data(), (I64)data.size());
    LASreadPoint reader;
    if (!reader.setup(format.vembra.num_items, format.vembra.items, &format.vembra) || !reader.init(&in)) {
      state.SkipWithError("setup");
      return;
    }
    I64 sum = 0;
    for (U32 i = 0; i < POINTS; i++) {
      if (!reader.read(item)) {
        state.SkipWithError("read");
        return;
      }
      sum += point[0];
    }
    benchmark::DoNotOptimize(sum);
    if (memcmp(point.data(), records.data() + records.size() - format.record_size, format.record_size) != 0)
      state.SkipWithError("last point differs");
  }
  state.SetItemsProcessed((int64_t)state.iterations() * POINTS);
}

}  // namespace

// Arguments: point format, item version.
BENCHMARK(BM_compress)
    ->ArgsProduct({{1, 3}, {2, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(false);
BENCHMARK(BM_decompress)
    ->ArgsProduct({{1, 3}, {2, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(false);
