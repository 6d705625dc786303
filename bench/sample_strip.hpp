// The records of the generated airborne strip of make_sample (format 1, 28
// bytes each) for benchmarks of the point coders: written to a temporary file
// by the sample program, read back without its header, and removed. Empty when
// the program cannot run. MAKE_SAMPLE names the program.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "core/mydefs.hpp"

inline std::vector<U8> sample_strip_records(U32 points, const char* name) {
  const std::string path = "/tmp/" + std::string(name) + "_" + std::to_string(getpid()) + ".las";
  const std::string command = std::string(MAKE_SAMPLE) + " " + path + " " + std::to_string(points) + " 7";
  std::vector<U8> bytes;
  if (system(command.c_str()) != 0) return bytes;
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return bytes;
  for (int c; (c = fgetc(file)) != EOF;) bytes.push_back((U8)c);
  fclose(file);
  remove(path.c_str());
  U32 offset = 0;
  if (bytes.size() > 100) memcpy(&offset, &bytes[96], 4);  // offset to point data
  bytes.erase(bytes.begin(), bytes.begin() + std::min<size_t>(offset, bytes.size()));
  return bytes;
}
