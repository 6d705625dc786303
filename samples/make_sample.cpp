// Writes a synthetic airborne LiDAR strip as a LAS 1.2 file of point format 1:
// rolling ground with trees and a few flat roofs, scanned in lines, with GPS
// time, returns, classes and intensities. Deterministic for a given count and
// seed. It writes the bytes itself, so a sample never depends on the writer
// it is meant to exercise.
//
//   make_sample out.las [points] [seed]      (default 5000 points, seed 1)
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// xorshift64*: small, fast and the same on every platform.
struct Random {
  uint64_t state;
  explicit Random(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint64_t next() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 0x2545F4914F6CDD1Dull;
  }
  double uniform() { return (next() >> 11) * (1.0 / 9007199254740992.0); }
};

const double SCALE = 0.01;
const double OFFSET_X = 500000.0, OFFSET_Y = 5400000.0, OFFSET_Z = 0.0;
const double DENSITY = 4.0;  // points per square metre
const uint16_t RECORD_LENGTH = 28;
const uint16_t HEADER_SIZE = 227;

double ground(double x, double y) { return 120.0 + 6.0 * std::sin(x / 40.0) + 4.0 * std::cos(y / 27.0) + 0.02 * x; }

// Flat roofs on a coarse grid of lots; 0 where there is no building.
double roof(double x, double y) {
  const double lot = 60.0;
  double lx = std::fmod(x, lot), ly = std::fmod(y, lot);
  long ix = (long)(x / lot), iy = (long)(y / lot);
  if ((ix * 7 + iy * 13) % 5 != 0) return 0.0;
  if (lx < 15.0 || lx > 40.0 || ly < 20.0 || ly > 42.0) return 0.0;
  return 8.0 + (double)((ix + iy) % 3) * 3.0;
}

// Tree canopy height at a place, 0 in the open.
double canopy(double x, double y) {
  double v = std::sin(x / 9.0) * std::cos(y / 7.0) + 0.5 * std::sin((x + y) / 4.0);
  return v > 0.6 ? (v - 0.6) * 30.0 : 0.0;
}

struct Writer {
  FILE* file;
  std::vector<unsigned char> buffer;
  void flush() {
    if (!buffer.empty() && fwrite(buffer.data(), 1, buffer.size(), file) != buffer.size()) {
      perror("write");
      exit(1);
    }
    buffer.clear();
  }
  template <typename T>
  void put(T value) {
    unsigned char bytes[sizeof(T)];
    memcpy(bytes, &value, sizeof(T));  // the host is little-endian, as LAS is
    buffer.insert(buffer.end(), bytes, bytes + sizeof(T));
  }
  void put_text(const char* text, size_t width) {
    size_t n = strlen(text);
    for (size_t i = 0; i < width; i++) buffer.push_back(i < n ? (unsigned char)text[i] : 0);
  }
};

struct Bounds {
  double min[3] = {1e300, 1e300, 1e300}, max[3] = {-1e300, -1e300, -1e300};
  uint32_t by_return[5] = {0, 0, 0, 0, 0};
  uint64_t count = 0;
};

