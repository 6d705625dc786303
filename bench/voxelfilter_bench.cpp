// Time per point of the voxel filter's two passes on generated points (the
// first over points and over records): 10 M points in 1 M or 8 M occupied
// voxels, read in random order (every lookup a cache miss) or voxel by voxel
// (neighbouring points share a voxel, as along a scan line). Reports ns per
// point and the bytes held per occupied voxel.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "core/lasheader.hpp"
#include "tool/voxelfilter.hpp"

namespace {

constexpr U64 POINTS = 10000000;

struct RawPoint {
  I32 X, Y, Z;
  F64 gps_time;
};

// One data set per (voxels, order), kept for the whole run. Voxels are 1 x 1 x 1
// units on a grid of side x side x layers; the first `voxels` points fill each
// voxel once, the rest fall into random voxels, so exactly `voxels` are occupied.
struct DataSet {
  LASheader header;
  std::vector<RawPoint> points;

  DataSet(U64 voxels, bool shuffled) {
    const U64 layers = voxels >= 4000000 ? 2 : 1;
    const U64 side = static_cast<U64>(std::sqrt(static_cast<double>(voxels / layers)));
    header.x_scale_factor = header.y_scale_factor = header.z_scale_factor = 0.001;
    header.min_x = header.min_y = header.min_z = 0;
    header.max_x = header.max_y = static_cast<F64>(side);
    header.max_z = static_cast<F64>(layers);
    const U64 total = side * side * layers;
    std::mt19937_64 random(12345);
    std::vector<U64> voxel_of(POINTS);
    for (U64 i = 0; i < POINTS; i++) voxel_of[i] = i < total ? i : random() % total;
    if (shuffled) {
      std::shuffle(voxel_of.begin(), voxel_of.end(), random);
    } else {
      std::sort(voxel_of.begin(), voxel_of.end());
    }
    points.resize(POINTS);
    for (U64 i = 0; i < POINTS; i++) {
      const U64 v = voxel_of[i];
      const U64 ix = v % side, iy = (v / side) % side, iz = v / (side * side);
      points[i] = {static_cast<I32>(ix * 1000 + random() % 1000), static_cast<I32>(iy * 1000 + random() % 1000),
                   static_cast<I32>(iz * 1000 + random() % 1000), static_cast<F64>(i) * 1e-5};
    }
  }
};

const DataSet& data(U64 voxels, bool shuffled) {
  static std::unique_ptr<DataSet> sets[2][2];
  std::unique_ptr<DataSet>& set = sets[voxels > 1000000][shuffled];
  if (!set) set = std::make_unique<DataSet>(voxels, shuffled);
  return *set;
}

inline void load(LASpoint& point, const RawPoint& raw) {
  point.X = raw.X;
  point.Y = raw.Y;
  point.Z = raw.Z;
  point.gps_time = raw.gps_time;
}

template <class Payload>
void firstPass(VoxelFilter<Payload>& filter, LASpoint& point, const DataSet& set) {
  for (const RawPoint& raw : set.points) {
    load(point, raw);
    filter.visitPoint(point);
  }
}

template <class Payload>
void report(benchmark::State& state, const VoxelFilter<Payload>& filter) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * POINTS));
  state.counters["ns_per_point"] = benchmark::Counter(
      static_cast<double>(state.iterations() * POINTS), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["voxels"] = static_cast<double>(filter.numOfSurvivingPoints());
  state.counters["bytes_per_voxel"] =
      static_cast<double>(filter.memoryBytes()) / static_cast<double>(filter.numOfSurvivingPoints());
}

// Times pass(filter) on a fresh filter per iteration; the filter of the
// iteration before is destroyed outside the timing.
template <class Payload, class Pass>
void timeFirstPass(benchmark::State& state, const DataSet& set, Pass pass) {
  std::unique_ptr<VoxelFilter<Payload>> filter;
  for (auto _ : state) {
    state.PauseTiming();
    filter.reset();
    state.ResumeTiming();
    filter = std::make_unique<VoxelFilter<Payload>>(1.0, 1.0, set.header);
    pass(*filter);
  }
  report(state, *filter);
}

