// The name of a table row as a test name.
#pragma once

#include <cctype>
#include <string>

// Every character but letters and digits becomes '_'.
inline std::string test_name_of(const char* name) {
  std::string out = name;
  for (char& ch : out) {
    if (!isalnum((unsigned char)ch)) ch = '_';
  }
  return out;
}
