// Reading what child processes left behind: lines of captured text, and the
// start ("s") and end ("e") notes that children append to one log, whose order
// is the order of events because appends of a short line are atomic.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

// The lines of `text` without their line feeds (an unfinished last line is dropped).
inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t from = 0;
  for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', from)) {
    lines.push_back(text.substr(from, end - from));
    from = end + 1;
  }
  return lines;
}

// The most children that were running at once.
inline int peak_of(const std::string& events) {
  int live = 0, peak = 0;
  for (char c : events) {
    if (c == 's') peak = std::max(peak, ++live);
    if (c == 'e') live--;
  }
  return peak;
}