template <class Payload>
void BM_FirstPass(benchmark::State& state) {
  const DataSet& set = data(static_cast<U64>(state.range(0)), state.range(1) != 0);
  LASpoint point;
  point.init(&set.header, 1, 28);
  timeFirstPass<Payload>(state, set, [&](VoxelFilter<Payload>& filter) { firstPass(filter, point, set); });
}

// The first pass as the tool runs it on plain files: over the records as they
// lie in the file (format 1), in the chunks a reader lends, with survivor
// marks where the rule keeps them.
template <class Payload>
void BM_FirstPassRecords(benchmark::State& state) {
  const DataSet& set = data(static_cast<U64>(state.range(0)), state.range(1) != 0);
  constexpr U32 LENGTH = 28, CHUNK = 65536;
  std::vector<U8> records(set.points.size() * LENGTH);
  for (size_t i = 0; i < set.points.size(); i++) {
    U8* record = &records[i * LENGTH];
    std::memcpy(record, &set.points[i].X, 4);
    std::memcpy(record + 4, &set.points[i].Y, 4);
    std::memcpy(record + 8, &set.points[i].Z, 4);
    std::memcpy(record + 20, &set.points[i].gps_time, 8);
  }
  const PointRecordLayout layout = *PointRecordLayout::of(1, LENGTH, set.header);
  timeFirstPass<Payload>(state, set, [&](VoxelFilter<Payload>& filter) {
    filter.markSurvivors();
    for (U64 first = 0; first < POINTS; first += CHUNK)
      filter.visitRecords(&records[first * LENGTH], static_cast<U32>(std::min<U64>(CHUNK, POINTS - first)), layout);
    benchmark::DoNotOptimize(filter.numOfSurvivingPoints());
  });
}

template <class Payload>
void BM_SecondPass(benchmark::State& state) {
  const DataSet& set = data(static_cast<U64>(state.range(0)), state.range(1) != 0);
  LASpoint point;
  point.init(&set.header, 1, 28);
  VoxelFilter<Payload> filter(1.0, 1.0, set.header);
  firstPass(filter, point, set);
  U64 survivors = 0;
  for (auto _ : state) {
    VoxelIndexAndCenter cell;
    for (const RawPoint& raw : set.points) {
      load(point, raw);
      survivors += filter.isSurvivingPointAndModify(point, cell).survives;
    }
  }
  benchmark::DoNotOptimize(survivors);
  report(state, filter);
}

using First = VoxelFilterPayloadFirstOccurrence<false>;
using HighestZCounting = VoxelFilterPayloadHighest<true, F64, get_z>;
using Random = VoxelFilterPayloadRandom;

void arguments(benchmark::internal::Benchmark* b) {
  b->ArgNames({"voxels", "shuffled"});
  for (int64_t voxels : {1000000, 8000000})
    for (int64_t shuffled : {1, 0}) b->Args({voxels, shuffled});
  b->Unit(benchmark::kMillisecond)->Iterations(3);
}

BENCHMARK_TEMPLATE(BM_FirstPass, First)->Apply(arguments);
BENCHMARK_TEMPLATE(BM_FirstPassRecords, First)->Apply(arguments);
BENCHMARK_TEMPLATE(BM_SecondPass, First)->Apply(arguments);
BENCHMARK_TEMPLATE(BM_FirstPass, HighestZCounting)->Apply(arguments);
BENCHMARK_TEMPLATE(BM_FirstPassRecords, HighestZCounting)->Apply(arguments);
BENCHMARK_TEMPLATE(BM_SecondPass, HighestZCounting)->Apply(arguments);
BENCHMARK_TEMPLATE(BM_FirstPass, Random)->Apply(arguments);
BENCHMARK_TEMPLATE(BM_SecondPass, Random)->Apply(arguments);

}  // namespace
