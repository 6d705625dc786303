// The point filter: an ordered list of drop tests (criteria) that decides,
// point by point, whether a point read is dropped before anybody sees it. The
// read opener builds it from the "-keep_..." and "-drop_..." options and lends
// it to every reader it opens; `unparse` writes it back as option text for
// child processes and layer files, and that text parses back to the same list.
//
// The criteria themselves live in families (lascriterion_*.cpp), each with the
// option table the parser reads; lascriterion.hpp is what a family needs.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/mydefs.hpp"

class LASpoint;

// One drop test. Option text is appended to a growable string.
class LAScriterion {
 public:
  // The option name without its leading '-'.
  virtual const char* name() const = 0;
  // Appends an option that parses back to this test, then its arguments, each
  // followed by one blank; answers the number of characters appended.
  virtual I32 get_command(std::string& text) const = 0;
  // The point fields the test reads beyond x, y, returns and channel.
  virtual U32 get_decompress_selective() const { return 0; }
  // True drops the point.
  virtual bool filter(const LASpoint* point) = 0;
  // Back to the state after construction, before each pass over the input.
  virtual void reset() {}
  virtual ~LAScriterion() {}
};

// Owns its criteria.
class LASfilter {
 public:
  // The list, in the order the options came; grows 16 entries at a time so
  // that typical command lines allocate once.
  std::vector<std::unique_ptr<LAScriterion>> criteria;
  // criteria.size(), kept as a field for the callers that read the count.
  U32 criteria_count = 0;

  LASfilter() = default;
  ~LASfilter();
  LASfilter(const LASfilter&) = delete;
  LASfilter& operator=(const LASfilter&) = delete;

  // Deletes every criterion: the filter is empty and can be parsed into again.
  void clean();
  // The help text of the filter options, as one INFO message.
  void usage() const;
  // Takes the filter options among the arguments (argv[0] is not read),
  // empties what it takes and leaves every other argument for the parsers
  // after it. False after a reported error; the criteria added before it stay.
  bool parse(int argc, char* argv[]);
  // The same for option text, split at blanks (the text is not changed).
  bool parse(const char* text);
  // Appends the option text of every criterion in list order; answers the
  // characters appended (0, and nothing written, for an empty filter).
  I32 unparse(std::string& text) const;
  // Appends a criterion; the filter owns it from now on.
  void add_criterion(LAScriterion* criterion);
  // Takes the last criterion off the list and hands it to the caller; null
  // when the list is empty. The combining and merging options use it.
  LAScriterion* take_last_criterion();
  // True when a criterion drops the point; the first that drops it ends the
  // test, so the criteria behind it do not see the point.
  bool filter(const LASpoint* point) {
    // Counted by the field: one load ends the test of an empty list.
    for (U32 i = 0; i < criteria_count; i++) {
      if (criteria[i]->filter(point)) return true;
    }
    return false;
  }
  void reset();
};
