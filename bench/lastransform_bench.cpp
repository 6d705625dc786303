// Time per point of the point transform alone: 1 M generated points changed
// by an empty transform, by one translation of all three coordinates, by one
// of z, by three single-axis translations, and by a translation whose filter
// chooses half of the points at random. Reports ns per point.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "core/laspoint.hpp"
#include "filters/lasfilter.hpp"
#include "transforms/lastransform.hpp"

namespace {

constexpr size_t POINTS = 1000000;

struct RawPoint {
  I32 X, Y, Z;
};

const std::vector<RawPoint>& points() {
  static const std::vector<RawPoint> all = [] {
    std::mt19937 random(4711);
    std::vector<RawPoint> p(POINTS);
    // On both sides of the offsets, as coordinates around a file's middle are.
    for (RawPoint& r : p) {
      r = {(I32)(random() % 200000) - 100000, (I32)(random() % 200000) - 100000, (I32)(random() % 10000) - 5000};
    }
    return p;
  }();
  return all;
}

struct Setup {
  const char* transform;
  const char* filter;  // chooses the points to change; null for none
};

const Setup SETUPS[] = {
    {"", nullptr},
    {"-translate_xyz 1 2 3", nullptr},
    {"-translate_z 3", nullptr},
    {"-translate_x 1 -translate_y 2 -translate_z 3", nullptr},
    {"-translate_xyz 1 2 3", "-keep_x 0 1000"},
};

void BM_Transform(benchmark::State& state) {
  const Setup& setup = SETUPS[state.range(0)];
  LASscaling scaling;
  LASpoint point;
  point.init(&scaling, nullptr, (U8)1, (U16)28);
  LAStransform transform;
  transform.parse(setup.transform);
  if (setup.filter) {
    LASfilter* filter = new LASfilter();
    filter->parse(setup.filter);
    transform.setFilter(filter);
  }
  const std::vector<RawPoint>& all = points();
  I64 sum = 0;
  for (auto _ : state) {
    for (const RawPoint& r : all) {
      point.X = r.X;
      point.Y = r.Y;
      point.Z = r.Z;
      transform.transform(&point);
      sum += point.X + point.Z;
    }
  }
  benchmark::DoNotOptimize(sum);
  std::string label = setup.transform;
  if (setup.filter) label += std::string(" filtered by ") + setup.filter;
  state.SetLabel(label);
  state.counters["ns/point"] =
      benchmark::Counter((F64)state.iterations() * POINTS, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Transform)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
