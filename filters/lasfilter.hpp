// The point filter: an ordered list of drop tests (criteria) that decides,
// point by point, whether a point read is dropped before anybody sees it.
//
// Stand-in: the interface is complete, but no criterion exists yet, so `parse`
// takes no option and an attached filter keeps every point unless a caller adds
// criteria of its own through `add_criterion`.
#pragma once

#include <string>

#include "core/mydefs.hpp"

class LASpoint;

// One drop test. Option text is appended to a growable string.
class LAScriterion {
 public:
  // The option name without its leading '-'.
  virtual const char* name() const = 0;
  // Appends the option and its arguments, each followed by one blank; answers
  // the number of characters appended.
  virtual I32 get_command(std::string& text) const = 0;
  virtual U32 get_decompress_selective() const { return 0; }
  // True drops the point.
  virtual bool filter(const LASpoint* point) = 0;
  virtual void reset() {}
  virtual ~LAScriterion() {}
};

// Owns its criteria.
class LASfilter {
 public:
  U32 criteria_count = 0;
  U32 criteria_capacity = 0;
  LAScriterion** criteria = nullptr;

  LASfilter() = default;
  ~LASfilter();
  LASfilter(const LASfilter&) = delete;
  LASfilter& operator=(const LASfilter&) = delete;

  void clean();
  void usage() const;
  // Takes the filter options among the arguments and empties what it takes;
  // false after a reported error. No option is known yet.
  bool parse(int argc, char* argv[]);
  bool parse(const char* text);
  // Appends the option text of every criterion; answers the characters appended.
  I32 unparse(std::string& text) const;
  void add_criterion(LAScriterion* criterion);
  // True when a criterion drops the point; the first that drops it ends the test.
  bool filter(const LASpoint* point) {
    for (U32 i = 0; i < criteria_count; i++) {
      if (criteria[i]->filter(point)) return true;
    }
    return false;
  }
  void reset();
};
