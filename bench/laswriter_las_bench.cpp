// Writing a LAS file: 20 million format-1 points (POINT10 + GPSTIME11) through
// LASwriterLAS into a file, as the thinning driver writes its survivors, with
// and without the inventory update per point. Reports points per second; the
// loop allocates nothing.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/lasheader.hpp"
#include "core/laspoint.hpp"
#include "core/laswriter_las.hpp"

namespace {

constexpr I64 POINTS = 20000000;

void BM_write_las_file(benchmark::State& state) {
  const bool inventory = state.range(0) != 0;
  const std::string name = "/tmp/laswriter_las_bench_" + std::to_string(getpid()) + ".las";
  LASheader header;
  header.point_data_format = 1;
  header.point_data_record_length = 28;
  LASpoint point;
  if (!point.init(&header, (U8)1, (U16)28)) state.SkipWithError("point");
  for (auto _ : state) {
    LASwriterLAS writer;
    if (!writer.open(name.c_str(), &header)) state.SkipWithError("open");
    for (I64 i = 0; i < POINTS; i++) {
      point.X = (I32)i;
      point.Y = (I32)(i >> 3);
      point.Z = (I32)(i & 1023);
      point.gps_time = (F64)i * 0.001;
      writer.write_point(&point);
      if (inventory) writer.update_inventory(&point);
    }
    if (inventory) writer.update_header(&header, true);
    benchmark::DoNotOptimize(writer.close(true));
    // Dropping the file is not part of writing it.
    state.PauseTiming();
    unlink(name.c_str());
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * POINTS);
}

}  // namespace

BENCHMARK(BM_write_las_file)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
