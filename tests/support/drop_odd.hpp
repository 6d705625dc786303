// A filter criterion for tests of the readers and openers that hand filters
// on: it drops every point whose intensity is odd.
#pragma once

#include <string>

#include "core/laspoint.hpp"
#include "filters/lasfilter.hpp"

class DropOdd : public LAScriterion {
 public:
  const char* name() const override { return "drop_odd"; }
  I32 get_command(std::string& text) const override {
    text += "-drop_odd ";
    return 10;
  }
  bool filter(const LASpoint* point) override { return point->intensity & 1; }
};
