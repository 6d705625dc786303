// Reading a LAS file of 20 million format-1 points from the page cache through
// LASreaderLAS::read_point with no filter, transform or area: the whole per-point
// path of a reader (dispatch, point decoder, record copy, buffered stream). The file is
// written once into the temporary directory; the first pass warms the cache.
// Beside it, the records lent in blocks, without the point object.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/lasreader_las.hpp"
#include "support/las_fixture.hpp"

namespace {

constexpr uint32_t POINTS = 20000000;

const std::string& file_name() {
  static const std::string name = [] {
    const std::string path = "/tmp/lasreader_las_bench_format1.las";
    lasfix::LasFile f;
    f.header.point_data_format = 1;
    f.header.number_of_point_records = POINTS;
    f.header.min_x = f.header.min_y = f.header.min_z = 0;
    f.header.max_x = f.header.max_y = f.header.max_z = 1000;
    f.point_data = "";
    const std::string header = f.bytes();
    FILE* out = fopen(path.c_str(), "wb");
    fwrite(header.data(), 1, header.size(), out);
    std::string block;
    for (uint32_t i = 0; i < POINTS; i++) {
      lasfix::Point p;
      p.X = (int32_t)(i % 100000);
      p.Y = (int32_t)(i / 100000);
      p.Z = (int32_t)(i % 977);
      p.intensity = (uint16_t)i;
      p.gps_time = i * 0.001;
      block += lasfix::encode_point(p, 1, 28);
      if (block.size() >= (1 << 22)) {
        fwrite(block.data(), 1, block.size(), out);
        block.clear();
      }
    }
    fwrite(block.data(), 1, block.size(), out);
    fclose(out);
    return path;
  }();
  return name;
}

// Reads the file once per iteration: `sum_x` takes the opened reader and
// returns the sum of the X coordinates it read.
template <typename SumX>
void read_file(benchmark::State& state, SumX sum_x) {
  const std::string& name = file_name();
  for (auto _ : state) {
    LASreaderLAS reader(nullptr);
    if (!reader.open(name.c_str(), (I32)state.range(0))) {
      state.SkipWithError("open");
      return;
    }
    benchmark::DoNotOptimize(sum_x(reader));
    if (reader.points_read != POINTS) state.SkipWithError("short read");
    reader.close();
  }
  state.SetItemsProcessed((int64_t)state.iterations() * POINTS);
}

void BM_read_point_format1(benchmark::State& state) {
  read_file(state, [](LASreaderLAS& reader) {
    I64 sum = 0;
    while (reader.read_point()) sum += reader.point.X;
    return sum;
  });
}

// The same file through lend_point_records in blocks of 64, as a pass that
// needs only X takes it.
void BM_lend_records_format1(benchmark::State& state) {
  read_file(state, [](LASreaderLAS& reader) {
    I64 sum = 0;
    U32 got = 0;
    while (const U8* records = reader.lend_point_records(64, got)) {
      for (U32 k = 0; k < got; k++) {
        I32 x;
        memcpy(&x, records + (size_t)k * 28, 4);
        sum += x;
      }
    }
    return sum;
  });
}

}  // namespace

BENCHMARK(BM_lend_records_format1)->Arg(LAS_READER_IO_BUFFER_SIZE)->Unit(benchmark::kMillisecond)
    ->MinWarmUpTime(1.0)->UseRealTime();
BENCHMARK(BM_read_point_format1)->Arg(LAS_READER_IO_BUFFER_SIZE)->Arg(1 << 20)->Unit(benchmark::kMillisecond)
    ->MinWarmUpTime(1.0)->UseRealTime();
