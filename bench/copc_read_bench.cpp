// Reading a COPC file of 5 million points in full and limited to the octants
// of levels 0 to 2, through the read opener as the tool reads: best wall time
// of several runs, points per second, and the bytes the process read from the
// file (from /proc/self/io) against the bytes of the octants selected. The
// file is generated once by the independent COPC fixture generator.
//
//   copc_read_bench [file] [points]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/lasreader.hpp"
#include "core/lasreadopener.hpp"
#include "support/copc_fixture.hpp"

namespace {

// Bytes this process has read through read() so far.
unsigned long long bytes_read() {
  std::ifstream io("/proc/self/io");
  std::string key;
  unsigned long long value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return 0;
}

void generate(const std::string& path, uint32_t points) {
  copcfix::Recipe recipe;
  recipe.point_count = points;
  recipe.max_level = 5;
  // A surface: each level holds four times the points of the one above, as a
  // surface sampled at halved spacing does; a page per level-3 subtree.
  recipe.z_fraction = 1.0 / 16;
  recipe.level_growth = 4;
  recipe.page_levels = {3};
  recipe.shuffle_octants = false;
  recipe.halfsize = 512;
  recipe.center_x = 600000;
  recipe.center_y = 4000000;
  recipe.center_z = 512;
  recipe.spacing = 16;
  std::printf("generating %u points into %s\n", points, path.c_str());
  const copcfix::CopcFile f = copcfix::make_copc(recipe);
  std::ofstream out(path, std::ios::binary);
  out.write(f.built.bytes.data(), (std::streamsize)f.built.bytes.size());
}

struct Result {
  double seconds = 1e30;
  long long points = 0;
  unsigned long long bytes = 0;
};

Result read_once(const std::string& path, const std::vector<std::string>& options) {
  std::vector<std::string> words = {"bench", "-i", path};
  words.insert(words.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  LASreadOpener opener;
  opener.parse((int)argv.size(), argv.data());
  const unsigned long long before = bytes_read();
  const auto start = std::chrono::steady_clock::now();
  std::unique_ptr<LASreader> reader(opener.open());
  Result r;
  if (!reader) return r;
  while (reader->read_point()) r.points++;
  reader->close();
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.bytes = bytes_read() - before;
  return r;
}

// Bytes of point data in the octants down to `depth`, from the hierarchy.
unsigned long long octant_bytes(const std::string& path, int depth) {
  std::vector<std::string> words = {"bench", "-i", path};
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  LASreadOpener opener;
  opener.parse((int)argv.size(), argv.data());
  std::unique_ptr<LASreader> reader(opener.open());
  unsigned long long total = 0;
  for (U32 i = 0; reader && i < reader->header.number_of_copc_entries; i++) {
    const LASvlr_copc_entry& e = reader->header.copc_entries[i];
    if (e.level <= depth) total += (U32)e.byte_size;
  }
  if (reader) reader->close();
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : "/tmp/copc_read_bench_5m.las";
  const uint32_t points = argc > 2 ? (uint32_t)std::strtoul(argv[2], nullptr, 10) : 5000000;
  if (!std::ifstream(path).good()) generate(path, points);
  std::ifstream whole(path, std::ios::binary | std::ios::ate);
  const unsigned long long file_size = (unsigned long long)whole.tellg();
  std::printf("file: %s, %.1f MB; octants of levels 0-2: %.2f MB\n", path.c_str(), file_size / 1e6,
              octant_bytes(path, 2) / 1e6);
  const struct {
    const char* name;
    std::vector<std::string> options;
  } modes[] = {
      {"full read", {}},
      {"full read, file order", {"-stream_order_normal"}},
      {"-max_depth 2", {"-max_depth", "2"}},
      {"-max_depth 2, file order", {"-max_depth", "2", "-stream_order_normal"}},
  };
  read_once(path, {});  // into the page cache
  for (const auto& m : modes) {
    Result best;
    for (int run = 0; run < 5; run++) {
      const Result r = read_once(path, m.options);
      if (r.seconds < best.seconds) best = r;
    }
    std::printf("%-26s %9lld points  %8.4f s  %7.1f M points/s  %8.2f MB read\n", m.name, best.points, best.seconds,
                best.points / best.seconds / 1e6, best.bytes / 1e6);
  }
  return 0;
}
