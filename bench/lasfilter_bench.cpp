// Time per point of the point filter alone: 1 M generated points judged by an
// empty filter and by filters of one and three coordinate criteria that keep
// every point (each criterion is asked), and by three criteria whose first
// drops half the points (the rest are not asked). Reports ns per point.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "core/laspoint.hpp"
#include "filters/lasfilter.hpp"

namespace {

constexpr size_t POINTS = 1000000;

struct RawPoint {
  I32 X, Y, Z;
};

const std::vector<RawPoint>& points() {
  static const std::vector<RawPoint> all = [] {
    std::mt19937 random(4711);
    std::vector<RawPoint> p(POINTS);
    for (RawPoint& r : p) r = {(I32)(random() % 200000), (I32)(random() % 200000), (I32)(random() % 10000)};
    return p;
  }();
  return all;
}

const char* const OPTIONS[] = {
    "",
    "-keep_xy 0 0 2000 2000",
    "-keep_xy 0 0 2000 2000 -keep_z_above 0 -drop_X_below -5",
    "-keep_x 0 1000 -keep_z_above 0 -drop_X_below -5",
};

void BM_Filter(benchmark::State& state) {
  LASscaling scaling;
  LASpoint point;
  point.init(&scaling, nullptr, (U8)1, (U16)28);
  LASfilter filter;
  filter.parse(OPTIONS[state.range(0)]);
  const std::vector<RawPoint>& all = points();
  size_t dropped = 0;
  for (auto _ : state) {
    for (const RawPoint& r : all) {
      point.X = r.X;
      point.Y = r.Y;
      point.Z = r.Z;
      dropped += filter.filter(&point);
    }
  }
  benchmark::DoNotOptimize(dropped);
  state.SetLabel(OPTIONS[state.range(0)]);
  state.counters["ns/point"] =
      benchmark::Counter((F64)state.iterations() * POINTS, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Filter)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