void write_header(Writer& w, const Bounds& b) {
  w.put_text("LASF", 4);
  w.put<uint16_t>(0);  // file source ID
  w.put<uint16_t>(0);  // global encoding
  w.put<uint32_t>(0);
  w.put<uint16_t>(0);
  w.put<uint16_t>(0);
  w.put_text("", 8);
  w.put<uint8_t>(1);
  w.put<uint8_t>(2);
  w.put_text("voxsifter sample", 32);
  w.put_text("make_sample", 32);
  w.put<uint16_t>(1);
  w.put<uint16_t>(2025);
  w.put<uint16_t>(HEADER_SIZE);
  w.put<uint32_t>(HEADER_SIZE);  // offset to point data: no records
  w.put<uint32_t>(0);
  w.put<uint8_t>(1);
  w.put<uint16_t>(RECORD_LENGTH);
  w.put<uint32_t>((uint32_t)b.count);
  for (uint32_t n : b.by_return) w.put<uint32_t>(n);
  w.put<double>(SCALE);
  w.put<double>(SCALE);
  w.put<double>(SCALE);
  w.put<double>(OFFSET_X);
  w.put<double>(OFFSET_Y);
  w.put<double>(OFFSET_Z);
  w.put<double>(b.max[0]);
  w.put<double>(b.min[0]);
  w.put<double>(b.max[1]);
  w.put<double>(b.min[1]);
  w.put<double>(b.max[2]);
  w.put<double>(b.min[2]);
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 2 || argc > 4) {
    fprintf(stderr, "usage: %s out.las [points] [seed]\n", argv[0]);
    return 2;
  }
  const uint64_t points = argc > 2 ? strtoull(argv[2], nullptr, 10) : 5000;
  const uint64_t seed = argc > 3 ? strtoull(argv[3], nullptr, 10) : 1;
  if (points == 0 || points > 4000000000ull) {
    fprintf(stderr, "points must be 1 to 4000000000\n");
    return 2;
  }
  FILE* file = fopen(argv[1], "wb");
  if (!file) {
    perror(argv[1]);
    return 1;
  }
  Writer w{file, {}};
  Bounds b;
  write_header(w, b);  // placeholder, rewritten at the end
  w.flush();

  // A square strip scanned line by line along x; each pulse gives one to three
  // returns (canopy top, mid canopy, ground or roof).
  const double side = std::sqrt((double)points / DENSITY);
  const double spacing = 1.0 / std::sqrt(DENSITY);
  const uint64_t per_line = (uint64_t)std::ceil(side / spacing);
  Random random(seed);
  double gps_time = 250000.0;
  uint64_t pulse = 0;
  w.buffer.reserve(1 << 20);
  while (b.count < points) {
    const uint64_t line = pulse / per_line, column = pulse % per_line;
    const double x = ((line & 1) ? (double)(per_line - 1 - column) : (double)column) * spacing +
                     (random.uniform() - 0.5) * spacing;
    const double y = (double)line * spacing + (random.uniform() - 0.5) * spacing;
    const double g = ground(x, y);
    const double r = roof(x, y);
    const double c = r > 0.0 ? 0.0 : canopy(x, y);
    double heights[3];
    uint8_t classes[3];
    int returns = 0;
    if (c > 0.0) {
      heights[returns] = g + c * (0.85 + 0.15 * random.uniform());
      classes[returns++] = 5;
      if (random.uniform() < 0.6) {
        heights[returns] = g + c * (0.2 + 0.5 * random.uniform());
        classes[returns++] = 4;
      }
      if (random.uniform() < 0.7) {
        heights[returns] = g;
        classes[returns++] = 2;
      }
    } else {
      heights[returns] = r > 0.0 ? g + r : g + 0.03 * (random.uniform() - 0.5);
      classes[returns++] = r > 0.0 ? 6 : 2;
    }
    for (int k = 0; k < returns && b.count < points; k++) {
      const double px = x + 0.05 * k * (random.uniform() - 0.5);
      const double py = y + 0.05 * k * (random.uniform() - 0.5);
      // Coordinates are metres from the offsets.
      const int32_t X = (int32_t)std::lround(px / SCALE);
      const int32_t Y = (int32_t)std::lround(py / SCALE);
      const int32_t Z = (int32_t)std::lround((heights[k] - OFFSET_Z) / SCALE);
      const double world[3] = {X * SCALE + OFFSET_X, Y * SCALE + OFFSET_Y, Z * SCALE + OFFSET_Z};
      for (int a = 0; a < 3; a++) {
        if (world[a] < b.min[a]) b.min[a] = world[a];
        if (world[a] > b.max[a]) b.max[a] = world[a];
      }
      const uint8_t return_number = (uint8_t)(k + 1);
      const uint8_t scan_direction = (line & 1) ? 0 : 1;
      const bool edge = column == 0 || column + 1 == per_line;
      w.put<int32_t>(X);
      w.put<int32_t>(Y);
      w.put<int32_t>(Z);
      w.put<uint16_t>((uint16_t)(classes[k] == 2 ? 900 + random.next() % 600 : 200 + random.next() % 1400));
      w.put<uint8_t>((uint8_t)(return_number | (returns << 3) | (scan_direction << 6) | (edge ? 0x80 : 0)));
      w.put<uint8_t>(classes[k]);
      w.put<int8_t>((int8_t)std::lround((column * 40.0) / per_line - 20.0));
      w.put<uint8_t>((uint8_t)(k * 10));
      w.put<uint16_t>((uint16_t)(1 + line / 500));
      w.put<double>(gps_time);
      b.by_return[return_number - 1]++;
      b.count++;
    }
    gps_time += 0.00001;
    pulse++;
    if (w.buffer.size() >= (1u << 20)) w.flush();
  }
  w.flush();
  if (fseek(file, 0, SEEK_SET) != 0) {
    perror("seek");
    return 1;
  }
  write_header(w, b);
  w.flush();
  if (fclose(file) != 0) {
    perror("close");
    return 1;
  }
  return 0;
}
