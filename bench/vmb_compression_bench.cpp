// Compressing and decompressing point records of formats 1 and 3 through the
// chunked point writer and reader with the version-2 item coders, on a
// generated airborne strip (rolling ground, trees and roofs scanned in lines,
// one to three returns per pulse, GPS time per pulse, colour from an image
// that varies smoothly). Reports points per second of each direction and, as
// the counter "ratio", the compressed size against the LAS records.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "compressor/lasreadpoint.hpp"
#include "compressor/laswritepoint.hpp"
#include "core/bytestreamin_array.hpp"
#include "core/bytestreamout_array.hpp"

namespace {

constexpr U32 POINTS = 2000000;

struct Random {
  U64 state;
  explicit Random(U64 seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
  U64 next() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 0x2545F4914F6CDD1Dull;
  }
  double uniform() { return (double)(next() >> 11) * (1.0 / 9007199254740992.0); }
};

double ground(double x, double y) { return 120.0 + 6.0 * std::sin(x / 40.0) + 4.0 * std::cos(y / 27.0) + 0.02 * x; }
double canopy(double x, double y) {
  const double v = std::sin(x / 9.0) * std::cos(y / 7.0) + 0.5 * std::sin((x + y) / 4.0);
  return v > 0.6 ? (v - 0.6) * 30.0 : 0.0;
}
double roof(double x, double y) {
  const long ix = (long)(x / 60.0), iy = (long)(y / 60.0);
  const double lx = std::fmod(x, 60.0), ly = std::fmod(y, 60.0);
  if ((ix * 7 + iy * 13) % 5 != 0 || lx < 15.0 || lx > 40.0 || ly < 20.0 || ly > 42.0) return 0.0;
  return 8.0 + (double)((ix + iy) % 3) * 3.0;
}

template <typename T>
void put(std::vector<U8>& out, T value) {
  U8 bytes[sizeof(T)];
  memcpy(bytes, &value, sizeof(T));
  out.insert(out.end(), bytes, bytes + sizeof(T));
}

// POINTS records of format 1 (28 bytes) or 3 (34 bytes), 4 points per square
// metre, coordinates in centimetres.
std::vector<U8> airborne_records(U8 format) {
  std::vector<U8> out;
  out.reserve((size_t)POINTS * 34);
  Random random(7);
  const double spacing = 0.5;
  const U64 per_line = (U64)(std::sqrt((double)POINTS / 4.0) / spacing);
  double gps_time = 250000.0;
  U32 count = 0;
  for (U64 pulse = 0; count < POINTS; pulse++, gps_time += 0.00001) {
    const U64 line = pulse / per_line, column = pulse % per_line;
    const double x = (double)((line & 1) ? per_line - 1 - column : column) * spacing + (random.uniform() - 0.5) * spacing;
    const double y = (double)line * spacing + (random.uniform() - 0.5) * spacing;
    const double g = ground(x, y), r = roof(x, y), c = r > 0.0 ? 0.0 : canopy(x, y);
    double heights[3];
    U8 classes[3];
    int returns = 0;
    if (c > 0.0) {
      heights[returns] = g + c * (0.85 + 0.15 * random.uniform());
      classes[returns++] = 5;
      if (random.uniform() < 0.6) {
        heights[returns] = g + c * (0.2 + 0.5 * random.uniform());
        classes[returns++] = 4;
      }
      if (random.uniform() < 0.7) {
        heights[returns] = g;
        classes[returns++] = 2;
      }
    } else {
      heights[returns] = r > 0.0 ? g + r : g + 0.03 * (random.uniform() - 0.5);
      classes[returns++] = r > 0.0 ? 6 : 2;
    }
    for (int k = 0; k < returns && count < POINTS; k++, count++) {
      put<I32>(out, (I32)std::lround((x + 0.05 * k * (random.uniform() - 0.5)) * 100));
      put<I32>(out, (I32)std::lround((y + 0.05 * k * (random.uniform() - 0.5)) * 100));
      put<I32>(out, (I32)std::lround(heights[k] * 100));
      put<U16>(out, (U16)(classes[k] == 2 ? 900 + random.next() % 600 : 200 + random.next() % 1400));
      const bool edge = column == 0 || column + 1 == per_line;
      put<U8>(out, (U8)((k + 1) | (returns << 3) | ((line & 1 ? 0 : 1) << 6) | (edge ? 0x80 : 0)));
      put<U8>(out, classes[k]);
      put<I8>(out, (I8)std::lround((double)column * 40.0 / (double)per_line - 20.0));
      put<U8>(out, (U8)(k * 10));
      put<U16>(out, (U16)(1 + line / 500));
      put<F64>(out, gps_time);
      if (format == 3) {
        // An image of fields and roofs, 8-bit values scaled to 16 bits.
        const double shade = 0.5 + 0.25 * std::sin(x / 13.0) + 0.2 * std::cos(y / 17.0);
        const int noise = (int)(random.next() % 9) - 4;
        const int red = std::clamp((int)(shade * (classes[k] == 6 ? 180 : 90)) + noise, 0, 255);
        const int green = std::clamp((int)(shade * (classes[k] == 5 ? 160 : 120)) + noise, 0, 255);
        const int blue = std::clamp((int)(shade * 70) + noise, 0, 255);
        put<U16>(out, (U16)(red * 256));
        put<U16>(out, (U16)(green * 256));
        put<U16>(out, (U16)(blue * 256));
      }
    }
  }
  return out;
}

struct Format {
  explicit Format(U8 format) : record_size(format == 3 ? 34 : 28) {
    U16 num_items = 0;
    LASitem* items = nullptr;
    Vembra maker;
    maker.setup(&num_items, &items, format, record_size);
    vembra.setup(num_items, items, Vembra::POINTWISE_CHUNKED);
    vembra.request_version(2);
    delete[] items;
    offsets = {0, 20, 28};
  }
  U32 record_size;
  Vembra vembra;
  std::vector<U32> offsets;  // of the items within a record
};

// The records compressed in chunks of 50000, as a VMB file holds them.
std::vector<U8> compress(const Format& format, const std::vector<U8>& records, ByteStreamOutArrayLE& out) {
  LASwritePoint writer;
  out.seek(0);
  if (!writer.setup(format.vembra.num_items, format.vembra.items, &format.vembra) || !writer.init(&out)) return {};
  const U8* item[3];
  for (const U8* record = records.data(); record < records.data() + records.size(); record += format.record_size) {
    for (U32 i = 0; i < format.vembra.num_items; i++) item[i] = record + format.offsets[i];
    if (!writer.write(item)) return {};
  }
  if (!writer.done()) return {};
  return std::vector<U8>(out.getData(), out.getData() + out.getSize());
}

void BM_compress(benchmark::State& state) {
  const Format format((U8)state.range(0));
  const std::vector<U8> records = airborne_records((U8)state.range(0));
  ByteStreamOutArrayLE out((I64)records.size());
  size_t size = 0;
  for (auto _ : state) size = compress(format, records, out).size();
  if (size == 0) state.SkipWithError("compress");
  state.SetItemsProcessed((int64_t)state.iterations() * POINTS);
  state.counters["ratio"] = (double)size / (double)records.size();
}

void BM_decompress(benchmark::State& state) {
  const Format format((U8)state.range(0));
  const std::vector<U8> records = airborne_records((U8)state.range(0));
  ByteStreamOutArrayLE out((I64)records.size());
  const std::vector<U8> data = compress(format, records, out);
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

BENCHMARK(BM_compress)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(false);
BENCHMARK(BM_decompress)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(false);
