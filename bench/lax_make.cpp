// Writes the `.lax` index of a LAS file for the area-query benchmark: every
// point in its finest-level quadtree cell over the file's bounding box. The
// index comes from the independent fixture builder, so the timed reader never
// reads an index our own code wrote. Points are streamed; the file may be big.
//
//   lax_make in.las levels        (writes in.lax)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "support/lax_fixture.hpp"

template <typename T>
static T at(const unsigned char* bytes, size_t offset) {
  T value;
  memcpy(&value, bytes + offset, sizeof(T));
  return value;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: lax_make in.las levels\n");
    return 1;
  }
  FILE* file = fopen(argv[1], "rb");
  unsigned char header[227];
  if (file == nullptr || fread(header, 1, sizeof(header), file) != sizeof(header)) {
    fprintf(stderr, "cannot read the header of '%s'\n", argv[1]);
    return 1;
  }
  const uint32_t offset = at<uint32_t>(header, 96);
  const uint16_t length = at<uint16_t>(header, 105);
  const uint32_t count = at<uint32_t>(header, 107);
  const double sx = at<double>(header, 131), sy = at<double>(header, 139);
  const double ox = at<double>(header, 155), oy = at<double>(header, 163);
  const double max_x = at<double>(header, 179), min_x = at<double>(header, 187);
  const double max_y = at<double>(header, 195), min_y = at<double>(header, 203);
  laxfix::Builder builder((uint32_t)atoi(argv[2]), (float)min_x, (float)max_x, (float)min_y, (float)max_y);
  if (length < 8 || fseek(file, offset, SEEK_SET) != 0) return 1;
  std::vector<unsigned char> chunk((size_t)length * 65536);
  for (uint32_t done = 0; done < count;) {
    const uint32_t n = count - done < 65536 ? count - done : 65536;
    if (fread(chunk.data(), length, n, file) != n) {
      fprintf(stderr, "'%s' ends after %u points\n", argv[1], done);
      return 1;
    }
    for (uint32_t k = 0; k < n; k++) {
      const unsigned char* record = chunk.data() + (size_t)k * length;
      builder.add(at<int32_t>(record, 0) * sx + ox, at<int32_t>(record, 4) * sy + oy);
    }
    done += n;
  }
  fclose(file);
  std::string name = argv[1];
  name = name.substr(0, name.rfind('.')) + ".lax";
  std::ofstream(name, std::ios::binary) << builder.finish().bytes();
  return 0;
}
