// A mutable argument vector for option parsers, which empty the arguments they
// take by writing a terminator over their first byte.
#pragma once

#include <string>
#include <vector>

#include "core/lasutility.hpp"

class ArgVector {
 public:
  // argv[0] is a program name; the given words follow.
  explicit ArgVector(const std::vector<std::string>& words) {
    storage.push_back("program");
    storage.insert(storage.end(), words.begin(), words.end());
    for (std::string& word : storage) pointers.push_back(word.data());
    pointers.push_back(nullptr);
  }
  // Splits option text into words as the job command lines of child
  // processes are split.
  static ArgVector from_text(const std::string& text) { return ArgVector(split_option_text(text)); }
  ArgVector(const ArgVector& other) : ArgVector(std::vector<std::string>(other.storage.begin() + 1, other.storage.end())) {}
  ArgVector& operator=(const ArgVector&) = delete;

  int argc() const { return (int)storage.size(); }
  char** argv() { return pointers.data(); }
  // The word at i as it stands now (empty once a parser took it).
  std::string at(int i) const { return std::string(pointers[i]); }
  // The words no parser emptied, in order, without argv[0].
  std::vector<std::string> remaining() const {
    std::vector<std::string> left;
    for (size_t i = 1; i + 1 < pointers.size(); i++) {
      if (pointers[i][0] != '\0') left.push_back(pointers[i]);
    }
    return left;
  }

 private:
  std::vector<std::string> storage;
  std::vector<char*> pointers;
};
