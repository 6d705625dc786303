// The filter's list of criteria. Stand-in: no option is parsed yet.
#include "filters/lasfilter.hpp"

#include <cstdlib>
#include <cstring>

LASfilter::~LASfilter() { clean(); }

void LASfilter::clean() {
  for (U32 i = 0; i < criteria_count; i++) delete criteria[i];
  free(criteria);
  criteria = nullptr;
  criteria_count = 0;
  criteria_capacity = 0;
}

void LASfilter::usage() const { LASMessage(INFO, "Filter points based on their coordinates.\n  (no filter options yet)"); }

bool LASfilter::parse(int, char*[]) { return true; }

bool LASfilter::parse(const char*) { return true; }

I32 LASfilter::unparse(std::string& text) const {
  I32 n = 0;
  for (U32 i = 0; i < criteria_count; i++) n += criteria[i]->get_command(text);
  return n;
}

void LASfilter::add_criterion(LAScriterion* criterion) {
  if (criteria_count == criteria_capacity) {
    // Grows by 16 so that typical command lines allocate once.
    LAScriterion** grown = (LAScriterion**)malloc_las(sizeof(LAScriterion*) * ((U64)criteria_capacity + 16));
    if (grown == nullptr) {
      delete criterion;
      return;
    }
    if (criteria) memcpy((void*)grown, criteria, sizeof(LAScriterion*) * criteria_count);
    free(criteria);
    criteria = grown;
    criteria_capacity += 16;
  }
  criteria[criteria_count++] = criterion;
}

void LASfilter::reset() {
  for (U32 i = 0; i < criteria_count; i++) criteria[i]->reset();
}
