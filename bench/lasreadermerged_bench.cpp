// Opening 1000 small LAS files as one merged input: the header pass that
// builds the merged header reads the first file fully and every other file
// for its header only, so it should cost little more than 1000 header reads.
// Compared with files that carry an extra-bytes attribute (each of them is
// then opened fully to compare the descriptors) and with a full read of all
// points. The files are written once into the temporary directory.
#include <benchmark/benchmark.h>

#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "core/lasreader.hpp"
#include "core/lasreadopener.hpp"
#include "support/las_fixture.hpp"

namespace {

constexpr int FILES = 1000;
constexpr int POINTS_PER_FILE = 100;

// The names of FILES tiles of POINTS_PER_FILE points side by side, with or
// without one i32 attribute per point.
const std::vector<std::string>& file_names(bool with_attribute) {
  static std::vector<std::string> names[2];
  std::vector<std::string>& list = names[with_attribute];
  if (!list.empty()) return list;
  const std::string dir = std::string("/tmp/lasreadermerged_bench") + (with_attribute ? "_attribute" : "");
  mkdir(dir.c_str(), 0755);
  for (int f = 0; f < FILES; f++) {
    lasfix::LasFile file;
    file.header.point_data_format = 1;
    if (with_attribute) {
      lasfix::ExtraBytesAttribute value;
      value.data_type = 6;
      value.name = "value";
      file.vlrs.push_back({"LASF_Spec", 4, lasfix::extra_bytes_payload({value})});
      file.extra_bytes = 4;
    }
    for (int i = 0; i < POINTS_PER_FILE; i++) {
      lasfix::Point p;
      p.X = (f % 40) * 10000 + i * 97;
      p.Y = (f / 40) * 10000 + i * 89;
      p.Z = i;
      p.gps_time = i;
      file.points.push_back(p);
    }
    const std::string name = dir + "/tile_" + std::to_string(f) + ".las";
    FILE* out = fopen(name.c_str(), "wb");
    const std::string bytes = file.bytes();
    fwrite(bytes.data(), 1, bytes.size(), out);
    fclose(out);
    list.push_back(name);
  }
  return list;
}

std::unique_ptr<LASreader> open_merged(LASreadOpener& opener, const std::vector<std::string>& names) {
  for (const std::string& name : names) opener.add_file_name(name.c_str());
  opener.set_merged(true);
  return std::unique_ptr<LASreader>(opener.open());
}

void open_only(benchmark::State& state, bool with_attribute) {
  const std::vector<std::string>& names = file_names(with_attribute);
  for (auto _ : state) {
    LASreadOpener opener;
    std::unique_ptr<LASreader> reader = open_merged(opener, names);
    if (!reader || reader->points_expected != (I64)FILES * POINTS_PER_FILE) {
      state.SkipWithError("open");
      return;
    }
  }
  state.counters["files/s"] = benchmark::Counter((double)FILES * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_open_1000_merged(benchmark::State& state) { open_only(state, false); }
void BM_open_1000_merged_attributes_compared(benchmark::State& state) { open_only(state, true); }

void BM_open_and_read_1000_merged(benchmark::State& state) {
  const std::vector<std::string>& names = file_names(false);
  for (auto _ : state) {
    LASreadOpener opener;
    std::unique_ptr<LASreader> reader = open_merged(opener, names);
    I64 sum = 0;
    while (reader && reader->read_point()) sum += reader->point.X;
    benchmark::DoNotOptimize(sum);
  }
  state.counters["points/s"] =
      benchmark::Counter((double)FILES * POINTS_PER_FILE * state.iterations(), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_open_1000_merged)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_open_1000_merged_attributes_compared)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_open_and_read_1000_merged)->Unit(benchmark::kMillisecond);

}  // namespace
