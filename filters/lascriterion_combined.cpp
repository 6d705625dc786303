// "-filter_and" and "-filter_or": the last two criteria of the filter become
// the two children of one combined criterion, so repeated use builds a tree in
// postfix order (two criteria, "-filter_or", a third, "-filter_and" give
// And(Or(first, second), third)).
#include "filters/lascriterion.hpp"

I32 LAScriterionCombined::get_command(std::string& text) const {
  const size_t start = text.size();
  first->get_command(text);
  second->get_command(text);
  las_criterion_text(text, name());
  return las_criterion_text_size(text, start);
}

namespace {

template <class Combined>
LASoptionResult combine(LASfilterParse& parse, const LASoptionCall& call) {
  if (parse.filter.criteria_count < 2) {
    laserror("'%s' needs to be preceeded by at least two filters", call.typed);
    return LASoptionResult::FAILED;
  }
  LAScriterion* second = parse.filter.take_last_criterion();
  LAScriterion* first = parse.filter.take_last_criterion();
  parse.add(new Combined(first, second));
  return LASoptionResult::TAKEN;
}

const LAScriterionOption options[] = {
    {{"-filter_and", "", 0, ""}, combine<LAScriterionAnd>},
    {{"-filter_or", "", 0, ""}, combine<LAScriterionOr>},
};

}  // namespace

std::span<const LAScriterionOption> las_combined_criterion_options() { return options; }
