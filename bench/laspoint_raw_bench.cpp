// Uncompressed point records through the point drivers: LASwritePoint and
// LASreadPoint moving format 1 (POINT10 + GPSTIME11) and format 6 (POINT14)
// records between a LASpoint and an in-memory stream, one raw item copy per
// item. Reports points per second; nothing is allocated inside the loops.
#include <benchmark/benchmark.h>

#include "compressor/lasreadpoint.hpp"
#include "compressor/laswritepoint.hpp"
#include "core/bytestreamin_array.hpp"
#include "core/bytestreamout_array.hpp"
#include "core/laspoint.hpp"

namespace {

constexpr U32 POINTS = 1 << 20;

struct Source {
  explicit Source(U8 format) {
    point.init(&scaling, nullptr, format, format < 6 ? 28 : 30);
    point.extended_return_byte = 0x32;
    point.extended_classification = 2;
    point.extended_scan_angle = 1200;
    point.gps_time = 1000.25;
  }
  LASscaling scaling;
  LASpoint point;
};

// POINTS records of the format, written by the driver itself.
ByteStreamOutArrayLE* records(Source& source) {
  auto* out = new ByteStreamOutArrayLE((I64)POINTS * source.point.record_size);
  LASwritePoint writer;
  writer.setup(source.point.num_items, source.point.items);
  writer.init(out);
  for (U32 i = 0; i < POINTS; i++) {
    source.point.X = (I32)i;
    source.point.gps_time += 0.001;
    writer.write(source.point.item_data);
  }
  return out;
}

void BM_write_raw(benchmark::State& state) {
  Source source((U8)state.range(0));
  ByteStreamOutArrayLE out((I64)POINTS * source.point.record_size);
  LASwritePoint writer;
  if (!writer.setup(source.point.num_items, source.point.items) || !writer.init(&out)) state.SkipWithError("setup");
  for (auto _ : state) {
    out.seek(0);
    for (U32 i = 0; i < POINTS; i++) {
      source.point.X = (I32)i;
      if (!writer.write(source.point.item_data)) state.SkipWithError("write");
    }
    benchmark::DoNotOptimize(out.getData());
  }
  state.SetItemsProcessed((int64_t)state.iterations() * POINTS);
}

void BM_read_raw(benchmark::State& state) {
  Source source((U8)state.range(0));
  ByteStreamOutArrayLE* data = records(source);
  ByteStreamInArrayLE in(data->getData(), data->getSize());
  LASreadPoint reader;
  if (!reader.setup(source.point.num_items, source.point.items) || !reader.init(&in)) state.SkipWithError("setup");
  I64 sum = 0;
  for (auto _ : state) {
    in.seek(0);
    for (U32 i = 0; i < POINTS; i++) {
      if (!reader.read(source.point.item_data)) state.SkipWithError("read");
      sum += source.point.X;
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed((int64_t)state.iterations() * POINTS);
  delete data;
}

BENCHMARK(BM_write_raw)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_read_raw)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);

}  // namespace
