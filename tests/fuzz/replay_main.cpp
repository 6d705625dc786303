// Runs a fuzz target over every file of the directories or files given, so the
// seeds and the minimised crashes are replayed in every test run.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static void replay(const std::filesystem::path& path, int& count) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  count++;
}

int main(int argc, char** argv) {
  int count = 0;
  for (int i = 1; i < argc; i++) {
    std::filesystem::path path(argv[i]);
    if (std::filesystem::is_directory(path)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
        if (entry.is_regular_file()) replay(entry.path(), count);
      }
    } else if (std::filesystem::exists(path)) {
      replay(path, count);
    }
  }
  // Also the empty input, which every target must take.
  LLVMFuzzerTestOneInput(nullptr, 0);
  printf("replayed %d inputs\n", count + 1);
  return 0;
}
